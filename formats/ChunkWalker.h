#pragma once
// The one chunk walker of the RIFF family (WAVE: little-endian lengths) and the IFF family
// (AIFF/AIFC and 8SVX: big-endian lengths). A chunk is an 8-byte header (a four-character id and
// a 32-bit length) and its content, followed by a pad byte when the length is odd. The walker
// keeps the stack of open chunks, skips what a reader leaves unread, accounts each closed chunk
// to its container and applies the limits of formats/Limits.h; the reader decides what each
// chunk means (which ids are containers, what a chunk beyond the end of the file does).
//
// The walker reads from the reader's stream and leaves it where the last read stopped; it owns
// nothing but its stack.
#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "formats/Limits.h"

class ChunkWalker {
public:
  enum class Order { LittleEndian, BigEndian };

  struct Chunk {
    std::uint32_t id = 0;
    std::int64_t size = 0;       // the content length the header declares
    std::int64_t remaining = 0;  // content bytes not yet read or skipped
    bool isContainer = false;
    std::uint32_t formType = 0;  // a container's type
    std::int64_t start = 0;      // stream position of the first content byte
    // The declared length runs past the end of the file (known only when the file size is).
    bool beyondFile = false;
  };

  // family names the files in messages ("WAVE chunks nested too deeply"). fileSize is 0 when
  // unknown. With seekable the walker skips by seeking, never beyond the end of the file;
  // without it the walker reads and discards, and the stream only ever moves forwards.
  ChunkWalker(std::istream& in, std::int64_t fileSize, Order order, std::string family, bool seekable);

  // One step of the walk: closes the top chunk unless it is a container, and every container
  // with fewer than 8 bytes left, then reads the next header and pushes its chunk. Returns that
  // chunk, or null when the walk is over: at the end of the file, or once the outermost chunk
  // has closed (what follows it is not read). Nesting beyond kMaxChunkDepth throws SoundError.
  Chunk* Next();
  // Makes the top chunk a container: reads its 4-byte type.
  void OpenContainer();
  // Reads up to maxBytes of the top chunk's content, as far as the file goes; the buffer grows
  // with the bytes that arrive, so a length beyond the file allocates nothing.
  std::vector<std::uint8_t> Read(std::int64_t maxBytes);
  // n = 1..4 bytes of the top chunk's content as a number in the family's byte order; missing
  // bytes count as zero and leave the stream failed.
  std::uint32_t ReadNumber(int n);
  // A four-character code of the top chunk's content, read in file order whatever the family.
  std::uint32_t ReadCode();
  // Ends the walk: the stack is emptied and Next returns null from now on.
  void End();

  bool Over() const { return over_; }
  int Depth() const { return top_ + 1; }
  Chunk& Top() { return stack_[top_]; }
  const Chunk& Outermost() const { return stack_[0]; }
  // RF64: the outermost chunk's true size, from the ds64 chunk (its header says "unknown").
  void SetOutermostSize(std::int64_t size);
  // The container of the top chunk; null at the outermost level.
  const Chunk* Parent() const { return top_ > 0 ? &stack_[top_ - 1] : nullptr; }
  // The stream position, -1 when the stream cannot tell.
  std::int64_t Position();

private:
  void CloseTop();
  void Skip(std::int64_t n);

  std::istream& in_;
  std::int64_t fileSize_;
  Order order_;
  std::string family_;
  bool seekable_;
  bool started_ = false;
  bool over_ = false;
  Chunk stack_[format_limits::kMaxChunkDepth];
  int top_ = -1;
};
