// The stdio stream buffer: the streambuf contract (peek, take, block reads), writing, 64-bit
// seeking and the open modes.
#include <gtest/gtest.h>

#include <cstdio>
#include <istream>
#include <ostream>

#include "pipeline/FileBuffer.h"
#include "tests/pipeline/PipelineTestSupport.h"

namespace {

using namespace pipeline_test;

TEST(FileBuffer, ReadsPeekTakeAndBlocksAsAStreamBuffer) {
  TempDir dir;
  {
    std::ofstream f(dir / "abc", std::ios::binary);
    f << "abcdefgh";
  }
  CUP_FileBuffer buffer;
  EXPECT_FALSE(buffer.IsOpen());
  ASSERT_TRUE(buffer.Open(dir / "abc", CUP_FileBuffer::kRead | CUP_FileBuffer::kBinary));
  EXPECT_TRUE(buffer.IsOpen());
  EXPECT_EQ(buffer.sgetc(), 'a');  // a peek leaves the byte
  EXPECT_EQ(buffer.sgetc(), 'a');
  EXPECT_EQ(buffer.sbumpc(), 'a');
  EXPECT_EQ(buffer.sgetc(), 'b');
  char block[4] = {};
  EXPECT_EQ(buffer.sgetn(block, 4), 4);
  EXPECT_EQ(std::string(block, 4), "bcde");
  EXPECT_EQ(buffer.pubseekoff(0, std::ios::cur), 5);

  std::istream in(&buffer);
  in.seekg(-2, std::ios::end);
  EXPECT_EQ(in.tellg(), 6);
  EXPECT_EQ(in.peek(), 'g');
  std::string rest;
  in >> rest;
  EXPECT_EQ(rest, "gh");
  EXPECT_TRUE(in.eof());
  in.clear();
  in.seekg(1);
  char two[3] = {};
  in.read(two, 2);
  EXPECT_EQ(std::string(two), "bc");
  in.seekg(6);
  in.read(block, 4);  // a short read at the end
  EXPECT_EQ(in.gcount(), 2);
  EXPECT_TRUE(buffer.Close());
  EXPECT_FALSE(buffer.IsOpen());
  EXPECT_EQ(buffer.sgetc(), std::char_traits<char>::eof());
}

TEST(FileBuffer, WritesSeeksBeyondFourGigabytesAndReportsOpenFailures) {
  TempDir dir;
  CUP_FileBuffer buffer;
  EXPECT_FALSE(buffer.Open(dir / "no/such/file", CUP_FileBuffer::kRead | CUP_FileBuffer::kBinary));
  EXPECT_FALSE(buffer.IsOpen());
  ASSERT_TRUE(buffer.Open(dir / "big", CUP_FileBuffer::kWrite | CUP_FileBuffer::kBinary));
  {
    std::ostream out(&buffer);
    out << "head";
    out.put('!');
    const std::int64_t far = 5'000'000'000LL;  // sparse: no real disk space
    out.seekp(far);
    EXPECT_EQ(std::int64_t(out.tellp()), far);
    out.write("tail", 4);
    EXPECT_TRUE(out.good());
  }
  EXPECT_TRUE(buffer.Close());
  EXPECT_EQ(std::filesystem::file_size(dir / "big"), 5'000'000'004ULL);

  std::FILE* f = std::fopen((dir / "big").c_str(), "rb");
  ASSERT_TRUE(f);
  ASSERT_TRUE(buffer.Attach(f));
  std::istream in(&buffer);
  char head[6] = {};
  in.read(head, 5);
  EXPECT_STREQ(head, "head!");
  in.seekg(-4, std::ios::end);
  EXPECT_EQ(std::int64_t(in.tellg()), 5'000'000'000LL);
  char tail[5] = {};
  in.read(tail, 4);
  EXPECT_STREQ(tail, "tail");
}

}  // namespace
