#pragma once
// The controller of one document: it owns the document's mixer and tracks, the decoder of its
// file, the player, the edit history, the root graphic and the display; it creates, opens,
// saves and reopens the document, runs the transport, edit and find commands, keeps the status
// panes up to date and answers which command is enabled. Everything runs on the UI thread; the
// device notices reach it through the root graphic's 20 ms tick.
#include <chrono>
#include <cstdint>
#include <functional>
#include <istream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "analysis/SoundSignature.h"
#include "devices/WaveDevice.h"
#include "editor/ViewState.h"
#include "editor/WebSearch.h"
#include "formats/Annotations.h"
#include "pipeline/SampleMixer.h"

class CAI_AudioPlayer;
class CAP_AudioDecoder;
class CAP_SampleTrack;
class CGP_MultiTrackDisplay;
class CGP_TrackWaveform;
class CUP_FileBuffer;
class EP_EditHistory;
class EP_Window;
class GraphicsHost;
class LongWork;
class LongWorkObserver;
class ProgressiveLoad;
class SharedClipboard;

// Makes the default device of a direction; null for none. The application passes the ALSA
// devices, tests pass fakes.
using WaveDeviceFactory = std::function<std::unique_ptr<CAI_WaveDevice>(WaveDirection)>;
// Starts the browser on a URL; false when it could not.
using BrowserLauncher = std::function<bool(const std::string& url)>;

// The document's metadata, kept for the encoder.
struct EP_AnnotationHolder {
  AnnotationList list;
};

// Whether the saved encoding of a document keeps it editable: no decoder (a new document), or
// G.711 and PCM/float (2, 3, 16 to 20).
bool IsEditableEncoding(bool hasDecoder, int compression);

// Round half away from zero, as every seconds-to-samples conversion of the editor.
std::int32_t RoundSamples(double samples);

class EP_AudioFileEditor : public MixerGrowthListener {
public:
  static constexpr int kSaveChunkFrames = 2048;
  static constexpr double kMaxWebRegionSeconds = 10.0;
  // The error of a load the user stopped.
  static constexpr const char* kLoadStopped = "Loading stopped; the file was not opened";
  static constexpr const char* kNoMemoryToLoad = "Not enough memory to load the file";
  // Names the scratch folder in use.
  static std::string NoScratchToLoad();

  EP_AudioFileEditor();
  virtual ~EP_AudioFileEditor();
  EP_AudioFileEditor(const EP_AudioFileEditor&) = delete;
  EP_AudioFileEditor& operator=(const EP_AudioFileEditor&) = delete;

  // ---- virtual slots ----
  virtual void SetStatusText(int pane, const std::string& text);
  // Called when playback ended by itself and after every mouse action handled during playback.
  virtual void OnNotification() {}
  virtual void UpdateScrollBar();
  virtual void UpdateStatus();

  // ---- the document's life ----
  bool CreateEmpty(int channels, int rate, double seconds);
  bool OpenFile(const std::string& path);
  bool OpenRawFile(const std::string& path, int channels, int rate, int bits, int compression, bool bigEndian,
                   bool isSigned);
  bool AttachViews(GraphicsHost* host, int width, int height, bool correctDC, double playbackSpeed,
                   ProgressCallback progress = nullptr, std::intptr_t user = 0);

