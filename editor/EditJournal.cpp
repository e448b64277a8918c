#include "editor/EditJournal.h"

#include "analysis/SampleTrack.h"
#include "editor/SharedClipboard.h"
#include "pipeline/SampleMixer.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <thread>
#include <utility>

namespace {

constexpr char kMagic[8] = {'T', 'W', 'J', 'R', 'N', 'L', '\r', '\n'};
constexpr std::uint8_t kSourceRecord = 0x53;  // 'S'
constexpr std::size_t kHashSpan = 1 << 20;
// No record is larger than a clipboard of 32 tracks of an hour at 96 kHz would be; a length
// beyond the file is a torn or damaged record in any case.
constexpr std::uint32_t kMaxRecord = 0xFFFFFFF0u;

// ---- little-endian payloads ----

struct Out {
  std::vector<std::uint8_t> bytes;
  void Raw(const void* p, std::size_t n) {
    const auto* b = static_cast<const std::uint8_t*>(p);
    bytes.insert(bytes.end(), b, b + n);
  }
  void U8(std::uint8_t v) { bytes.push_back(v); }
  void U32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(std::uint8_t(v >> (8 * i)));
  }
  void U64(std::uint64_t v) {
    for (int i = 0; i < 8; ++i) bytes.push_back(std::uint8_t(v >> (8 * i)));
  }
  void I32(std::int32_t v) { U32(std::uint32_t(v)); }
  void I64(std::int64_t v) { U64(std::uint64_t(v)); }
  void F64(double v) {
    std::uint64_t u;
    std::memcpy(&u, &v, 8);
    U64(u);
  }
  void Text(const std::string& s) {
    U32(std::uint32_t(s.size()));
    Raw(s.data(), s.size());
  }
};

struct In {
  const std::uint8_t* p;
  std::size_t n;
  bool ok = true;
  bool Take(void* out, std::size_t count) {
    if (!ok || count > n) return ok = false;
    if (count > 0) std::memcpy(out, p, count);  // an empty track's out is null
    p += count;
    n -= count;
    return true;
  }
  std::uint8_t U8() {
    std::uint8_t v = 0;
    Take(&v, 1);
    return v;
  }
  std::uint32_t U32() {
    std::uint8_t b[4] = {};
    Take(b, 4);
    return std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 | std::uint32_t(b[3]) << 24;
  }
  std::uint64_t U64() {
    const std::uint64_t low = U32();
    return low | std::uint64_t(U32()) << 32;
  }
  std::int32_t I32() { return std::int32_t(U32()); }
  std::int64_t I64() { return std::int64_t(U64()); }
  double F64() {
    const std::uint64_t u = U64();
    double v;
    std::memcpy(&v, &u, 8);
    return v;
  }
  std::string Text() {
    const std::uint32_t size = U32();
    if (!ok || size > n) {
      ok = false;
      return {};
    }
    std::string s(reinterpret_cast<const char*>(p), size);
    p += size;
    n -= size;
    return s;
  }
};

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= std::size_t(n);
  }
  return true;
}

// The journal's bytes, mapped: one with audio may be far larger than what its reading keeps.
class MappedJournal {
public:
  explicit MappedJournal(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return;
    size_ = std::size_t(st.st_size);
    ok_ = true;
    if (size_ == 0) return;
    void* p = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
    if (p == MAP_FAILED) {
      ok_ = false;
      size_ = 0;
      return;
    }
    data_ = static_cast<const std::uint8_t*>(p);
  }
  ~MappedJournal() {
    if (data_) ::munmap(const_cast<std::uint8_t*>(data_), size_);
  }
  MappedJournal(const MappedJournal&) = delete;
  MappedJournal& operator=(const MappedJournal&) = delete;
  bool Ok() const { return ok_; }
  const std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }

private:
  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  bool ok_ = false;
};

// A listing reads the commands, not the audio: it trusts a long record's length without
// checking its samples, which recovery does.
constexpr std::uint32_t kListingChecksLimit = 1 << 16;

