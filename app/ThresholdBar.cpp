#include "app/ThresholdBar.h"

#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>

ThresholdBar::ThresholdBar(QWidget* parent) : QWidget(parent) {
  setObjectName("139");
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(4, 0, 4, 0);
  layout->setSpacing(4);

  auto* caption = new QLabel(tr("Matches:"), this);
  auto* many = new QLabel(tr("Many"), this);
  auto* few = new QLabel(tr("Few"), this);
  slider_ = new QSlider(Qt::Horizontal, this);
  slider_->setObjectName("slider");
  slider_->setRange(0, 100);
  slider_->setPageStep(10);
  slider_->setValue(kDefaultPosition);
  slider_->setFixedWidth(160);
  slider_->setToolTip(tr("Higher: fewer, closer matches"));
  value_ = new QLineEdit(this);
  value_->setObjectName("value");
  // Typing a threshold moves the slider as dragging it does.
  value_->setValidator(new QIntValidator(0, 100, value_));
  value_->setToolTip(tr("The threshold: type 0 (many) to 100 (few) and press Return"));
  value_->setAlignment(Qt::AlignRight);
  value_->setMaximumWidth(value_->fontMetrics().horizontalAdvance("0000") + 12);
  count_ = new QLabel(this);
  count_->setObjectName("count");
  count_->setMinimumWidth(count_->fontMetrics().horizontalAdvance("(00000)"));
  caption->setBuddy(slider_);

  layout->addWidget(caption);
  layout->addWidget(many);
  layout->addWidget(slider_);
  layout->addWidget(few);
  layout->addWidget(value_);
  layout->addWidget(count_);
  layout->addStretch(1);

  ShowValue(kDefaultPosition);
  count_->setText("(1000)");

  connect(slider_, &QSlider::valueChanged, this, [this](int value) {
    ShowValue(value);
    if (!settingPosition_) emit ThresholdChosen(value);
  });
  connect(value_, &QLineEdit::returnPressed, this, [this] { slider_->setValue(value_->text().toInt()); });
  // Leaving the box without Return shows the slider's value again.
  connect(value_, &QLineEdit::editingFinished, this, [this] { ShowValue(slider_->value()); });
}

void ThresholdBar::ShowValue(int value) { value_->setText(QString::number(value)); }

void ThresholdBar::SetPosition(int position) {
  settingPosition_ = true;
  slider_->setValue(position);
  settingPosition_ = false;
  ShowValue(slider_->value());
}

int ThresholdBar::Position() const { return slider_->value(); }

void ThresholdBar::SetCount(int count) { count_->setText(count < 0 ? QString() : QString("(%1)").arg(count)); }

void ThresholdBar::ClearCount() { count_->clear(); }

QString ThresholdBar::CountText() const { return count_->text(); }

QString ThresholdBar::ValueText() const { return value_->text(); }
