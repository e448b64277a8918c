#pragma once
// The HTTP front of the sound search (cpp-httplib): GET /ISAPI/search.dll answers the editor's
// query with the results page (JSON when the request accepts application/json), /audio/ID and
// /file/ID send an indexed file for listening and for saving, / tells what the library holds.
// A request names files by their index id only: no part of a request path ever reaches the file
// system. Every other path is 404.
//
// Threads: the server answers on its own pool of threads; the catalog they read is shared and
// never changed. With WatchIndex a watcher thread loads a fresh catalog when the index file
// changes and swaps it in; requests already running keep the one they started with.
#include <memory>
#include <string>

class SearchCatalog;

class SearchServer {
public:
  explicit SearchServer(std::shared_ptr<const SearchCatalog> catalog);
  ~SearchServer();
  SearchServer(const SearchServer&) = delete;
  SearchServer& operator=(const SearchServer&) = delete;

  // Reloads the catalog from the index at path whenever the file changes (checked every 2 s).
  void WatchIndex(const std::string& path);
  // Port 0 takes any free port. False with *error.
  bool Bind(const std::string& host, int port, std::string* error);
  int Port() const;
  // Answers requests until Stop (from any thread).
  void Run();
  // Whether Run is answering (tests wait for it before the first request).
  bool Running() const;
  void Stop();

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
