// Rendering synthesised formats: a 4-channel tracker module of 5 minutes (every channel playing
// a looped instrument with an effect on every row) and a 16-channel MIDI file of 5 minutes (every
// channel a note each half second, so with the releases about 40 notes sound at once), pulled
// as the editor loads (8,192-sample pulls). The files are built by the tests' writers.
#include <benchmark/benchmark.h>

#include <sstream>
#include <string>
#include <vector>

#include "formats/Probe.h"
#include "tests/formats/MidiWriter.h"
#include "tests/formats/ModuleWriter.h"

namespace {

using formats_test::MidiWriter;
using formats_test::ModuleWriter;

constexpr int kSeconds = 300;

std::string FiveMinuteModule() {
  ModuleWriter m;
  for (int i = 0; i < 4; ++i) {
    m.samples[i].data = formats_test::SineCycles(40 + 10 * i, 90);
    m.samples[i].loopLength = int(m.samples[i].data.size());
  }
  // 125 beats a minute at speed 6: 0.12 s a row, 2,500 rows.
  const int patterns = (kSeconds * 1000 / 120 + 63) / 64;
  m.order.clear();
  const int effects[][2] = {{0x0, 0x37}, {0x4, 0x46}, {0xA, 0x01}, {0x1, 0x01}, {0x0, 0}, {0x7, 0x24}};
  for (int p = 0; p < patterns; ++p) {
    m.order.push_back(p);
    for (int row = 0; row < 64; ++row)
      for (int c = 0; c < 4; ++c) {
        const int* effect = effects[(row + c + p) % 6];
        m.At(p, row, c) = {(row % 4 == 0) ? c + 1 : 0, (row % 4 == 0) ? 200 + 40 * ((row / 4 + c) % 8) : 0, effect[0],
                           effect[1]};
      }
  }
  return m.Bytes();
}

std::string FiveMinuteMidi() {
  MidiWriter w(1, 96);  // 120 beats a minute: 96 ticks = 0.5 s
  for (int channel = 0; channel < 16; ++channel) {
    w.Track().Event(0, {char(0xC0 | channel), char(channel * 8)});
    std::uint32_t rest = std::uint32_t(channel * 6);
    for (int note = 0; note < kSeconds * 2 - 1; ++note) {
      const int key = 36 + (channel * 5 + note * 7) % 60;
      w.NoteOn(rest, channel, key, 40 + (note * 13) % 80).NoteOff(80, channel, key);
      rest = 16;
    }
    w.End();
  }
  return w.Bytes();
}

void BM_Render(benchmark::State& state, std::string (*build)()) {
  const std::string bytes = build();
  std::vector<float> block(8192);
  std::int64_t total = 0;
  int rate = 0, channels = 0;
  for (auto _ : state) {
    std::istringstream in(bytes);
    auto reader = CreateReaderForFile(in, std::int64_t(bytes.size()), "", true);
    rate = reader->CurrentSamplingRate();
    channels = reader->CurrentChannels();
    total = 0;
    while (int n = reader->PullSamples(block.data(), int(block.size()))) total += n;
    if (total < std::int64_t(kSeconds - 1) * rate * channels) state.SkipWithError("the render is too short");
  }
  state.counters["audio_seconds"] = rate && channels ? double(total) / rate / channels : 0;
}

BENCHMARK_CAPTURE(BM_Render, module_4ch_5min, FiveMinuteModule)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Render, midi_16ch_5min, FiveMinuteMidi)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
