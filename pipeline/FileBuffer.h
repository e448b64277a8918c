#pragma once
// A std::streambuf over a C stdio file, through which the format library reads and writes files.
// It keeps no buffer of its own (stdio buffers): underflow peeks at the next byte, uflow takes it,
// block reads and writes go straight to fread and fwrite. Positions are 64-bit.
#include <cstdio>
#include <memory>
#include <streambuf>
#include <string>

class CUP_FileBuffer : public std::streambuf {
public:
  // Open mode bits, combined as in the editor: kRead | kBinary gives "rb", kWrite | kBinary "wb".
  static constexpr int kRead = 0x01;
  static constexpr int kWrite = 0x02;
  static constexpr int kBinary = 0x20;

  CUP_FileBuffer() = default;
  ~CUP_FileBuffer() override;
  CUP_FileBuffer(const CUP_FileBuffer&) = delete;
  CUP_FileBuffer& operator=(const CUP_FileBuffer&) = delete;

  // Closes any file already held first. False when the file cannot be opened.
  bool Open(const std::string& name, int mode);
  // Takes over an open handle on which nothing was read or written yet (closed by this buffer).
  bool Attach(std::FILE* file);
  // Flushes and closes; false when the flush or the close failed (the data may be lost).
  bool Close();
  bool IsOpen() const { return file_ != nullptr; }
  std::FILE* Handle() const { return file_; }

protected:
  int_type overflow(int_type c) override;
  int_type underflow() override;
  int_type uflow() override;
  std::streamsize xsgetn(char_type* dest, std::streamsize n) override;
  std::streamsize xsputn(const char_type* source, std::streamsize n) override;
  pos_type seekoff(off_type offset, std::ios_base::seekdir direction,
                   std::ios_base::openmode which = std::ios_base::in | std::ios_base::out) override;
  pos_type seekpos(pos_type position, std::ios_base::openmode which = std::ios_base::in | std::ios_base::out) override;
  int sync() override;

private:
  void UseLargeBuffer();
  std::FILE* file_ = nullptr;
  std::unique_ptr<char[]> stdioBuffer_;
};
