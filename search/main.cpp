// tintwave-search: indexes the user's sound library and answers the editor's web search.
//   index FOLDER... [--db PATH]
//   serve [--db PATH] [--port 8642] [--bind 127.0.0.1]
//   query URL [--db PATH]
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "search/LibraryIndex.h"
#include "search/SearchAnswer.h"
#include "search/SearchCatalog.h"
#include "search/http/SearchServer.h"

namespace {

constexpr const char* kUsage =
    "usage: tintwave-search index FOLDER... [--db PATH]\n"
    "       tintwave-search serve [--db PATH] [--port 8642] [--bind 127.0.0.1]\n"
    "       tintwave-search query URL [--db PATH]\n"
    "The index is $XDG_DATA_HOME/tintwave/library.sqlite unless --db names another.\n";

struct Options {
  std::vector<std::string> words;
  std::string db = DefaultIndexPath();
  std::string bind = "127.0.0.1";
  int port = 8642;
};

int Misuse(const std::string& what) {
  std::fprintf(stderr, "tintwave-search: %s\n%s", what.c_str(), kUsage);
  return 2;
}

int Fail(const std::string& what) {
  std::fprintf(stderr, "tintwave-search: %s\n", what.c_str());
  return 1;
}

bool ParseOptions(int argc, char** argv, Options* o, std::string* error) {
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--db" || arg == "--port" || arg == "--bind") {
      if (!hasValue) {
        *error = arg + " needs a value";
        return false;
      }
      const std::string value = argv[++i];
      if (arg == "--db") {
        o->db = value;
      } else if (arg == "--bind") {
        o->bind = value;
      } else {
        char* end = nullptr;
        const long port = std::strtol(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0' || port < 1 || port > 65535) {
          *error = "--port wants a number from 1 to 65535, not '" + value + "'";
          return false;
        }
        o->port = int(port);
      }
    } else if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
      *error = "unknown option '" + arg + "'";
      return false;
    } else {
      o->words.push_back(arg);
    }
  }
  return true;
}

// "indexing 12/340: name" on one line of a terminal, redrawn; every 100th file elsewhere.
void ShowProgress(int done, int total, const std::string& path) {
  static const bool terminal = ::isatty(STDERR_FILENO);
  if (total == 0) return;
  if (path.empty()) {
    if (terminal) std::fprintf(stderr, "\r\033[K");
    return;
  }
  if (terminal) {
    const std::string name = path.substr(path.rfind('/') + 1);
    std::fprintf(stderr, "\r\033[Kindexing %d/%d: %.60s", done + 1, total, name.c_str());
  } else if (done % 100 == 0) {
    std::fprintf(stderr, "indexing %d/%d\n", done + 1, total);
  }
}

int RunIndex(const Options& o) {
  if (o.words.empty()) return Misuse("index takes one or more folders");
  std::string error;
  const auto index = LibraryIndex::Open(o.db, &error);
  if (!index) return Fail(error);
  IndexRunReport report;
  if (!index->Update(o.words, ShowProgress, &report, &error)) return Fail(o.db + ": " + error);
  for (const std::string& folder : report.missingFolders)
    std::fprintf(stderr, "tintwave-search: %s: not a folder that can be read; its sounds stay in the index\n", folder.c_str());
  for (const IndexedFile& f : report.failures) std::printf("failed: %s: %s\n", f.path.c_str(), f.error.c_str());
  std::printf("%d sound files: %d new, %d changed, %d unchanged, %d removed, %d failed to open\n", report.found,
              report.added, report.changed, report.unchanged, report.removed, report.failed);
  std::printf("index: %s\n", o.db.c_str());
  return report.missingFolders.empty() ? 0 : 1;
}

bool LoadCatalog(const std::string& db, SearchCatalog* catalog, std::string* error) {
  const auto index = LibraryIndex::Open(db, error, false);
  return index && index->LoadCatalog(catalog, error);
}

int RunQuery(const Options& o) {
  if (o.words.size() != 1) return Misuse("query takes one URL");
  SearchQuery query;
  QueryError queryError;
  if (!ParseSearchUrl(o.words[0], &query, &queryError)) return Fail(queryError.message);
  SearchCatalog catalog;
  std::string error;
  if (!LoadCatalog(o.db, &catalog, &error)) return Fail(error);
  int rank = 0;
  for (const SearchResult& r : catalog.Search(query)) {
    const double rate = r.file->facts.rate > 0 ? r.file->facts.rate : 1;
    std::printf("%3d  %6.2f  at %s  %s\n", ++rank, r.score, FormatSeconds(double(r.windowStart) / rate).c_str(),
                r.file->path.c_str());
  }
  if (rank == 0) std::printf("no sound of the %zu in the library passes the query\n", catalog.FileCount());
  return 0;
}

int RunServe(const Options& o) {
  if (!o.words.empty()) return Misuse("serve takes no file or folder");
  auto catalog = std::make_shared<SearchCatalog>();
  std::string error;
  if (!LoadCatalog(o.db, catalog.get(), &error)) return Fail(error);
  // Ctrl+C and a termination request end the server cleanly from a thread of their own.
  // (A shell starts background jobs with SIGINT ignored, and sigwait never sees an ignored signal.)
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  SearchServer server(catalog);
  server.WatchIndex(o.db);
  if (!server.Bind(o.bind, o.port, &error)) return Fail(error);
  std::printf("%zu sounds; searching at http://%s:%d%s (Ctrl+C stops)\n", catalog->FileCount(), o.bind.c_str(),
              server.Port(), kSearchPath);
  std::fflush(stdout);
  std::thread stopper([&server, stopSignals] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    // The server may not be listening yet when the signal comes.
    while (true) {
      server.Stop();
      if (!server.Running()) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
  server.Run();
  // Run also returns when listening fails; wake the stopper then.
  if (stopper.joinable()) {
    pthread_kill(stopper.native_handle(), SIGTERM);
    stopper.join();
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  Options options;
  std::string error;
  if (!ParseOptions(argc, argv, &options, &error)) return Misuse(error);
  const std::string command = argv[1];
  if (command == "index") return RunIndex(options);
  if (command == "serve") return RunServe(options);
  if (command == "query") return RunQuery(options);
  return Misuse("unknown command '" + command + "'");
}
