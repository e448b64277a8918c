#include "editor/AudioFileEditor.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>

#include "analysis/SampleTrack.h"
#include "analysis/SoundMatch.h"
#include "analysis/ScratchFile.h"
#include "devices/AudioPlayer.h"
#include "editor/CommandCode.h"
#include "editor/EditHistory.h"
#include "editor/EditorFrame.h"
#include "editor/EditorWindow.h"
#include "editor/SharedClipboard.h"
#include "formats/FormatCodes.h"
#include "formats/Probe.h"
#include "graphics/AxisBar.h"
#include "graphics/FormatTime.h"
#include "graphics/MultiTrackDisplay.h"
#include "graphics/Rounding.h"
#include "graphics/TrackWaveform.h"
#include "pipeline/AudioDecoder.h"
#include "pipeline/FileBuffer.h"
#include "pipeline/ProgressiveLoad.h"
#include "pipeline/SafeSave.h"

namespace {
// Passes a load's progress on and remembers whether the answer was to stop.
struct AskingProgress {
  ProgressCallback progress;
  std::intptr_t user;
  bool stopped = false;
  static bool Ask(std::intptr_t self, const char* text, int percent) {
    auto* asking = reinterpret_cast<AskingProgress*>(self);
    asking->stopped = asking->stopped || !asking->progress(asking->user, text, percent);
    return !asking->stopped;
  }
  ProgressCallback Callback() const { return progress ? &Ask : nullptr; }
  std::intptr_t User() { return reinterpret_cast<std::intptr_t>(this); }
};


std::string StatusTime(double seconds) { return FormatTime(seconds, 3, true, false); }
}  // namespace

bool IsEditableEncoding(bool hasDecoder, int compression) {
  // What can be written back can be edited, and so can the lossy codecs of the field's libraries
  // (saved as PCM or in a codec of the user's choice).
  return !hasDecoder || IsWritableEncoding(compression) || IsDecodedLossy(compression);
}

std::int32_t RoundSamples(double samples) { return RoundHalfAway(samples); }

EP_AudioFileEditor::EP_AudioFileEditor() { SharedClipboard::Instance(); }

EP_AudioFileEditor::~EP_AudioFileEditor() { ReleaseParts(); }

void EP_AudioFileEditor::SetStatusText(int pane, const std::string& text) {
  if (pane >= 0 && pane < kStatusPanes) panes_[pane] = text;
}

void EP_AudioFileEditor::ShowWarning(const std::string&) {}

std::string EP_AudioFileEditor::PaneText(int pane) const {
  return pane >= 0 && pane < kStatusPanes ? panes_[pane] : std::string();
}

void EP_AudioFileEditor::SetError(const std::string& text) { errorText_ = text.substr(0, 255); }

CAP_SampleTrack* EP_AudioFileEditor::DisplayTrack() const {
  return mixer_ && displayTrack_ >= 0 ? mixer_->Track(displayTrack_) : nullptr;
}

bool EP_AudioFileEditor::IsEditable() const {
  return IsEditableEncoding(decoder_ != nullptr, decoder_ ? decoder_->compression : 0);
}

int EP_AudioFileEditor::Compression() const { return decoder_ ? decoder_->compression : CompressionPcm16; }

int EP_AudioFileEditor::BitsPerSample() const { return decoder_ ? decoder_->resolution : 16; }

// ---- the document's life ----

bool EP_AudioFileEditor::CreateEmpty(int channels, int rate, double seconds) {
  errorText_.clear();
  if (channels < 1 || channels > CAP_SampleMixer::kMaxChannels) {
    SetError(std::to_string(channels) + " channel audio is not supported");
    return false;
  }
  if (rate < CAP_AudioDecoder::kMinRate || rate > CAP_AudioDecoder::kMaxRate) {
    SetError(std::to_string(rate) + " sample rate audio is not supported");
    return false;
  }
  // The tracks address samples with 32-bit positions.
  if (!(seconds >= 0) || double(rate) * seconds > double(INT32_MAX) - 1) {
    SetError("The duration of a new file must be between 0 and " +
             std::to_string(int(double(INT32_MAX) / rate)) + " seconds");
    return false;
  }
  mixer_ = std::make_unique<EP_SampleMixer>(channels, rate, this, true);
  annotations_ = std::make_unique<EP_AnnotationHolder>();
  newDuration_ = seconds;
  return true;
}

