#include "app/StretchDialogs.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/AppUi.h"
#include "editor/AudioFileEditor.h"

NumberFieldDlg::NumberFieldDlg(const QString& title, const QString& prompt, const QString& explanation, double low,
                               double high, QWidget* parent)
    : FieldDialog(parent), low_(low), high_(high) {
  setWindowTitle(title);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(prompt, this));
  edit_ = new QLineEdit(this);
  edit_->setObjectName("value");
  layout->addWidget(edit_);
  auto* note = new QLabel(explanation, this);
  note->setWordWrap(true);
  layout->addWidget(note);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setObjectName("1");
  buttons->button(QDialogButtonBox::Cancel)->setObjectName("2");
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

void NumberFieldDlg::LoadFields() { edit_->setText(QString::number(value, 'g', 10)); }

bool NumberFieldDlg::SaveFields() {
  bool ok = false;
  const double v = edit_->text().trimmed().toDouble(&ok);
  if (!ok || !(v >= low_ && v <= high_)) {
    AppUi::Current().ShowWarning(this, NumberRangeMessage(low_, high_));
    edit_->setFocus(Qt::OtherFocusReason);
    edit_->selectAll();
    return false;
  }
  value = v;
  return true;
}

ChangePitchDlg::ChangePitchDlg(QWidget* parent)
    : NumberFieldDlg("Change Pitch", "Halftones up (negative: down); decimals are cents, 0.5 is 50 cents",
                     "The selection (the whole file when nothing is selected) sounds higher or lower and keeps "
                     "its length.",
                     -EP_AudioFileEditor::kMaxPitchChange, EP_AudioFileEditor::kMaxPitchChange, parent) {}

ChangeTempoDlg::ChangeTempoDlg(QWidget* parent)
    : NumberFieldDlg("Change Tempo", "Tempo change in percent: +100 plays twice as fast, -50 half as fast",
                     "The selection (the whole file when nothing is selected) becomes shorter or longer and keeps "
                     "its pitch.",
                     EP_AudioFileEditor::kMinTempoChange, EP_AudioFileEditor::kMaxTempoChange, parent) {}
