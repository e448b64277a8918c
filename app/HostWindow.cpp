#include "app/HostWindow.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>
#include <QStyle>
#include <QWheelEvent>
#include <algorithm>

#include "graphics/HostEvents.h"
#include "graphics/qt/QtSurface.h"

namespace {
QColor WindowBackground() { return QApplication::palette().color(QPalette::Base); }
}  // namespace

CGN_Wnd::CGN_Wnd(QWidget* parent) : QAbstractScrollArea(parent) {
  setFrameShape(QFrame::NoFrame);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  viewport()->setMouseTracking(true);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  clock_.start();
  connect(horizontalScrollBar(), &QScrollBar::actionTriggered, this, [this](int a) { OnScrollAction(true, a); });
  connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, [this](int a) { OnScrollAction(false, a); });
  BuildBuffer();
}

CGN_Wnd::~CGN_Wnd() {
  timer_.stop();
  if (root_) root_->DetachHost();
}

QSize CGN_Wnd::ClientSize() const { return viewport()->size(); }

void CGN_Wnd::SetRoot(CGI_Window* root) {
  root_ = root;
  shownCursor_ = -1;
  viewport()->update();
}

void CGN_Wnd::BuildBuffer() {
  const QSize size = ClientSize().expandedTo(QSize(1, 1));
  buffer_ = QImage(size, QImage::Format_RGB32);
  buffer_.fill(WindowBackground());
}

void CGN_Wnd::InvalidateRect(int x, int y, int w, int h) { viewport()->update(x, y, w, h); }

// While a button is held Qt already sends every pointer event to the pressed widget.
void CGN_Wnd::CapturePointer() { setFocus(Qt::MouseFocusReason); }

void CGN_Wnd::ReleasePointer() {}

void CGN_Wnd::CursorCodeChanged(int) { ApplyCursor(); }

void CGN_Wnd::ApplyCursor() {
  const int code = root_ ? root_->CursorCodeValue() : 0;
  if (code == shownCursor_) return;
  shownCursor_ = code;
  switch (code) {
    case CursorWait: viewport()->setCursor(Qt::WaitCursor); break;
    case CursorHand: viewport()->setCursor(Qt::PointingHandCursor); break;
    case CursorResizeHorizontal: viewport()->setCursor(Qt::SizeHorCursor); break;
    case CursorResizeVertical: viewport()->setCursor(Qt::SizeVerCursor); break;
    default: viewport()->unsetCursor(); break;
  }
}

void CGN_Wnd::SetScrollBar(bool horizontal, int maximum, int page, int position) {
  QScrollBar* bar = horizontal ? horizontalScrollBar() : verticalScrollBar();
  const Qt::ScrollBarPolicy policy = maximum > 0 ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff;
  adjustingBars_ = true;
  // A page of `page` units over 0..maximum leaves positions 0..maximum - page + 1, as the
  // desktop's own bars do.
  bar->setRange(0, std::max(0, maximum - page + 1));
  bar->setPageStep(std::max(page, 1));
  bar->setSingleStep(std::max(page / 10, 1));
  bar->setValue(position);
  if (horizontal && horizontalScrollBarPolicy() != policy) setHorizontalScrollBarPolicy(policy);
  if (!horizontal && verticalScrollBarPolicy() != policy) setVerticalScrollBarPolicy(policy);
  adjustingBars_ = false;
}

void CGN_Wnd::OnScrollAction(bool horizontal, int action) {
  if (!root_ || adjustingBars_) return;
  QScrollBar* bar = horizontal ? horizontalScrollBar() : verticalScrollBar();
  ScrollRequest request;
  switch (action) {
    case QAbstractSlider::SliderSingleStepAdd: request = ScrollRequest::LineRight; break;
    case QAbstractSlider::SliderSingleStepSub: request = ScrollRequest::LineLeft; break;
    case QAbstractSlider::SliderPageStepAdd: request = ScrollRequest::PageRight; break;
    case QAbstractSlider::SliderPageStepSub: request = ScrollRequest::PageLeft; break;
    case QAbstractSlider::SliderToMinimum: request = ScrollRequest::LeftEnd; break;
    case QAbstractSlider::SliderToMaximum: request = ScrollRequest::RightEnd; break;
    case QAbstractSlider::SliderMove: request = ScrollRequest::Thumb; break;
    default: return;
  }
  const int thumb = bar->sliderPosition();
  root_->OnHostScroll(horizontal, request, thumb);
  // The root has set the bar where it wants it; Qt must not move it again after this action.
  bar->setSliderPosition(bar->value());
}

void CGN_Wnd::StartTimer(int periodMs) { timer_.start(periodMs, Qt::PreciseTimer, this); }

void CGN_Wnd::StopTimer() { timer_.stop(); }

