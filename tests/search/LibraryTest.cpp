// The index and the search over a library made by sox: a region of a file finds that file first,
// the filters keep exactly the files they describe, re-indexing follows changes, removals and
// broken files, and a run killed half-way leaves a usable index.
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <set>

#include "search/LibraryIndex.h"
#include "search/SearchCatalog.h"
#include "tests/search/SoundLibrary.h"

namespace search_test {
namespace {

namespace fs = std::filesystem;

class LibraryIndexTest : public LibraryFixture {
protected:
  std::unique_ptr<LibraryIndex> OpenIndex() {
    std::string error;
    auto index = LibraryIndex::Open(dir / "index.sqlite", &error);
    EXPECT_TRUE(index) << error;
    return index;
  }
  IndexRunReport Update(LibraryIndex& index, const std::vector<std::string>& folders) {
    IndexRunReport report;
    std::string error;
    EXPECT_TRUE(index.Update(folders, nullptr, &report, &error)) << error;
    return report;
  }
  SearchCatalog Catalog(LibraryIndex& index) {
    SearchCatalog catalog;
    std::string error;
    EXPECT_TRUE(index.LoadCatalog(&catalog, &error)) << error;
    return catalog;
  }
  std::vector<std::string> Names(const std::vector<SearchResult>& results) {
    std::vector<std::string> names;
    for (const SearchResult& r : results) names.push_back(fs::relative(r.file->path, library).string());
    return names;
  }
  std::vector<SearchResult> Search(const SearchCatalog& catalog, const std::string& url) {
    SearchQuery q;
    QueryError error;
    EXPECT_TRUE(ParseSearchUrl(url, &q, &error)) << url << ": " << error.message;
    return catalog.Search(q);
  }
};

TEST_F(LibraryIndexTest, ARegionOfAFileFindsThatFileFirst) {
  auto index = OpenIndex();
  const IndexRunReport report = Update(*index, {library});
  EXPECT_EQ(report.found, int(LibrarySounds().size()));
  EXPECT_EQ(report.failed, 0);
  const SearchCatalog catalog = Catalog(*index);
  ASSERT_EQ(catalog.FileCount(), LibrarySounds().size());
  for (const LibrarySound& s : LibrarySounds()) {
    // A region that lines up with no window, and one of a whole second.
    for (const auto& [from, to] : {std::pair{0.63, 1.91}, std::pair{1.0, 2.0}}) {
      const auto results = Search(catalog, EditorSearchUrl(library + "/" + s.name, from, to));
      ASSERT_FALSE(results.empty());
      EXPECT_EQ(Names(results)[0], s.name) << "region " << from << "-" << to << " of " << s.name << " scored "
                                          << results[0].score;
      // In a sound that changes, the best window overlaps the region (in a steady tone or
      // noise any window may win).
      if (s.name == "sweeps/chirp.wav" || s.name == "voice/speech.wav") {
        EXPECT_LT(double(results[0].windowStart) / s.rate, to) << s.name;
        EXPECT_GT(double(results[0].windowStart + results[0].windowLength) / s.rate, from) << s.name;
      }
    }
  }
}

TEST_F(LibraryIndexTest, FiltersKeepExactlyTheFilesTheyDescribe) {
  auto index = OpenIndex();
  Update(*index, {library});
  const SearchCatalog catalog = Catalog(*index);
  const std::string sig = "?sig=" + std::string(32, '5').replace(26, 6, "000020");
  const struct {
    std::string keys;
    bool (*keep)(const LibrarySound&, std::int64_t size);
  } filters[] = {
      {"", [](const LibrarySound&, std::int64_t) { return true; }},
      {"&format=wave", [](const LibrarySound& s, std::int64_t) { return s.format == FileFormatWave; }},
      {"&format=aiff&format=au", [](const LibrarySound& s, std::int64_t) { return s.format != FileFormatWave; }},
      {"&channels=mono", [](const LibrarySound& s, std::int64_t) { return s.channels == 1; }},
      {"&channels=stereo&minres=16", [](const LibrarySound& s, std::int64_t) { return s.channels == 2 && s.bits >= 16; }},
      {"&minres=24", [](const LibrarySound& s, std::int64_t) { return s.bits >= 24; }},
      {"&minrate=22050", [](const LibrarySound& s, std::int64_t) { return s.rate >= 22050; }},
      {"&minrate=44100&format=aiff", [](const LibrarySound& s, std::int64_t) { return s.rate >= 44100 && s.format == FileFormatAiff; }},
      {"&maxsize=128k", [](const LibrarySound&, std::int64_t size) { return size <= 131072; }},
      {"&maxsize=1+MB&channels=mono", [](const LibrarySound& s, std::int64_t size) { return size <= 1048576 && s.channels == 1; }},
  };
  for (const auto& f : filters) {
    std::set<std::string> expected;
    for (const LibrarySound& s : LibrarySounds())
      if (f.keep(s, std::int64_t(fs::file_size(library + "/" + s.name)))) expected.insert(s.name);
    const auto names = Names(Search(catalog, kDefaultSearchUrl + sig + "&limit=100" + f.keys));
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), expected) << f.keys;
    EXPECT_FALSE(expected.empty() && !f.keys.empty() && f.keys != "&minres=24") << f.keys;
  }
  SearchQuery few;
  QueryError error;
  ASSERT_TRUE(ParseSearchUrl(kDefaultSearchUrl + sig + "&limit=3", &few, &error));
  EXPECT_EQ(catalog.Search(few).size(), 3u);
}

