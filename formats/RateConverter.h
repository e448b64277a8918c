#pragma once
// Sample-rate conversion of interleaved float audio by band-limited interpolation with a
// Kaiser-windowed sinc (45 zero crossings, cutoff at 0.8 of the lower Nyquist frequency). When
// the rate ratio reduces to a fraction with a small denominator the filter runs polyphase with
// exact coefficients; otherwise the coefficients are interpolated from a table of 128 phases.
// Stereo in exact mode runs both channels side by side in vector registers with the same
// arithmetic as one channel alone, so each channel comes out as its own conversion would.
#include <memory>
#include <vector>

class RateConverter {
public:
  RateConverter(int channels, int inRate, int outRate);
  ~RateConverter();
  RateConverter(const RateConverter&) = delete;
  RateConverter& operator=(const RateConverter&) = delete;

  // Converts frames interleaved input frames and returns the output frames written to out, which
  // needs room for MaxOutputFrames(frames) frames. Equal rates copy. The last input samples wait
  // for the filter's look-ahead: call Flush at the end to have them converted too.
  int Process(const float* in, int frames, float* out);
  // Feeds silence through the look-ahead; writes at most MaxFlushFrames() frames. It ends the
  // conversion: input given afterwards would follow that silence.
  int Flush(float* out);
  int MaxOutputFrames(int frames) const;
  int MaxFlushFrames() const;

  // False when a rate is not positive or the rates differ by more than 1:256 (Process then
  // produces nothing).
  bool Usable() const { return usable_; }
  bool ExactMode() const;
  int Phases() const;
  int WingLength() const;
  int HalfWidth() const;
  double Factor() const { return factor_; }
  // The filter wing: WingLength() + 1 entries, the last one the zero guard.
  std::vector<double> FilterTable() const;

private:
  struct State;
  // made outputs of the state to out, which points at its channel in the first frame.
  void StoreOutput(const State& state, int made, float* out) const;
  int channels_;
  int inRate_;
  int outRate_;
  double factor_;
  bool usable_ = true;
  std::vector<std::unique_ptr<State>> states_;
  std::vector<float> deinterleaved_;
  std::vector<float> converted_;
};