void CGN_Wnd::timerEvent(QTimerEvent* event) {
  if (event->timerId() != timer_.timerId()) return QAbstractScrollArea::timerEvent(event);
  if (frozen_) return;
  HostTimer(root_);
  ApplyCursor();
}

int CGN_Wnd::TrackPopupMenu(int x, int y, const std::vector<PopupMenuItem>& items) {
  QMenu menu(this);
  for (const PopupMenuItem& item : items) {
    if (item.separator) {
      menu.addSeparator();
      continue;
    }
    QAction* action = menu.addAction(QString::fromStdString(item.text));
    action->setData(item.identifier);
    action->setEnabled(!item.greyed);
  }
  QAction* chosen = menu.exec(viewport()->mapToGlobal(QPoint(x, y)));
  return chosen ? chosen->data().toInt() : 0;
}

int CGN_Wnd::CaretBlinkTimeMs() const {
  // Qt gives the whole on-off period; the caret toggles every half of it. 0 means no blinking.
  const int flash = QApplication::cursorFlashTime();
  return flash > 0 ? flash / 2 : 530;
}

std::int32_t CGN_Wnd::NowMs() const { return std::int32_t(clock_.elapsed()); }

void CGN_Wnd::SuspendBuffer() {
  suspended_ = true;
  buffer_ = QImage();
}

void CGN_Wnd::ResumeBuffer() {
  suspended_ = false;
  BuildBuffer();
  viewport()->update();
}

void CGN_Wnd::SetFrozen(bool frozen) {
  if (frozen_ == frozen) return;
  frozen_ = frozen;
  if (frozen_) return;
  if (resizeWaiting_) {
    resizeWaiting_ = false;
    QResizeEvent resize(size(), size());
    resizeEvent(&resize);
  }
  viewport()->update();
}

void CGN_Wnd::RepaintNow() { viewport()->repaint(); }

bool CGN_Wnd::viewportEvent(QEvent* event) {
  // Paint, mouse and resize events of the viewport come through here to the handlers below.
  if (frozen_) {
    switch (event->type()) {
      // The pointer would reach the tree, which must not read the document now.
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::MouseMove:
      case QEvent::Wheel:
      case QEvent::ContextMenu:
      case QEvent::Leave:
        return true;
      default: break;
    }
  }
  return QAbstractScrollArea::viewportEvent(event);
}

void CGN_Wnd::paintEvent(QPaintEvent* event) {
  const QRect r = event->rect();
  QPainter screen(viewport());
  if (!root_) {
    screen.fillRect(r, Qt::white);
    return;
  }
  if (frozen_) {
    if (!buffer_.isNull()) screen.drawImage(r.topLeft(), buffer_, r);
    return;
  }
  if (suspended_ || buffer_.isNull()) {
    QtSurface surface(screen);
    HostPaint(root_, surface, r.left(), r.top(), r.right() + 1, r.bottom() + 1);
    return;
  }
  {
    QPainter painter(&buffer_);
    QtSurface surface(painter, &buffer_);
    HostPaint(root_, surface, r.left(), r.top(), r.right() + 1, r.bottom() + 1);
  }
  // The changed columns over the whole height, as the tree painted them.
  const QRect columns(r.left(), 0, r.width(), buffer_.height());
  screen.drawImage(columns.topLeft(), buffer_, columns);
}

void CGN_Wnd::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  const QSize size = ClientSize();
  if (size.width() <= 0 || size.height() <= 0) return;
  if (frozen_) {
    resizeWaiting_ = true;  // the tree lays itself out again once the work is done
    return;
  }
  if (!suspended_) BuildBuffer();
  HostResize(root_, size.width(), size.height());
}

void CGN_Wnd::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const QPoint p = event->position().toPoint();
  HostButtonDown(root_, p.x(), p.y(), event->modifiers() & Qt::ControlModifier,
                 event->modifiers() & Qt::ShiftModifier);
}

void CGN_Wnd::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const QPoint p = event->position().toPoint();
  const QSize size = ClientSize();
  HostButtonUp(root_, p.x(), p.y(), size.width(), size.height(), event->modifiers() & Qt::ControlModifier,
               event->modifiers() & Qt::ShiftModifier);
}

void CGN_Wnd::mouseMoveEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  const QSize size = ClientSize();
  HostMouseMove(root_, p.x(), p.y(), size.width(), size.height());
  ApplyCursor();
}

// Double clicks are two clicks to the graphics.
void CGN_Wnd::mouseDoubleClickEvent(QMouseEvent* event) { mousePressEvent(event); }

void CGN_Wnd::wheelEvent(QWheelEvent* event) { HostWheel(root_, event->angleDelta().y()); }

void CGN_Wnd::leaveEvent(QEvent*) { HostMouseLeave(root_); }

void CGN_Wnd::contextMenuEvent(QContextMenuEvent* event) {
  const QPoint p = viewport()->mapFromGlobal(event->globalPos());
  HostContextMenu(root_, p.x(), p.y());
}
