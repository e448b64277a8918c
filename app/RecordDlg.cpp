// The levels before recording: the input runs into a monitor (nothing is kept) whose meters show
// each channel's level, and the DC offsets it measures go to the recording that follows.
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "app/AppUi.h"
#include "app/Dialogs.h"
#include "app/HostWindow.h"
#include "devices/AudioMonitor.h"
#include "devices/AudioPlayer.h"
#include "devices/LevelMeter.h"
#include "graphics/VUMeter.h"
#include "graphics/Window.h"

namespace {
constexpr int kMeterWidth = 64;
constexpr int kMeterHeight = 196;  // 192 bar rows, 32 per 15 dB
constexpr int kTickMs = 10;

// The monitor's view of a display meter.
class MeterAdapter final : public CAI_LevelMeter {
public:
  CGP_VUMeter* meter = nullptr;
  void UpdateLevels(float level, float hold, BlockColor colour) override {
    if (meter) meter->UpdateLevels(level, hold, Colour(colour));
  }
  void InvalidateAll() override {
    if (meter) meter->InvalidateAll();
  }
};
}  // namespace

struct RecordDlg::Monitoring {
  struct Channel {
    CGN_Wnd* wnd = nullptr;
    CGI_Window* root = nullptr;
    CGP_VUMeter* meter = nullptr;
    MeterAdapter adapter;
  };
  int count = 1;
  Channel channel[2];
  std::unique_ptr<CAP_AudioMonitor> monitor;
  std::unique_ptr<CAI_AudioPlayer> player;
};

RecordDlg::RecordDlg(WaveDeviceFactory devices, QWidget* parent) : FieldDialog(parent), devices_(std::move(devices)) {
  setWindowTitle("Set Levels for Record");
  auto* layout = new QVBoxLayout(this);
  auto* meters = new QHBoxLayout;
  const char* placeIds[2] = {"1073", "1074"};
  const char* peakIds[2] = {"1382", "1383"};
  left_ = new QLabel("Left", this);
  left_->setObjectName("1381");
  right_ = new QLabel("Right", this);
  right_->setObjectName("1380");
  QLabel* names[2] = {left_, right_};
  for (int c = 0; c < 2; ++c) {
    auto* column = new QVBoxLayout;
    places_[c] = new QWidget(this);
    places_[c]->setObjectName(placeIds[c]);
    places_[c]->setFixedSize(kMeterWidth, kMeterHeight);
    auto* inside = new QVBoxLayout(places_[c]);
    inside->setContentsMargins(0, 0, 0, 0);
    names[c]->hide();
    peaks_[c] = new QLabel("Peak: -0.0", this);
    peaks_[c]->setObjectName(peakIds[c]);
    peaks_[c]->setMinimumWidth(kMeterWidth + 16);
    column->addWidget(places_[c], 0, Qt::AlignHCenter);
    column->addWidget(names[c], 0, Qt::AlignHCenter);
    column->addWidget(peaks_[c], 0, Qt::AlignHCenter);
    meters->addLayout(column);
  }
  layout->addLayout(meters);
  dc_ = new QCheckBox("Correct DC offsets while recording", this);
  dc_->setObjectName("1047");
  layout->addWidget(dc_);

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* start = buttons->addButton("Start Recording", QDialogButtonBox::AcceptRole);
  start->setObjectName("1");
  start->setDefault(true);
  buttons->addButton(QDialogButtonBox::Cancel)->setObjectName("2");
  QPushButton* reset = buttons->addButton("Reset Peaks", QDialogButtonBox::ActionRole);
  reset->setObjectName("1384");
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(reset, &QPushButton::clicked, this, &RecordDlg::ResetPeaks);
  layout->addWidget(buttons);

  timer_ = new QTimer(this);
  timer_->setInterval(kTickMs);
  connect(timer_, &QTimer::timeout, this, &RecordDlg::Tick);
}

RecordDlg::~RecordDlg() { Release(); }

void RecordDlg::LoadFields() {
  dc_->setChecked(correctDC);
  const bool stereo = channels == 2;
  places_[1]->setVisible(stereo);
  peaks_[1]->setVisible(stereo);
  for (QLabel* peak : peaks_) peak->setText("Peak: -0.0");
}

bool RecordDlg::SaveFields() {
  correctDC = dc_->isChecked();
  return true;
}