bool EP_AudioFileEditor::OpenForReading(const std::string& path, std::unique_ptr<CUP_FileBuffer>* buffer,
                                        std::unique_ptr<std::istream>* stream, std::int64_t* size) {
  std::error_code error;
  const std::uintmax_t bytes = std::filesystem::file_size(path, error);
  *size = error ? 0 : std::int64_t(bytes);
  *buffer = std::make_unique<CUP_FileBuffer>();
  *stream = std::make_unique<std::istream>(buffer->get());
  if (std::filesystem::is_directory(path, error) || !(*buffer)->Open(path, CUP_FileBuffer::kRead | CUP_FileBuffer::kBinary)) {
    SetError("Could not open file");
    return false;
  }
  return true;
}

bool EP_AudioFileEditor::OpenDecoder(const std::string& path, std::unique_ptr<CAP_AudioDecoder>* decoder,
                                     std::unique_ptr<CUP_FileBuffer>* buffer,
                                     std::unique_ptr<std::istream>* stream) {
  std::int64_t size = 0;
  if (!OpenForReading(path, buffer, stream, &size)) return false;
  *decoder = std::make_unique<CAP_AudioDecoder>(**stream, size, ExtensionOf(path), true);
  if (!(*decoder)->errorText.empty()) {
    SetError((*decoder)->errorText);
    return false;
  }
  return true;
}

void EP_AudioFileEditor::TakeOpenedFile(std::unique_ptr<CAP_AudioDecoder> decoder, std::unique_ptr<CUP_FileBuffer> buffer,
                                        std::unique_ptr<std::istream> stream, bool copyAnnotations) {
  ReleaseParts();
  fileBuffer_ = std::move(buffer);
  inputStream_ = std::move(stream);
  decoder_ = std::move(decoder);
  mixer_ = std::make_unique<EP_SampleMixer>(decoder_->channels, decoder_->sampleRate, this, true);
  annotations_ = std::make_unique<EP_AnnotationHolder>();
  if (copyAnnotations) decoder_->CopyAnnotations(annotations_->list);
}

bool EP_AudioFileEditor::OpenFile(const std::string& path) {
  errorText_.clear();
  std::unique_ptr<CAP_AudioDecoder> decoder;
  std::unique_ptr<CUP_FileBuffer> buffer;
  std::unique_ptr<std::istream> stream;
  if (!OpenDecoder(path, &decoder, &buffer, &stream)) return false;
  TakeOpenedFile(std::move(decoder), std::move(buffer), std::move(stream), true);
  return true;
}

bool EP_AudioFileEditor::OpenRawFile(const std::string& path, int channels, int rate, int bits, int compression,
                                     bool bigEndian, bool isSigned) {
  errorText_.clear();
  std::unique_ptr<CUP_FileBuffer> buffer;
  std::unique_ptr<std::istream> stream;
  std::int64_t size = 0;
  if (!OpenForReading(path, &buffer, &stream, &size)) return false;
  auto decoder = std::make_unique<CAP_AudioDecoder>(*stream, size, channels, rate, bits, compression, bigEndian, isSigned);
  if (!decoder->errorText.empty()) {
    SetError(decoder->errorText);
    return false;
  }
  TakeOpenedFile(std::move(decoder), std::move(buffer), std::move(stream), false);
  return true;
}

