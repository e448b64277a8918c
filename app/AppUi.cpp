#include "app/AppUi.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QRegularExpression>

#include "app/Dialogs.h"

namespace {
QString Caption(const QString& caption) {
  if (!caption.isEmpty()) return caption;
  const QString name = QGuiApplication::applicationDisplayName();
  return name.isEmpty() ? QStringLiteral("Tintwave") : name;
}

AppUi& RealUi() {
  static AppUi ui;
  return ui;
}

AppUi* current = nullptr;
}  // namespace

void AppUi::ShowWarning(QWidget* parent, const QString& text, const QString& caption) {
  QMessageBox::warning(parent, Caption(caption), text);
}

QMessageBox::StandardButton AppUi::AskYesNoCancel(QWidget* parent, const QString& text) {
  return QMessageBox::question(parent, Caption(QString()), text,
                               QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes);
}

bool AppUi::RunDialog(QDialog& dialog) {
  if (auto* fields = dynamic_cast<FieldDialog*>(&dialog)) fields->LoadFields();
  else if (auto* saveAs = dynamic_cast<SaveAsDlg*>(&dialog)) saveAs->LoadFields();
  // The level dialog opens its input before it shows; when it cannot, it has said so and ended.
  if (auto* record = dynamic_cast<RecordDlg*>(&dialog); record && !record->StartMonitoring()) return false;
  return dialog.exec() == QDialog::Accepted;
}

QStringList AppUi::NameFilters(const QString& filters) {
  // "Name|patterns|Name|patterns||": pairs until an empty name. "*.*" means every file, as it
  // does on the desktop the list comes from, dotted or not.
  const QStringList parts = filters.split('|');
  static const QRegularExpression ownPatterns(R"(\s*\([^()]*[*.][^()]*\)\s*$)");
  QStringList result;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString name = parts[i].trimmed();
    if (name.isEmpty()) break;
    QStringList patterns;
    for (const QString& p : parts[i + 1].split(';', Qt::SkipEmptyParts))
      if (!p.trimmed().isEmpty()) patterns << (p.trimmed() == "*.*" ? QStringLiteral("*") : p.trimmed());
    if (patterns.isEmpty()) patterns << "*";
    name.remove(ownPatterns);
    result << QStringLiteral("%1 (%2)").arg(name, patterns.join(' '));
  }
  return result;
}

QString AppUi::ChooseOpenFile(QWidget* parent, const QString& startName, const QString& filters, int* filterIndex) {
  QFileDialog dialog(parent, QStringLiteral("Open"));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  const QStringList list = NameFilters(filters);
  if (!list.isEmpty()) dialog.setNameFilters(list);
  if (filterIndex && *filterIndex >= 1 && *filterIndex <= list.size()) dialog.selectNameFilter(list[*filterIndex - 1]);
  if (!startName.isEmpty()) {
    const QFileInfo info(startName);
    if (startName.contains('/')) dialog.setDirectory(info.absolutePath());
    dialog.selectFile(info.fileName());
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
  if (filterIndex) {
    const qsizetype index = list.indexOf(dialog.selectedNameFilter());
    if (index >= 0) *filterIndex = int(index) + 1;
  }
  return dialog.selectedFiles().first();
}

AppUi& AppUi::Current() { return current ? *current : RealUi(); }

AppUi* AppUi::Replace(AppUi* ui) {
  AppUi* previous = current ? current : &RealUi();
  current = ui == &RealUi() ? nullptr : ui;
  return previous;
}
