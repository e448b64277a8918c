#pragma once
// A document on fake sound devices, with a frame and prompts that record what they are told.
#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "analysis/SampleTrack.h"
#include "devices/AudioPlayer.h"
#include "devices/FakeWaveDevice.h"
#include "editor/AnsweringPrompts.h"
#include "editor/Document.h"
#include "editor/EditorFrame.h"
#include "editor/EditorWindow.h"
#include "graphics/TrackWaveform.h"

namespace editor_test {

struct RecordingFrame : EditorFrame {
  std::map<int, std::string> panes;
  int count = -2;
  std::vector<std::string> warnings;
  void SetPaneText(int pane, const std::string& text) override { panes[pane] = text; }
  void SetThresholdCount(int c) override { count = c; }
  void ShowWarning(const std::string& text) override { warnings.push_back(text); }
};

struct ScriptedPrompts : AnsweringPrompts {
  bool recordCorrectDC = false;
  float dcLeft = 0, dcRight = 0;
  SaveAsRequest saveAs;
  bool saveAsAnswer = false;
  int saveChangesAsked = 0;
  SaveAsRequest offered;
  bool AskRecord(int, int, bool* correct, float* l, float* r) override {
    *correct = recordCorrectDC;
    *l = dcLeft;
    *r = dcRight;
    return answer;
  }
  bool AskWebSearch(WebSearchChoices*) override { return answer; }
  SaveChangesAnswer AskSaveChanges(const std::string&) override { ++saveChangesAsked; return saveChanges; }
  bool AskSaveAs(SaveAsRequest* request) override {
    offered = *request;
    if (saveAsAnswer) *request = saveAs;
    return saveAsAnswer;
  }
};

// The devices the document's player got, kept for the test to drive.
struct FakeDevices {
  FakeWaveDevice* output = nullptr;
  FakeWaveDevice* input = nullptr;
  WaveDeviceFactory Factory() {
    return [this](WaveDirection direction) -> std::unique_ptr<CAI_WaveDevice> {
      auto device = std::make_unique<FakeWaveDevice>(direction);
      (direction == WaveDirection::Output ? output : input) = device.get();
      return device;
    };
  }
};

struct Rig {
  RecordingFrame frame;
  ScriptedPrompts prompts;
  FakeDevices devices;
  std::vector<std::string> launched;
  std::unique_ptr<EditorDocument> document;

  DocumentOptions Options(int channels, int rate, double seconds) {
    DocumentOptions options;
    options.newChannels = channels;
    options.newRate = rate;
    options.newSeconds = seconds;
    options.correctDC = false;
    options.devices = devices.Factory();
    options.browser = [this](const std::string& url) {
      launched.push_back(url);
      return true;
    };
    return options;
  }
  // A new silent document whose tracks then get the given samples (a function of frame, channel).
  template <typename F>
  void New(int channels, int rate, int frames, F sample, int width = 400) {
    document = std::make_unique<EditorDocument>(Options(channels, rate, double(frames) / rate), &frame, &prompts);
    EXPECT_TRUE(document->New(nullptr, width, 100));
    std::vector<float> interleaved(std::size_t(frames) * channels);
    for (int i = 0; i < frames; ++i)
      for (int c = 0; c < channels; ++c) interleaved[std::size_t(i) * channels + c] = sample(i, c);
    Mixer()->WriteFloat(interleaved.data(), frames, 0);
    Wave()->ApplyChanges(0, 0);
  }
  bool Open(const std::string& path, int width = 400) {
    document = std::make_unique<EditorDocument>(Options(1, 22050, 30), &frame, &prompts);
    return document->Open(path, nullptr, width, 100);
  }
  AudioEditorApp* Editor() const { return document->Editor(); }
  EP_SampleMixer* Mixer() const { return Editor()->Mixer(); }
  CGP_TrackWaveform* Wave() const { return Editor()->Waveform(); }
  CAI_AudioPlayer* Player() const { return Editor()->Player(); }
  void Tick() { Editor()->Window()->OnTimerTick(); }
  // Plays or records frames on the fake devices' clock, then runs the 20 ms tick.
  // Steps of at most 2,000 frames, so that the queued record buffers never run out.
  void Run(std::int64_t frames) {
    for (std::int64_t done = 0; done < frames;) {
      const std::int64_t step = std::min<std::int64_t>(2000, frames - done);
      if (devices.output) devices.output->Advance(step);
      if (devices.input) devices.input->Advance(step);
      Tick();
      done += step;
    }
  }
  std::vector<float> TrackSamples(int track) const {
    CAP_SampleTrack* t = Mixer()->Track(track);
    std::vector<float> v(std::size_t(t->Length()));
    t->ReadSamples(v.data(), t->Length(), 0);
    return v;
  }
};

inline float Tone(int i, int c) { return float(0.5 * std::sin(0.05 * i + c)); }

}  // namespace editor_test