void EP_AudioFileEditor::FillWithSilence(ProgressCallback progress, std::intptr_t user) {
  static const float zeros[1000] = {};
  const int tracks = mixer_->TrackCount();
  const std::int64_t n = RoundSamples(mixer_->sampleRate * newDuration_);
  for (int i = 0; i < tracks; ++i) {
    CAP_SampleTrack* track = mixer_->Track(i);
    for (std::int64_t written = 0; written < n;) {
      const int piece = int(std::min<std::int64_t>(1000, n - written));
      track->InsertSamples(zeros, piece, track->Length());
      written += piece;
      if (progress)
        progress(user, "Creating audio data:", int((100.0 * double(written + n * i)) / double(n * tracks) + 0.5));
    }
  }
  for (int i = 0; i < tracks; ++i) mixer_->Track(i)->Settle();  // a computed mix reads the silence
}

bool EP_AudioFileEditor::PrepareToAttach(GraphicsHost* host, bool correctDC, double playbackSpeed) {
  if (!mixer_) {
    SetError("The document has no audio");
    return false;
  }
  host_ = host;
  mixer_->SetCorrectDC(correctDC);
  if (!(playbackSpeed > 0)) playbackSpeed = 1.0;
  mixer_->SetPitchShift(float(mixer_->NearestPitch(RoundSamples(mixer_->sampleRate * playbackSpeed))));
  displayTrack_ = mixer_->TrackCount() - 1;
  return true;
}

std::string EP_AudioFileEditor::NoScratchToLoad() {
  const std::string folder = scratch::Directory();
  return "Not enough disk space for the file's audio in the scratch folder (" +
         (folder.empty() ? scratch::DefaultDirectory() : folder) + "); free some space and open it again";
}

bool EP_AudioFileEditor::AttachViews(GraphicsHost* host, int width, int height, bool correctDC, double playbackSpeed,
                                     ProgressCallback progress, std::intptr_t user) {
  if (!PrepareToAttach(host, correctDC, playbackSpeed)) return false;
  try {
    if (decoder_) {
      // A load the user stopped says so, not that the file is bad.
      AskingProgress asking{progress, user};
      if (!mixer_->LoadFromDecoder(decoder_.get(), asking.Callback(), asking.User())) {
        SetError(asking.stopped            ? kLoadStopped
                 : decoder_->errorText.empty() ? "Could not decode audio"
                                               : decoder_->errorText);
        return false;
      }
      // A file that breaks off in its audio is reported, not shown as if it were whole.
      if (!decoder_->errorText.empty()) {
        SetError(decoder_->errorText);
        return false;
      }
    } else {
      FillWithSilence(progress, user);
    }
  } catch (const ScratchFull&) {
    SetError(NoScratchToLoad());
    return false;
  } catch (const std::bad_alloc&) {
    SetError(kNoMemoryToLoad);
    return false;
  }
  BuildViews(width, height);
  return true;
}

void EP_AudioFileEditor::BuildViews(int width, int height) {
  width = std::max(width, 1);
  height = std::max(height, kTimeAxisHeight + 1);
  player_ = std::make_unique<CAI_AudioPlayer>(mixer_.get(), mixer_.get(),
                                              deviceFactory_ ? deviceFactory_(WaveDirection::Output) : nullptr,
                                              deviceFactory_ ? deviceFactory_(WaveDirection::Input) : nullptr);
  history_ = std::make_unique<EP_EditHistory>(mixer_.get(), &SharedClipboard::Instance());
  history_->SetUndoLevels(undoLevels_);
  window_ = new EP_Window(host_, width, height, this);
  window_->EnableTimer(true);
  DisplayTracks tracks;
  for (int i = 0; i < mixer_->TrackCount(); ++i) tracks.tracks.push_back(mixer_->Track(i));
  tracks.rate = mixer_->sampleRate;
  tracks.duration = mixer_->duration;
  display_ = new CGP_MultiTrackDisplay(window_, window_, 0, 0, width, height, tracks, false);
  display_->SetAnchors(true, true, true, true);
  display_->ShowTrackRow(displayTrack_, true);
  display_->SetRowHeight(height, true);
  waveform_ = display_->LastWaveform();
  display_->SetFirstRow(displayTrack_);
  if (channelsShown_) ShowChannels(true);
  UpdateScrollBar();
  UpdateStatus();
}

