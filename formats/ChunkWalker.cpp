#include "formats/ChunkWalker.h"

#include <algorithm>
#include <iostream>

#include "formats/ByteOrder.h"
#include "formats/SoundError.h"

ChunkWalker::ChunkWalker(std::istream& in, std::int64_t fileSize, Order order, std::string family, bool seekable)
    : in_(in), fileSize_(fileSize > 0 ? fileSize : 0), order_(order), family_(std::move(family)), seekable_(seekable) {}

std::int64_t ChunkWalker::Position() {
  const std::streamoff at = in_.tellg();
  return at < 0 ? -1 : std::int64_t(at);
}

ChunkWalker::Chunk* ChunkWalker::Next() {
  if (over_) return nullptr;
  if (top_ >= 0 && !stack_[top_].isContainer) CloseTop();
  while (top_ >= 0 && stack_[top_].remaining < 8) CloseTop();
  if (top_ < 0 && started_) {  // the outermost chunk is over; what follows it is not read
    End();
    return nullptr;
  }
  started_ = true;

  const std::uint32_t id = ReadBigEndian(in_, 4);
  const std::int64_t length = order_ == Order::LittleEndian ? ReadLittleEndian(in_, 4) : ReadBigEndian(in_, 4);
  if (!in_) {  // the end of the file ends the tree
    End();
    return nullptr;
  }
  if (top_ + 1 >= format_limits::kMaxChunkDepth) throw SoundError(family_ + " chunks nested too deeply");
  const std::int64_t start = Position();
  Chunk& chunk = stack_[++top_];
  chunk = Chunk{id, length, length, false, 0, std::max<std::int64_t>(start, 0), false};
  chunk.beyondFile = fileSize_ > 0 && (start < 0 || length > fileSize_ - start);
  return &chunk;
}

void ChunkWalker::OpenContainer() {
  Chunk& chunk = Top();
  chunk.isContainer = true;
  chunk.formType = ReadCode();
}

std::uint32_t ChunkWalker::ReadNumber(int n) {
  Chunk& chunk = Top();
  chunk.remaining -= n;
  return order_ == Order::LittleEndian ? ReadLittleEndian(in_, n) : ReadBigEndian(in_, n);
}

std::uint32_t ChunkWalker::ReadCode() {
  Top().remaining -= 4;
  return ReadBigEndian(in_, 4);
}

std::vector<std::uint8_t> ChunkWalker::Read(std::int64_t maxBytes) {
  Chunk& chunk = Top();
  const std::int64_t length = std::clamp<std::int64_t>(chunk.remaining, 0, maxBytes);
  std::vector<std::uint8_t> data;
  constexpr std::int64_t kPiece = 1 << 16;
  while (std::int64_t(data.size()) < length && in_) {
    const std::size_t old = data.size();
    const std::int64_t piece = std::min(kPiece, length - std::int64_t(old));
    data.resize(old + std::size_t(piece));
    in_.read(reinterpret_cast<char*>(data.data() + old), piece);
    data.resize(old + std::size_t(in_.gcount()));
  }
  chunk.remaining -= std::int64_t(data.size());
  return data;
}

void ChunkWalker::End() {
  top_ = -1;
  over_ = true;
}

void ChunkWalker::Skip(std::int64_t n) {
  if (n <= 0) return;
  if (!seekable_) {
    SkipBytes(in_, n);
    return;
  }
  const std::int64_t at = Position();
  if (at < 0) {
    in_.setstate(std::ios::failbit);
    return;
  }
  // Never beyond the end of a file of known size: the next header read then ends the walk.
  in_.seekg(fileSize_ > 0 ? std::min(at + n, fileSize_) : at + n);
}

void ChunkWalker::SetOutermostSize(std::int64_t size) {
  Chunk& outer = stack_[0];
  outer.remaining = std::max<std::int64_t>(0, outer.remaining + (size - outer.size));
  outer.size = size;
}

void ChunkWalker::CloseTop() {
  Chunk& chunk = stack_[top_];
  std::int64_t size = chunk.size;
  std::int64_t remaining = chunk.remaining;
  if (size & 1) {  // the pad byte after odd-sized content
    ++size;
    ++remaining;
  }
  Skip(remaining);
  const bool beyondFile = chunk.beyondFile;
  --top_;
  if (top_ < 0) return;
  Chunk& parent = stack_[top_];
  if (parent.remaining < size + 8) {
    // A chunk running to the end of the file (a streamed WAVE) is no news.
    if (!beyondFile) std::cerr << "Error: Chunk is too large to fit in container!?!?\n";
    parent.remaining = 0;
  } else {
    parent.remaining -= size + 8;
  }
}
