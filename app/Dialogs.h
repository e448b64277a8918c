#pragma once
// The dialogs of the application. Each holds its fields as public members: the caller fills
// them, runs the dialog (AppUi::RunDialog), and on OK reads them back. LoadFields puts the fields
// into the controls; SaveFields reads and validates them, showing the framework's message
// ("Enter an integer between %1 and %2." and the others) through AppUi and returning false
// when a value is refused. Controls carry their resource id as object name ("1054"), so tests
// can find them.
#include <QDialog>
#include <QFileDialog>
#include <QString>
#include <memory>
#include <vector>

#include "editor/AudioFileEditor.h"

class CAI_AudioPlayer;
class CAP_AudioMonitor;
class CGN_Wnd;
class CGI_Window;
class CGP_VUMeter;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QRadioButton;
class QSlider;
class QSpinBox;
class QTimer;

// The framework's validation texts.
QString IntegerRangeMessage(int low, int high);             // "Enter an integer between %1 and %2."
QString NumberRangeMessage(double low, double high);        // "Enter a number between %1 and %2."
QString TextLengthMessage(int most);                        // "Enter no more than %1 characters."

// Common base: LoadFields on show, SaveFields on OK.
class FieldDialog : public QDialog {
  Q_OBJECT
public:
  using QDialog::QDialog;
  virtual void LoadFields() = 0;
  virtual bool SaveFields() = 0;
  void accept() override;  // SaveFields, then QDialog::accept when it passed
};

class NewFileDlg : public FieldDialog {
  Q_OBJECT
public:
  explicit NewFileDlg(QWidget* parent = nullptr);
  void LoadFields() override;
  bool SaveFields() override;
  QString rateText = "11025";  // at most 10 characters
  double duration = 30.0;      // 1 to 300
  int channels = 1;

private:
  QRadioButton* mono_;
  QRadioButton* stereo_;
  QComboBox* rate_;
  QLineEdit* duration_;
};

class RawFileDlg : public FieldDialog {
  Q_OBJECT
public:
  explicit RawFileDlg(QWidget* parent = nullptr);
  void LoadFields() override;
  bool SaveFields() override;
  QString rateText;
  int channels = 1;
  int bits = 16;
  int compression = 17;
  bool bigEndian = false;
  bool isSigned = true;

private:
  // The encoding chosen by the compression radios, taken into the fields on OK.
  struct Encoding {
    int compression, bits;
    bool isSigned;
  };
  Encoding pending_{17, 16, true};
  QComboBox* rate_;
  QRadioButton *signed8_, *unsigned8_, *pcm16_, *pcm24_, *mulaw_;
  QRadioButton *little_, *big_, *mono_, *stereo_;
};

class MixerDlg : public FieldDialog {
  Q_OBJECT
public:
  explicit MixerDlg(QWidget* parent = nullptr);
  void LoadFields() override;
  bool SaveFields() override;
  // Slider positions 0 (top) to 100; the level is 100 - position.
  int clipboardPosition = 50;
  int waveformPosition = 50;

private:
  QSlider* clipboard_;
  QSlider* waveform_;
};

class VolumeDlg : public FieldDialog {
  Q_OBJECT
public:
  explicit VolumeDlg(QWidget* parent = nullptr);
  void LoadFields() override;
  bool SaveFields() override;
  int percent = 100;  // 0 to 200
  QString AmplificationText() const;  // "Amplification: %d%%" as shown now

private:
  QSlider* slider_;
  QLabel* text_;
};

class PitchShiftDlg : public FieldDialog {
  Q_OBJECT
public:
  explicit PitchShiftDlg(QWidget* parent = nullptr);
  void LoadFields() override;
  bool SaveFields() override;
  int halftones = 0;  // lowest to highest
  // What the document's rates allow, and the same in words ("-29 to +13 halftones at 44,100 Hz").
  int lowest = -48;
  int highest = 48;
  QString rangeText;

private:
  QLineEdit* edit_;
  QLabel* range_;
};

class InsertSilenceDlg : public FieldDialog {
  Q_OBJECT
public:
  explicit InsertSilenceDlg(QWidget* parent = nullptr);
  void LoadFields() override;
  bool SaveFields() override;
  float seconds = 1.0f;  // 0.0001 to 3600

private:
  QLineEdit* edit_;
};

class PreferencesDlg : public FieldDialog {
  Q_OBJECT
public:
  explicit PreferencesDlg(QWidget* parent = nullptr);
  void LoadFields() override;
  bool SaveFields() override;
  bool showIntroduction = true;
  bool correctDC = false;
  bool matchAnywhere = true;  // sounds also match where they start between two blocks
  bool searchBySound = true;  // what a listener hears as the same sound; off: the signature search
  int undoLevels = 5;         // 0: unlimited
  QString searchUrl;  // the web search service's base URL (empty: the default)

private:
  QCheckBox* intro_;
  QCheckBox* dc_;
  QCheckBox* anywhere_;
  QCheckBox* bySound_;
  QSpinBox* undoLevels_;
  QLineEdit* url_;
};

