#pragma once
// The one exception type of the format library. Its message (at most 255 characters) is what the
// user sees; the decoder and encoder catch it and keep the text.
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

class SoundError : public std::exception {
public:
  static constexpr std::size_t kMaxMessage = 255;

  explicit SoundError(std::string_view message);
  SoundError(std::string_view message, std::string_view appended);
  // The number is appended in decimal and also kept.
  SoundError(std::string_view message, std::int64_t number);

  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const noexcept { return message_; }
  std::int64_t Number() const noexcept { return number_; }
  bool HasNumber() const noexcept { return hasNumber_; }

private:
  std::string message_;
  std::int64_t number_ = 0;
  bool hasNumber_ = false;
};
