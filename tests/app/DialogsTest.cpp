// The dialogs' field exchange and validation, the Save As lists and type rules, the level dialog
// on a fake input, and the document's questions answered through a replaced AppUi.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QtTest>
#include <cstring>
#include <functional>
#include <tuple>

#include "app/AppUi.h"
#include "app/Dialogs.h"
#include "formats/FormatCodes.h"
#include "app/DocumentPrompts.h"
#include "app/StretchDialogs.h"
#include "devices/AudioPlayer.h"
#include "devices/FakeWaveDevice.h"
#include "graphics/VUMeter.h"

namespace {

// Answers every modal question: warnings are kept, dialogs are filled by the test and confirmed.
class AnsweringUi : public AppUi {
public:
  struct Warning {
    QString text, caption;
  };
  std::vector<Warning> warnings;
  QMessageBox::StandardButton answer = QMessageBox::Yes;
  QString asked;
  std::function<void(QDialog&)> user;  // what the user does before pressing OK
  bool cancel = false;

  void ShowWarning(QWidget*, const QString& text, const QString& caption) override { warnings.push_back({text, caption}); }
  QMessageBox::StandardButton AskYesNoCancel(QWidget*, const QString& text) override {
    asked = text;
    return answer;
  }
  bool RunDialog(QDialog& dialog) override {
    if (auto* f = dynamic_cast<FieldDialog*>(&dialog)) f->LoadFields();
    if (auto* s = dynamic_cast<SaveAsDlg*>(&dialog)) s->LoadFields();
    if (auto* r = dynamic_cast<RecordDlg*>(&dialog); r && !r->StartMonitoring()) return false;
    if (user) user(dialog);
    if (cancel) {
      dialog.reject();
      return false;
    }
    dialog.accept();
    return dialog.result() == QDialog::Accepted;
  }
};

// Types into a line edit or an editable combo box, by resource id.
void Type(QWidget& dialog, const char* id, const QString& text) {
  if (auto* edit = dialog.findChild<QLineEdit*>(id)) return edit->setText(text);
  auto* combo = dialog.findChild<QComboBox*>(id);
  QVERIFY2(combo, id);
  combo->setEditText(text);
}

template <typename T>
T* Control(QWidget& dialog, const char* id) {
  T* control = dialog.findChild<T*>(id);
  if (!control) qFatal("no control %s", id);
  return control;
}

// Interleaved float frames: a square wave of 16 frames per period around a DC offset per channel.
std::vector<std::uint8_t> SquareWithOffset(int channels, const float dc[2], const float amplitude[2]) {
  std::vector<float> frames;
  for (int i = 0; i < 16; ++i)
    for (int c = 0; c < channels; ++c) frames.push_back(dc[c] + (i < 8 ? amplitude[c] : -amplitude[c]));
  std::vector<std::uint8_t> bytes(frames.size() * sizeof(float));
  std::memcpy(bytes.data(), frames.data(), bytes.size());
  return bytes;
}

// Fields set, loaded into the controls and saved back from them come out as they went in.
template <typename Dialog, typename Set, typename Fields>
void RoundTrip(Set set, Fields fields) {
  Dialog dialog;
  set(dialog);
  const auto before = fields(dialog);
  dialog.LoadFields();
  QVERIFY2(dialog.SaveFields(), Dialog::staticMetaObject.className());
  QVERIFY2(fields(dialog) == before, Dialog::staticMetaObject.className());
}

}  // namespace

class DialogsTest : public QObject {
  Q_OBJECT
  AnsweringUi ui_;
  AppUi* previous_ = nullptr;
  FakeWaveDevice* input_ = nullptr;  // the device the last factory call made
  std::vector<std::uint8_t> capture_;
  bool failOpen_ = false;

  WaveDeviceFactory Factory() {
    return [this](WaveDirection direction) {
      auto device = std::make_unique<FakeWaveDevice>(direction);
      device->captureData = capture_;
      if (failOpen_) device->FailOn(FakeWaveCall::Open);
      input_ = device.get();
      return std::unique_ptr<CAI_WaveDevice>(std::move(device));
    };
  }

private slots:
  void initTestCase() { previous_ = AppUi::Replace(&ui_); }
  void cleanupTestCase() { AppUi::Replace(previous_); }
  void init() {
    ui_ = AnsweringUi();
    failOpen_ = false;
    capture_.clear();
  }