class SonquestDlg : public FieldDialog {
  Q_OBJECT
public:
  explicit SonquestDlg(QWidget* parent = nullptr);
  void LoadFields() override;
  bool SaveFields() override;
  bool aiff = false, au = false, wave = false, mp3 = false, mono = false, stereo = false;
  bool flac = false, ogg = false, opus = false, m4a = false;
  QString resolution, rate, size;
  WebSearchChoices Choices() const;
  void SetChoices(const WebSearchChoices& choices);

private:
  QCheckBox *aiff_, *au_, *wave_, *mp3_, *mono_, *stereo_;
  QCheckBox *flac_, *ogg_, *opus_, *m4a_;
  QComboBox *resolution_, *rate_, *size_;
};

// Levels before recording: meters fed by a monitor on the input, DC offsets measured.
class RecordDlg : public FieldDialog {
  Q_OBJECT
public:
  // devices: where the input comes from (the application passes ALSA, tests a fake).
  RecordDlg(WaveDeviceFactory devices, QWidget* parent = nullptr);
  ~RecordDlg() override;
  void LoadFields() override;
  bool SaveFields() override;
  void done(int result) override;  // takes the measured offsets and releases the devices
  // Starts monitoring (from RunDialog's show); false, with the device's text shown under the
  // caption "Audio Error", when the input cannot be opened.
  bool StartMonitoring();
  void Tick();           // the 10 ms timer: poll the player, renew the peak texts
  void ResetPeaks();
  int channels = 1;
  int rate = 8000;
  bool correctDC = false;
  float dcLeft = 0, dcRight = 0;
  QString PeakText(int channel) const;
  CAI_AudioPlayer* Player() const;
  CGP_VUMeter* Meter(int channel) const;  // null while not monitoring

protected:
  void showEvent(QShowEvent* event) override;  // starts monitoring when nobody did before

private:
  struct Monitoring;
  void Release();
  void ShowPeaks();
  WaveDeviceFactory devices_;
  std::unique_ptr<Monitoring> monitoring_;
  bool attempted_ = false;
  QWidget* places_[2];
  QLabel* peaks_[2];
  QLabel* left_;
  QLabel* right_;
  QCheckBox* dc_;
  QTimer* timer_;
};

// The Save As dialog: the file chooser with the channel, encoding and rate lists.
class SaveAsDlg : public QFileDialog {
  Q_OBJECT
public:
  explicit SaveAsDlg(QWidget* parent = nullptr);
  // Fields: filter index 1 AIFF, 2 AU, 3 WAVE, 4 FLAC, 5 Ogg Vorbis, 6 Opus, 7 MP3; rateText like
  // "44100 Hz" or "44100". The codec types' compression carries the encoder's setting.
  QString path;
  int filterIndex = 3;
  QString rateText = "44100 Hz";
  int compression = 17;
  int channelPosition = 0;  // 0 mono, 1 stereo
  void LoadFields();
  bool SaveFields();  // the rate check: "Sample rate must be between %d and %d"
  void accept() override;
  // The file type of a filter index (1 WAVE, 2 AU, 3 AIFF) and back.
  static int FileTypeOfFilter(int index);
  static int FilterOfFileType(int type);
  // The encodings a type offers, in list order, and the list position shown for a code.
  static std::vector<int> EncodingsOf(int filterIndex);
  static int PositionOf(int filterIndex, int code);
  static QString EncodingName(int code);
  void ChangeType(int filterIndex);  // as choosing another filter does
  // The rate a text like "44100 Hz" names (its leading integer); 0 when it names none.
  static int RateOfText(const QString& text);
  // The seven filters, in the "Name|patterns|" form of the Open command's list.
  static const char* const kFilters;
  QString NameBoxText() const;  // the file name box as it reads now

protected:
  void done(int result) override;  // takes the chosen path on OK

private:
  void FillCompression(int filterIndex, int position);
  QLineEdit* NameBox() const;
  QComboBox* channels_;
  QComboBox* compression_;
  QComboBox* rates_;
  int shownFilter_ = 3;  // the type the compression list is filled for
};

class CIntroDlg : public QDialog {
  Q_OBJECT
public:
  explicit CIntroDlg(QWidget* parent = nullptr);  // modeless; deletes itself when closed
  static QString IntroductionText();
};

class CAboutDlg : public QDialog {
  Q_OBJECT
public:
  explicit CAboutDlg(QWidget* parent = nullptr);
};
