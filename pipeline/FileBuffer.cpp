#include "pipeline/FileBuffer.h"

#include <sys/types.h>

#include <new>

CUP_FileBuffer::~CUP_FileBuffer() { Close(); }

namespace {
// Audio files are read and written front to back in large runs: a buffer of 1 MiB turns the
// 25,000 system calls of a 100 MB file into a hundred.
constexpr std::size_t kStdioBuffer = std::size_t(1) << 20;
}  // namespace

void CUP_FileBuffer::UseLargeBuffer() {
  stdioBuffer_.reset(new (std::nothrow) char[kStdioBuffer]);
  if (stdioBuffer_ && std::setvbuf(file_, stdioBuffer_.get(), _IOFBF, kStdioBuffer) != 0) stdioBuffer_.reset();
}

bool CUP_FileBuffer::Open(const std::string& name, int mode) {
  Close();
  std::string openMode;
  if (mode & kRead) openMode += 'r';
  if (mode & kWrite) openMode += 'w';
  if (mode & kBinary) openMode += 'b';
  if (openMode.empty() || openMode[0] == 'b') return false;
  file_ = std::fopen(name.c_str(), openMode.c_str());
  if (file_) UseLargeBuffer();
  return file_ != nullptr;
}

bool CUP_FileBuffer::Attach(std::FILE* file) {
  Close();
  file_ = file;
  // The handle is fresh (nothing read or written yet) when it comes from fdopen, as in a save.
  if (file_) UseLargeBuffer();
  return true;
}

bool CUP_FileBuffer::Close() {
  if (!file_) return true;
  const bool flushed = std::fflush(file_) == 0;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  stdioBuffer_.reset();  // only after fclose: stdio uses it up to the end
  return flushed && closed;
}

CUP_FileBuffer::int_type CUP_FileBuffer::overflow(int_type c) {
  if (!file_) return traits_type::eof();
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  return std::fputc(traits_type::to_char_type(c), file_) == EOF ? traits_type::eof() : c;
}

CUP_FileBuffer::int_type CUP_FileBuffer::underflow() {
  if (!file_) return traits_type::eof();
  const int c = std::fgetc(file_);
  if (c == EOF) return traits_type::eof();
  std::ungetc(c, file_);  // a peek: the byte stays to be read
  return traits_type::to_int_type(char_type(c));
}

CUP_FileBuffer::int_type CUP_FileBuffer::uflow() {
  if (!file_) return traits_type::eof();
  const int c = std::fgetc(file_);
  return c == EOF ? traits_type::eof() : traits_type::to_int_type(char_type(c));
}

std::streamsize CUP_FileBuffer::xsgetn(char_type* dest, std::streamsize n) {
  if (!file_ || n <= 0) return 0;
  return std::streamsize(std::fread(dest, 1, std::size_t(n), file_));
}

std::streamsize CUP_FileBuffer::xsputn(const char_type* source, std::streamsize n) {
  if (!file_ || n <= 0) return 0;
  return std::streamsize(std::fwrite(source, 1, std::size_t(n), file_));
}

CUP_FileBuffer::pos_type CUP_FileBuffer::seekoff(off_type offset, std::ios_base::seekdir direction,
                                                 std::ios_base::openmode) {
  if (!file_) return pos_type(off_type(-1));
  const int whence = direction == std::ios_base::beg ? SEEK_SET : direction == std::ios_base::cur ? SEEK_CUR : SEEK_END;
  // A position query must not disturb a pending write or a peeked byte.
  if (!(offset == 0 && direction == std::ios_base::cur) && fseeko(file_, off_t(offset), whence) != 0)
    return pos_type(off_type(-1));
  const off_t now = ftello(file_);
  return now < 0 ? pos_type(off_type(-1)) : pos_type(off_type(now));
}

CUP_FileBuffer::pos_type CUP_FileBuffer::seekpos(pos_type position, std::ios_base::openmode which) {
  return seekoff(off_type(position), std::ios_base::beg, which);
}

int CUP_FileBuffer::sync() { return file_ && std::fflush(file_) != 0 ? -1 : 0; }
