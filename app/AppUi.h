#pragma once
// Every modal question the application asks: message boxes, the Yes/No/Cancel question, the
// file choosers and the running of a dialog. The real one shows Qt's dialogs; tests put in one
// that answers, since a modal box would block a headless run for ever. UI thread only.
#include <QMessageBox>
#include <QString>
#include <QStringList>

class QDialog;
class QWidget;

class AppUi {
public:
  virtual ~AppUi() = default;
  // A message box with the warning icon; caption empty: the application's name.
  virtual void ShowWarning(QWidget* parent, const QString& text, const QString& caption = QString());
  // Yes, No or Cancel.
  virtual QMessageBox::StandardButton AskYesNoCancel(QWidget* parent, const QString& text);
  // Runs a dialog modally; true on OK. The dialog has its fields loaded into its controls before
  // and, on OK, read back and validated (a dialog stays open while a field is refused).
  virtual bool RunDialog(QDialog& dialog);
  // The Open dialog: the start name, the filter list ("Name|*.a;*.b|..." as the Open command
  // builds it); the chosen path (empty when cancelled) and the 1-based filter index.
  virtual QString ChooseOpenFile(QWidget* parent, const QString& startName, const QString& filters,
                                 int* filterIndex);

  // Qt's "Name (patterns)" filters for a "Name|*.a;*.b|...||" list. A name that already ends
  // in its own "(*.a,*.b)" loses that part, since Qt shows the patterns itself; "*.*" becomes "*".
  static QStringList NameFilters(const QString& filters);

  // The application's one instance; tests replace it (the previous one is returned; null puts
  // the real one back).
  static AppUi& Current();
  static AppUi* Replace(AppUi* ui);
};
