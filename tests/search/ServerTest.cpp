// The search server over loopback: the editor's URLs get result pages and JSON, malformed
// queries 400 naming their key, paths that try to reach other files 404, indexed audio comes
// back byte for byte; a thousand queries report their latency; Chromium draws the page.
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <random>
#include <thread>

#include "search/LibraryIndex.h"
#include "search/SearchCatalog.h"
#include "search/http/SearchServer.h"
#include "tests/search/SoundLibrary.h"

namespace search_test {
namespace {

namespace fs = std::filesystem;

class ServerTest : public LibraryFixture {
protected:
  void SetUp() override {
    LibraryFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    std::string error;
    auto index = LibraryIndex::Open(dir / "index.sqlite", &error);
    ASSERT_TRUE(index) << error;
    IndexRunReport report;
    ASSERT_TRUE(index->Update({library}, nullptr, &report, &error)) << error;
    auto catalog = std::make_shared<SearchCatalog>();
    ASSERT_TRUE(index->LoadCatalog(catalog.get(), &error)) << error;
    for (const IndexedFile& f : index->Files()) ids[fs::relative(f.path, library).string()] = f.id;
    server = std::make_unique<SearchServer>(catalog);
    ASSERT_TRUE(server->Bind("127.0.0.1", 0, &error)) << error;
    thread = std::thread([this] { server->Run(); });
    for (int i = 0; i < 500 && !server->Running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(server->Running());
    client = std::make_unique<httplib::Client>("127.0.0.1", server->Port());
    client->set_keep_alive(true);
  }
  void TearDown() override {
    client.reset();  // its kept-alive connection would hold a server thread until it times out
    if (server) server->Stop();
    if (thread.joinable()) thread.join();
  }
  std::string Base() const { return "http://127.0.0.1:" + std::to_string(server->Port()) + "/ISAPI/search.dll"; }
  // The request target of an editor URL: its path and query.
  static std::string Target(const std::string& url) { return url.substr(url.find("/ISAPI/")); }

  std::map<std::string, std::int64_t> ids;
  std::unique_ptr<SearchServer> server;
  std::thread thread;
  std::unique_ptr<httplib::Client> client;
};

TEST_F(ServerTest, TheEditorsUrlsGetPagesOfResults) {
  WebSearchChoices narrow;  // the second example of the dialog: WAVE, mono, 16-bit, 44100 Hz, 1 MB
  narrow.aiff = narrow.au = false;
  narrow.stereo = false;
  narrow.resolution = "16-bit", narrow.rate = "44100 Hz", narrow.size = "1 MB";
  const std::string chirp = library + "/sweeps/chirp.wav";
  const std::string defaults = EditorSearchUrl(chirp, 0.5, 2.0, WebSearchChoices{}, Base());
  ASSERT_NE(defaults.find("&maxsize=2097152"), std::string::npos) << defaults;

  auto page = client->Get(Target(defaults).c_str());
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
  const std::size_t firstRow = page->body.find("<tr class=\"result\">");
  ASSERT_NE(firstRow, std::string::npos) << page->body;
  EXPECT_LT(page->body.find("chirp.wav", firstRow), page->body.find("</tr>", firstRow));
  EXPECT_NE(page->body.find("src=\"/audio/" + std::to_string(ids["sweeps/chirp.wav"]) + "\""), std::string::npos);

  auto json = client->Get(Target(defaults).c_str(), {{"Accept", "application/json"}});
  ASSERT_TRUE(json);
  EXPECT_EQ(json->status, 200);
  EXPECT_EQ(json->get_header_value("Content-Type"), "application/json");
  EXPECT_NE(json->body.find("\"results\":[{\"id\":" + std::to_string(ids["sweeps/chirp.wav"]) + ","), std::string::npos)
      << json->body;

  // At least 16-bit and 44100 Hz, mono WAVE of at most 1 MB: only the 24-bit 48000 Hz chirp.
  auto one = client->Get(Target(EditorSearchUrl(chirp, 0.5, 2.0, narrow, Base())).c_str());
  ASSERT_TRUE(one);
  EXPECT_EQ(one->status, 200);
  const std::size_t row = one->body.find("<tr class=\"result\">");
  ASSERT_NE(row, std::string::npos);
  EXPECT_NE(one->body.find("chirp.wav", row), std::string::npos);
  EXPECT_EQ(one->body.find("<tr class=\"result\">", row + 1), std::string::npos);
  // A page with no row says why.
  narrow.rate = "96000 Hz";
  auto none = client->Get(Target(EditorSearchUrl(chirp, 0.5, 2.0, narrow, Base())).c_str());
  ASSERT_TRUE(none);
  EXPECT_EQ(none->status, 200);
  EXPECT_EQ(none->body.find("<tr class=\"result\">"), std::string::npos);
  EXPECT_NE(none->body.find("No sound in the library passes these choices."), std::string::npos);
}

TEST_F(ServerTest, BadQueriesGet400AndPathTricks404) {
  const std::string sig = "/ISAPI/search.dll?sig=55555555555555555555555500000020";
  const struct {
    std::string target, field;
  } bad[] = {{"/ISAPI/search.dll", "sig"},
             {"/ISAPI/search.dll?sig=123", "sig"},
             {sig + "&format=vox", "format"},
             {sig + "&channels=5.1", "channels"},
             {sig + "&minrate=fast", "minrate"},
             {sig + "&maxsize=lots", "maxsize"},
             {sig + "&limit=1000000", "limit"},
             {sig + "&x=" + std::string(3000, 'a'), "query"}};
  for (const auto& b : bad) {
    for (const bool json : {false, true}) {
      httplib::Headers headers;
      if (json) headers.emplace("Accept", "application/json");
      auto res = client->Get(b.target.c_str(), headers);
      ASSERT_TRUE(res) << b.target;
      EXPECT_EQ(res->status, 400) << b.target;
      EXPECT_NE(res->body.find(b.field + ": "), std::string::npos) << b.target << " -> " << res->body;
    }
  }
  const std::string id = std::to_string(ids["tones/a440.wav"]);
  for (const std::string& target : std::vector<std::string>{"/etc/passwd", "/ISAPI/../etc/passwd", "/ISAPI/search.dll/../../etc/passwd", "/audio/../../etc/passwd",
        "/audio/" + id + "/../../../etc/passwd", "/audio/%2e%2e%2f%2e%2e%2fetc%2fpasswd", "/file/..%2f..%2fetc%2fpasswd",
        "/audio/" + library + "/tones/a440.wav", "/file/" + id + "x", "/audio/-1", "/audio/99999999", "/audio/",
        "/ISAPI/search.dll.bak", "/isapi/search.dll"}) {
    auto res = client->Get(target.c_str());
    ASSERT_TRUE(res) << target;
    EXPECT_EQ(res->status, 404) << target;
    EXPECT_EQ(res->body.find("root:"), std::string::npos) << target;
  }
}

TEST_F(ServerTest, IndexedAudioComesBackByteForByte) {
  const std::string path = library + "/tones/a440.wav";
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string id = std::to_string(ids["tones/a440.wav"]);
  auto audio = client->Get(("/audio/" + id).c_str());
  ASSERT_TRUE(audio);
  EXPECT_EQ(audio->status, 200);
  EXPECT_EQ(audio->get_header_value("Content-Type"), "audio/wav");
  EXPECT_TRUE(audio->body == bytes);
  // The player asks for ranges.
  auto part = client->Get(("/audio/" + id).c_str(), {{"Range", "bytes=1000-1999"}});
  ASSERT_TRUE(part);
  EXPECT_EQ(part->status, 206);
  EXPECT_TRUE(part->body == bytes.substr(1000, 1000));
  auto file = client->Get(("/file/" + id).c_str());
  ASSERT_TRUE(file);
  EXPECT_EQ(file->get_header_value("Content-Disposition"), "attachment; filename=\"a440.wav\"");
  // A file that left the disk after indexing is not found, not an error page of the server.
  fs::remove(path);
  auto gone = client->Get(("/audio/" + id).c_str());
  ASSERT_TRUE(gone);
  EXPECT_EQ(gone->status, 404);
}

TEST_F(ServerTest, AThousandQueriesOverLoopback) {
  std::mt19937 rng(1000);
  std::vector<double> micros;
  const char* keys[] = {"", "&format=wave", "&channels=mono", "&minrate=22050&maxsize=512k", "&format=aiff&format=au"};
  for (int i = 0; i < 1000; ++i) {
    std::string target = "/ISAPI/search.dll?sig=";
    char hex[3];
    for (int b = 0; b < 13; ++b) {
      std::snprintf(hex, sizeof hex, "%02x", unsigned(rng() & 255));
      target += hex;
    }
    target += std::string("000020") + keys[i % 5];
    const auto start = std::chrono::steady_clock::now();
    auto res = client->Get(target.c_str(), {{"Accept", i % 2 ? "application/json" : "text/html"}});
    micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    ASSERT_TRUE(res) << target;
    ASSERT_EQ(res->status, 200) << target;
  }
  std::sort(micros.begin(), micros.end());
  std::printf("1000 queries over loopback (%zu files): p50 %.0f us, p99 %.0f us, max %.0f us\n", ids.size(),
              micros[499], micros[989], micros.back());
}

TEST_F(ServerTest, ChromiumDrawsTheResultsPage) {
  if (!RunQuietly("command -v chromium")) GTEST_SKIP() << "chromium is not installed: the page is not drawn";
  const std::string url = EditorSearchUrl(library + "/voice/speech.wav", 0.3, 1.8, WebSearchChoices{}, Base());
  const std::string shot = std::string(TINTWAVE_SEARCH_SHOTS) + "/results-page.png";
  const std::string dom = dir / "dom.html";
  const std::string chromium = "timeout 90 chromium --headless --no-sandbox --disable-gpu --hide-scrollbars "
                               "--user-data-dir=" + (dir / "chromium") + " --window-size=1280,720 ";
  ASSERT_TRUE(RunQuietly(chromium + "--screenshot=" + shot + " '" + url + "'"));
  ASSERT_EQ(std::system((chromium + "--dump-dom '" + url + "' >" + dom + " 2>/dev/null").c_str()), 0);
  EXPECT_GT(fs::file_size(shot), 10000u);
  std::ifstream in(dom);
  const std::string html((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::size_t rows = 0;
  for (std::size_t at = 0; (at = html.find("<tr class=\"result\">", at)) != std::string::npos; ++at) ++rows;
  EXPECT_EQ(rows, LibrarySounds().size()) << html;
  EXPECT_NE(html.find("speech.wav"), std::string::npos);
  std::printf("results page drawn by Chromium: %s\n", shot.c_str());
}

}  // namespace
}  // namespace search_test