bool EP_AudioFileEditor::SaveToFile(const std::string& path, int channels, int rate, int fileType, int compression,
                                    ProgressCallback progress, std::intptr_t user) {
  errorText_.clear();
  CAP_SampleTrack* track = DisplayTrack();
  if (!mixer_ || !track) {
    SetError("The document has no audio");
    return false;
  }
  SaveTarget target{path, fileType, channels, rate, compression};
  const std::string failure =
      SaveAudioSafely(*mixer_, track->duration, target, annotations_ ? &annotations_->list : nullptr, progress, user);
  if (!failure.empty()) {
    SetError(failure);
    return false;
  }
  return true;
}

bool EP_AudioFileEditor::ReopenAfterSave(const std::string& path, ProgressCallback progress, std::intptr_t user) {
  const int width = window_ ? window_->Width() : 1;
  const int height = window_ ? window_->Height() : kTimeAxisHeight + 1;
  const bool correctDC = mixer_ && mixer_->CorrectDC();
  GraphicsHost* host = host_;
  // The saved file is loaded into fresh parts first: a failure leaves the document as it was.
  std::unique_ptr<CAP_AudioDecoder> decoder;
  std::unique_ptr<CUP_FileBuffer> buffer;
  std::unique_ptr<std::istream> stream;
  std::unique_ptr<EP_SampleMixer> mixer;
  auto annotations = std::make_unique<EP_AnnotationHolder>();
  AskingProgress asking{progress, user};
  bool loaded = OpenDecoder(path, &decoder, &buffer, &stream) && decoder->channels <= CAP_SampleMixer::kMaxChannels;
  if (loaded) {
    try {
      mixer = std::make_unique<EP_SampleMixer>(decoder->channels, decoder->sampleRate, this, true);
      mixer->SetCorrectDC(correctDC);
      decoder->CopyAnnotations(annotations->list);
      loaded = mixer->LoadFromDecoder(decoder.get(), asking.Callback(), asking.User()) && decoder->errorText.empty();
    } catch (const std::bad_alloc&) {
      loaded = false;
    }
  }
  if (!loaded) {
    SetError(asking.stopped ? "The file is saved; reading it back was stopped, so the document stays as it was"
                            : "Could not reopen target file");
    return false;
  }
  historyKept_ = history_ && SameSamples(*mixer_, *mixer);
  if (historyKept_) {
    // The file holds exactly what the document holds: the tracks, the view and the undo history
    // stay, and only the file behind them changes (the decoder before the stream it reads).
    decoder_ = std::move(decoder);
    annotations_ = std::move(annotations);
    inputStream_ = std::move(stream);
    fileBuffer_ = std::move(buffer);
    history_->MarkSaved();
    errorText_.clear();
    return true;
  }
  ReleaseParts();
  host_ = host;
  fileBuffer_ = std::move(buffer);
  inputStream_ = std::move(stream);
  decoder_ = std::move(decoder);
  mixer_ = std::move(mixer);
  annotations_ = std::move(annotations);
  displayTrack_ = mixer_->TrackCount() - 1;
  BuildViews(width, height);
  errorText_.clear();
  return true;
}

