#include "graphics/TrackWaveform.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "graphics/DrawingHelpers.h"
#include "graphics/GraphicsHost.h"
#include "graphics/Rounding.h"
#include "graphics/Window.h"

namespace {
// Column positions computed from times that were themselves computed from columns carry a
// rounding error of far less than this; without it a column boundary can fall one short.
constexpr double kColumnEpsilon = 1e-6;

int ColumnFloor(double v) { return TruncToInt(v + kColumnEpsilon); }

int WrapIndex(long long c, int pw) {
  const long long r = c % pw;
  return int(r < 0 ? r + pw : r);
}
}  // namespace

CGP_TrackWaveform::CGP_TrackWaveform(CGP_Graphic* parent_, CGI_Window* window_, int x_, int y_,
                                     int width_, int height_, CAP_SampleTrack* track_)
    : CGP_Graphic(parent_, window_, x_, y_, width_, height_), track(track_) {
  // One column per sample at most, as every later resize.
  width = std::max(0, std::min(width, track->Length()));
  playbackMargin = TruncToInt(VisibleWidth() * 0.1);
  nextBlink = Now() + (Root() ? Root()->CaretBlinkTimeMs() : 530);
  track->AddViewer(this);
  MarkAllChanged();
  ApplyChanges(0, 0);
}

CGP_TrackWaveform::~CGP_TrackWaveform() {
  track->RemoveViewer(this);
}

std::int32_t CGP_TrackWaveform::Now() const { return Root() ? Root()->NowMs() : SteadyClockMs(); }

int CGP_TrackWaveform::VisibleWidth() const { return parent ? parent->Width() : width; }

double CGP_TrackWaveform::TimeOfColumn(double c) const {
  return track->duration / std::max(width, 1) * c;
}

int CGP_TrackWaveform::ColumnOfTime(double t) const {
  if (!(track->duration > 0)) return 0;
  return RoundHalfAway(width * t / track->duration);
}

int CGP_TrackWaveform::RowOfValue(double v, int h) {
  const int limit = std::max(h - 5, 0);
  int r = TruncToInt(std::min((h - 4) * (1 - v) / 2, double(h - 5)));
  // Stored samples may lie outside -1..+1; they are drawn at the edge, not wrapped around.
  r = std::clamp(r, 0, limit);
  return std::min(r + 1, 65535);
}

const ColumnSpan& CGP_TrackWaveform::CachedColumn(int column) const {
  static const ColumnSpan kNone{};
  const int pw = VisibleWidth();
  if (pw <= 0 || cache.empty()) return kNone;
  const int i = WrapIndex(column, pw);
  return i < int(cache.size()) ? cache[i] : kNone;
}

void CGP_TrackWaveform::EnsureCache() {
  const std::size_t pw = std::size_t(std::max(VisibleWidth(), 1));
  if (cache.size() < pw) cache.resize(pw);
}

void CGP_TrackWaveform::StretchColumn(float leftMin, float leftMax, float min, float max,
                                      float rightMin, float rightMax, float& stretchedMin,
                                      float& stretchedMax) {
  const float lowNeighbourMax = rightMax < leftMax ? rightMax : leftMax;
  stretchedMin = std::min(min, (min + lowNeighbourMax) / 2);
  const float highNeighbourMin = leftMin > rightMin ? leftMin : rightMin;
  stretchedMax = std::max(max, (max + highNeighbourMin) / 2);
}

void CGP_TrackWaveform::ComputeColumns(int a, int m, ColumnSpan* dest) {
  if (m <= 0) return;
  computedColumns += m;
  const double spc = track->duration / width;
  const int hasLeft = a > 0 ? 1 : 0;
  const int hasRight = (long long)a + m < width ? 1 : 0;
  mins.assign(m + 2, 1.0f);
  maxs.assign(m + 2, -1.0f);
  colours.assign(m + 2, 0);
  const int from = 1 - hasLeft;
  track->GetColumns((a - hasLeft) * spc, spc, m + hasLeft + hasRight, mins.data() + from,
                    maxs.data() + from, colours.data() + from);
  if (!hasLeft) {
    mins[0] = mins[1];
    maxs[0] = maxs[1];
  }
  if (!hasRight) {
    mins[m + 1] = mins[m];
    maxs[m + 1] = maxs[m];
  }
  const int h = height;
  for (int i = 0; i < m; ++i) {
    float stretchedMin, stretchedMax;
    StretchColumn(mins[i], maxs[i], mins[i + 1], maxs[i + 1], mins[i + 2], maxs[i + 2],
                  stretchedMin, stretchedMax);
    ColumnSpan& span = dest[i];
    span.top = std::uint16_t(RowOfValue(stretchedMax, h));
    span.bottom = std::uint16_t(RowOfValue(stretchedMin, h));
    span.colour = colourDisplay ? colours[i + 1] : kColourOffGrey;
    span.clipped = maxs[i + 1] >= 1.0f || mins[i + 1] <= -1.0f;
  }
}

