#pragma once
// The sound library's index: one SQLite file that lists every sound file found under the indexed
// folders with its size, modification time and facts, the signatures of the whole file and of
// its windows, or the reason it did not open. Updates run in transactions of a few files each,
// so a run that is killed leaves the index as it was after the last finished batch. One thread
// at a time per object; several processes may share the file (SQLite's locking).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "search/SoundFile.h"

struct sqlite3;
class SearchCatalog;

struct IndexedFile {
  std::int64_t id = 0;
  std::string path;
  std::int64_t size = 0;
  std::int64_t modified = 0;  // nanoseconds since 1970
  SoundFacts facts;
  std::string error;  // empty when the file opened
};

struct IndexRunReport {
  int found = 0, added = 0, changed = 0, unchanged = 0, removed = 0, failed = 0;
  std::vector<IndexedFile> failures;         // the files of this run that did not open
  std::vector<std::string> missingFolders;   // named folders that could not be walked
};

// (files done, files to analyse, the file now at work)
using IndexProgress = std::function<void(int done, int total, const std::string& path)>;

// $XDG_DATA_HOME/tintwave/library.sqlite, else ~/.local/share/tintwave/library.sqlite.
std::string DefaultIndexPath();

// Whether a file name has the extension of a sound file the editor may open.
bool LooksLikeSoundFile(const std::string& path);

class LibraryIndex {
public:
  // Opens the index, or creates it (and its folder) when create is set; null with *error.
  static std::unique_ptr<LibraryIndex> Open(const std::string& path, std::string* error, bool create = true);
  ~LibraryIndex();
  LibraryIndex(const LibraryIndex&) = delete;
  LibraryIndex& operator=(const LibraryIndex&) = delete;

  // Walks the folders: analyses new and changed files, forgets files that are gone from them.
  // Files elsewhere in the index stay. A folder that cannot be walked is reported and its files
  // are kept (an unmounted disk is not an empty one). False with *error when the index itself
  // could not be written.
  bool Update(const std::vector<std::string>& folders, const IndexProgress& progress, IndexRunReport* report,
              std::string* error);

  std::vector<IndexedFile> Files() const;
  // Every file that opened, with its signatures.
  bool LoadCatalog(SearchCatalog* catalog, std::string* error) const;

private:
  explicit LibraryIndex(sqlite3* db) : db_(db) {}
  bool Exec(const char* sql, std::string* error) const;
  sqlite3* db_;
};
