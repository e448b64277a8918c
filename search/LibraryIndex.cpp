#include "search/LibraryIndex.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>

#include "search/SearchCatalog.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS files(
  id INTEGER PRIMARY KEY,
  path TEXT NOT NULL UNIQUE,
  size INTEGER NOT NULL,
  modified INTEGER NOT NULL,
  format INTEGER NOT NULL DEFAULT 0,
  channels INTEGER NOT NULL DEFAULT 0,
  bits INTEGER NOT NULL DEFAULT 0,
  rate INTEGER NOT NULL DEFAULT 0,
  length INTEGER NOT NULL DEFAULT 0,
  error TEXT
);
CREATE TABLE IF NOT EXISTS windows(
  file INTEGER NOT NULL REFERENCES files(id) ON DELETE CASCADE,
  length INTEGER NOT NULL,
  hop INTEGER NOT NULL,
  signatures BLOB NOT NULL,
  PRIMARY KEY(file, length, hop)
);
)";

// A batch is committed after this many files or this long, whichever comes first.
constexpr int kBatchFiles = 64;
constexpr auto kBatchTime = std::chrono::seconds(2);

// A prepared statement; values are only ever bound, never written into the SQL.
class Statement {
public:
  Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &st_, nullptr); }
  ~Statement() { sqlite3_finalize(st_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  bool Ok() const { return st_ != nullptr; }
  void Bind(int i, std::int64_t v) { sqlite3_bind_int64(st_, i, v); }
  void Bind(int i, const std::string& v) { sqlite3_bind_text(st_, i, v.data(), int(v.size()), SQLITE_TRANSIENT); }
  void BindNull(int i) { sqlite3_bind_null(st_, i); }
  void BindBlob(int i, const void* data, int n) { sqlite3_bind_blob(st_, i, data, n, SQLITE_TRANSIENT); }
  int Step() { return st_ ? sqlite3_step(st_) : SQLITE_MISUSE; }
  // Runs a statement that returns no rows, ready to be bound again.
  bool Run() {
    const int rc = Step();
    sqlite3_reset(st_);
    sqlite3_clear_bindings(st_);
    return rc == SQLITE_DONE;
  }
  void Reset() {
    sqlite3_reset(st_);
    sqlite3_clear_bindings(st_);
  }
  std::int64_t Int(int col) const { return sqlite3_column_int64(st_, col); }
  std::string Text(int col) const {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st_, col));
    return p ? std::string(p, std::size_t(sqlite3_column_bytes(st_, col))) : std::string();
  }
  const void* Blob(int col) const { return sqlite3_column_blob(st_, col); }
  int Bytes(int col) const { return sqlite3_column_bytes(st_, col); }

private:
  sqlite3_stmt* st_ = nullptr;
};

struct FoundFile {
  std::string path;
  std::int64_t size, modified;
};

bool StatFile(const std::string& path, std::int64_t* size, std::int64_t* modified) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  *size = st.st_size;
  *modified = std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return true;
}

// The sound files under folder, sorted; false when the folder cannot be walked at all.
bool WalkFolder(const fs::path& folder, std::vector<FoundFile>* found) {
  std::error_code error;
  if (!fs::is_directory(folder, error)) return false;
  fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
  if (error) return false;
  for (const fs::recursive_directory_iterator end; it != end; it.increment(error)) {
    if (error) break;
    const std::string name = it->path().filename().string();
    if (!name.empty() && name[0] == '.') {  // hidden files and folders
      if (it->is_directory(error)) it.disable_recursion_pending();
      continue;
    }
    const std::string path = it->path().string();
    FoundFile f{path, 0, 0};
    if (LooksLikeSoundFile(path) && StatFile(path, &f.size, &f.modified)) found->push_back(std::move(f));
  }
  return true;
}

bool UnderFolder(const std::string& path, const std::string& folder) {
  return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
         (folder.back() == '/' || path[folder.size()] == '/');
}

}  // namespace

std::string DefaultIndexPath() {
  const char* data = std::getenv("XDG_DATA_HOME");
  fs::path base;
  if (data && *data == '/') base = data;
  else if (const char* home = std::getenv("HOME"); home && *home) base = fs::path(home) / ".local/share";
  else base = ".";
  return (base / "tintwave" / "library.sqlite").string();
}

