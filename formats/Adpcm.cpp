#include "formats/Adpcm.h"

#include <algorithm>
#include <limits>

#include "formats/ByteOrder.h"

namespace {

constexpr std::int16_t kImaStepTable[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
    544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
    9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr int kImaIndexTable[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};
constexpr int kImaMaxIndex = 88;

constexpr int kMsAdaptation[16] = {230, 230, 230, 230, 307, 409, 512, 614, 768, 614, 512, 409, 307, 230, 230, 230};
constexpr int kMsMinDelta = 16;
// Keeps delta x adaptation within 32 bits however long a hostile block drives the delta up.
constexpr int kMsMaxDelta = std::numeric_limits<std::int32_t>::max() / 768;
constexpr int kMsHeaderBytes = 7;  // per channel

// Block sizes come from 16-bit fmt fields; anything beyond is hostile.
constexpr int kMaxBlockBytes = 0xFFFF;
constexpr int kMaxFramesPerBlock = 2 * kMaxBlockBytes;

constexpr const char* kImaBadIndex = "Bad index value in IMA ADPCM Format";
constexpr const char* kImaSyncError = "Synchronization error in IMA ADPCM Format";
constexpr const char* kMsError = "Error decoding MSADPCM data";

std::int16_t Clamp16(std::int64_t v) { return std::int16_t(std::clamp<std::int64_t>(v, -32768, 32767)); }

int CheckedImaChannels(int channels) {
  if (channels != 1 && channels != 2) throw SoundError("Unsupported number of channels in IMA ADPCM Format: ", channels);
  return channels;
}

int CheckedMsChannels(int channels) {
  if (channels != 1 && channels != 2) throw SoundError(kMsError);
  return channels;
}

int CheckedImaSamplesPerBlock(int samplesPerBlock) {
  // The header carries the first sample; the rest come in groups of 8 per channel.
  if (samplesPerBlock < 1 || samplesPerBlock > kMaxFramesPerBlock || (samplesPerBlock - 1) % 8 != 0)
    throw SoundError("Unsupported samples per block in IMA ADPCM Format: ", samplesPerBlock);
  return samplesPerBlock;
}

int CheckedImaBlockAlign(int samplesPerBlock, int channels, int blockAlign) {
  const std::int64_t content = DecompressImaAdpcmMs::BlockContentBytes(samplesPerBlock, channels);
  if (blockAlign < content || blockAlign > kMaxBlockBytes)
    throw SoundError("IMA ADPCM block size does not hold its samples per block: ", blockAlign);
  return blockAlign;
}

// Bytes an MS ADPCM block needs for samplesPerBlock frames: the headers, then one nibble per
// sample after the two header samples of each channel.
std::int64_t MsBlockContentBytes(int samplesPerBlock, int channels) {
  return std::int64_t(kMsHeaderBytes) * channels + (std::int64_t(samplesPerBlock - 2) * channels + 1) / 2;
}

int CheckedMsSamplesPerBlock(int samplesPerBlock) {
  if (samplesPerBlock < 2 || samplesPerBlock > kMaxFramesPerBlock)
    throw SoundError("Unsupported samples per block in MSADPCM data: ", samplesPerBlock);
  return samplesPerBlock;
}

int CheckedMsBlockAlign(int samplesPerBlock, int channels, int blockAlign) {
  if (blockAlign <= 0 || blockAlign > kMaxBlockBytes || blockAlign < MsBlockContentBytes(samplesPerBlock, channels))
    throw SoundError("MSADPCM block size does not hold its samples per block: ", blockAlign);
  return blockAlign;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Blocks handed out as interleaved floats

AdpcmBlockDecompressor::AdpcmBlockDecompressor(AudioAbstract& source, int channels, int framesPerBlock, int blockBytes)
    : AbstractDecompressor(source),
      channels_(channels),
      framesPerBlock_(framesPerBlock),
      blockBytes_(blockBytes),
      block_(std::size_t(blockBytes)),
      samples_(std::size_t(framesPerBlock) * std::size_t(channels)) {}

bool AdpcmBlockDecompressor::ReadBlock() {
  int got = 0;
  while (got < blockBytes_) {
    const int n = source_.PullBytes(block_.data() + got, blockBytes_ - got);
    if (n <= 0) return false;
    got += n;
  }
  return true;
}

int AdpcmBlockDecompressor::PullSamples(float* out, int count) {
  if (seekPending_) {
    seekPending_ = false;
    available_ = 0;
    framePosition_ = seekFrame_ - seekFrame_ % framesPerBlock_;
  }
  const int wantedFrames = std::max(count, 0) / channels_;
  int delivered = 0;  // frames
  while (delivered < wantedFrames) {
    if (framePosition_ >= frameLimit_) break;
    if (available_ == 0) {
      if (!DecodeBlock()) break;
      readPosition_ = 0;
      available_ = framesPerBlock_;
      if (seekFrame_ > framePosition_) {  // the frames of the block before the seek's target
        const int skip = int(std::min<std::int64_t>(seekFrame_ - framePosition_, available_));
        readPosition_ += skip;
        available_ -= skip;
        framePosition_ += skip;
        if (available_ == 0) continue;
      }
    }
    std::int64_t frames = std::min(available_, wantedFrames - delivered);
    frames = std::min(frames, frameLimit_ - framePosition_);
    if (frames <= 0) break;  // a seek past the last frame delivers nothing
    constexpr float kScale = 1.0f / 32768.0f;
    float* to = out + std::size_t(delivered) * channels_;
    for (int f = 0; f < frames; ++f)
      for (int c = 0; c < channels_; ++c) *to++ = samples_[std::size_t(c) * framesPerBlock_ + readPosition_ + f] * kScale;
    readPosition_ += int(frames);
    available_ -= int(frames);
    framePosition_ += frames;
    delivered += int(frames);
  }
  return delivered * channels_;
}

std::int64_t AdpcmBlockDecompressor::FitToData(std::int64_t dataBytes, std::int64_t declaredFrames) {
  const std::int64_t blocks = std::max<std::int64_t>(dataBytes, 0) / blockBytes_;
  frameLimit_ = blocks * framesPerBlock_;
  // A declared count trims the padding of the last block only: some writers count frames per
  // channel or per file section, and a count short of the last block would drop real audio.
  if (declaredFrames > frameLimit_ - framesPerBlock_ && declaredFrames < frameLimit_) frameLimit_ = declaredFrames;
  return blocks * blockBytes_;
}

std::int64_t AdpcmBlockDecompressor::ByteCountFor(std::int64_t samples) const {
  const std::int64_t frame = std::max<std::int64_t>(samples, 0) / channels_;
  seekPending_ = true;
  seekFrame_ = frame;
  return frame / framesPerBlock_ * blockBytes_;
}

// ---------------------------------------------------------------------------------------------
// IMA ADPCM

std::int16_t ImaAdpcmState::Decode(int nibble) {
  const int step = kImaStepTable[index];
  int diff = step >> 3;
  if (nibble & 1) diff += step >> 2;
  if (nibble & 2) diff += step >> 1;
  if (nibble & 4) diff += step;
  predictor = Clamp16(nibble & 8 ? predictor - diff : predictor + diff);
  index = std::clamp(index + kImaIndexTable[nibble & 15], 0, kImaMaxIndex);
  return std::int16_t(predictor);
}

std::int64_t DecompressImaAdpcmMs::BlockContentBytes(int samplesPerBlock, int channels) {
  return std::int64_t(channels) * ((std::int64_t(samplesPerBlock) + 7) / 2);
}

DecompressImaAdpcmMs::DecompressImaAdpcmMs(AudioAbstract& source, int samplesPerBlock, int channels, int blockAlign)
    : AdpcmBlockDecompressor(
          source, CheckedImaChannels(channels),
          CheckedImaSamplesPerBlock(samplesPerBlock), CheckedImaBlockAlign(samplesPerBlock, channels, blockAlign)) {}

bool DecompressImaAdpcmMs::DecodeBlock() {
  if (!ReadBlock()) return false;
  for (int c = 0; c < channels_; ++c) {
    const std::uint8_t* header = &block_[std::size_t(c) * 4];
    if (header[2] > kImaMaxIndex) throw SoundError(kImaBadIndex);
    if (header[3] != 0) throw SoundError(kImaSyncError);
    state_[c].predictor = std::int16_t(LittleEndian16(header));
    state_[c].index = header[2];
    samples_[std::size_t(c) * framesPerBlock_] = std::int16_t(state_[c].predictor);
  }
  const int groups = (framesPerBlock_ - 1) / 8;
  const std::uint8_t* in = &block_[std::size_t(channels_) * 4];
  for (int g = 0; g < groups; ++g) {
    for (int c = 0; c < channels_; ++c) {
      std::int16_t* to = &samples_[std::size_t(c) * framesPerBlock_ + 1 + std::size_t(g) * 8];
      for (int b = 0; b < 4; ++b, ++in) {
        *to++ = state_[c].Decode(*in & 15);
        *to++ = state_[c].Decode(*in >> 4);
      }
    }
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Apple IMA4

DecompressImaAdpcmApple::DecompressImaAdpcmApple(AudioAbstract& source, int channels)
    : AdpcmBlockDecompressor(source, CheckedImaChannels(channels),
                             kPacketFrames, kPacketBytes * channels) {}

bool DecompressImaAdpcmApple::DecodeBlock() {
  if (!ReadBlock()) return false;
  for (int c = 0; c < channels_; ++c) {
    const std::uint8_t* packet = &block_[std::size_t(c) * kPacketBytes];
    const std::uint32_t header = DecodeField(packet, 2);
    ImaAdpcmState& state = state_[c];
    const int index = int(header & 0x7F);
    if (index > kImaMaxIndex) throw SoundError(kImaSyncError);
    // The header keeps only the top 9 bits of the predictor: the running value wins while it
    // agrees with them, so that the packets join without a step.
    if ((std::uint32_t(state.predictor) & 0xFF80) != (header & 0xFF80)) state.predictor = std::int16_t(header & 0xFF80);
    state.index = index;
    std::int16_t* to = &samples_[std::size_t(c) * kPacketFrames];
    for (int b = 2; b < kPacketBytes; ++b) {
      *to++ = state.Decode(packet[b] & 15);
      *to++ = state.Decode(packet[b] >> 4);
    }
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// MS ADPCM

DecompressMsAdpcm::DecompressMsAdpcm(AudioAbstract& source, int samplesPerBlock, int channels, int blockAlign,
                                     const std::vector<std::int16_t>& firstCoefficients,
                                     const std::vector<std::int16_t>& secondCoefficients)
    : AdpcmBlockDecompressor(source, CheckedMsChannels(channels), CheckedMsSamplesPerBlock(samplesPerBlock),
                             CheckedMsBlockAlign(samplesPerBlock, channels, blockAlign)),
      coef1_(firstCoefficients),
      coef2_(secondCoefficients) {
  if (coef1_.size() != coef2_.size() || coef1_.empty() || coef1_.size() > std::size_t(kMaxCoefficientPairs))
    throw SoundError("Unsupported number of MSADPCM coefficient pairs: ", std::int64_t(coef1_.size()));
}

bool DecompressMsAdpcm::DecodeBlock() {
  if (!ReadBlock()) return false;
  struct Channel {
    int coef1, coef2, delta, sample1, sample2;
  } state[2];
  const std::uint8_t* p = block_.data();
  for (int c = 0; c < channels_; ++c) {
    const int predictor = p[c];
    if (std::size_t(predictor) >= coef1_.size()) throw SoundError("Bad predictor index in MSADPCM data: ", predictor);
    state[c].coef1 = coef1_[std::size_t(predictor)];
    state[c].coef2 = coef2_[std::size_t(predictor)];
  }
  p += channels_;
  for (int c = 0; c < channels_; ++c, p += 2) state[c].delta = std::int16_t(LittleEndian16(p));
  for (int c = 0; c < channels_; ++c, p += 2) state[c].sample1 = std::int16_t(LittleEndian16(p));
  for (int c = 0; c < channels_; ++c, p += 2) state[c].sample2 = std::int16_t(LittleEndian16(p));
  for (int c = 0; c < channels_; ++c) {
    samples_[std::size_t(c) * framesPerBlock_] = std::int16_t(state[c].sample2);
    samples_[std::size_t(c) * framesPerBlock_ + 1] = std::int16_t(state[c].sample1);
  }
  // One nibble per sample, interleaved by channel, high nibble first.
  const std::int64_t nibbles = std::int64_t(framesPerBlock_ - 2) * channels_;
  for (std::int64_t k = 0; k < nibbles; ++k) {
    const std::uint8_t byte = p[k / 2];
    const int nibble = k % 2 == 0 ? byte >> 4 : byte & 15;
    const int c = int(k % channels_);
    Channel& s = state[c];
    const int signedNibble = nibble >= 8 ? nibble - 16 : nibble;
    const std::int64_t predicted = (std::int64_t(s.sample1) * s.coef1 + std::int64_t(s.sample2) * s.coef2) >> 8;
    const std::int16_t sample = Clamp16(predicted + std::int64_t(signedNibble) * s.delta);
    s.delta = std::clamp((kMsAdaptation[nibble] * s.delta) >> 8, kMsMinDelta, kMsMaxDelta);
    s.sample2 = s.sample1;
    s.sample1 = sample;
    samples_[std::size_t(c) * framesPerBlock_ + 2 + std::size_t(k / channels_)] = sample;
  }
  return true;
}
