#pragma once
// The edit journal of a modified document: the document's source, then every command that
// changed it with what replaying it needs, so that a crash costs at most the last second.
//
// The file: "TWJRNL\r\n", a 32-bit version, then records, each a 32-bit payload length, the
// payload's CRC-32 and the payload, all little-endian. A record that is cut short or whose
// checksum fails ends the journal: it is the write a crash interrupted. The writer appends on
// its own thread and syncs each batch, so a command is on disk well within a second of being
// queued. The file is locked (flock) for as long as its document lives; a journal nobody holds
// belongs to a process that is gone.
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "editor/WriterThread.h"

class CAP_SampleMixer;
class SharedClipboard;

inline constexpr std::uint32_t kJournalVersion = 1;

// What the document was opened from. A new document has no file: its channels, rate and length.
struct JournalSource {
  bool isFile = false;
  std::string path;
  std::int64_t size = 0;
  std::int64_t mtimeNs = 0;
  std::uint64_t hash = 0;  // FNV-1a of the first and the last MiB
  // How it was opened: the open type, the headerless layout, the DC correction.
  int openType = 0;
  int rawChannels = 1, rawRate = 22050, rawBits = 16, rawCompression = 17;
  bool rawBigEndian = false, rawSigned = true;
  bool correctDC = false;
  // A new document.
  int newChannels = 1, newRate = 22050;
  double newSeconds = 0;
  std::int32_t pid = 0;
  std::int64_t startedMs = 0;  // wall clock
};

// The commands that are journaled: the document's entry points that change it or the clipboard.
enum class JournalOp : std::uint8_t {
  Cut = 1, Copy, Paste, Mix, Delete, Trim, FadeIn, FadeOut, Normalize, Mute, Volume, Reverse,
  InsertSilence, ShiftPitch, Undo, Redo, Record, ChangePitch, ChangeTempo,
  // An undo or redo the saved file cannot replay: the audio it put in place, in the Audio record
  // before it; values are the span's start and the length it replaced.
  Restore,
};
inline constexpr JournalOp kLastJournalOp = JournalOp::Restore;
const char* JournalOpName(JournalOp op);

// One command: the selection and the cursor it ran on (the view's seconds, exactly), the answers
// its dialog gave and when it ran. A recording: values are whether it is float and its start
// sample (-1: the input never started), seconds its end sample, file its recovery file.
struct JournalCommand {
  JournalOp op = JournalOp::Cut;
  double selStart = 0, selEnd = 0, cursor = 0;
  std::int32_t values[2] = {0, 0};
  double seconds = 0;
  std::string file;  // a recording's audio
  std::int64_t timeMs = 0;
};

// The clipboard's tracks, as a paste or mix from outside the document found them; or the tracks
// of the span a Restore puts in place.
struct JournalClipboard {
  struct Track {
    int rate = 0;
    std::vector<float> samples;
  };
  std::vector<Track> tracks;
};

struct JournalEntry {
  enum Kind : std::uint8_t { Command = 1, Clipboard = 2, Audio = 3 } kind = Command;
  JournalCommand command;
  JournalClipboard clipboard;
};

struct JournalContents {
  JournalSource source;
  std::vector<JournalEntry> entries;
  int commandCount = 0;
  std::int64_t lastCommandMs = 0;
  bool torn = false;  // bytes after the last whole record
};

std::uint32_t Crc32(const void* data, std::size_t size);
// Crc32 over pieces: start with kCrc32Start, finish with ~.
inline constexpr std::uint32_t kCrc32Start = 0xFFFFFFFFu;
std::uint32_t Crc32Update(std::uint32_t crc, const void* data, std::size_t size);
// The source identity of a file as it is now; false when it cannot be read.
bool IdentifySource(const std::string& path, JournalSource* source);
// Whether the file still is what the journal was made from.
bool SameSource(const JournalSource& recorded, std::string* why);

