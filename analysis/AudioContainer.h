#pragma once
// The two small interfaces through which audio and change notices travel: a container reads and
// writes interleaved float (or packed integer) frames at a position; a viewer accumulates the
// changed span and the shift of later audio until its owner applies them.
#include <cstdint>

class CAP_AudioContainer {
public:
  virtual ~CAP_AudioContainer() = default;

  // Slot 0: packed integers, chunked over ReadFloat.
  virtual int ReadInt(void* buffer, int bits, int frames, int position);
  // Slot 1.
  virtual int ReadFloat(float* dest, int frames, int position);
  // Slot 2: packed integers, chunked over WriteFloat.
  virtual int WriteInt(const void* buffer, int bits, int frames, int position);
  // Slot 3.
  virtual int WriteFloat(const float* source, int frames, int position);

  // The cursor helpers do not move the positions; the slots of each container do.
  int ReadIntAtCursor(void* buffer, int bits, int frames) { return ReadInt(buffer, bits, frames, readPosition); }
  int ReadFloatAtCursor(float* dest, int frames) { return ReadFloat(dest, frames, readPosition); }
  int WriteIntAtCursor(const void* buffer, int bits, int frames) { return WriteInt(buffer, bits, frames, writePosition); }
  int WriteFloatAtCursor(const float* source, int frames) { return WriteFloat(source, frames, writePosition); }

  int SecondsToFrames(double seconds) const { return static_cast<int>(sampleRate * seconds); }
  double FramesToSeconds(int frames) const { return sampleRate ? double(frames) / sampleRate : 0.0; }

  std::int32_t channels = 0;
  std::int32_t resolution = 0;   // bits per sample of the source or target encoding
  std::int32_t sampleRate = 0;
  double duration = 0;           // seconds
  std::int32_t compression = 0;  // CompressionCode of the source or target
  std::int32_t bitRate = 0;      // kbit/s of the source; 0 when meaningless
  std::int32_t readPosition = 0;
  std::int32_t writePosition = 0;

  static constexpr int kChunkFrames = 8192;
};

// Packed layouts: 8 = signed byte, 16 = signed little-endian, 24 = signed most significant byte
// first. Any other bit count converts nothing.
void FloatToIntSamples(const float* source, void* dest, int bits, int frames, int channels);
void IntToFloatSamples(const void* source, float* dest, int bits, int frames, int channels);

class CAP_AudioViewer {
public:
  virtual ~CAP_AudioViewer() = default;
  virtual void AddShift(double seconds);
  virtual void AddChangedRange(double start, double length);
  virtual void MarkAllChanged() {}
  virtual bool ApplyChanges(int a, int b);

  double changedStart = 0;   // seconds
  double changedLength = 0;  // seconds; 0 = nothing changed
  double shift = 0;          // seconds
};
