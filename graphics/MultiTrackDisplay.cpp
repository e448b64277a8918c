#include "graphics/MultiTrackDisplay.h"

#include <algorithm>
#include <cmath>

#include "analysis/SampleTrack.h"
#include "graphics/AxisBar.h"
#include "graphics/Rounding.h"
#include "graphics/Textbox.h"
#include "graphics/TrackDisplay.h"
#include "graphics/TrackWaveform.h"

CGP_MultiTrackDisplay::CGP_MultiTrackDisplay(CGP_Graphic* parent_, CGI_Window* window_, int x_,
                                             int y_, int W, int H, const DisplayTracks& mixer_,
                                             bool withAxes)
    : CGP_Graphic(parent_, window_, x_, y_, W, H), mixer(mixer_), rowHeight(H - kTimeAxisHeight),
      margin(withAxes ? kValueAxisMargin : 0) {
  const int M = margin;
  const long long n = RoundHalfAway(double(mixer.rate) * mixer.duration);
  rowsArea = new CGP_Graphic(this, window, 0, 0, W, H - kTimeAxisHeight);
  rowsArea->SetAnchors(true, true, true, true);
  rowsStack = new CGP_Graphic(rowsArea, window, 0, 0, W, 0);
  rowsStack->SetAnchors(true, true, true, false);

  cornerBox = new CGP_Textbox(this, window, 0, H - kTimeAxisHeight, M, kTimeAxisHeight);
  cornerBox->SetTextFont("Arial", 8, false, false, false);
  cornerBox->SetColours(kBlack, FaceColour(), kBlack);
  cornerBox->SetText("");
  cornerBox->SetAnchors(true, false, false, true);

  axisArea = new CGP_Graphic(this, window, M, H - kTimeAxisHeight, W - M, kTimeAxisHeight);
  axisArea->SetAnchors(true, false, true, true);
  timeAxis = new CGP_MultiTrackDisplayAxis(axisArea, window, 0, 0,
                                           int(std::max<long long>(0, std::min<long long>(n, W - M))),
                                           kTimeAxisHeight, true);
  timeAxis->SetAnchors(true, true, false, true);
  timeAxis->SetRange(0, mixer.duration, 0);
  timeAxis->SetTicks(10, 1, true);
  timeAxis->SetLabelMode(AxisTimeLabels, 0);
  timeAxis->SetColours(kBlack, FaceColour());
  timeAxis->SetDraggable(true);
  timeAxis->SetTimerInterest(true);
}

CGP_TrackDisplay* CGP_MultiTrackDisplay::Row(int index) const {
  return index >= 0 && index < kMaxDisplayRows ? rows[index] : nullptr;
}

CGP_TrackWaveform* CGP_MultiTrackDisplay::Waveform(int index) const {
  CGP_TrackDisplay* row = Row(index);
  return row ? row->Waveform() : nullptr;
}

CGP_TrackWaveform* CGP_MultiTrackDisplay::LastWaveform() const {
  for (int i = kMaxDisplayRows - 1; i >= 0; --i)
    if (rows[i]) return rows[i]->Waveform();
  return nullptr;
}

void CGP_MultiTrackDisplay::ShowTrackRow(int index, bool show) {
  if (index < 0 || index >= kMaxDisplayRows) return;
  if (show && !rows[index]) {
    if (index >= int(mixer.tracks.size()) || !mixer.tracks[index]) return;
    rows[index] = new CGP_TrackDisplay(rowsStack, window, 0, 0, rowsStack->Width(), rowHeight,
                                       margin, mixer.tracks[index]);
    rows[index]->SetAnchors(true, true, true, true);
  } else if (!show && rows[index]) {
    DestroyGraphicTree(rows[index]);
    rows[index] = nullptr;
  }
  LayoutRows();
}

void CGP_MultiTrackDisplay::SetRowHeight(int height_, bool fit) {
  rowHeight = height_;
  fitRows = fit;
  LayoutRows();
}