  // ---- loading while shown (LoadWhileShown.cpp) ----
  // An opened file's views over tracks that are still empty; a thread starts reading the audio
  // and ContinueLoading appends it. Meanwhile the waveform shows what has arrived, selection,
  // zoom, scrolling and playback work, and every other command is disabled. A new document (no
  // decoder) is made whole at once, as AttachViews makes it.
  bool AttachViewsWhileLoading(GraphicsHost* host, int width, int height, bool correctDC, double playbackSpeed);
  enum class LoadState { Loading, Done, Failed };
  // Appends what has been read, for about budget. Failed: the error text says why (the
  // document is then not to be shown); Done: the document is complete, as AttachViews makes it.
  LoadState ContinueLoading(std::chrono::microseconds budget);
  // The user stopped the load: the error text is kLoadStopped and the document is not to be shown.
  void StopLoading();
  bool Loading() const { return load_ != nullptr; }
  // 0 to 100 of the file's announced audio appended.
  int LoadPercent() const;
  // The length the file announces while it loads (infinite when it announces none), else the
  // document's.
  double ExpectedDuration() const;
  // Writes through a temporary file renamed over the target: a failure leaves the old file.
  bool SaveToFile(const std::string& path, int channels, int rate, int fileType, int compression,
                  ProgressCallback progress = nullptr, std::intptr_t user = 0);
  // Opens the saved file into fresh parts and swaps them in only when that worked; otherwise the
  // document keeps its parts and "Could not reopen target file" is the error. When the file
  // gives back exactly the document's samples (rate, channels and every bit), only the decoder
  // and its file are swapped: the tracks, the view and the undo history stay.
  bool ReopenAfterSave(const std::string& path, ProgressCallback progress = nullptr, std::intptr_t user = 0);
  // Whether the last ReopenAfterSave kept the undo history.
  bool HistoryKeptBySave() const { return historyKept_; }
  void ReleaseParts();

  // ---- positions ----
  int SelectionStart(bool wholeFile) const;
  int SelectionLength(bool wholeFile) const;
  int CursorSample() const;
  double Duration() const;
  ViewState GetViewState() const;
  void ShowRange(int length, int start, int cursorMode);
  bool IsCommandEnabled(int code) const;
  void SetMatchThreshold(int value);
  int MatchThreshold() const { return matchThreshold_; }
  // On: a sound also matches where it starts between two blocks (the setting "Match anywhere");
  // off: on the block grid only. A change searches the selection again.
  void SetMatchAnywhere(bool on);
  bool MatchAnywhere() const { return matchAnywhere_; }
  // On: the search finds what a listener hears as the same sound (other voices, speeds, levels,
  // backgrounds, rooms); off: the signature search, on or off the grid as above.
  void SetSearchBySound(bool on);
  bool SearchBySound() const { return searchBySound_; }
  // The undo groups kept (the setting "Undo levels"); 0 keeps every one.
  void SetUndoLevels(int levels);
  int UndoLevels() const { return undoLevels_; }
  // While a journal replays, no edit searches its selection's matches or recomputes the
  // waveforms' columns; the end recomputes the columns, and the selection is searched once the
  // recovered document is shown (the window's next tick, or a Find before it).
  void SuspendForReplay(bool suspend);
  void RunPendingSearch();
  void OnActivate(bool active);

  // ---- view commands ----
  void ZoomIn();
  void ZoomOut();
  void FitToWindow();
  void ToggleColouredWaveform();
  void SelectAll();
  // Sets the selection (seconds, any order) and the cursor at its start, as a finished mouse
  // selection does (the prototype follows in match mode).
  void Select(double from, double to);
  void SetCursor(double seconds);
  // A mouse selection ended: the paused flags clear and, in match mode, a selection of at
  // least one sample becomes the search prototype.
  void SelectionFinished();

  // ---- keys and wheel (Navigation.cpp) ----
  enum class NavigationKey { Home, End, Left, Right };
  // Home and End go to the start and the end, Left and Right one pixel column (bySecond: one
  // second); the view scrolls to show where the key went. With extend, the selection's free end
  // goes there while its anchor stays (the cursor is at the selection's start, as always);
  // otherwise the cursor goes there and the selection with it.
  void Navigate(NavigationKey key, bool bySecond, bool extend);
  // The wheel: notches > 0 scroll later in time, a tenth of the view each.
  void ScrollByWheel(double notches);
  // Ctrl+wheel: notches > 0 zoom in, twice per notch, keeping the time under view column viewX.
  void ZoomByWheel(double notches, int viewX);
  // The selection bar: seconds in any order; a time outside the document is refused (false,
  // the error text says why) and nothing changes.
  bool SetSelectionTimes(double from, double to);

