#pragma once
// One track drawn as a strip of pixel columns, each spanning the lowest to the highest sample
// of its time slice in the colour of the sound there, with the selection, the zero line, the
// brackets of the match runs and a blinking cursor over it. The graphic is as wide as the
// whole track at the current zoom and sits at x <= 0 in a clip area of the visible width; a
// ring cache keeps the visible columns, so scrolling computes only the columns it uncovers.
#include <vector>

#include "analysis/AudioContainer.h"
#include "analysis/SampleTrack.h"
#include "graphics/DrawingSurface.h"
#include "graphics/Graphic.h"

enum FollowMode : std::int32_t {
  FollowNone = 0,      // never scroll
  FollowEdge = 1,      // scroll only when the column is outside the view
  FollowMargin = 2,    // keep a tenth of the view free on both sides
  FollowPlayback = 3,  // left margin a tenth; the right margin grows per scroll up to half
};

inline constexpr Colour kColourOffGrey = 0x808080;
inline constexpr int kAutoScrollSpeed = 500;  // pixels per second while a drag is outside
inline constexpr int kEdgeGrabColumns = 4;
inline constexpr int kMinimumSelectionColumns = 5;
inline constexpr int kClipMarkRows = 4;

class CGP_TrackWaveform : public CGP_Graphic, public CAP_AudioViewer {
public:
  // Registers itself as a viewer of track and fills its cache for the first paint.
  CGP_TrackWaveform(CGP_Graphic* parent, CGI_Window* window, int x, int y, int width, int height,
                    CAP_SampleTrack* track);
  ~CGP_TrackWaveform() override;

  void OnTimerTick() override;
  void OnButtonDown(int px, int py, int button, bool ctrl, bool shift) override;
  void OnMouseLeave() override;
  void OnMouseMove(int px, int py, int region) override;
  void OnButtonUp(int px, int py, int button, bool ctrl, bool shift) override;
  void Draw(DrawingSurface& surface, int x, int y, int w, int h, int originX, int originY) override;
  // Scrolls: newX is kept between (visible width - width) and 0; y is ignored.
  void SetPosition(int newX, int newY) override;
  // Zooms: the width is capped at one column per sample.
  void SetSize(int newWidth, int newHeight) override;

  void MarkAllChanged() override;
  bool ApplyChanges(int a, int b) override;
  // On: changes keep the zoom and scroll up to date but compute no columns (a replay of many
  // edits draws nothing in between); off: every visible column is computed again.
  void DeferColumns(bool on);

  void SetCursorTime(double t, int mode);
  // a and b (ordered by the caller) are clamped to the track.
  void SetSelection(double a, double b);
  void SetColourDisplay(bool on);
  // Claimed blocks scoring at least n get brackets; above 100 none are drawn.
  void SetSegmentThreshold(int n);
  // The track whose match runs get brackets (null: this waveform's own).
  void SetRunTrack(CAP_SampleTrack* runs) { runTrack = runs; }
  void SetCaret(bool enabled);
  void SetKeepInView(bool on) { keepInView = on; }
  void SetAttached(bool on) { attached = on; }
  // Scrolls so that column c shows as the mode asks; true when it did not scroll.
  bool EnsureColumnVisible(int c, int mode);

  double TimeOfColumn(double c) const;
  int ColumnOfTime(double t) const;

  CAP_SampleTrack* Track() const { return track; }
  bool Attached() const { return attached; }
  bool ColourDisplay() const { return colourDisplay; }
  double CursorTime() const { return cursorTime; }
  int CursorColumn() const { return cursorColumn; }
  double SelStart() const { return selStart; }
  double SelEnd() const { return selEnd; }
  bool CaretEnabled() const { return caretEnabled; }
  bool CaretVisible() const { return caretVisible; }
  bool KeepInView() const { return keepInView; }
  bool DraggingSelection() const { return draggingSelection; }
  bool DraggingCursor() const { return draggingCursor; }
  int AutoScroll() const { return autoScroll; }
  int PlaybackMargin() const { return playbackMargin; }
  int SegmentThreshold() const { return segmentThreshold; }
  double AnchorTime() const { return anchorTime; }
  // The visible width: the width of the clip area the waveform sits in.
  int VisibleWidth() const;

  // The cached span of an absolute column (valid for the visible columns).
  const ColumnSpan& CachedColumn(int column) const;
  // How many columns were computed from the track so far, for the cost checks.
  long long ComputedColumns() const { return computedColumns; }

  // Row of a sample value on a waveform of height h: +1 row 1, 0 the middle, -1 row h - 4.
  static int RowOfValue(double v, int h);
  // The stretched extent of a column (min, max) between its neighbours: half-way towards them,
  // so that steep edges draw as strokes and an empty slice (+1, -1) bridges its neighbours.
  static void StretchColumn(float leftMin, float leftMax, float min, float max, float rightMin,
                            float rightMax, float& stretchedMin, float& stretchedMax);

private:
  void ComputeColumns(int first, int count, ColumnSpan* dest);
  void ComputeIntoRing(int first, int count);
  void AutoScrollStep();
  int KeepInViewX(int oldX, int oldWidth, int oldCursorColumn, int oldSelStart, int oldSelEnd) const;
  void DrawSegmentBrackets(DrawingSurface& s, int x0, int wd, int ox, int oy);
  void EnsureCache();
  std::int32_t Now() const;

  bool attached = true;
  bool colourDisplay = true;
  double cursorTime = 0;
  double selStart = 0, selEnd = 0;
  bool caretEnabled = true;
  bool keepInView = false;
  CAP_SampleTrack* track;
  CAP_SampleTrack* runTrack = nullptr;
  std::vector<ColumnSpan> cache;
  std::int32_t cursorColumn = 0;
  std::int32_t lastDragX = 0;
  double anchorTime = 0;
  std::int32_t nextBlink = 0;
  bool draggingSelection = false;
  bool draggingCursor = false;
  bool caretVisible = true;
  std::int32_t autoScroll = 0;
  std::int32_t playbackMargin = 0;
  std::int32_t segmentThreshold = 101;

  bool scrolling = false;  // the change being applied is a scroll's uncovered columns
  bool columnsDeferred = false;
  long long computedColumns = 0;
  // Scratch of a column batch, kept between batches so that scrolling allocates nothing.
  std::vector<float> mins, maxs;
  std::vector<BlockColor> colours;
};
