#include "formats/ffmpeg/FfmpegLibrary.h"

#include <dlfcn.h>

#include <string>

#include "formats/SoundError.h"

namespace {

#define TINTWAVE_SONAME(lib, major) "lib" lib ".so." AV_STRINGIFY(major)
// Each library's own soname, from the headers the code was compiled against: a library of
// another major version has another ABI and is not taken.
constexpr const char* kLibraries[] = {
    TINTWAVE_SONAME("avutil", LIBAVUTIL_VERSION_MAJOR),
    TINTWAVE_SONAME("avcodec", LIBAVCODEC_VERSION_MAJOR),
    TINTWAVE_SONAME("avformat", LIBAVFORMAT_VERSION_MAJOR),
};

struct Loaded {
  FfmpegFunctions functions;
  std::string failure;  // empty when every function was found
};

Loaded Load() {
  Loaded loaded;
  void* handles[3] = {};
  for (int i = 0; i < 3; ++i) {
    handles[i] = ::dlopen(kLibraries[i], RTLD_NOW | RTLD_LOCAL);
    if (!handles[i]) {
      const char* why = ::dlerror();
      loaded.failure = std::string("FFmpeg's library ") + kLibraries[i] + " could not be loaded" +
                       (why ? std::string(" (") + why + ")" : std::string());
      return loaded;
    }
  }
  // The libraries stay loaded for the life of the process.
  auto find = [&](const char* name) -> void* {
    for (void* handle : handles)
      if (void* symbol = ::dlsym(handle, name)) return symbol;
    if (loaded.failure.empty()) loaded.failure = std::string("FFmpeg's libraries lack ") + name;
    return nullptr;
  };
#define TINTWAVE_FFMPEG_FIND(name) \
  loaded.functions.name = reinterpret_cast<decltype(loaded.functions.name)>(find(#name));
  TINTWAVE_FFMPEG_FUNCTIONS(TINTWAVE_FFMPEG_FIND)
#undef TINTWAVE_FFMPEG_FIND
  return loaded;
}

}  // namespace

const FfmpegFunctions& Ffmpeg() {
  static const Loaded loaded = Load();
  if (!loaded.failure.empty()) throw SoundError(loaded.failure);
  return loaded.functions;
}
