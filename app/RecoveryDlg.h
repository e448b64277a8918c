#pragma once
// The question at start-up after a crash: the documents whose edits were not saved, each with
// its number of edits and the time of the last, to recover or to let go. Recover brings back the
// ticked ones and lets the others go; Later keeps them all for the next start.
#include <QString>
#include <vector>

#include "app/Dialogs.h"

class QListWidget;

class RecoveryDlg : public FieldDialog {
  Q_OBJECT
public:
  struct Offer {
    QString text;  // "name — 12 edits, the last at 14:03:22"
    bool chosen = true;
  };
  explicit RecoveryDlg(QWidget* parent = nullptr);
  void LoadFields() override;
  bool SaveFields() override;
  std::vector<Offer> offers;

private:
  QListWidget* list_;
};