  // ---- channel rows (ChannelRows.cpp) ----
  // A stereo document's left and right tracks as two more rows under the mix, each coloured
  // from its own blocks, with the mix row's zoom, scroll, selection and cursor. Off by default;
  // a mono document has none.
  void ShowChannels(bool on);
  bool ChannelsShown() const { return channelsShown_; }
  // The channel rows take the mix row's selection, cursor and changes; a selection made on a
  // channel row (from) goes to the mix row first.
  void SyncChannelRows(CGP_TrackWaveform* from = nullptr);

  // ---- transport ----
  void Play();
  void Pause();
  void Stop();
  // After a recording ended: every visible column made again from the finished blocks.
  void RedrawRecorded();
  void Record(float dcLeft, float dcRight);
  // A recording brought back from its recovery file: the frames (16-bit or float, interleaved
  // as the device gave them, DC already corrected) go where the recorder put them, from its
  // start sample up to its end sample, in the undo group Record makes (a negative start: the
  // input never started, and that group is all).
  bool ReplayRecording(const void* data, int frames, bool isFloat, int startSample, int endSample);

  // ---- edit commands: true when the document changed; false with the error text set when
  // memory ran out (the document and its history are then as they were) ----
  bool Cut();
  bool Copy();
  bool Paste();
  bool Mix(int clipboardPercent, int waveformPercent);
  bool Delete();
  bool Trim();
  bool FadeIn();
  bool FadeOut();
  bool Normalize();
  bool Mute();
  bool Volume(int percent);
  bool Reverse();
  bool InsertSilence(double seconds);
  // The document's rates bound the shift: outside PitchRange it is refused with that range.
  bool ShiftPitch(int halftones);
  // "-29 to +13 halftones at 44,100 Hz": what ShiftPitch accepts for this document.
  std::string PitchRangeText() const;
  // Through Rubber Band on the selection (the whole document when nothing is selected): the
  // pitch by halftones (decimals are cents) keeping the length, or the tempo by a percent
  // (+100 twice as fast, -50 half as fast) keeping the pitch.
  bool ChangePitch(double halftones);
  bool ChangeTempo(double percent);
  static constexpr double kMaxPitchChange = 36;
  static constexpr double kMinTempoChange = -90;
  static constexpr double kMaxTempoChange = 900;
  bool Undo();
  bool Redo();
  // Where the last Undo or Redo changed the samples: start and length after it.
  std::pair<int, int> LastUndoSpan() const { return lastUndoSpan_; }
  // The length replaced at start becomes the tracks made, one for each track that stores its
  // samples (a computed mix follows its channels): an undoable edit, as a recovery replays an
  // undo whose group it does not have.
  bool ReplaceSpan(int start, int replaced, const std::vector<CAP_SampleTrack*>& made);

  // ---- find ----
  // The message for status pane 0: "Found match (%.2f)" or "Match not found".
  std::string FindMatch(int position, bool forward);
  std::string FindNext();
  std::string FindPrevious();
  int MatchCount() const;

  // ---- web search ----
  // The signature of the selection (the whole file when nothing is selected).
  SoundSignature RegionSignature() const;
  std::string SearchUrl(const WebSearchChoices& choices, const std::string& baseUrl) const;
  // False (with the warning shown) when the browser could not be started.
  bool WebSearch(const WebSearchChoices& choices, const std::string& baseUrl);
  // Whether the selection is short enough for the web search; warns when not.
  bool CheckWebRegion();

  // ---- long commands (LongCommands.cpp) ----
  // Where long commands report their progress and hear of a stop; null: none, and they run on
  // the calling thread. While one runs, every command is disabled.
  void SetLongWorkObserver(LongWorkObserver* observer) { longWorkObserver_ = observer; }
  bool Working() const { return working_; }