void CGP_TrackWaveform::ComputeIntoRing(int first, int count) {
  const int pw = VisibleWidth();
  if (count <= 0 || pw <= 0) return;
  EnsureCache();
  const int r = WrapIndex(first, pw);
  const int c1 = std::min(count, pw - r);
  ComputeColumns(first, c1, cache.data() + r);
  ComputeColumns(first + c1, count - c1, cache.data());
}

void CGP_TrackWaveform::MarkAllChanged() {
  AddChangedRange(TimeOfColumn(-x), track->duration / std::max(width, 1) * VisibleWidth());
}

bool CGP_TrackWaveform::ApplyChanges(int a, int b) {
  const int pw = VisibleWidth();
  if (shift != 0) {
    // The track grew or shrank by d seconds: keep the seconds per column.
    const double d = shift, dur = track->duration;
    shift = 0;
    long long newWidth = dur - d > 0 ? width + (long long)TruncToInt(width * d / (dur - d))
                                     : std::max(width, pw);
    newWidth = std::max<long long>(newWidth, pw);
    newWidth = std::min<long long>(newWidth, track->Length());
    SetSize(int(std::max<long long>(newWidth, 0)), height);
  }
  const double dur = track->duration;
  if (!columnsDeferred && changedLength > 0 && width > 0 && dur > 0 && pw > 0) {
    // Each column is stretched towards its neighbours, so the columns beside a changed span
    // change too. Scrolling uncovers columns whose neighbours are unchanged: no widening.
    const int widen = scrolling ? 0 : 1;
    const int first = std::max(-x, ColumnFloor(width * changedStart / dur) - widen);
    int last = std::min(pw - x - 1, ColumnFloor(width * (changedStart + changedLength) / dur) + widen);
    last = std::min(last, width - 1);
    const int count = std::min(last - first + 1, width);
    if (count > 0) {
      ComputeIntoRing(first, count);
      Invalidate(first, 0, count, height);
    }
  }
  return CAP_AudioViewer::ApplyChanges(a, b);
}

void CGP_TrackWaveform::DeferColumns(bool on) {
  if (columnsDeferred == on) return;
  columnsDeferred = on;
  if (on) return;
  MarkAllChanged();
  ApplyChanges(0, 0);
  InvalidateAll();
}

void CGP_TrackWaveform::SetPosition(int newX, int) {
  const int pw = VisibleWidth();
  const int nx = std::min(0, std::max(newX, pw - width));
  if (nx == x) return;
  const int d = int(std::min<long long>(std::llabs((long long)nx - x), pw));
  const int start = nx < x ? pw - d - nx : -nx;
  x = nx;
  AddChangedRange(TimeOfColumn(start), TimeOfColumn(start + d) - TimeOfColumn(start));
  scrolling = true;
  ApplyChanges(0, 0);
  scrolling = false;
  InvalidateAll();
}

int CGP_TrackWaveform::KeepInViewX(int oldX, int oldWidth, int oldCursor, int s0, int e0) const {
  const int pw = VisibleWidth();
  const double centre = oldWidth > 0 ? (pw * 0.5 - oldX) / oldWidth : 0;
  int A, B, A2, B2, k;
  if (s0 != e0) {
    A = s0;
    B = e0;
    A2 = ColumnOfTime(selStart);
    B2 = ColumnOfTime(selEnd);
    k = 1;
  } else {
    A = B = oldCursor;
    A2 = B2 = ColumnOfTime(cursorTime);
    k = 0;
  }
  const bool aVisible = A - k >= -oldX && A < pw - oldX;
  const bool bVisible = B >= -oldX && B < pw - k - oldX;
  const int mid = int(((long long)A2 + B2) / 2);
  long long first;
  if (aVisible && bVisible) first = std::min<long long>(A2 - pw / 10, mid - pw / 2);
  else if (aVisible) first = A2 - pw / 10;
  else if (bVisible) first = B2 - (pw - pw / 10);
  else first = TruncToInt(width * centre - pw * 0.5);
  first = std::clamp<long long>(first, 0, std::max(width - pw, 0));
  return int(-first);
}

