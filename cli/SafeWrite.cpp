#include "cli/SafeWrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

std::string CannotWrite(const std::string& path, int error) {
  return path + ": cannot write the file" + (error ? std::string(" (") + std::strerror(error) + ")" : "");
}

}  // namespace

std::string WriteFileSafely(const std::string& path, const std::function<bool(std::FILE*, std::string*)>& write) {
  std::string error;
  if (path == "-") {
    if (!write(stdout, &error) || std::fflush(stdout) != 0 || std::ferror(stdout))
      return error.empty() ? "standard output: cannot write" : error;
    return "";
  }
  const fs::path target = ReplacedFile(path);
  std::error_code status;
  if (fs::is_directory(target, status)) return CannotWrite(path, EISDIR);
  if (WrittenInPlace(target)) {
    std::FILE* file = std::fopen(target.c_str(), "wb");
    if (!file) return CannotWrite(path, errno);
    bool ok = write(file, &error) && std::fflush(file) == 0 && !std::ferror(file);
    const int why = errno;
    if (std::fclose(file) != 0) ok = false;
    return ok ? "" : error.empty() ? CannotWrite(path, why) : error;
  }
  if (::access(target.c_str(), F_OK) == 0 && ::access(target.c_str(), W_OK) != 0) return CannotWrite(path, errno);
  fs::path directory = target.parent_path();
  if (directory.empty()) directory = ".";
  std::string temporary = (directory / ("." + target.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) return CannotWrite(path, errno);
  std::FILE* file = ::fdopen(fd, "wb");
  if (!file) {
    const int why = errno;
    ::close(fd);
    ::unlink(temporary.c_str());
    return CannotWrite(path, why);
  }
  bool ok = write(file, &error);
  // The data is on the disk before the rename makes it the file.
  if (ok && (std::fflush(file) != 0 || ::fsync(::fileno(file)) != 0 ||
             ::fchmod(::fileno(file), ModeForReplacement(target)) != 0)) {
    ok = false;
    error = CannotWrite(path, errno);
  }
  if (std::fclose(file) != 0 && ok) {
    ok = false;
    error = CannotWrite(path, errno);
  }
  if (ok && std::rename(temporary.c_str(), target.c_str()) != 0) {
    ok = false;
    error = CannotWrite(path, errno);
  }
  if (!ok) {
    ::unlink(temporary.c_str());
    return error.empty() ? CannotWrite(path, 0) : error;
  }
  return "";
}

bool RemoveOpenTemporary(const std::string& path) {
  const fs::path target = fs::absolute(ReplacedFile(path));
  const std::string prefix = "." + target.filename().string() + ".";
  std::error_code error;
  const fs::path directory = fs::weakly_canonical(target.parent_path(), error);
  bool removed = false;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd", error)) {
    std::error_code linkError;
    const fs::path open = fs::read_symlink(entry.path(), linkError);
    if (linkError || open.parent_path() != directory) continue;
    const std::string name = open.filename().string();
    if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0)
      removed = ::unlink(open.c_str()) == 0 || removed;
  }
  return removed;
}