  // ---- services ----
  void SetDeviceFactory(WaveDeviceFactory factory) { deviceFactory_ = std::move(factory); }
  void SetBrowserLauncher(BrowserLauncher launcher) { launcher_ = std::move(launcher); }
  // A message box with the warning icon; the frame shows it (AudioEditorApp), else nothing.
  virtual void ShowWarning(const std::string& text);
  virtual void SetWaitCursor(bool /*on*/) {}

  // ---- parts and state ----
  EP_SampleMixer* Mixer() const { return mixer_.get(); }
  CAP_AudioDecoder* Decoder() const { return decoder_.get(); }
  CAI_AudioPlayer* Player() const { return player_.get(); }
  EP_EditHistory* History() const { return history_.get(); }
  EP_Window* Window() const { return window_; }
  CGP_MultiTrackDisplay* Display() const { return display_; }
  CGP_TrackWaveform* Waveform() const { return waveform_; }
  EP_AnnotationHolder* Annotations() const { return annotations_.get(); }
  CAP_SampleTrack* DisplayTrack() const;
  int DisplayTrackIndex() const { return displayTrack_; }
  bool MatchMode() const { return matchMode_; }
  bool PausedPlay() const { return pausedPlay_; }
  bool PausedRecording() const { return pausedRecording_; }
  bool IsEditable() const;
  const std::string& ErrorText() const { return errorText_; }
  double NewDuration() const { return newDuration_; }
  GraphicsHost* HostWindow() const { return host_; }
  // The encoding code of the document (the decoder's, 17 for a new document).
  int Compression() const;
  int BitsPerSample() const;

  // MixerGrowthListener: a recording without end is about to write past the end.
  void AudioAboutToGrow(int newLength) override;

  // The text of every status pane as UpdateStatus writes it (pane 0 is the frame's own).
  std::string PaneText(int pane) const;

protected:
  bool matchMode_ = false;
  bool matchAnywhere_ = true;
  bool searchBySound_ = true;

private:
  void SearchAgain();
  void SetError(const std::string& text);
  bool OpenDecoder(const std::string& path, std::unique_ptr<CAP_AudioDecoder>* decoder,
                   std::unique_ptr<CUP_FileBuffer>* buffer, std::unique_ptr<std::istream>* stream);
  void BuildViews(int width, int height);
  void SetPrototypeFromSelection();
  // Common tail of the commands that keep the selection: ShowRange(length, start, 0).
  void ShowSelectionAsItWas(int length, int start);
  bool EditFailed();
  // The start of every recording: where it goes (seconds; to 0 for no end) and its undo group.
  bool BeginRecordingGroup(double* from, double* to);
  bool Fade(float from, float to);
  bool Stretch(double timeRatio, double pitchScale);
  // Runs a command's body as long work named text ("Normalizing"): a stop ends it with the
  // document and its history as they were, "<what> stopped; the audio is unchanged" in pane 0
  // and false without an error. A body that fails sets its error and returns false.
  bool RunLong(const std::string& text, const std::string& what, const std::function<bool(LongWork&)>& body);
  // The match search of the selection, with progress and a stop that leaves no marks.
  void RunSearch(const std::function<void()>& search);
  // Takes over an opened file: its buffer, stream and decoder, a mixer for it, its annotations.
  void TakeOpenedFile(std::unique_ptr<CAP_AudioDecoder> decoder, std::unique_ptr<CUP_FileBuffer> buffer,
                      std::unique_ptr<std::istream> stream, bool copyAnnotations);
  // Opens path for reading; false with "Could not open file". *size is 0 when unknown.
  bool OpenForReading(const std::string& path, std::unique_ptr<CUP_FileBuffer>* buffer,
                      std::unique_ptr<std::istream>* stream, std::int64_t* size);
  void KeepZoomRatio(double ratio);
  // The selection's end that stays when keys extend it: the keys' own, else the mouse's.
  double SelectionAnchor() const;
  // Scrolls the least that shows time t (nothing while playing or recording).
  void ScrollToShow(double t);
  void ScrollViewTo(int offset);
  double ZoomRatio() const;
  void FillWithSilence(ProgressCallback progress, std::intptr_t user);
  static bool SameSamples(CAP_SampleMixer& kept, CAP_SampleMixer& reopened);
  // The common start of AttachViews and AttachViewsWhileLoading.
  bool PrepareToAttach(GraphicsHost* host, bool correctDC, double playbackSpeed);
  // The view after a step of the load: fitted to the window while attached, the axis, scroll bar
  // and length pane following the audio that has arrived.
  void ShowLoadedPart();
  // The load ended unfinished (stopped, failed): the reading ends and the player stops.
  void AbandonLoad();
  // Whether enough has loaded past the play position for playback to start while loading.
  bool PlayableWhileLoading() const;