bool EP_AudioFileEditor::SameSamples(CAP_SampleMixer& kept, CAP_SampleMixer& reopened) {
  if (kept.channels != reopened.channels || kept.TrackCount() != reopened.TrackCount() ||
      kept.sampleRate != reopened.sampleRate || kept.PitchShift() != 0 || reopened.PitchShift() != 0)
    return false;
  std::vector<float> a(kSaveChunkFrames), b(kSaveChunkFrames);
  // The channels are what the file holds; a stereo document's mix track is its own (after a
  // gain it may differ from a fresh mix in the last bit) and stays with its history.
  for (int t = 0; t < kept.channels; ++t) {
    CAP_SampleTrack& x = *kept.Track(t);
    CAP_SampleTrack& y = *reopened.Track(t);
    if (x.Length() != y.Length()) return false;
    for (int at = 0; at < x.Length(); at += kSaveChunkFrames) {
      const int n = std::min(kSaveChunkFrames, x.Length() - at);
      x.ReadSamples(a.data(), n, at);
      y.ReadSamples(b.data(), n, at);
      // Bit for bit: a -0 that came back as 0 is a change too.
      if (std::memcmp(a.data(), b.data(), sizeof(float) * std::size_t(n)) != 0) return false;
    }
  }
  return true;
}

void EP_AudioFileEditor::ReleaseParts() {
  load_.reset();
  player_.reset();
  history_.reset();
  // The waveform takes itself off its track's viewers, so the tree goes before the tracks.
  if (window_) {
    window_->DestroyChildren();
    delete window_;
  }
  window_ = nullptr;
  display_ = nullptr;
  waveform_ = nullptr;
  mixer_.reset();
  decoder_.reset();
  annotations_.reset();
  inputStream_.reset();
  fileBuffer_.reset();
  host_ = nullptr;
  displayTrack_ = -1;
  pausedPlay_ = pausedRecording_ = false;
}

// ---- positions ----

int EP_AudioFileEditor::SelectionStart(bool wholeFile) const {
  if (!waveform_ || !mixer_) return 0;
  const double rate = mixer_->sampleRate;
  if (waveform_->SelStart() < waveform_->SelEnd()) return RoundSamples(rate * waveform_->SelStart());
  return wholeFile ? 0 : RoundSamples(rate * waveform_->CursorTime());
}

int EP_AudioFileEditor::SelectionLength(bool wholeFile) const {
  if (!waveform_ || !mixer_) return 0;
  const double rate = mixer_->sampleRate;
  const int length = RoundSamples(rate * waveform_->SelEnd()) - RoundSamples(rate * waveform_->SelStart());
  if (length > 0) return length;
  return wholeFile ? RoundSamples(rate * Duration()) : 0;
}

int EP_AudioFileEditor::CursorSample() const {
  return waveform_ && mixer_ ? RoundSamples(mixer_->sampleRate * waveform_->CursorTime()) : 0;
}

double EP_AudioFileEditor::Duration() const { return mixer_ ? mixer_->duration : 0.0; }

ViewState EP_AudioFileEditor::GetViewState() const {
  ViewState view;
  if (!waveform_) return view;
  view.viewOffset = waveform_->X();
  view.viewWidth = waveform_->Width();
  view.selectionStart = SelectionStart(false);
  view.selectionLength = SelectionLength(false);
  return view;
}

void EP_AudioFileEditor::SetPrototypeFromSelection() {
  searchPending_ = false;
  // A file still loading is searched once it is all there.
  if (!matchMode_ || load_ || SelectionLength(false) < 1) return;
  const SearchMode mode = searchBySound_ ? SearchMode::Sound : matchAnywhere_ ? SearchMode::Anywhere : SearchMode::Grid;
  RunSearch([&] { FindSoundsLike(*DisplayTrack(), SelectionLength(false), SelectionStart(false), mode); });
}

void EP_AudioFileEditor::SuspendForReplay(bool suspend) {
  if (suspend == matchingSuspended_) return;
  matchingSuspended_ = suspend;
  if (display_)
    for (int i = 0; i < kMaxDisplayRows; ++i)
      if (CGP_TrackWaveform* row = display_->Waveform(i)) row->DeferColumns(suspend);
  if (suspend) {
    keptMatchMode_ = matchMode_;
    matchMode_ = false;
    return;
  }
  matchMode_ = keptMatchMode_;
  // The first search of a freshly opened hour makes every block's band shapes (most of a
  // second): the recovered document is shown first.
  searchPending_ = true;
  if (waveform_) waveform_->InvalidateAll();
}