void CGP_TrackWaveform::SetSize(int newWidth, int newHeight) {
  const int oldWidth = width, oldX = x;
  const int s0 = ColumnOfTime(selStart), e0 = ColumnOfTime(selEnd), oldCursor = cursorColumn;
  width = std::max(0, std::min(newWidth, track->Length()));
  height = newHeight;
  cursorColumn = std::max(0, std::min(ColumnOfTime(cursorTime), width - 1));
  const int pw = VisibleWidth();
  if (newWidth != pw) attached = false;
  if (keepInView) x = KeepInViewX(oldX, oldWidth, oldCursor, s0, e0);
  x = std::min(0, std::max(x, pw - width));
  SetCaret(caretEnabled);
  MarkAllChanged();
  ApplyChanges(0, 0);
}

void CGP_TrackWaveform::SetCursorTime(double t, int mode) {
  if (!(t > 0)) t = 0;
  const int column = std::max(0, std::min(ColumnOfTime(t), width - 1));
  const int old = cursorColumn;
  cursorTime = t;
  cursorColumn = column;
  if (column != old && EnsureColumnVisible(column, mode)) {
    Invalidate(old, 0, 1, height);
    Invalidate(column, 0, 1, height);
  }
}

void CGP_TrackWaveform::SetSelection(double a, double b) {
  const double dur = track->duration;
  selStart = std::clamp(a == a ? a : 0.0, 0.0, std::max(dur, 0.0));
  selEnd = std::clamp(b == b ? b : 0.0, 0.0, std::max(dur, 0.0));
  InvalidateAll();
}

void CGP_TrackWaveform::SetColourDisplay(bool on) {
  colourDisplay = on;
  MarkAllChanged();
  ApplyChanges(0, 0);
}

void CGP_TrackWaveform::SetSegmentThreshold(int n) {
  segmentThreshold = n;
  InvalidateAll();
}

void CGP_TrackWaveform::SetCaret(bool enabled) {
  caretEnabled = enabled;
  caretVisible = true;
  nextBlink = Now() + (Root() ? Root()->CaretBlinkTimeMs() : 530);
}

bool CGP_TrackWaveform::EnsureColumnVisible(int c, int mode) {
  const int pw = VisibleWidth();
  c = std::clamp(c, 0, std::max(width - 1, 0));
  int L = 0, R = 0;
  if (mode == FollowMargin) {
    playbackMargin = TruncToInt(pw * 0.1);
    L = std::min(playbackMargin, c);
    R = std::min(playbackMargin, width - c - 1);
  } else if (mode == FollowPlayback) {
    L = TruncToInt(std::min(double(c), pw * 0.1));
    R = std::min(playbackMargin, width - c - 1);
  } else {
    playbackMargin = TruncToInt(pw * 0.1);
  }
  if (mode == FollowNone) return true;
  int first;
  if (c + x < L) {
    first = c - L;
  } else if (c > pw - x - R - 1) {
    first = c - pw + R + 1;
    if (mode == FollowPlayback) playbackMargin = std::min(playbackMargin + 1, pw / 2);
  } else {
    return true;
  }
  SetPosition(-first, y);
  Notify(NotifyScrolled, this);
  return false;
}

void CGP_TrackWaveform::OnTimerTick() {
  CGP_Graphic::OnTimerTick();
  if (caretEnabled) {
    const std::int32_t now = Now();
    // A 32-bit millisecond clock wraps; compare by difference.
    if (std::int32_t(std::uint32_t(now) - std::uint32_t(nextBlink)) >= 0) {
      const bool dragging = draggingSelection || draggingCursor;
      caretVisible = caretVisible && !dragging ? false : true;
      nextBlink = now + (Root() ? Root()->CaretBlinkTimeMs() : 530);
      Invalidate(cursorColumn, 0, 1, height);
    }
  }
  if (autoScroll != 0) AutoScrollStep();
}