std::uint64_t Fnv1a(const std::uint8_t* data, std::size_t size, std::uint64_t hash) {
  for (std::size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 0x100000001b3ull;
  return hash;
}

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

bool DecodeSource(In& in, JournalSource* s) {
  if (in.U8() != kSourceRecord) return false;
  s->isFile = in.U8() != 0;
  s->path = in.Text();
  s->size = in.I64();
  s->mtimeNs = in.I64();
  s->hash = in.U64();
  s->openType = in.I32();
  s->rawChannels = in.I32();
  s->rawRate = in.I32();
  s->rawBits = in.I32();
  s->rawCompression = in.I32();
  s->rawBigEndian = in.U8() != 0;
  s->rawSigned = in.U8() != 0;
  s->correctDC = in.U8() != 0;
  s->newChannels = in.I32();
  s->newRate = in.I32();
  s->newSeconds = in.F64();
  s->pid = in.I32();
  s->startedMs = in.I64();
  return in.ok;
}

bool DecodeEntry(In& in, JournalEntry* e, bool summary) {
  const std::uint8_t kind = in.U8();
  if (kind == JournalEntry::Command) {
    e->kind = JournalEntry::Command;
    JournalCommand& c = e->command;
    c.op = JournalOp(in.U8());
    c.selStart = in.F64();
    c.selEnd = in.F64();
    c.cursor = in.F64();
    c.values[0] = in.I32();
    c.values[1] = in.I32();
    c.seconds = in.F64();
    c.file = in.Text();
    c.timeMs = in.I64();
    return in.ok && c.op >= JournalOp::Cut && c.op <= kLastJournalOp;
  }
  if (kind == JournalEntry::Clipboard || kind == JournalEntry::Audio) {
    e->kind = JournalEntry::Kind(kind);
    const std::uint32_t count = in.U32();
    if (count > 32) return false;
    for (std::uint32_t i = 0; i < count && in.ok; ++i) {
      JournalClipboard::Track track;
      track.rate = in.I32();
      const std::uint64_t samples = in.U64();
      if (!in.ok || samples > in.n / 4) return false;
      if (!summary) {
        track.samples.resize(std::size_t(samples));
        in.Take(track.samples.data(), std::size_t(samples) * 4);
      } else {
        in.p += samples * 4;
        in.n -= samples * 4;
      }
      e->clipboard.tracks.push_back(std::move(track));
    }
    return in.ok;
  }
  return false;
}

}  // namespace

const char* JournalOpName(JournalOp op) {
  static const char* const kNames[] = {"?",         "cut",       "copy",     "paste",  "mix",
                                       "delete",    "trim",      "fade-in",  "fade-out", "normalize",
                                       "mute",      "volume",    "reverse",  "insert-silence",
                                       "pitch",     "undo",      "redo",     "record",
                                       "change-pitch", "change-tempo", "restore"};
  const auto i = std::size_t(op);
  return i < std::size(kNames) ? kNames[i] : "?";
}

std::uint32_t Crc32(const void* data, std::size_t size) { return ~Crc32Update(kCrc32Start, data, size); }

std::uint32_t Crc32Update(std::uint32_t crc, const void* data, std::size_t size) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  const auto* p = static_cast<const std::uint8_t*>(data);
  for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}

bool IdentifySource(const std::string& path, JournalSource* source) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0;
  if (ok) {
    source->size = st.st_size;
    source->mtimeNs = std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    std::vector<std::uint8_t> span(kHashSpan);
    std::uint64_t hash = 0xcbf29ce484222325ull;
    const std::int64_t tail = std::max<std::int64_t>(0, st.st_size - std::int64_t(kHashSpan));
    for (std::int64_t at : {std::int64_t(0), tail}) {
      const ssize_t n = ::pread(fd, span.data(), span.size(), at);
      if (n < 0) ok = false;
      else hash = Fnv1a(span.data(), std::size_t(n), hash);
    }
    source->hash = hash;
  }
  ::close(fd);
  return ok;
}

bool SameSource(const JournalSource& recorded, std::string* why) {
  if (!recorded.isFile) return true;
  JournalSource now;
  if (!IdentifySource(recorded.path, &now)) {
    *why = recorded.path + " can no longer be read";
    return false;
  }
  if (now.size != recorded.size || now.mtimeNs != recorded.mtimeNs || now.hash != recorded.hash) {
    *why = recorded.path + " has changed since it was edited";
    return false;
  }
  return true;
}

std::vector<std::uint8_t> EncodeSource(const JournalSource& s) {
  Out o;
  o.U8(kSourceRecord);
  o.U8(s.isFile);
  o.Text(s.path);
  o.I64(s.size);
  o.I64(s.mtimeNs);
  o.U64(s.hash);
  o.I32(s.openType);
  o.I32(s.rawChannels);
  o.I32(s.rawRate);
  o.I32(s.rawBits);
  o.I32(s.rawCompression);
  o.U8(s.rawBigEndian);
  o.U8(s.rawSigned);
  o.U8(s.correctDC);
  o.I32(s.newChannels);
  o.I32(s.newRate);
  o.F64(s.newSeconds);
  o.I32(s.pid);
  o.I64(s.startedMs);
  return std::move(o.bytes);
}