void EP_AudioFileEditor::RunPendingSearch() {
  if (searchPending_ && !matchingSuspended_) SetPrototypeFromSelection();
}

void EP_AudioFileEditor::ShowRange(int length, int start, int cursorMode) {
  if (!waveform_) return;
  waveform_->ApplyChanges(0, 0);
  CGP_AxisBar* axis = display_->TimeAxis();
  axis->SetSize(waveform_->Width(), axis->Height());
  axis->SetPosition(waveform_->X(), axis->Y());
  axis->SetRange(0, Duration(), 0);
  const double rate = mixer_->sampleRate;
  waveform_->SetCursorTime(start / rate, cursorMode);
  waveform_->SetSelection(start / rate, (double(start) + length) / rate);
  SetPrototypeFromSelection();
  window_->InvalidateAll();
  axis->InvalidateAll();
  UpdateScrollBar();
  UpdateStatus();
}

void EP_AudioFileEditor::UpdateScrollBar() {
  if (!window_ || !waveform_) return;
  window_->SetHScroll(-waveform_->X(), waveform_->Width(), window_->Width(), window_->Width() / 10);
}

void EP_AudioFileEditor::UpdateStatus() {
  if (!waveform_ || !mixer_) return;
  CAP_SampleTrack* track = DisplayTrack();
  char text[64];
  const double r = double(track->Length()) / std::max(waveform_->Width(), 1);
  if (r < 10 && std::fabs(r - RoundHalfAway(r)) > 0.005) std::snprintf(text, sizeof text, "1:%.2f", r);
  else std::snprintf(text, sizeof text, "1:%d", RoundHalfAway(r));
  SetStatusText(1, text);
  SetStatusText(4, std::to_string(mixer_->BaseRate()) + " Hz");
  SetStatusText(3, std::to_string(BitsPerSample()) + (Compression() == CompressionFloat32 ? "-bit float" : "-bit"));
  const int channels = mixer_->channels;
  SetStatusText(2, channels == 1 ? "mono" : channels == 2 ? "stereo" : std::to_string(channels) + "-ch");
  SetStatusText(6, StatusTime(waveform_->CursorTime()));
  const double a = waveform_->SelStart(), b = waveform_->SelEnd();
  if (a != b) {
    SetStatusText(8, StatusTime(std::min(a, b)));
    SetStatusText(9, StatusTime(std::max(a, b)));
    SetStatusText(10, StatusTime(std::fabs(b - a)));
  } else {
    SetStatusText(8, "");
    SetStatusText(9, "");
    SetStatusText(10, "");
  }
  const float pitch = mixer_->PitchShift();
  const int steps = int(std::fabs(pitch));
  SetStatusText(5, steps == 0 && pitch == 0 ? "Normal" : (pitch > 0 ? "+" : "-") + std::to_string(steps) + " halftones");
  SetStatusText(7, StatusTime(Duration()));
  SyncChannelRows();
}