  // In the order the parts are made.
  CGP_MultiTrackDisplay* display_ = nullptr;  // owned by the window's tree
  EP_Window* window_ = nullptr;               // owned
  std::unique_ptr<EP_SampleMixer> mixer_;
  std::unique_ptr<EP_EditHistory> history_;
  CGP_TrackWaveform* waveform_ = nullptr;  // owned by the display
  std::unique_ptr<CAI_AudioPlayer> player_;
  std::unique_ptr<CAP_AudioDecoder> decoder_;
  std::unique_ptr<EP_AnnotationHolder> annotations_;
  int displayTrack_ = -1;
  int matchThreshold_ = 70;
  int undoLevels_ = 5;
  bool pausedPlay_ = false;
  bool pausedRecording_ = false;
  bool recordingWithoutEnd_ = false;
  bool replayingRecording_ = false;
  double keyAnchor_ = -1;  // where the keys started extending the selection; -1: none
  bool channelsShown_ = false;
  bool matchingSuspended_ = false;
  LongWorkObserver* longWorkObserver_ = nullptr;
  bool working_ = false;
  bool historyKept_ = false;
  bool searchPending_ = false;  // a replay ended: its selection is searched at the next tick
  std::pair<int, int> lastUndoSpan_{0, 0};
  bool keptMatchMode_ = false;
  std::string errorText_;
  GraphicsHost* host_ = nullptr;
  double newDuration_ = 0;
  float dcOffset_[2] = {0, 0};
  std::unique_ptr<CUP_FileBuffer> fileBuffer_;
  std::unique_ptr<std::istream> inputStream_;
  // The load under way; it reads decoder_ on its thread, so it goes before the decoder.
  std::unique_ptr<ProgressiveLoad> load_;
  struct LoadFit {
    bool on = true;  // the view is fitted to the window at every step of the load
    int width = 0;   // the waveform's width and the window's at the last fitting
    int window = 0;
    std::chrono::steady_clock::time_point shownAt;  // the last time the view followed the load
  } loadFit_;
  bool playWhenLoaded_ = false;  // Play was asked for before enough had loaded
  std::string panes_[11];
  WaveDeviceFactory deviceFactory_;
  BrowserLauncher launcher_;
};

class EditorFrame;

// The controller every document creates: match mode on, the status panes and warnings routed
// to the main frame (none: kept only in PaneText).
class AudioEditorApp : public EP_AudioFileEditor {
public:
  explicit AudioEditorApp(EditorFrame* frame = nullptr);
  void SetFrame(EditorFrame* frame) { frame_ = frame; }
  EditorFrame* Frame() const { return frame_; }
  void SetStatusText(int pane, const std::string& text) override;
  void ShowWarning(const std::string& text) override;
  void SetWaitCursor(bool on) override;

private:
  EditorFrame* frame_;
};