std::vector<std::uint8_t> EncodeCommand(const JournalCommand& c) {
  Out o;
  o.U8(JournalEntry::Command);
  o.U8(std::uint8_t(c.op));
  o.F64(c.selStart);
  o.F64(c.selEnd);
  o.F64(c.cursor);
  o.I32(c.values[0]);
  o.I32(c.values[1]);
  o.F64(c.seconds);
  o.Text(c.file);
  o.I64(c.timeMs);
  return std::move(o.bytes);
}

void JournalPayload::AddOwned(std::vector<std::uint8_t> bytes) {
  owned.push_back(std::move(bytes));  // the inner buffer stays where it is when owned grows
  pieces.emplace_back(owned.back().data(), owned.back().size());
}

std::uint64_t JournalPayload::Size() const {
  std::uint64_t size = 0;
  for (const auto& piece : pieces) size += piece.second;
  return size;
}

JournalPayload EncodeAudio(JournalEntry::Kind kind, const std::vector<JournalAudioTrack>& tracks,
                           std::shared_ptr<const void> keep) {
  JournalPayload payload;
  payload.keep = std::move(keep);
  Out head;
  head.U8(kind);
  head.U32(std::uint32_t(tracks.size()));
  payload.AddOwned(std::move(head.bytes));
  for (const JournalAudioTrack& track : tracks) {
    std::uint64_t samples = 0;
    for (const auto& span : track.spans) samples += span.second;
    Out o;
    o.I32(track.rate);
    o.U64(samples);
    payload.AddOwned(std::move(o.bytes));
    for (const auto& span : track.spans) payload.AddBorrowed(span.first, span.second * 4);  // little-endian floats
  }
  return payload;
}

// Straight from the blocks: they never change once in the clipboard, and the payload keeps them
// alive until the writer is done, so the UI thread copies nothing.
JournalPayload EncodeClipboard(const SharedClipboard& clipboard) {
  auto shared = std::make_shared<std::vector<std::shared_ptr<const CAP_SampleTrack>>>(clipboard.Share());
  std::vector<JournalAudioTrack> tracks;
  for (const auto& track : *shared) {
    JournalAudioTrack t;
    t.rate = track->sampleRate;
    for (const SampleBlock* b = track->Head(); b; b = b->next) t.spans.emplace_back(b->Samples(), std::size_t(b->count));
    tracks.push_back(std::move(t));
  }
  return EncodeAudio(JournalEntry::Clipboard, tracks, shared);
}

// Copied: the document's blocks may change in place after the command.
JournalPayload EncodeSpan(CAP_SampleMixer& mixer, int start, int length) {
  auto copies = std::make_shared<std::vector<std::vector<float>>>();
  std::vector<JournalAudioTrack> tracks;
  for (int i = 0; i < mixer.TrackCount(); ++i) {
    CAP_SampleTrack* track = mixer.Track(i);
    if (track->Computed()) continue;
    copies->emplace_back(std::size_t(length));
    track->ReadSamples(copies->back().data(), length, start);
  }
  for (const auto& copy : *copies) {
    JournalAudioTrack t;
    t.rate = mixer.sampleRate;
    t.spans.emplace_back(copy.data(), copy.size());
    tracks.push_back(std::move(t));
  }
  return EncodeAudio(JournalEntry::Audio, tracks, copies);
}

std::uint64_t MaxJournalRecord() { return kMaxRecord; }

std::vector<std::uint8_t> FrameRecord(const std::vector<std::uint8_t>& payload) {
  Out o;
  o.bytes.reserve(payload.size() + 8);
  o.U32(std::uint32_t(payload.size()));
  o.U32(Crc32(payload.data(), payload.size()));
  o.Raw(payload.data(), payload.size());
  return std::move(o.bytes);
}

std::vector<std::uint8_t> JournalFileHeader() {
  Out o;
  o.Raw(kMagic, sizeof kMagic);
  o.U32(kJournalVersion);
  return std::move(o.bytes);
}