  // Load -> controls -> save gives the same fields back, for every dialog with fields.
  void fieldsRoundTrip() {
    RoundTrip<NewFileDlg>([](auto& d) { d.rateText = "44100", d.duration = 2.5, d.channels = 2; },
                          [](auto& d) { return std::tuple(d.rateText, d.duration, d.channels); });
    const std::tuple<int, int, bool, bool, int> raws[] = {
        {8, 16, true, false, 1}, {8, 16, false, true, 2}, {16, 17, true, true, 1}, {8, 2, true, false, 2}};
    for (const auto& [bits, compression, isSigned, big, channels] : raws)
      RoundTrip<RawFileDlg>(
          [&](auto& d) {
            d.rateText = "48000", d.bits = bits, d.compression = compression, d.isSigned = isSigned;
            d.bigEndian = big, d.channels = channels;
          },
          [](auto& d) { return std::tuple(d.rateText, d.bits, d.compression, d.isSigned, d.bigEndian, d.channels); });
    RoundTrip<MixerDlg>([](auto& d) { d.clipboardPosition = 30, d.waveformPosition = 80; },
                        [](auto& d) { return std::tuple(d.clipboardPosition, d.waveformPosition); });
    RoundTrip<VolumeDlg>([](auto& d) { d.percent = 175; }, [](auto& d) { return d.percent; });
    RoundTrip<PitchShiftDlg>([](auto& d) { d.halftones = -12; }, [](auto& d) { return d.halftones; });
    RoundTrip<InsertSilenceDlg>([](auto& d) { d.seconds = 0.125f; }, [](auto& d) { return d.seconds; });
    RoundTrip<PreferencesDlg>(
        [](auto& d) {
          d.showIntroduction = false, d.correctDC = true, d.matchAnywhere = false, d.searchBySound = false;
          d.undoLevels = 0;
          d.searchUrl = "https://sounds.example/s.dll";
        },
        [](auto& d) {
          return std::tuple(d.showIntroduction, d.correctDC, d.matchAnywhere, d.searchBySound, d.undoLevels,
                            d.searchUrl);
        });
    RoundTrip<SonquestDlg>(
        [](auto& d) {
          d.aiff = d.wave = d.mp3 = d.stereo = true;
          d.resolution = "16-bit", d.rate = "22050 Hz", d.size = "77k";
        },
        [](auto& d) { return std::tuple(d.aiff, d.au, d.wave, d.mp3, d.mono, d.stereo, d.resolution, d.rate, d.size); });
    QVERIFY(ui_.warnings.empty());
  }

  // A refused value keeps the dialog open with the framework's message; a good one passes.
  void refusedValues() {
    struct Case {
      std::function<FieldDialog*()> make;
      const char* id;
      QString text;
      QString message;  // empty: accepted
    };
    const QString pitch = "Enter an integer between -48 and 48.", silence = "Enter a number between 0.0001 and 3600.",
                  duration = "Enter a number between 1 and 300.", rate = "Enter an integer between 8000 and 96000.";
    auto newFile = [] { return new NewFileDlg; };
    const Case cases[] = {
        {[] { return new PitchShiftDlg; }, "1087", "49", pitch},
        {[] { return new PitchShiftDlg; }, "1087", "-49", pitch},
        {[] { return new PitchShiftDlg; }, "1087", "five", pitch},
        {[] { return new PitchShiftDlg; }, "1087", "5", {}},
        {[] { return new InsertSilenceDlg; }, "1088", "0", silence},
        {[] { return new InsertSilenceDlg; }, "1088", "3601", silence},
        {[] { return new InsertSilenceDlg; }, "1088", "nan", silence},
        {[] { return new InsertSilenceDlg; }, "1088", "3600", {}},
        {newFile, "1054", "0.5", duration},
        {newFile, "1054", "301", duration},
        {newFile, "1054", "300", {}},
        {newFile, "1051", "12345678901", "Enter no more than 10 characters."},
        {newFile, "1051", "4000", rate},
        {newFile, "1051", "96001", rate},
        {newFile, "1051", "48000", {}},
        {[] { return new PreferencesDlg; }, "searchUrl", "file:///etc/passwd",
         "Enter a web address that begins with http:// or https://, or leave the box empty."},
        {[] { return new PreferencesDlg; }, "searchUrl", "", {}},
        // The document's own range, in words.
        {[] {
           auto* d = new PitchShiftDlg;
           d->lowest = -29, d->highest = 13, d->rangeText = "-29 to +13 halftones at 44,100 Hz";
           return d;
         },
         "1087", "25", "Enter from -29 to +13 halftones at 44,100 Hz."},
        {[] { return new ChangePitchDlg; }, "value", "36.5", "Enter a number between -36 and 36."},
        {[] { return new ChangePitchDlg; }, "value", "-0.25", {}},
        {[] { return new ChangeTempoDlg; }, "value", "-100", "Enter a number between -90 and 900."},
        {[] { return new ChangeTempoDlg; }, "value", "+100", {}},
    };
    for (const Case& c : cases) {
      std::unique_ptr<FieldDialog> dialog(c.make());
      ui_.warnings.clear();
      dialog->LoadFields();
      Type(*dialog, c.id, c.text);
      dialog->accept();
      const QString what = c.text + " in " + c.id;
      if (c.message.isEmpty()) {
        QVERIFY2(ui_.warnings.empty(), qPrintable(what));
        QVERIFY2(dialog->result() == QDialog::Accepted, qPrintable(what));
      } else {
        QVERIFY2(ui_.warnings.size() == 1 && ui_.warnings[0].text == c.message, qPrintable(what));
        QVERIFY2(dialog->result() != QDialog::Accepted, qPrintable(what));
      }
    }
  }