void CGP_MultiTrackDisplay::SetFirstRow(int index) {
  firstRow = index >= 0 && index < kMaxDisplayRows ? index : -1;
  LayoutRows();
}

void CGP_MultiTrackDisplay::LayoutRows() {
  int count = 0;
  for (CGP_TrackDisplay* row : rows) count += row ? 1 : 0;
  if (fitRows) {
    rowHeight = (height - kTimeAxisHeight) / std::max(count, 1);
    rowsStack->SetAnchors(true, true, true, true);
  } else {
    rowsStack->SetAnchors(true, true, true, false);
  }
  // The stack takes its new height first: resizing it afterwards would stretch the rows that
  // are anchored to its bottom a second time.
  rowsStack->SetSize(rowsStack->Width(), count * rowHeight);
  int y_ = 0;
  std::vector<CGP_TrackDisplay*> order;
  if (firstRow >= 0 && rows[firstRow]) order.push_back(rows[firstRow]);
  for (int i = 0; i < kMaxDisplayRows; ++i)
    if (rows[i] && i != firstRow) order.push_back(rows[i]);
  for (CGP_TrackDisplay* row : order) {
    if (row->X() != 0 || row->Y() != y_) row->SetPosition(0, y_);
    if (row->Height() != rowHeight) row->SetSize(row->Width(), rowHeight);
    y_ += rowHeight;
  }
  AlignTimeAxis();
}

void CGP_MultiTrackDisplay::AlignTimeAxis() {
  int widest = -1, waveX = 0;
  for (CGP_TrackDisplay* row : rows) {
    if (!row) continue;
    widest = std::max(widest, row->Waveform()->Width());
    waveX = row->Waveform()->X();
  }
  if (widest < 0) return;
  if (timeAxis->Width() != widest) timeAxis->SetSize(widest, timeAxis->Height());
  if (timeAxis->X() != waveX) timeAxis->SetPosition(waveX, timeAxis->Y());
}

void CGP_MultiTrackDisplay::ZoomBy(double factor) {
  int visible = -1;
  for (CGP_TrackDisplay* row : rows)
    if (row && visible < 0) visible = row->ClipArea()->Width();
  if (visible < 0) return;
  int widest = 0, waveX = 0;
  for (CGP_TrackDisplay* row : rows) {
    if (!row) continue;
    CGP_TrackWaveform* wave = row->Waveform();
    wave->SetKeepInView(true);
    const float zoomed = float(wave->Width()) * float(factor);
    const double newWidth = std::max(double(zoomed), double(visible));
    wave->SetSize(TruncToInt(newWidth), wave->Height());
    wave->SetKeepInView(false);
    widest = std::max(widest, wave->Width());
    waveX = wave->X();
  }
  for (CGP_TrackDisplay* row : rows)
    if (row) row->Waveform()->SetPosition(waveX, row->Waveform()->Y());
  timeAxis->SetSize(widest, timeAxis->Height());
  timeAxis->SetPosition(waveX, timeAxis->Y());
  InvalidateAll();
}

void CGP_MultiTrackDisplay::ScrollAllTo(int offset) {
  CGP_TrackWaveform* last = nullptr;
  for (CGP_TrackDisplay* row : rows) {
    if (!row) continue;
    last = row->Waveform();
    last->SetCaret(last->CaretEnabled());
    last->SetPosition(-offset, last->Y());
  }
  if (last) timeAxis->SetPosition(last->X(), timeAxis->Y());
}

void CGP_MultiTrackDisplay::OnTimerTick() {
  for (CGP_TrackDisplay* row : rows)
    if (row) row->Waveform()->OnTimerTick();
}

void CGP_MultiTrackDisplay::SetSize(int newWidth, int newHeight) {
  CGP_Graphic::SetSize(newWidth, newHeight);
  // Several fitted rows share the new height; the anchors alone would stretch each by all of it.
  if (fitRows) LayoutRows();
  AlignTimeAxis();
}