bool LooksLikeSoundFile(const std::string& path) {
  static const std::set<std::string> kExtensions = {
      ".wav", ".wave", ".aif", ".aiff", ".aifc", ".au", ".snd", ".voc", ".iff", ".8svx", ".svx",
      ".mp1", ".mp2", ".mp3", ".mpg", ".mpga", ".mid", ".midi", ".mod", ".flac", ".ogg", ".oga", ".opus",
      ".m4a", ".m4b", ".mp4", ".aac", ".wma", ".wv", ".ape", ".mka", ".webm", ".caf", ".w64", ".rf64"};
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return false;
  std::string ext = path.substr(dot);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return kExtensions.count(ext) > 0;
}

std::unique_ptr<LibraryIndex> LibraryIndex::Open(const std::string& path, std::string* error, bool create) {
  std::error_code fsError;
  if (!create && !fs::is_regular_file(path, fsError)) {
    *error = path + ": no index there yet (tintwave-search index FOLDER makes one)";
    return nullptr;
  }
  const fs::path parent = fs::path(path).parent_path();
  if (create && !parent.empty()) fs::create_directories(parent, fsError);
  sqlite3* db = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_FULLMUTEX;
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    *error = path + ": " + (db ? sqlite3_errmsg(db) : "cannot open the index");
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, 5000);
  std::unique_ptr<LibraryIndex> index(new LibraryIndex(db));
  // WAL: a server may read while an indexing run writes; a kill rolls back the open batch.
  if (!index->Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON;", error) ||
      !index->Exec(kSchema, error)) {
    *error = path + ": " + *error;
    return nullptr;
  }
  return index;
}

LibraryIndex::~LibraryIndex() { sqlite3_close(db_); }

bool LibraryIndex::Exec(const char* sql, std::string* error) const {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
  *error = message ? message : sqlite3_errmsg(db_);
  sqlite3_free(message);
  return false;
}

std::vector<IndexedFile> LibraryIndex::Files() const {
  std::vector<IndexedFile> files;
  Statement st(db_, "SELECT id, path, size, modified, format, channels, bits, rate, length, error FROM files ORDER BY path");
  while (st.Step() == SQLITE_ROW) {
    IndexedFile f;
    f.id = st.Int(0);
    f.path = st.Text(1);
    f.size = st.Int(2);
    f.modified = st.Int(3);
    f.facts = {std::int32_t(st.Int(4)), std::int32_t(st.Int(5)), std::int32_t(st.Int(6)), std::int32_t(st.Int(7)), st.Int(8)};
    f.error = st.Text(9);
    files.push_back(std::move(f));
  }
  return files;
}