std::vector<std::uint8_t> EncodeSource(const JournalSource& source);
std::vector<std::uint8_t> EncodeCommand(const JournalCommand& command);
// A record's payload in pieces of memory that stay valid while keep lives, so that audio reaches
// the writer's thread without a copy; small parts are owned here.
struct JournalPayload {
  std::vector<std::pair<const void*, std::size_t>> pieces;
  std::vector<std::vector<std::uint8_t>> owned;
  std::shared_ptr<const void> keep;
  void AddOwned(std::vector<std::uint8_t> bytes);
  void AddBorrowed(const void* data, std::size_t size) { pieces.emplace_back(data, size); }
  std::uint64_t Size() const;
};
// Audio tracks as a Clipboard or Audio record, each track given as its pieces of floats.
struct JournalAudioTrack {
  int rate = 0;
  std::vector<std::pair<const float*, std::size_t>> spans;  // samples
};
JournalPayload EncodeAudio(JournalEntry::Kind kind, const std::vector<JournalAudioTrack>& tracks,
                           std::shared_ptr<const void> keep);
// The clipboard's tracks as a Clipboard record.
JournalPayload EncodeClipboard(const SharedClipboard& clipboard);
// [start, start + length) of every track of the mixer that stores its samples as an Audio record.
JournalPayload EncodeSpan(CAP_SampleMixer& mixer, int start, int length);
// The largest payload a record can frame.
std::uint64_t MaxJournalRecord();

// A payload framed as a record: length, checksum, payload.
std::vector<std::uint8_t> FrameRecord(const std::vector<std::uint8_t>& payload);
std::vector<std::uint8_t> JournalFileHeader();

// Reads a journal; false with *error when it is not one (a bad header or no source record).
// Only *summary: the entries are counted but not kept (a listing).
bool ReadJournal(int fd, JournalContents* contents, std::string* error, bool summary = false);
bool ReadJournalFile(const std::string& path, JournalContents* contents, std::string* error);

// Appends records on its own thread. Made for a document's first change; the file goes when
// the writer is discarded (saved or closed) and stays when the process dies.
class JournalWriter {
public:
  // Creates the journal in dir (made when missing); Failed() says when that did not work.
  JournalWriter(const std::string& dir, const JournalSource& source);
  ~JournalWriter();  // stops the thread; the file stays unless Discard ran
  JournalWriter(const JournalWriter&) = delete;
  JournalWriter& operator=(const JournalWriter&) = delete;

  // A record's payload, queued for the thread, which frames it; nothing waits for the disk.
  void Append(std::vector<std::uint8_t> payload);
  void Append(JournalPayload payload);
  // Waits until everything queued is written and synced; false when a write failed.
  bool Flush();
  // Stops and deletes the file.
  void Discard();
  // A create, write or sync failed (a full disk, an unwritable folder); the text says which.
  bool Failed() const;
  std::string FailureText() const;
  const std::string& Path() const { return path_; }

private:
  // The writer thread's work: each record framed, then one sync for the batch.
  bool Write(std::deque<JournalPayload>& batch);
  std::string path_;
  int fd_ = -1;
  bool opened_ = false;  // the writer thread's: the file's header is written
  WriterThread<JournalPayload> writer_;
};

// The folder journals live in: $XDG_STATE_HOME/tintwave/recovery (~/.local/state/... without it).
std::string DefaultRecoveryDir();

// A journal whose process is gone, locked by this process until it is released (destroyed).
struct OrphanJournal {
  std::string path;
  JournalContents summary;
  bool sourceChanged = false;
  std::string sourceWhy;  // what changed
  int fd = -1;
  OrphanJournal() = default;
  OrphanJournal(OrphanJournal&& other) noexcept;
  OrphanJournal& operator=(OrphanJournal&& other) noexcept;
  ~OrphanJournal();
  // Deletes the journal (recovered or declined) and releases it.
  void Remove();
};

// Locks the journal at path and reads its summary; false with *error when a running process
// holds it or it is no journal (orphan->fd then stays open only for a journal that is junk).
bool TakeOrphanJournal(const std::string& path, OrphanJournal* orphan, std::string* error);

// The journals of dir that no running process holds, oldest first. Journals without a command
// (a crash before the first write) are removed as they are found.
std::vector<OrphanJournal> FindOrphanJournals(const std::string& dir);