  void volumeTextFollowsSlider() {
    VolumeDlg dialog;
    dialog.LoadFields();
    QCOMPARE(dialog.AmplificationText(), "Amplification: 100%");
    Control<QSlider>(dialog, "1091")->setSliderPosition(150);  // as a drag moves it
    QCOMPARE(dialog.AmplificationText(), "Amplification: 150%");
    QCOMPARE(Control<QLabel>(dialog, "1092")->text(), "Amplification: 150%");
    QCOMPARE(dialog.percent, 150);
  }

  // "24-bit PCM" chooses nothing: the encoding chosen before stays.
  void rawTwentyFourBitLeavesEncoding() {
    RawFileDlg dialog;
    dialog.compression = 2, dialog.bits = 8;
    dialog.LoadFields();
    QVERIFY(Control<QRadioButton>(dialog, "1064")->isChecked());
    Control<QRadioButton>(dialog, "1095")->click();
    QVERIFY(dialog.SaveFields());
    QCOMPARE(dialog.compression, 2);
    QCOMPARE(dialog.bits, 8);
    dialog.LoadFields();
    Control<QRadioButton>(dialog, "1070")->click();
    Control<QRadioButton>(dialog, "1095")->click();
    QVERIFY(dialog.SaveFields());
    QCOMPARE(dialog.compression, 16);
    QVERIFY(!dialog.isSigned);
  }

