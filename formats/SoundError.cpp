#include "formats/SoundError.h"

namespace {
std::string Limited(std::string text) {
  if (text.size() > SoundError::kMaxMessage) text.resize(SoundError::kMaxMessage);
  return text;
}
}  // namespace

SoundError::SoundError(std::string_view message) : message_(Limited(std::string(message))) {}

SoundError::SoundError(std::string_view message, std::string_view appended)
    : message_(Limited(std::string(message) + std::string(appended))) {}

SoundError::SoundError(std::string_view message, std::int64_t number)
    : message_(Limited(std::string(message) + std::to_string(number))), number_(number), hasNumber_(true) {}