void CGP_TrackWaveform::AutoScrollStep() {
  const int pw = VisibleWidth();
  const int dx = RoundHalfAway(autoScroll * 0.02);
  const int nx = std::min(0, std::max(x + dx, pw - width));
  const int c = autoScroll > 0 ? -nx : pw - nx;  // the column just past the edge uncovered
  const double t = TimeOfColumn(c);
  selStart = std::min(t, anchorTime);
  selEnd = std::max(t, anchorTime);
  if (EnsureColumnVisible(c, FollowEdge)) InvalidateAll();  // at the end: the band still grew
}

void CGP_TrackWaveform::OnButtonDown(int px, int, int, bool ctrl, bool shiftKey) {
  px = std::clamp(px, 0, std::max(width - 1, 0));
  const double t = TimeOfColumn(px);
  const int s = ColumnOfTime(selStart), e = ColumnOfTime(selEnd);
  const int mid = int(((long long)s + e) / 2);
  const bool selection = s != e;
  const bool nearStart = selection && std::abs(px - s) <= kEdgeGrabColumns;
  const bool nearEnd = selection && std::abs(px - e) <= kEdgeGrabColumns;
  if (ctrl) {
    SetCursorTime(t, FollowNone);
    draggingCursor = true;
  } else {
    lastDragX = px;
    draggingSelection = true;
    if (shiftKey) {
      anchorTime = !selection ? cursorTime : px >= mid ? selStart : selEnd;
    } else {
      SetCursorTime(t, FollowNone);
      anchorTime = nearStart ? selEnd : nearEnd ? selStart : t;
    }
    selStart = std::min(t, anchorTime);
    selEnd = std::max(t, anchorTime);
    InvalidateAll();
  }
  if (Root()) Root()->CaptureMouse(this);
  caretVisible = true;
  if (!ctrl) Notify(NotifySelectionChanging, this);
}

void CGP_TrackWaveform::OnMouseLeave() {
  CGP_Graphic::OnMouseLeave();
  if (Root()) Root()->SetCursorCode(CursorArrow);
}

void CGP_TrackWaveform::OnMouseMove(int px, int, int region) {
  px = std::clamp(px, 0, std::max(width - 1, 0));
  if (draggingCursor) {
    SetCursorTime(TimeOfColumn(px), FollowNone);
    return;
  }
  if (draggingSelection) {
    int speed = 0;
    if (region == RegionLeft || region == RegionAboveLeft || region == RegionBelowLeft) speed = kAutoScrollSpeed;
    if (region == RegionRight || region == RegionAboveRight || region == RegionBelowRight) speed = -kAutoScrollSpeed;
    if (autoScroll != 0 && autoScroll == speed) return;  // the timer keeps scrolling
    autoScroll = speed;
    const double t = TimeOfColumn(px);
    selStart = std::min(t, anchorTime);
    selEnd = std::max(t, anchorTime);
    Invalidate(std::min(lastDragX, px), 0, std::abs(px - lastDragX) + 1, height);
    lastDragX = px;
    Notify(NotifySelectionChanging, this);
  }
  // A press grabs an edge within 4 columns; the resize pointer shows within 3.
  const int s = ColumnOfTime(selStart), e = ColumnOfTime(selEnd);
  const bool overEdge = s != e && ((s - kEdgeGrabColumns < px && px < s + kEdgeGrabColumns) ||
                                   (e - kEdgeGrabColumns < px && px < e + kEdgeGrabColumns));
  if (Root()) Root()->SetCursorCode(overEdge ? CursorResizeHorizontal : CursorArrow);
}

void CGP_TrackWaveform::OnButtonUp(int, int, int, bool, bool) {
  if (draggingSelection) {
    autoScroll = 0;
    if (Root()) Root()->CaptureMouse(nullptr);
    SetCursorTime(selStart, FollowNone);
    if (ColumnOfTime(std::fabs(selStart - selEnd)) < kMinimumSelectionColumns) selEnd = selStart;
    InvalidateAll();
    draggingSelection = draggingCursor = false;
    Notify(NotifySelectionDone, this);
    return;
  }
  if (draggingCursor && Root()) Root()->CaptureMouse(nullptr);
  draggingSelection = draggingCursor = false;
}