bool LibraryIndex::Update(const std::vector<std::string>& folders, const IndexProgress& progress,
                          IndexRunReport* report, std::string* error) {
  *report = IndexRunReport{};
  std::map<std::string, IndexedFile> known;
  for (IndexedFile& f : Files()) known.emplace(f.path, std::move(f));

  std::vector<FoundFile> found;
  std::vector<std::string> walked;
  for (const std::string& folder : folders) {
    std::error_code fsError;
    fs::path root = fs::weakly_canonical(fs::absolute(folder, fsError), fsError);
    if (fsError || !WalkFolder(root, &found)) {
      report->missingFolders.push_back(folder);
      continue;
    }
    walked.push_back(root.string());
  }
  std::sort(found.begin(), found.end(), [](const FoundFile& a, const FoundFile& b) { return a.path < b.path; });
  found.erase(std::unique(found.begin(), found.end(), [](const FoundFile& a, const FoundFile& b) { return a.path == b.path; }),
              found.end());
  report->found = int(found.size());

  std::set<std::string> present;
  std::vector<const FoundFile*> work;
  for (const FoundFile& f : found) {
    present.insert(f.path);
    const auto it = known.find(f.path);
    if (it != known.end() && it->second.size == f.size && it->second.modified == f.modified) ++report->unchanged;
    else work.push_back(&f);
  }

  Statement remove(db_, "DELETE FROM files WHERE id = ?1");
  Statement upsert(db_,
                   "INSERT INTO files(path, size, modified, format, channels, bits, rate, length, error) "
                   "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9) ON CONFLICT(path) DO UPDATE SET "
                   "size = ?2, modified = ?3, format = ?4, channels = ?5, bits = ?6, rate = ?7, length = ?8, error = ?9 "
                   "RETURNING id");
  Statement clearWindows(db_, "DELETE FROM windows WHERE file = ?1");
  Statement addWindows(db_, "INSERT INTO windows(file, length, hop, signatures) VALUES(?1, ?2, ?3, ?4)");
  if (!remove.Ok() || !upsert.Ok() || !clearWindows.Ok() || !addWindows.Ok()) {
    *error = sqlite3_errmsg(db_);
    return false;
  }
  auto fail = [&]() {
    *error = sqlite3_errmsg(db_);
    std::string ignored;
    Exec("ROLLBACK", &ignored);
    return false;
  };

  if (!Exec("BEGIN IMMEDIATE", error)) return false;
  for (const auto& [path, file] : known) {
    const bool gone = std::any_of(walked.begin(), walked.end(), [&](const std::string& w) { return UnderFolder(path, w); }) &&
                      !present.count(path);
    if (!gone) continue;
    remove.Bind(1, file.id);
    if (!remove.Run()) return fail();
    ++report->removed;
  }

  auto batchStart = std::chrono::steady_clock::now();
  int inBatch = 0;
  for (std::size_t i = 0; i < work.size(); ++i) {
    const FoundFile& f = *work[i];
    if (progress) progress(int(i), int(work.size()), f.path);
    AnalysedSound sound;
    std::string openError;
    const bool opened = AnalyseSoundFile(f.path, &sound, &openError);
    upsert.Bind(1, f.path);
    upsert.Bind(2, f.size);
    upsert.Bind(3, f.modified);
    upsert.Bind(4, sound.facts.format);
    upsert.Bind(5, sound.facts.channels);
    upsert.Bind(6, sound.facts.bits);
    upsert.Bind(7, sound.facts.rate);
    upsert.Bind(8, sound.facts.length);
    if (opened) upsert.BindNull(9); else upsert.Bind(9, openError);
    if (upsert.Step() != SQLITE_ROW) return fail();
    const std::int64_t id = upsert.Int(0);
    upsert.Step();
    upsert.Reset();
    clearWindows.Bind(1, id);
    if (!clearWindows.Run()) return fail();
    for (const WindowSeries& s : sound.series) {
      addWindows.Bind(1, id);
      addWindows.Bind(2, s.length);
      addWindows.Bind(3, s.hop);
      addWindows.BindBlob(4, s.signatures.data(), int(s.signatures.size() * sizeof(SoundSignature)));
      if (!addWindows.Run()) return fail();
    }
    if (known.count(f.path)) ++report->changed; else ++report->added;
    if (!opened) {
      ++report->failed;
      report->failures.push_back(IndexedFile{id, f.path, f.size, f.modified, {}, openError});
    }
    if (++inBatch >= kBatchFiles || std::chrono::steady_clock::now() - batchStart > kBatchTime) {
      if (!Exec("COMMIT", error) || !Exec("BEGIN IMMEDIATE", error)) return false;
      inBatch = 0;
      batchStart = std::chrono::steady_clock::now();
    }
  }
  if (progress) progress(int(work.size()), int(work.size()), std::string());
  return Exec("COMMIT", error);
}

bool LibraryIndex::LoadCatalog(SearchCatalog* catalog, std::string* error) const {
  *catalog = SearchCatalog{};
  // One read transaction: the catalog is one state of the index, even while a run writes.
  if (!Exec("BEGIN", error)) return false;
  Statement files(db_, "SELECT id, path, size, format, channels, bits, rate, length FROM files "
                       "WHERE error IS NULL ORDER BY id");
  Statement windows(db_, "SELECT file, length, hop, signatures FROM windows ORDER BY file, length DESC");
  if (!files.Ok() || !windows.Ok()) {
    *error = sqlite3_errmsg(db_);
    Exec("ROLLBACK", error);
    return false;
  }
  int windowRow = windows.Step();
  while (files.Step() == SQLITE_ROW) {
    const std::int64_t id = files.Int(0);
    const SoundFacts facts{std::int32_t(files.Int(3)), std::int32_t(files.Int(4)), std::int32_t(files.Int(5)),
                           std::int32_t(files.Int(6)), files.Int(7)};
    std::vector<WindowSeries> series;
    while (windowRow == SQLITE_ROW && windows.Int(0) <= id) {
      if (windows.Int(0) == id) {
        WindowSeries s;
        s.length = std::int32_t(windows.Int(1));
        s.hop = std::int32_t(windows.Int(2));
        s.signatures.resize(std::size_t(windows.Bytes(3)) / sizeof(SoundSignature));
        if (!s.signatures.empty()) std::memcpy(s.signatures.data(), windows.Blob(3), s.signatures.size() * sizeof(SoundSignature));
        series.push_back(std::move(s));
      }
      windowRow = windows.Step();
    }
    catalog->AddFile(id, files.Text(1), files.Int(2), facts, series);
  }
  return Exec("COMMIT", error);
}