bool RecordDlg::StartMonitoring() {
  attempted_ = true;
  if (monitoring_) return true;
  auto m = std::make_unique<Monitoring>();
  m->count = channels == 2 ? 2 : 1;
  for (int c = 0; c < m->count; ++c) {
    Monitoring::Channel& ch = m->channel[c];
    ch.wnd = new CGN_Wnd(places_[c]);
    places_[c]->layout()->addWidget(ch.wnd);
    ch.root = new CGI_Window(ch.wnd, kMeterWidth, kMeterHeight);
    ch.meter = new CGP_VUMeter(ch.root, ch.root, 0, 0, kMeterWidth, kMeterHeight);
    ch.meter->SetAnchors(true, true, true, true);
    ch.adapter.meter = ch.meter;
    ch.wnd->show();
  }
  m->monitor = std::make_unique<CAP_AudioMonitor>(m->count, rate, &m->channel[0].adapter,
                                                  m->count == 2 ? &m->channel[1].adapter : nullptr);
  m->player = std::make_unique<CAI_AudioPlayer>(nullptr, m->monitor.get(), nullptr,
                                                devices_ ? devices_(WaveDirection::Input) : nullptr);
  monitoring_ = std::move(m);
  left_->setVisible(monitoring_->count == 2);
  right_->setVisible(monitoring_->count == 2);
  timer_->start();
  // Monitoring only: the recording runs without end into the monitor, which keeps nothing.
  monitoring_->player->Record(0, 0);
  const char* error = monitoring_->player->ErrorText();
  if (error && *error) {
    AppUi::Current().ShowWarning(this, QString::fromLocal8Bit(error), "Audio Error");
    done(QDialog::Rejected);
    return false;
  }
  return true;
}

void RecordDlg::showEvent(QShowEvent* event) {
  FieldDialog::showEvent(event);
  // Started after the dialog's loop runs, so that a failure can end it.
  if (!attempted_)
    QTimer::singleShot(0, this, [this] {
      if (!attempted_) StartMonitoring();
    });
}

void RecordDlg::Tick() {
  if (!monitoring_) return;
  CAI_AudioPlayer& player = *monitoring_->player;
  player.Poll();
  ShowPeaks();
  // An input that fails while monitoring ends the dialog as one that could not open.
  const char* error = player.ErrorText();
  if (player.State() == kDeviceIdle && error && *error) {
    AppUi::Current().ShowWarning(this, QString::fromLocal8Bit(error), "Audio Error");
    done(QDialog::Rejected);
  }
}

void RecordDlg::ShowPeaks() {
  if (!monitoring_) return;
  for (int c = 0; c < monitoring_->count; ++c) {
    const double peak = std::max(double(monitoring_->channel[c].meter->Maximum()), std::pow(10.0, -4.5));
    peaks_[c]->setText(QString::asprintf("Peak: %.1f", 20.0 * std::log10(peak)));
  }
}

void RecordDlg::ResetPeaks() {
  if (!monitoring_) return;
  for (int c = 0; c < monitoring_->count; ++c) monitoring_->channel[c].meter->SetMaximum(0);
  ShowPeaks();
}

QString RecordDlg::PeakText(int channel) const {
  return channel >= 0 && channel < 2 ? peaks_[channel]->text() : QString();
}

CAI_AudioPlayer* RecordDlg::Player() const { return monitoring_ ? monitoring_->player.get() : nullptr; }

CGP_VUMeter* RecordDlg::Meter(int channel) const {
  if (!monitoring_ || channel < 0 || channel >= monitoring_->count) return nullptr;
  return monitoring_->channel[channel].meter;
}

void RecordDlg::done(int result) {
  if (monitoring_) {
    dcLeft = monitoring_->monitor->DcOffset(0);
    dcRight = monitoring_->count == 2 ? monitoring_->monitor->DcOffset(1) : 0.0f;
  }
  Release();
  FieldDialog::done(result);
}

void RecordDlg::Release() {
  timer_->stop();
  if (!monitoring_) return;
  // The device first, so that nothing more reaches the monitor; then the monitor, then what it fed.
  monitoring_->player.reset();
  monitoring_->monitor.reset();
  for (int c = 0; c < monitoring_->count; ++c) {
    Monitoring::Channel& ch = monitoring_->channel[c];
    ch.adapter.meter = nullptr;
    ch.root->DestroyChildren();
    delete ch.root;
    delete ch.wnd;
  }
  monitoring_.reset();
}