void CGP_TrackWaveform::Draw(DrawingSurface& s, int x0, int, int wd, int, int ox, int oy) {
  const int h = height, pw = VisibleWidth();
  if (pw <= 0 || wd <= 0) return;
  wd = std::min(wd, pw);  // the ring holds one view; a wider request cannot be from the clip

  const int selA = ColumnOfTime(std::min(selStart, selEnd));
  const int selB = ColumnOfTime(std::max(selStart, selEnd));
  const int s1 = std::max(selA, x0), e1 = std::min(selB, x0 + wd);
  if (e1 > s1) FillSolid(s, ox + s1, oy, e1 - s1 + 1, h, kBlack);

  // The zero line covers every asked column (a line's end point is not drawn).
  DrawLine(s, ox + x0, oy + h / 2, ox + x0 + wd, oy + h / 2, kBlack);

  EnsureCache();
  const int r = WrapIndex(x0, pw);
  const int c1 = std::min(wd, pw - r);
  DrawColumnSpans(s, ox + x0, oy, c1, cache.data() + r);
  DrawColumnSpans(s, ox + x0 + c1, oy, wd - c1, cache.data());

  // Clipped columns: a red mark at the top and the bottom.
  for (int c = x0; c < x0 + wd; ++c)
    if (cache[std::size_t(WrapIndex(c, pw))].clipped) {
      DrawLine(s, ox + c, oy, ox + c, oy + kClipMarkRows, kRed);
      DrawLine(s, ox + c, oy + h - kClipMarkRows, ox + c, oy + h, kRed);
    }

  DrawSegmentBrackets(s, x0, wd, ox, oy);

  const bool inSelection = selA != selB && selA <= cursorColumn && cursorColumn <= selB;
  const Colour cursorColour = inSelection && !draggingSelection ? kWhite : kBlack;
  if (caretVisible && x0 <= cursorColumn && cursorColumn < x0 + wd)
    DrawLine(s, ox + cursorColumn, oy, ox + cursorColumn, oy + h, cursorColour);
}

void CGP_TrackWaveform::DrawSegmentBrackets(DrawingSurface& s, int x0, int wd, int ox, int oy) {
  if (segmentThreshold > 100) return;
  // A channel row draws the runs found on the mix, which has the same length and times.
  CAP_SampleTrack* track = runTrack ? runTrack : this->track;
  const int h = height;
  const long long f = track->SecondsToFrames(TimeOfColumn(x0));
  const long long l = track->SecondsToFrames(TimeOfColumn((long long)x0 + wd));
  // Strokes far outside the asked columns are cut to them (one column of slack each side).
  const int clipLeft = ox + x0 - 1, clipRight = ox + x0 + wd + 1;
  auto horizontal = [&](int from, int to, int row, Colour c) {
    from = std::max(from, clipLeft);
    to = std::min(to, clipRight);
    if (to > from) DrawLine(s, from, row, to, row, c);
  };

  // From the block at the first asked column, not from the head: a partial repaint late in a
  // long track would otherwise walk the whole list.
  int offset = 0;
  const int firstSample = int(std::clamp<long long>(f, 0, track->Length()));
  const SampleBlock* block = track->Locate(firstSample, &offset);
  long long p = firstSample - offset;
  while (block && p <= l) {
    if (p + block->count < f || !block->runHead || block->score < segmentThreshold) {
      p += block->count;
      block = block->next;
      continue;
    }
    const SampleBlock* first = block;
    const long long start = p;
    const SampleBlock* lastTaken = nullptr;
    while (block && p <= l && block->runHead == first->runHead) {
      p += block->count;
      lastTaken = block;
      block = block->next;
    }
    const bool head = first->runHead == first;
    const Colour colour = first->inPrototype ? kRed : kAzure;
    // A run that merely goes on past the view has no closing bracket.
    const bool tail = !block || block->runHead != lastTaken->runHead;
    // The opening bracket stands where the run's sound starts, which may lie inside its blocks.
    const long long opening = std::min(start + first->matchOffset, p);
    const int sc = ColumnOfTime(track->FramesToSeconds(int(opening)));
    int ec = ColumnOfTime(track->FramesToSeconds(int(p)));
    if (tail && ec > sc) ec -= 1;
    const int lx = ox + sc, rx = ox + ec;
    if (head) {
      DrawLine(s, lx, oy, lx, oy + 8, colour);
      DrawLine(s, lx, oy + h - 1, lx, oy + h - 9, colour);
    }
    if (tail) {
      DrawLine(s, rx, oy, rx, oy + 8, colour);
      DrawLine(s, rx, oy + h - 1, rx, oy + h - 9, colour);
    }
    horizontal(lx, rx, oy, colour);
    horizontal(lx, rx, oy + 1, colour);
    horizontal(lx, rx, oy + h - 1, colour);
    horizontal(lx, rx, oy + h - 2, colour);
  }
}
