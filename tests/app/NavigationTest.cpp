// The window as people expect it: documents maximised with one title, tabs; the keys, the
// wheel and Shift+click in one table of what each must leave (cursor, selection,
// scroll), and the selection bar's typed times: every form the command-line tool takes, and the
// refusals. A tone made by sox, in the real window, headless.
#include <QtTest>

#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QSettings>
#include <QWheelEvent>
#include <functional>

#include "app/AppUi.h"
#include "app/Application.h"
#include "app/DocumentView.h"
#include "app/HostWindow.h"
#include "app/MainFrame.h"
#include "app/SelectionBar.h"
#include "app/ThresholdBar.h"
#include "editor/AudioFileEditor.h"
#include "graphics/TrackWaveform.h"

namespace {
struct QuietUi : AppUi {
  QStringList warnings;
  void ShowWarning(QWidget*, const QString& text, const QString&) override { warnings << text; }
  bool RunDialog(QDialog&) override { return false; }
};
}  // namespace

class NavigationTest : public QObject {
  Q_OBJECT
  QTemporaryDir dir_;
  QuietUi* ui_ = nullptr;
  AppUi* previous_ = nullptr;
  std::unique_ptr<VIZoravuApp> app_;
  AudioEditorApp* editor_ = nullptr;
  VIZoravuView* view_ = nullptr;

  CGP_TrackWaveform* Wave() const { return editor_->Waveform(); }
  int Scroll() const { return -Wave()->X(); }
  int Room() const { return Wave()->Width() - Wave()->VisibleWidth(); }
  void Wheel(int delta, Qt::KeyboardModifiers modifiers, QPointF at = QPointF(10, 10)) {
    QWheelEvent event(at, view_->HostWindow()->viewport()->mapToGlobal(at), QPoint(), QPoint(0, delta),
                      Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view_->HostWindow()->viewport(), &event);
  }
  void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(view_->HostWindow(), key, modifiers);
  }