bool ReadJournal(int fd, JournalContents* contents, std::string* error, bool summary) {
  *contents = JournalContents();
  const MappedJournal bytes(fd);
  if (!bytes.Ok()) {
    *error = std::string("the journal could not be read (") + std::strerror(errno) + ")";
    return false;
  }
  if (bytes.size() < 12 || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) {
    *error = "not an edit journal";
    return false;
  }
  In version{bytes.data() + 8, 4};
  if (version.U32() != kJournalVersion) {
    *error = "an edit journal of another version";
    return false;
  }
  std::size_t at = 12;
  bool haveSource = false;
  while (at < bytes.size()) {
    In frame{bytes.data() + at, bytes.size() - at};
    const std::uint32_t length = frame.U32();
    const std::uint32_t crc = frame.U32();
    if (!frame.ok || length > kMaxRecord || length > frame.n) break;
    if ((!summary || length <= kListingChecksLimit) && Crc32(frame.p, length) != crc) break;
    In payload{frame.p, length};
    if (!haveSource) {
      if (!DecodeSource(payload, &contents->source)) break;
      haveSource = true;
    } else {
      JournalEntry entry;
      if (!DecodeEntry(payload, &entry, summary)) break;
      if (entry.kind == JournalEntry::Command) {
        ++contents->commandCount;
        contents->lastCommandMs = entry.command.timeMs;
      }
      if (!summary) contents->entries.push_back(std::move(entry));
    }
    at += 8 + std::size_t(length);
  }
  contents->torn = at < bytes.size();
  if (!haveSource) {
    *error = "the journal names no source";
    return false;
  }
  return true;
}

bool ReadJournalFile(const std::string& path, JournalContents* contents, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = std::string("the journal could not be opened (") + std::strerror(errno) + ")";
    return false;
  }
  const bool ok = ReadJournal(fd, contents, error);
  ::close(fd);
  return ok;
}

// ---- the writer ----

JournalWriter::JournalWriter(const std::string& dir, const JournalSource& source) {
  auto fail = [this](const std::string& what) { writer_.Fail(what + " (" + std::strerror(errno) + ")"); };
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  static std::atomic<int> serial{0};
  const std::string stem = dir + "/" + std::to_string(::getpid()) + "-" + std::to_string(NowMs()) + "-" +
                           std::to_string(serial++);
  // Locked under a name no listing reads, so that no other instance takes it for an orphan.
  const std::string temporary = stem + ".new";
  fd_ = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd_ < 0) {
    fail("The recovery journal could not be created in " + dir);
    return;
  }
  path_ = stem + ".journal";
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0 || ::rename(temporary.c_str(), path_.c_str()) != 0) {
    fail("The recovery journal could not be created in " + dir);
    ::unlink(temporary.c_str());
    ::close(fd_);
    fd_ = -1;
    path_.clear();
    return;
  }
  JournalSource stamped = source;
  stamped.pid = std::int32_t(::getpid());
  stamped.startedMs = NowMs();
  std::vector<std::uint8_t> first = JournalFileHeader();
  const std::vector<std::uint8_t> record = FrameRecord(EncodeSource(stamped));
  first.insert(first.end(), record.begin(), record.end());
  writer_.Start([this](std::deque<JournalPayload>& batch, bool) { return Write(batch); },
                "The recovery journal could not be written");
  JournalPayload opening;
  opening.AddOwned(std::move(first));
  writer_.Queue(std::move(opening));
}

JournalWriter::~JournalWriter() {
  writer_.Stop(false);
  if (fd_ >= 0) ::close(fd_);
}

void JournalWriter::Append(std::vector<std::uint8_t> bytes) {
  JournalPayload payload;
  payload.AddOwned(std::move(bytes));
  Append(std::move(payload));
}

void JournalWriter::Append(JournalPayload payload) {
  if (fd_ >= 0) writer_.Queue(std::move(payload));  // framed on the writer's thread
}

bool JournalWriter::Write(std::deque<JournalPayload>& batch) {
  if (batch.empty()) return true;
  auto writePieces = [&](const JournalPayload& payload) {
    for (const auto& piece : payload.pieces)
      if (!WriteAll(fd_, static_cast<const std::uint8_t*>(piece.first), piece.second)) return false;
    return true;
  };
  for (JournalPayload& payload : batch) {
    if (!opened_) {
      opened_ = true;
      if (!writePieces(payload)) return false;  // the file's header and source, framed
      continue;
    }
    std::uint32_t crc = kCrc32Start;
    for (const auto& piece : payload.pieces) crc = Crc32Update(crc, piece.first, piece.second);
    crc = ~crc;
    std::uint8_t frame[8];
    const std::uint32_t length = std::uint32_t(payload.Size());
    for (int i = 0; i < 4; ++i) {
      frame[i] = std::uint8_t(length >> (8 * i));
      frame[4 + i] = std::uint8_t(crc >> (8 * i));
    }
    if (!WriteAll(fd_, frame, sizeof frame) || !writePieces(payload)) return false;
    payload = JournalPayload();  // what it kept alive may go
  }
  return ::fdatasync(fd_) == 0;
}