bool EP_AudioFileEditor::IsCommandEnabled(int code) const {
  if (!waveform_ || !player_ || !history_ || working_) return false;
  // While the file loads, it can be looked at and played; edits, finds and the rest wait.
  if (load_ && code != CommandZoomIn && code != CommandZoomOut && code != CommandColoredWaveform &&
      code != CommandPlay && code != CommandPause && code != CommandStop)
    return false;
  const int state = player_->State();
  const bool busy = state != kDeviceIdle;
  const bool recording = state == kDeviceRecording;
  const bool playing = state == kDevicePlaying;
  const bool readOnly = !IsEditable();
  const bool hasSelection = waveform_->SelStart() < waveform_->SelEnd();
  const int width = waveform_->Width();
  const int window = waveform_->Parent() ? waveform_->Parent()->Width() : width;
  const int length = DisplayTrack()->Length();
  const bool clipboard = !SharedClipboard::Instance().Empty();
  const bool editable = !readOnly && !busy;
  switch (code) {
    case CommandUndo: return !busy && history_->CanUndo();
    case CommandRedo: return !busy && history_->CanRedo();
    case CommandCut: return editable && hasSelection;
    case CommandCopy: return !busy && hasSelection;
    case CommandPaste:
    case CommandMix: return editable && clipboard;
    case CommandDelete: return editable && hasSelection;
    case CommandTrim: return editable && hasSelection && SelectionLength(false) < length;
    case CommandWebSearch: return !recording;
    case CommandFindPrevious:
    case CommandFindNext: return matchMode_ && !recording;
    case CommandZoomIn: return width < length;
    case CommandZoomOut: return window < width;
    case CommandColoredWaveform: return true;
    case CommandInsertSilence: return editable;
    case CommandNormalize:
    case CommandMuteVolume:
    case CommandFade:
    case CommandReverse:
    case CommandStretch: return editable && width >= 1;
    case CommandPlay: return !busy && width >= 1 && !pausedRecording_;
    case CommandPause: return playing || recording || pausedPlay_ || pausedRecording_;
    case CommandStop:
      if (playing || recording || pausedPlay_ || pausedRecording_ || playWhenLoaded_) return true;
      return hasSelection && waveform_->CursorTime() != waveform_->SelStart();
    case CommandRecord:
      return editable && width >= 1 && !pausedPlay_ && (!decoder_ || decoder_->channels <= 2);
    default: return !recording;
  }
}

void EP_AudioFileEditor::SetMatchThreshold(int value) {
  matchThreshold_ = std::clamp(value, 0, 100);
  if (matchMode_ && waveform_) waveform_->SetSegmentThreshold(matchThreshold_);
}

void EP_AudioFileEditor::SetUndoLevels(int levels) {
  undoLevels_ = std::max(levels, 0);
  if (history_) history_->SetUndoLevels(undoLevels_);
}

void EP_AudioFileEditor::SetMatchAnywhere(bool on) {
  if (on == matchAnywhere_) return;
  matchAnywhere_ = on;
  SearchAgain();
}

void EP_AudioFileEditor::SetSearchBySound(bool on) {
  if (on == searchBySound_) return;
  searchBySound_ = on;
  SearchAgain();
}

void EP_AudioFileEditor::SearchAgain() {
  if (!waveform_ || SelectionLength(false) < 1) return;
  SetPrototypeFromSelection();
  waveform_->InvalidateAll();
  UpdateStatus();
}

void EP_AudioFileEditor::OnActivate(bool active) {
  if (active) {
    UpdateStatus();
  } else if (player_ && player_->State() != kDeviceIdle) {
    // A document that loses the focus falls silent, and its cursor and caret come back as after
    // any stop.
    Stop();
  }
}

int EP_AudioFileEditor::MatchCount() const {
  CAP_SampleTrack* track = DisplayTrack();
  return track ? track->CountMatches(matchThreshold_) : -1;
}

// ---- AudioEditorApp ----

AudioEditorApp::AudioEditorApp(EditorFrame* frame) : frame_(frame) { matchMode_ = true; }

void AudioEditorApp::SetStatusText(int pane, const std::string& text) {
  EP_AudioFileEditor::SetStatusText(pane, text);
  if (!frame_) return;
  frame_->SetPaneText(pane, text);
  if (pane == 10) frame_->SetThresholdCount(MatchCount());
}

void AudioEditorApp::ShowWarning(const std::string& text) {
  if (frame_) frame_->ShowWarning(text);
}

void AudioEditorApp::SetWaitCursor(bool on) {
  if (frame_) frame_->SetWaitCursor(on);
}