private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir_.filePath("settings"));
    const QString tone = dir_.filePath("tone.wav");
    if (QProcess::execute("sox", {"-n", "-r", "22050", "-c", "1", "-b", "16", tone, "synth", "2", "sine", "440"}) != 0)
      QSKIP("sox is not installed");
    qApp->setQuitOnLastWindowClosed(false);
    ui_ = new QuietUi;
    previous_ = AppUi::Replace(ui_);
    app_ = std::make_unique<VIZoravuApp>(*qApp);
    app_->SetBrowserLauncher([](const std::string&) { return true; });
    QVERIFY(!app_->Start({tone}).has_value());
    QTRY_VERIFY(app_->MainFrame()->ActiveDocument());
    editor_ = app_->MainFrame()->ActiveDocument()->Editor();
    view_ = app_->MainFrame()->ActiveDocument()->View();
  }

  void cleanupTestCase() {
    app_.reset();
    delete AppUi::Replace(previous_);
  }

  void keysWheelAndShiftClick() {
    if (!editor_) QSKIP("no document");
    // Zoomed in four times, so that there is somewhere to scroll.
    editor_->ZoomIn();
    editor_->ZoomIn();
    QVERIFY(Room() > 0);
    const double d = editor_->Duration(), col = d / Wave()->Width();
    enum Scrolled { Start, End, Shows, Unchanged };
    struct Step {
      const char* what;
      std::function<void()> act;
      double start, end;  // the selection (equal: the cursor alone)
      Scrolled scroll;
      double shown;  // Shows: this time is in view
    };
    const Qt::KeyboardModifiers shift = Qt::ShiftModifier, ctrl = Qt::ControlModifier;
    const Step steps[] = {
        {"End", [&] { Key(Qt::Key_End); }, d, d, End, 0},
        {"Home", [&] { Key(Qt::Key_Home); }, 0, 0, Start, 0},
        {"Ctrl+Right", [&] { Key(Qt::Key_Right, ctrl); }, 1, 1, Shows, 1},
        {"Left", [&] { Key(Qt::Key_Left); }, 1 - col, 1 - col, Shows, 1 - col},
        {"Shift+Right", [&] { Key(Qt::Key_Right, shift); }, 1 - col, 1, Shows, 1},
        {"Shift+Right again", [&] { Key(Qt::Key_Right, shift); }, 1 - col, 1 + col, Shows, 1 + col},
        {"Shift+Ctrl+Left crosses the anchor", [&] { Key(Qt::Key_Left, shift | ctrl); }, col, 1 - col, Shows, col},
        {"Shift+Home", [&] { Key(Qt::Key_Home, shift); }, 0, 1 - col, Start, 0},
        {"Right leaves the selection at its end", [&] { Key(Qt::Key_Right); }, 1, 1, Shows, 1},
        {"Shift+End", [&] { Key(Qt::Key_End, shift); }, 1, d, End, 0},
        {"Home", [&] { Key(Qt::Key_Home); }, 0, 0, Start, 0},
        {"the wheel scrolls a tenth of the view", [&] { Wheel(-120, Qt::NoModifier); }, 0, 0, Shows,
         Wave()->TimeOfColumn(Wave()->VisibleWidth() / 10 + 1)},
        {"and back", [&] { Wheel(120, Qt::NoModifier); }, 0, 0, Start, 0},
        {"Shift+click extends from the cursor", [&] {
           QTest::mouseClick(view_->HostWindow()->viewport(), Qt::LeftButton, shift, QPoint(200, 30));
         }, 0, Wave()->TimeOfColumn(200), Start, 0},
    };
    const double tolerance = 1.5 / 22050;
    for (const Step& step : steps) {
      const int before = Scroll();
      step.act();
      const QString what = step.what;
      QVERIFY2(std::fabs(Wave()->SelStart() - step.start) < tolerance, qPrintable(what + " start " + QString::number(Wave()->SelStart())));
      QVERIFY2(std::fabs(Wave()->SelEnd() - step.end) < tolerance, qPrintable(what + " end " + QString::number(Wave()->SelEnd())));
      QVERIFY2(std::fabs(Wave()->CursorTime() - step.start) < tolerance, qPrintable(what + " cursor"));
      switch (step.scroll) {
        case Start: QVERIFY2(Scroll() == 0, qPrintable(what)); break;
        case End: QVERIFY2(Scroll() == Room(), qPrintable(what)); break;
        case Unchanged: QVERIFY2(Scroll() == before, qPrintable(what)); break;
        case Shows: {
          const int c = Wave()->ColumnOfTime(step.shown);
          QVERIFY2(c >= Scroll() && c < Scroll() + Wave()->VisibleWidth(), qPrintable(what + " not in view"));
          break;
        }
      }
    }
    // Ctrl+wheel zooms in about the pointer: the time under it stays under it.
    Key(Qt::Key_End);
    const int x = Wave()->VisibleWidth() / 2, width = Wave()->Width();
    const double under = Wave()->TimeOfColumn(Scroll() + x);
    Wheel(120, ctrl, QPointF(x, 30));
    QCOMPARE(Wave()->Width(), width * 2);
    QVERIFY(std::fabs(Wave()->TimeOfColumn(Scroll() + x) - under) <= 2 * d / Wave()->Width());
    Wheel(-120, ctrl, QPointF(x, 30));
    QCOMPARE(Wave()->Width(), width);
  }

  void selectionBarTakesTypedTimes() {
    if (!editor_) QSKIP("no document");
    SelectionBar* bar = app_->MainFrame()->Selection();
    editor_->SetCursor(0);
    struct Typed {
      QLineEdit* field;
      const char* text;
      double start, end;     // afterwards
      const char* refusal;  // the warning, or null
    };
    const Typed rows[] = {
        {bar->StartField(), "0.5", 0.5, 0.5, nullptr},
        {bar->EndField(), "1.5", 0.5, 1.5, nullptr},
        {bar->LengthField(), "0:00.250", 0.5, 0.75, nullptr},
        {bar->EndField(), "33075s", 0.5, 1.5, nullptr},
        {bar->StartField(), "0:00:01.0", 1.0, 1.5, nullptr},
        {bar->EndField(), "3", 1.0, 1.5, "0:03.000 lies outside the document (0:00.000 to 0:02.000)"},
        {bar->LengthField(), "2", 1.0, 1.5, "0:03.000 lies outside the document (0:00.000 to 0:02.000)"},
        {bar->StartField(), "-1", 1.0, 1.5, "bad time '-1': a time is never negative"},
        {bar->StartField(), "1:75", 1.0, 1.5, "bad time '1:75': the seconds after a colon are below 60"},
    };
    for (const Typed& row : rows) {
      ui_->warnings.clear();
      row.field->setFocus();
      row.field->setText(row.text);
      QTest::keyClick(row.field, Qt::Key_Return);
      const QString what = row.text;
      QVERIFY2(std::fabs(Wave()->SelStart() - row.start) < 1e-4, qPrintable(what));
      QVERIFY2(std::fabs(Wave()->SelEnd() - row.end) < 1e-4, qPrintable(what));
      QCOMPARE(ui_->warnings, row.refusal ? QStringList{row.refusal} : QStringList{});
    }
    // The bar shows a selection made elsewhere.
    view_->HostWindow()->setFocus();
    editor_->Select(0.25, 1.25);
    app_->MainFrame()->RefreshActions();
    QCOMPARE(bar->StartField()->text(), QString("0:00.250"));
    QCOMPARE(bar->EndField()->text(), QString("0:01.250"));
    QCOMPARE(bar->LengthField()->text(), QString("0:01.000"));
  }

  void matchesBoxTakesATypedThreshold() {
    if (!editor_) QSKIP("no document");
    auto* box = app_->MainFrame()->Threshold()->findChild<QLineEdit*>("value");
    QVERIFY(box && !box->isReadOnly());
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, "85");
    QTest::keyClick(box, Qt::Key_Return);
    QCOMPARE(app_->MainFrame()->Threshold()->Position(), 85);
    QCOMPARE(editor_->MatchThreshold(), 85);
    // Keys typed there stay there: "c" does not switch the waveform's colours.
    const bool colour = Wave()->ColourDisplay();
    QTest::keyClick(box, Qt::Key_C);
    QCOMPARE(Wave()->ColourDisplay(), colour);
  }

  void windowsOpenMaximisedWithOneTitle() {
    if (!editor_) QSKIP("no document");
    CMainFrame* frame = app_->MainFrame();
    QMdiSubWindow* child = frame->MdiArea()->subWindowList().value(0);
    QVERIFY(child && child->isMaximized());
    QCOMPARE(frame->windowTitle(), QString("Tintwave - tone.wav (0:02.000)"));
    // The panes say what they are.
    QCOMPARE(frame->Pane(1)->toolTip(), QString("Zoom: samples per pixel"));
    QCOMPARE(frame->Pane(8)->toolTip(), QString("Selection start"));
    QVERIFY(frame->Pane(5)->toolTip().contains("\"Normal\" plays at the file's own rate"));
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, VIZoravuApp::kOrganisation,
                       VIZoravuApp::kApplication);
    QVERIFY(frame->Trigger(CommandId::WindowTabs));
    QCOMPARE(frame->MdiArea()->viewMode(), QMdiArea::TabbedView);
    QVERIFY(frame->Action(CommandId::WindowTabs)->isChecked());
    settings.sync();
    QCOMPARE(settings.value("Window/Tabs").toBool(), true);
    QVERIFY(frame->Trigger(CommandId::WindowTabs));
    QCOMPARE(frame->MdiArea()->viewMode(), QMdiArea::SubWindowView);
    // The user's own choice is what the next document gets.
    child->showNormal();
    settings.sync();
    QCOMPARE(settings.value("Window/DocumentMaximized").toBool(), false);
    QCOMPARE(frame->windowTitle(), QString("Tintwave - tone.wav (0:02.000)"));
  }
};

QTEST_MAIN(NavigationTest)
#include "NavigationTest.moc"