  void saveAsTables() {
    // Position shown per code, columns AIFF, AU, WAVE; 7 stands for every other code.
    const int table[][4] = {{2, 3, 2, 5},  {3, 4, 3, 6},  {16, 0, 0, 0}, {17, 1, 1, 1}, {18, 2, 1, 2},
                            {19, 2, 1, 3}, {20, 2, 1, 4}, {0, 0, 0, 0},  {7, 1, 1, 1},  {99, 1, 1, 1}};
    for (const auto& row : table)
      for (int filter = 1; filter <= 3; ++filter) QCOMPARE(SaveAsDlg::PositionOf(filter, row[0]), row[filter]);
    QCOMPARE(SaveAsDlg::EncodingsOf(1), (std::vector<int>{16, 17, 18, 2, 3}));
    QCOMPARE(SaveAsDlg::EncodingsOf(2), (std::vector<int>{16, 17, 2, 3}));
    QCOMPARE(SaveAsDlg::EncodingsOf(3), (std::vector<int>{16, 17, 18, 19, 20, 2, 3}));
    QStringList names;
    for (int code : SaveAsDlg::EncodingsOf(3)) names << SaveAsDlg::EncodingName(code);
    QCOMPARE(names, QStringList({"8-bit PCM", "16-bit PCM", "24-bit PCM", "32-bit PCM", "32-bit PCM IEEE",
                                 "G.711 u-Law", "G.711 A-Law"}));
    QCOMPARE(SaveAsDlg::EncodingName(7), "Unsupported");
    for (int type = 1; type <= 3; ++type) QCOMPARE(SaveAsDlg::FileTypeOfFilter(SaveAsDlg::FilterOfFileType(type)), type);
    // The codec types: each list starts with the codec's default, named with its setting.
    const struct {
      int filter, type;
      const char* first;
      int entries;
    } kCodecs[] = {{4, FileFormatFlac, "16-bit, level 5", 6}, {5, FileFormatOggVorbis, "quality 5", 5},
                   {6, FileFormatOpus, "96 kbit/s", 6}, {7, FileFormatMpeg, "192 kbit/s", 7}};
    for (const auto& c : kCodecs) {
      QCOMPARE(SaveAsDlg::FileTypeOfFilter(c.filter), c.type);
      QCOMPARE(SaveAsDlg::FilterOfFileType(c.type), c.filter);
      const std::vector<int> codes = SaveAsDlg::EncodingsOf(c.filter);
      QCOMPARE(int(codes.size()), c.entries);
      QCOMPARE(SaveAsDlg::EncodingName(codes[0]), QString(c.first));
      QCOMPARE(codes[0], CodecEncoding(c.type, 0));
      QCOMPARE(SaveAsDlg::PositionOf(c.filter, codes.back()), c.entries - 1);
    }
    QCOMPARE(SaveAsDlg::EncodingName(WithSetting(CompressionMpegLayer3, 2) | kVbrFlag), "variable bit rate, V2");
    QCOMPARE(SaveAsDlg::PositionOf(4, CompressionPcm24), 3);  // a 24-bit document saves 24-bit FLAC
    QCOMPARE(SaveAsDlg::FileTypeOfFilter(1), 3);
    QCOMPARE(AppUi::NameFilters(SaveAsDlg::kFilters),
             QStringList({"Macintosh AIFF (*.aif *.aiff)", "Sun (Java) File (*.au *.snd)", "WAVE (Microsoft) (*.wav)",
                          "FLAC (*.flac)", "Ogg Vorbis (*.ogg)", "Opus (*.opus)", "MP3 (*.mp3)"}));
    QCOMPARE(AppUi::NameFilters("Raw files (*.raw,*.*)|*.raw;*.*|All Files (*.*)|*.*||"),
             QStringList({"Raw files (*.raw *)", "All Files (*)"}));
  }

  void saveAsTypeChange() {
    QTemporaryDir dir;
    SaveAsDlg dialog;
    dialog.path = dir.filePath("song.wav");
    dialog.filterIndex = 3, dialog.compression = 20;
    dialog.LoadFields();
    auto* compression = Control<QComboBox>(dialog, "1042");
    QCOMPARE(compression->currentText(), "32-bit PCM IEEE");
    QCOMPARE(dialog.NameBoxText(), "song.wav");
    dialog.ChangeType(2);
    QCOMPARE(compression->currentText(), "16-bit PCM");
    QCOMPARE(dialog.compression, 17);
    QCOMPARE(dialog.NameBoxText(), "song.au");
    dialog.ChangeType(1);
    QCOMPARE(compression->currentText(), "16-bit PCM");
    QCOMPARE(dialog.NameBoxText(), "song.aiff");
    emit compression->activated(3);  // the user picks "G.711 u-Law"
    QCOMPARE(dialog.compression, 2);
    dialog.accept();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.path, dir.filePath("song.aiff"));
    QCOMPARE(dialog.filterIndex, 1);

    // A name without a dot keeps its name; an encoding the type does not offer becomes the one
    // the list shows, so the file is saved as shown.
    SaveAsDlg plain;
    plain.path = dir.filePath("take");
    plain.filterIndex = 2, plain.compression = 18, plain.rateText = "32000 Hz", plain.channelPosition = 1;
    plain.LoadFields();
    QCOMPARE(Control<QComboBox>(plain, "1042")->currentText(), "16-bit PCM");
    QCOMPARE(plain.compression, 17);
    QCOMPARE(Control<QComboBox>(plain, "1041")->currentText(), "32000 Hz");  // the document's own rate
    plain.ChangeType(3);
    QCOMPARE(plain.NameBoxText(), "take");
    QCOMPARE(plain.compression, 17);
    plain.accept();
    QCOMPARE(plain.rateText, "32000 Hz");
    QCOMPARE(plain.channelPosition, 1);
    QVERIFY(ui_.warnings.empty());

