#pragma once
// Builds 31-instrument tracker modules in memory for the tests.
#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace formats_test {

struct ModSample {
  std::vector<std::int8_t> data;  // even length
  int volume = 64, finetune = 0;
  int loopStart = 0, loopLength = 0;  // bytes, even
};

struct ModCell {
  int instrument = 0, period = 0, effect = 0, parameter = 0;
};

class ModuleWriter {
public:
  explicit ModuleWriter(std::string signature = "M.K.") : signature_(std::move(signature)) {}

  std::array<ModSample, 31> samples;
  std::vector<int> order{0};
  std::string name = "test song";

  ModCell& At(int pattern, int row, int channel) {
    if (pattern >= int(patterns_.size())) patterns_.resize(std::size_t(pattern) + 1);
    return patterns_[std::size_t(pattern)][std::size_t(row)][std::size_t(channel)];
  }
  int Channels() const { return signature_ == "6CHN" ? 6 : (signature_ == "8CHN" || signature_ == "FLT8") ? 8 : 4; }

  std::string Bytes() const {
    std::string out = Padded(name, 20);
    for (const ModSample& s : samples) {
      out += Padded("sample", 22) + Be16(int(s.data.size()) / 2) + char(s.finetune & 15) + char(s.volume) +
             Be16(s.loopStart / 2) + Be16(s.loopLength / 2);
    }
    out += char(order.size());
    out += char(127);
    int highest = 0;
    for (int i = 0; i < 128; ++i) {
      const int p = i < int(order.size()) ? order[std::size_t(i)] : 0;
      highest = std::max(highest, p);
      out += char(p);
    }
    out += signature_;
    for (int p = 0; p <= highest; ++p)
      for (int r = 0; r < 64; ++r)
        for (int c = 0; c < Channels(); ++c) {
          ModCell cell;
          if (p < int(patterns_.size())) cell = patterns_[std::size_t(p)][std::size_t(r)][std::size_t(c)];
          out += char((cell.instrument & 0xF0) | ((cell.period >> 8) & 15));
          out += char(cell.period & 0xFF);
          out += char(((cell.instrument & 15) << 4) | (cell.effect & 15));
          out += char(cell.parameter);
        }
    for (const ModSample& s : samples) out.append(reinterpret_cast<const char*>(s.data.data()), s.data.size());
    return out;
  }

private:
  static std::string Padded(const std::string& s, std::size_t n) { return (s + std::string(n, '\0')).substr(0, n); }
  static std::string Be16(int v) { return {char(v >> 8), char(v)}; }

  std::string signature_;
  std::vector<std::array<std::array<ModCell, 8>, 64>> patterns_;
};

// A sine of exactly 32 samples a cycle (440 Hz at the module's recording rate), cycles long.
inline std::vector<std::int8_t> SineCycles(int cycles, int amplitude = 100) {
  std::vector<std::int8_t> data(std::size_t(cycles) * 32);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = std::int8_t(std::lround(amplitude * std::sin(2 * M_PI * i / 32.0)));
  return data;
}

}  // namespace formats_test