bool JournalWriter::Flush() { return fd_ >= 0 && writer_.Flush(); }

void JournalWriter::Discard() {
  if (fd_ < 0) return;
  writer_.Stop(true);
  ::unlink(path_.c_str());
  ::close(fd_);
  fd_ = -1;
}

bool JournalWriter::Failed() const { return writer_.Failed(); }

std::string JournalWriter::FailureText() const { return writer_.FailureText(); }

// ---- finding the journals of processes that are gone ----

std::string DefaultRecoveryDir() {
  const char* state = std::getenv("XDG_STATE_HOME");
  std::string base;
  if (state && *state == '/') {
    base = state;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home && *home ? home : "/tmp") + "/.local/state";
  }
  return base + "/tintwave/recovery";
}

OrphanJournal::OrphanJournal(OrphanJournal&& other) noexcept { *this = std::move(other); }

OrphanJournal& OrphanJournal::operator=(OrphanJournal&& other) noexcept {
  if (this != &other) {
    if (fd >= 0) ::close(fd);
    path = std::move(other.path);
    summary = std::move(other.summary);
    sourceChanged = other.sourceChanged;
    sourceWhy = std::move(other.sourceWhy);
    fd = std::exchange(other.fd, -1);
  }
  return *this;
}

OrphanJournal::~OrphanJournal() {
  if (fd >= 0) ::close(fd);
}

void OrphanJournal::Remove() {
  if (fd < 0) return;
  // The recovery files of its recordings: "STEM-recN.wav" beside "STEM.journal".
  const std::filesystem::path journal(path);
  const std::string prefix = journal.stem().string() + "-rec";
  std::error_code ec;
  for (const auto& item : std::filesystem::directory_iterator(journal.parent_path(), ec)) {
    const std::string name = item.path().filename().string();
    if (name.rfind(prefix, 0) == 0 && item.path().extension() == ".wav") std::filesystem::remove(item.path(), ec);
  }
  ::unlink(path.c_str());
  ::close(fd);
  fd = -1;
}

bool TakeOrphanJournal(const std::string& path, OrphanJournal* orphan, std::string* error) {
  *orphan = OrphanJournal();
  orphan->path = path;
  orphan->fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (orphan->fd < 0) {
    *error = std::string("the journal could not be opened (") + std::strerror(errno) + ")";
    return false;
  }
  // A journal another process holds is that process's document.
  if (::flock(orphan->fd, LOCK_EX | LOCK_NB) != 0) {
    *error = "the journal belongs to a Tintwave that is running";
    ::close(std::exchange(orphan->fd, -1));
    return false;
  }
  // The name may have gone between opening and locking (its document was saved).
  struct stat held {}, named {};
  if (::fstat(orphan->fd, &held) != 0 || ::stat(path.c_str(), &named) != 0 || held.st_ino != named.st_ino) {
    *error = "the journal is gone";
    ::close(std::exchange(orphan->fd, -1));
    return false;
  }
  if (!ReadJournal(orphan->fd, &orphan->summary, error, true)) return false;
  orphan->sourceChanged = !SameSource(orphan->summary.source, &orphan->sourceWhy);
  return true;
}

std::vector<OrphanJournal> FindOrphanJournals(const std::string& dir) {
  std::vector<OrphanJournal> found;
  std::error_code ec;
  for (const auto& item : std::filesystem::directory_iterator(dir, ec)) {
    if (item.path().extension() != ".journal") continue;
    OrphanJournal orphan;
    std::string error;
    if (!TakeOrphanJournal(item.path().string(), &orphan, &error)) {
      orphan.Remove();  // held: fd is closed and nothing happens; unreadable: junk of a crash
      continue;
    }
    if (orphan.summary.commandCount == 0) {
      orphan.Remove();
      continue;
    }
    found.push_back(std::move(orphan));
  }
  std::sort(found.begin(), found.end(), [](const OrphanJournal& a, const OrphanJournal& b) {
    return a.summary.source.startedMs < b.summary.source.startedMs;
  });
  return found;
}
