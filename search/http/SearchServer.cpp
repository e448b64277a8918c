#include "search/http/SearchServer.h"

#include <httplib.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "formats/FormatCodes.h"
#include "search/LibraryIndex.h"
#include "search/SearchAnswer.h"
#include "search/SearchCatalog.h"

namespace {

const char* AudioType(std::int32_t format) {
  switch (format) {
    case FileFormatWave: return "audio/wav";
    case FileFormatAiff: return "audio/aiff";
    case FileFormatAu: return "audio/basic";
    case FileFormatMpeg: return "audio/mpeg";
    case FileFormatMidi: return "audio/midi";
    default: return "application/octet-stream";
  }
}

// What identifies a state of the index: the database and its write-ahead log.
std::string IndexStamp(const std::string& path) {
  std::string stamp;
  for (const std::string& p : {path, path + "-wal"}) {
    struct stat st;
    if (::stat(p.c_str(), &st) == 0)
      stamp += std::to_string(st.st_size) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
               std::to_string(st.st_mtim.tv_nsec) + ";";
  }
  return stamp;
}

// A file name for Content-Disposition: quotes, backslashes and controls become '_'.
std::string HeaderFileName(const std::string& path) {
  std::string name = std::filesystem::path(path).filename().string();
  for (char& c : name)
    if (c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20) c = '_';
  return name;
}

void SendText(httplib::Response& res, int status, const std::string& text) {
  res.status = status;
  res.set_content(text + "\n", "text/plain; charset=utf-8");
}

}  // namespace

struct SearchServer::Impl {
  httplib::Server http;
  std::mutex catalogMutex;
  std::shared_ptr<const SearchCatalog> catalog;
  std::thread watcher;
  std::mutex stopMutex;
  std::condition_variable stopSignal;
  bool stopping = false;
  int port = 0;

  std::shared_ptr<const SearchCatalog> Catalog() {
    std::lock_guard<std::mutex> lock(catalogMutex);
    return catalog;
  }

  void Search(const httplib::Request& req, httplib::Response& res) {
    const bool json = req.get_header_value("Accept").find("application/json") != std::string::npos;
    const SearchAnswer answer = AnswerSearch(*Catalog(), req.target, json);
    res.status = answer.status;
    res.set_content(answer.body, answer.contentType.c_str());
  }

  // The file of index id as it is on disk now, streamed (ranges included) so that a long file
  // is never held in memory.
  void SendFile(const httplib::Request& req, httplib::Response& res, bool attachment) {
    std::int64_t id = 0;
    try {
      id = std::stoll(req.matches[1].str());
    } catch (const std::exception&) {
      return SendText(res, 404, "No such sound in the library");
    }
    const std::shared_ptr<const SearchCatalog> catalog = Catalog();
    const CatalogFile* file = catalog->FindFile(id);
    if (!file) return SendText(res, 404, "No such sound in the library");
    auto in = std::make_shared<std::ifstream>(file->path, std::ios::binary);
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(file->path, error);
    if (!*in || error) return SendText(res, 404, "The sound is no longer at " + file->path);
    res.set_header("Content-Disposition", std::string(attachment ? "attachment" : "inline") + "; filename=\"" +
                                              HeaderFileName(file->path) + "\"");
    res.set_content_provider(
        std::size_t(size), AudioType(file->facts.format),
        [in, catalog](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
          char buffer[65536];
          in->clear();
          in->seekg(std::streamoff(offset));
          const std::size_t want = std::min(length, sizeof buffer);
          in->read(buffer, std::streamsize(want));
          const std::streamsize got = in->gcount();
          if (got <= 0) return false;  // the file shrank: end the response
          return sink.write(buffer, std::size_t(got));
        });
  }

  void Home(httplib::Response& res) {
    const auto catalog = Catalog();
    res.set_content("<!doctype html>\n<html><head><meta charset=\"utf-8\"><title>Tintwave sound search</title></head>"
                    "<body><h1>Tintwave sound search</h1><p>" +
                        std::to_string(catalog->FileCount()) + " sounds (" + std::to_string(catalog->WindowCount()) +
                        " windows) in the library. Search from the editor: select a region and choose "
                        "Sonquest on Web (Ctrl+F).</p></body></html>\n",
                    "text/html; charset=utf-8");
  }
};

SearchServer::SearchServer(std::shared_ptr<const SearchCatalog> catalog) : impl_(std::make_unique<Impl>()) {
  impl_->catalog = std::move(catalog);
  Impl* impl = impl_.get();
  httplib::Server& http = impl->http;
  http.set_payload_max_length(64 * 1024);
  http.set_read_timeout(5, 0);
  // Headers and body leave in separate writes; without this each answer waits for a delayed ACK.
  http.set_tcp_nodelay(true);
  http.Get(kSearchPath, [impl](const httplib::Request& req, httplib::Response& res) { impl->Search(req, res); });
  http.Get(R"(/audio/(\d{1,18}))",
           [impl](const httplib::Request& req, httplib::Response& res) { impl->SendFile(req, res, false); });
  http.Get(R"(/file/(\d{1,18}))",
           [impl](const httplib::Request& req, httplib::Response& res) { impl->SendFile(req, res, true); });
  http.Get("/", [impl](const httplib::Request&, httplib::Response& res) { impl->Home(res); });
  // Every other answer without a body of its own says what happened in plain words.
  http.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (!res.body.empty()) return;
    SendText(res, res.status, res.status == 404 ? "Not found" : "Request refused (" + std::to_string(res.status) + ")");
  });
}

SearchServer::~SearchServer() {
  Stop();
  if (impl_->watcher.joinable()) impl_->watcher.join();
}

void SearchServer::WatchIndex(const std::string& path) {
  Impl* impl = impl_.get();
  impl->watcher = std::thread([impl, path] {
    std::string stamp = IndexStamp(path);
    std::unique_lock<std::mutex> lock(impl->stopMutex);
    while (!impl->stopSignal.wait_for(lock, std::chrono::seconds(2), [impl] { return impl->stopping; })) {
      const std::string now = IndexStamp(path);
      if (now == stamp) continue;
      stamp = now;
      std::string error;
      auto fresh = std::make_shared<SearchCatalog>();
      const auto index = LibraryIndex::Open(path, &error, false);
      if (!index || !index->LoadCatalog(fresh.get(), &error)) {
        std::fprintf(stderr, "tintwave-search: keeping the loaded library: %s\n", error.c_str());
        continue;
      }
      std::fprintf(stderr, "tintwave-search: library reloaded: %zu sounds\n", fresh->FileCount());
      std::lock_guard<std::mutex> swap(impl->catalogMutex);
      impl->catalog = std::move(fresh);
    }
  });
}

bool SearchServer::Bind(const std::string& host, int port, std::string* error) {
  impl_->port = port == 0 ? impl_->http.bind_to_any_port(host) : (impl_->http.bind_to_port(host, port) ? port : -1);
  if (impl_->port > 0) return true;
  *error = "cannot listen on " + host + ":" + std::to_string(port) + " (" + std::strerror(errno) + ")";
  return false;
}

int SearchServer::Port() const { return impl_->port; }

void SearchServer::Run() { impl_->http.listen_after_bind(); }

bool SearchServer::Running() const { return impl_->http.is_running(); }

void SearchServer::Stop() {
  {
    std::lock_guard<std::mutex> lock(impl_->stopMutex);
    impl_->stopping = true;
  }
  impl_->stopSignal.notify_all();
  impl_->http.stop();
}
