#include "app/SelectionBar.h"

#include <QLabel>
#include <QLineEdit>
#include <algorithm>

#include "app/AppUi.h"
#include "editor/AudioFileEditor.h"
#include "graphics/FormatTime.h"
#include "graphics/ParseTime.h"
#include "graphics/TrackWaveform.h"

namespace {
QString TimeText(double seconds) { return QString::fromStdString(FormatTime(seconds, 3, true, false)); }
constexpr const char* kTimeForms = "seconds (1.5), minutes:seconds (0:01.500), hours too (1:02:03.5) or samples (66150s)";
}  // namespace

SelectionBar::SelectionBar(QWidget* parent) : QToolBar(tr("Selection"), parent) {
  setObjectName("selectionbar");
  start_ = MakeField(tr("Start"), tr("Selection start"), "selectionStart", Field::Start);
  end_ = MakeField(tr("End"), tr("Selection end"), "selectionEnd", Field::End);
  length_ = MakeField(tr("Length"), tr("Selection length"), "selectionLength", Field::Length);
  for (QLineEdit* edit : {start_, end_, length_}) edit->setEnabled(false);
}

QLineEdit* SelectionBar::MakeField(const QString& label, const QString& tip, const char* name, Field field) {
  auto* text = new QLabel(label + ":", this);
  text->setContentsMargins(6, 0, 3, 0);
  addWidget(text);
  auto* edit = new QLineEdit(this);
  edit->setObjectName(name);
  edit->setToolTip(tip + tr("; type ") + tr(kTimeForms) + tr(" and press Return"));
  edit->setMaximumWidth(110);
  addWidget(edit);
  connect(edit, &QLineEdit::returnPressed, this, [this, field] { Apply(field); });
  // Leaving a field without Return puts the selection's own time back.
  connect(edit, &QLineEdit::editingFinished, this, [this] { Refresh(); });
  return edit;
}

void SelectionBar::SetEditor(AudioEditorApp* editor) {
  if (editor == editor_) return Refresh();
  editor_ = editor;
  for (QLineEdit* edit : {start_, end_, length_}) edit->setEnabled(editor != nullptr);
  if (!editor)
    for (QLineEdit* edit : {start_, end_, length_}) edit->clear();
  Refresh();
}

void SelectionBar::Refresh() {
  CGP_TrackWaveform* wave = editor_ ? editor_->Waveform() : nullptr;
  if (!wave) return;
  // No selection: the cursor is where both ends are.
  const double s = wave->SelStart() < wave->SelEnd() ? wave->SelStart() : wave->CursorTime();
  const double e = wave->SelStart() < wave->SelEnd() ? wave->SelEnd() : wave->CursorTime();
  const std::pair<QLineEdit*, double> shown[] = {{start_, s}, {end_, e}, {length_, e - s}};
  for (const auto& [edit, seconds] : shown) {
    if (edit->hasFocus() && edit->isModified()) continue;
    const QString text = TimeText(seconds);
    if (edit->text() != text) edit->setText(text);
    edit->setModified(false);
  }
}

void SelectionBar::Apply(Field field) {
  if (!editor_ || !editor_->Waveform() || !editor_->Mixer()) return;
  QLineEdit* edit = field == Field::Start ? start_ : field == Field::End ? end_ : length_;
  TimeValue value;
  std::string error;
  if (!ParseTime(edit->text().trimmed().toUtf8().constData(), &value, &error)) {
    AppUi::Current().ShowWarning(this, QString::fromStdString(error));
    edit->selectAll();
    return;
  }
  CGP_TrackWaveform* wave = editor_->Waveform();
  const double seconds = value.Seconds(editor_->Mixer()->sampleRate);
  double s = wave->SelStart() < wave->SelEnd() ? wave->SelStart() : wave->CursorTime();
  double e = wave->SelStart() < wave->SelEnd() ? wave->SelEnd() : wave->CursorTime();
  switch (field) {
    case Field::Start: s = seconds, e = std::max(e, seconds); break;
    case Field::End: e = seconds, s = std::min(s, seconds); break;
    case Field::Length: e = s + seconds; break;
  }
  if (!editor_->SetSelectionTimes(s, e)) {
    AppUi::Current().ShowWarning(this, QString::fromStdString(editor_->ErrorText()));
    edit->selectAll();
    return;
  }
  edit->setModified(false);
  Refresh();
}
