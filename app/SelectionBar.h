#pragma once
// The selection bar under the toolbar: the active document's selection as Start, End and Length
// in the times the command-line tool takes (1.5, 0:01.500, 1:02:03.5, 66150s). Typing a time and
// pressing Return sets the selection; a time outside the document is refused with a message and
// the bar shows the selection again. UI thread only.
#include <QToolBar>

class AudioEditorApp;
class QLineEdit;

class SelectionBar : public QToolBar {
  Q_OBJECT
public:
  explicit SelectionBar(QWidget* parent = nullptr);
  // The document the bar shows and sets; null empties and disables it.
  void SetEditor(AudioEditorApp* editor);
  // Shows the editor's selection now (a field being typed into keeps its text).
  void Refresh();
  QLineEdit* StartField() const { return start_; }
  QLineEdit* EndField() const { return end_; }
  QLineEdit* LengthField() const { return length_; }

private:
  enum class Field { Start, End, Length };
  void Apply(Field field);
  QLineEdit* MakeField(const QString& label, const QString& tip, const char* name, Field field);

  AudioEditorApp* editor_ = nullptr;
  QLineEdit* start_;
  QLineEdit* end_;
  QLineEdit* length_;
};