    // A rate outside the devices' range is refused on OK and the dialog stays.
    SaveAsDlg slow;
    slow.path = dir.filePath("slow.wav");
    slow.rateText = "4000 Hz";
    slow.LoadFields();
    slow.accept();
    QCOMPARE(slow.result(), int(QDialog::Rejected));
    QCOMPARE(ui_.warnings.size(), std::size_t(1));
    QCOMPARE(ui_.warnings[0].text, "Sample rate must be between 8000 and 96000");
  }

  void recordDialogMeasures() {
    const float dc[2] = {0.25f, -0.1f}, amplitude[2] = {0.5f, 0.1f};
    capture_ = SquareWithOffset(2, dc, amplitude);
    RecordDlg dialog(Factory());
    dialog.channels = 2, dialog.rate = 8000, dialog.correctDC = true;
    dialog.LoadFields();
    QCOMPARE(dialog.PeakText(0), "Peak: -0.0");
    QVERIFY(dialog.StartMonitoring());
    QVERIFY(!Control<QLabel>(dialog, "1380")->isHidden());
    QVERIFY(input_->IsOpen() && input_->IsStarted());
    QCOMPARE(input_->Format().channels, 2);
    QCOMPARE(dialog.Player()->State(), kDeviceRecording);
    input_->Advance(2048);
    dialog.Tick();
    QCOMPARE(dialog.PeakText(0), "Peak: -6.0");
    QCOMPARE(dialog.PeakText(1), "Peak: -20.0");
    QCOMPARE(dialog.Meter(0)->Hold(), 0.5f);
    dialog.ResetPeaks();
    dialog.Tick();
    QCOMPARE(dialog.PeakText(0), "Peak: -90.0");
    Control<QCheckBox>(dialog, "1047")->setChecked(false);
    dialog.accept();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(!dialog.correctDC);
    QCOMPARE(dialog.dcLeft, 0.25f);
    QVERIFY(std::abs(dialog.dcRight + 0.1f) < 1e-6f);
    QVERIFY(!dialog.Player());  // everything released
    QVERIFY(ui_.warnings.empty());
  }

  void recordDialogWithoutInput() {
    failOpen_ = true;
    RecordDlg failing(Factory());
    failing.LoadFields();
    QVERIFY(!failing.StartMonitoring());
    QCOMPARE(failing.result(), int(QDialog::Rejected));
    QVERIFY(!failing.Player());
    QVERIFY(Control<QLabel>(failing, "1380")->isHidden());
    RecordDlg none(nullptr);
    none.LoadFields();
    QVERIFY(!none.StartMonitoring());
    QCOMPARE(ui_.warnings.size(), std::size_t(2));
    QCOMPARE(ui_.warnings[0].text, "Fake device: Open failed.");
    QCOMPARE(ui_.warnings[0].caption, "Audio Error");
    QCOMPARE(ui_.warnings[1].text, "There is no sound input device.");
  }

  void documentPrompts() {
    QTemporaryDir dir;
    const float dc[2] = {0.125f, 0}, amplitude[2] = {0.25f, 0};
    capture_ = SquareWithOffset(1, dc, amplitude);
    QtDocumentPrompts prompts(nullptr, Factory());

    int clipboard = 70, waveform = 20;
    ui_.user = [](QDialog& d) {
      QCOMPARE(Control<QSlider>(d, "1097")->value(), 30);
      QCOMPARE(Control<QSlider>(d, "1098")->value(), 80);
      Control<QSlider>(d, "1097")->setValue(10);
    };
    QVERIFY(prompts.AskMixLevels(&clipboard, &waveform));
    QCOMPARE(clipboard, 90);
    QCOMPARE(waveform, 20);

    int percent = 100;
    ui_.user = [](QDialog& d) { Control<QSlider>(d, "1091")->setValue(40); };
    QVERIFY(prompts.AskVolume(&percent));
    QCOMPARE(percent, 40);

    int halftones = 3;
    ui_.user = [](QDialog& d) {
      QCOMPARE(Control<QLineEdit>(d, "1087")->text(), "3");
      Type(d, "1087", "5");
    };
    QVERIFY(prompts.AskPitch(&halftones));
    QCOMPARE(halftones, 5);
    ui_.cancel = true;
    ui_.user = [](QDialog& d) { Type(d, "1087", "7"); };
    QVERIFY(!prompts.AskPitch(&halftones));
    QCOMPARE(halftones, 5);
    ui_.cancel = false;

    double seconds = 1.0;
    ui_.user = [](QDialog& d) {
      QCOMPARE(Control<QLineEdit>(d, "1088")->text(), "1");
      Type(d, "1088", "2.5");
    };
    QVERIFY(prompts.AskSilence(&seconds));
    QCOMPARE(seconds, 2.5);

    WebSearchChoices choices;
    ui_.user = [](QDialog& d) {
      QVERIFY(Control<QCheckBox>(d, "1035")->isChecked());
      QCOMPARE(Control<QComboBox>(d, "1042")->currentText(), "2 MB");
      Control<QCheckBox>(d, "1035")->setChecked(false);
      Type(d, "1042", "512k");
    };
    QVERIFY(prompts.AskWebSearch(&choices));
    QVERIFY(!choices.au && choices.aiff && choices.mono);
    QCOMPARE(choices.size, "512k");

    bool correct = false;
    float left = 1, right = 1;
    ui_.user = [this](QDialog& d) {
      input_->Advance(1024);
      static_cast<RecordDlg&>(d).Tick();
      Control<QCheckBox>(d, "1047")->setChecked(true);
    };
    QVERIFY(prompts.AskRecord(1, 8000, &correct, &left, &right));
    QVERIFY(correct);
    QCOMPARE(left, 0.125f);
    QCOMPARE(right, 0.0f);

    const std::pair<QMessageBox::StandardButton, SaveChangesAnswer> answers[] = {
        {QMessageBox::Yes, SaveChangesAnswer::Yes},
        {QMessageBox::No, SaveChangesAnswer::No},
        {QMessageBox::Cancel, SaveChangesAnswer::Cancel}};
    for (const auto& [button, expected] : answers) {
      ui_.answer = button;
      QVERIFY(prompts.AskSaveChanges("take.wav") == expected);
    }
    QCOMPARE(ui_.asked, "Save changes to take.wav");

    SaveAsRequest request;
    request.path = dir.filePath("take.wav").toStdString();
    request.fileType = 1, request.rate = 22050, request.channels = 2, request.compression = 18;
    ui_.user = [&](QDialog& d) {
      auto& save = static_cast<SaveAsDlg&>(d);
      QCOMPARE(QDir(save.directory()).canonicalPath(), QDir(dir.path()).canonicalPath());
      QCOMPARE(save.NameBoxText(), "take.wav");
      QCOMPARE(Control<QComboBox>(d, "1041")->currentText(), "22050 Hz");
      QCOMPARE(Control<QComboBox>(d, "1042")->currentText(), "24-bit PCM");
      QCOMPARE(Control<QComboBox>(d, "1096")->currentIndex(), 1);
      save.ChangeType(2);
      Control<QComboBox>(d, "1041")->setCurrentText("48000 Hz");
    };
    QVERIFY(prompts.AskSaveAs(&request));
    QCOMPARE(QString::fromStdString(request.path), dir.filePath("take.au"));
    QCOMPARE(request.fileType, 2);
    QCOMPARE(request.rate, 48000);
    QCOMPARE(request.channels, 2);
    QCOMPARE(request.compression, 17);
    QVERIFY(ui_.warnings.empty());
  }

  void introduction() {
    const QString text = CIntroDlg::IntroductionText();
    QVERIFY(text.size() <= 10000);
    for (const char* key : {"F3", "Shift+F3", "\"Matches:\"", "\"Many\"", "\"Few\"", "Ctrl+F", "warranty"})
      QVERIFY2(text.contains(key), key);
    auto* intro = new CIntroDlg;
    QVERIFY(intro->testAttribute(Qt::WA_DeleteOnClose) && !intro->isModal());
    QPointer<CIntroDlg> watch(intro);
    intro->show();
    intro->accept();
    QTRY_VERIFY(watch.isNull());
  }
};

QTEST_MAIN(DialogsTest)
#include "DialogsTest.moc"
