#include "app/RecoveryDlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

RecoveryDlg::RecoveryDlg(QWidget* parent) : FieldDialog(parent) {
  setWindowTitle(tr("Recover Unsaved Changes"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(tr("Tintwave ended without saving these documents. Recover the ticked ones?")));
  list_ = new QListWidget(this);
  list_->setMinimumWidth(460);
  layout->addWidget(list_);
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(tr("&Recover"), QDialogButtonBox::AcceptRole);
  buttons->addButton(tr("&Later"), QDialogButtonBox::RejectRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

void RecoveryDlg::LoadFields() {
  list_->clear();
  for (const Offer& offer : offers) {
    auto* item = new QListWidgetItem(offer.text, list_);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(offer.chosen ? Qt::Checked : Qt::Unchecked);
  }
}

bool RecoveryDlg::SaveFields() {
  for (int i = 0; i < list_->count() && i < int(offers.size()); ++i)
    offers[std::size_t(i)].chosen = list_->item(i)->checkState() == Qt::Checked;
  return true;
}