TEST_F(LibraryIndexTest, ReindexingFollowsChangesRemovalsAndBrokenFiles) {
  auto index = OpenIndex();
  {
    std::ofstream(library + "/broken.wav") << "RIFF this is no sound at all";
    std::ofstream(library + "/notes.txt") << "not a sound file";
  }
  IndexRunReport first = Update(*index, {library});
  EXPECT_EQ(first.found, int(LibrarySounds().size()) + 1);
  ASSERT_EQ(first.failed, 1);
  EXPECT_EQ(fs::path(first.failures[0].path).filename(), "broken.wav");
  EXPECT_FALSE(first.failures[0].error.empty());

  IndexRunReport again = Update(*index, {library});
  EXPECT_EQ(again.unchanged, again.found);
  EXPECT_EQ(again.added + again.changed + again.removed, 0);

  // A tone becomes noise, a sweep goes away, a good file is damaged.
  const std::string changed = library + "/tones/a440.wav", gone = library + "/sweeps/high.au",
                    damaged = library + "/pluck.wav";
  ASSERT_TRUE(RunQuietly("sox -V1 -D -n -r 44100 -c 2 -b 16 " + changed + " synth 3.5 pinknoise"));
  fs::remove(gone);
  std::ofstream(damaged, std::ios::trunc) << "FORM....8SVXbroken";
  IndexRunReport third = Update(*index, {library});
  EXPECT_EQ(third.changed, 2);
  EXPECT_EQ(third.removed, 1);
  EXPECT_EQ(third.added, 0);
  EXPECT_EQ(third.unchanged, int(LibrarySounds().size()) - 3 + 1);  // broken.wav stays as it was
  ASSERT_EQ(third.failed, 1);
  EXPECT_EQ(third.failures[0].path, fs::weakly_canonical(damaged).string());

  std::map<std::string, IndexedFile> rows;
  for (IndexedFile& f : index->Files()) rows[fs::relative(f.path, library).string()] = f;
  EXPECT_EQ(rows.size(), LibrarySounds().size() - 1 + 1);
  EXPECT_FALSE(rows.count("sweeps/high.au"));
  EXPECT_FALSE(rows["pluck.wav"].error.empty());
  EXPECT_FALSE(rows["broken.wav"].error.empty());
  EXPECT_EQ(rows["tones/a440.wav"].facts.length, 3 * 44100 + 44100 / 2);

  const SearchCatalog catalog = Catalog(*index);
  EXPECT_EQ(catalog.FileCount(), LibrarySounds().size() - 2);
  const auto results = Search(catalog, EditorSearchUrl(changed, 0.5, 2.5));
  ASSERT_FALSE(results.empty());
  EXPECT_EQ(Names(results)[0], "tones/a440.wav");

  // A folder that is not there keeps its files: it may be a disk that is not mounted.
  const IndexRunReport missing = Update(*index, {dir / "elsewhere"});
  EXPECT_EQ(missing.missingFolders.size(), 1u);
  EXPECT_EQ(missing.removed, 0);
  EXPECT_EQ(index->Files().size(), rows.size());
}

TEST_F(LibraryIndexTest, ARunKilledHalfWayLeavesAUsableIndex) {
  const std::string more = dir / "more";
  ASSERT_TRUE(MakeLibrary(more));
  {
    auto index = OpenIndex();
    Update(*index, {library});
  }
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::string error;
    auto index = LibraryIndex::Open(dir / "index.sqlite", &error);
    IndexRunReport report;
    // Dies in the middle of its batch, with the write transaction open.
    index->Update({more}, [](int done, int, const std::string&) { if (done == 4) raise(SIGKILL); }, &report, &error);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));

  auto index = OpenIndex();
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((dir / "index.sqlite").c_str(), &db), SQLITE_OK);
  sqlite3_stmt* check = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
  sqlite3_finalize(check);
  sqlite3_close(db);

  // The first folder is whole, the killed batch is gone, and the next run completes.
  EXPECT_EQ(index->Files().size(), LibrarySounds().size());
  const IndexRunReport resumed = Update(*index, {library, more});
  EXPECT_EQ(resumed.added, int(LibrarySounds().size()));
  EXPECT_EQ(resumed.unchanged, int(LibrarySounds().size()));
  EXPECT_EQ(Catalog(*index).FileCount(), 2 * LibrarySounds().size());
}

}  // namespace
}  // namespace search_test
