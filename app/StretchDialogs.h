#pragma once
// The dialogs of Change Pitch and Change Tempo: one number each, checked against the range the
// editor takes. Like the other dialogs, the caller fills the public field and reads it back on OK.
#include "app/Dialogs.h"

class QLabel;
class QLineEdit;

// A single number with a range, decimals allowed; the refusal names the range.
class NumberFieldDlg : public FieldDialog {
  Q_OBJECT
public:
  NumberFieldDlg(const QString& title, const QString& prompt, const QString& explanation, double low, double high,
                 QWidget* parent);
  void LoadFields() override;
  bool SaveFields() override;
  double value = 0;

private:
  QLineEdit* edit_;
  double low_, high_;
};

class ChangePitchDlg : public NumberFieldDlg {
  Q_OBJECT
public:
  explicit ChangePitchDlg(QWidget* parent = nullptr);
};

class ChangeTempoDlg : public NumberFieldDlg {
  Q_OBJECT
public:
  explicit ChangeTempoDlg(QWidget* parent = nullptr);
};
