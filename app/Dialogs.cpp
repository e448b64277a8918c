#include "app/Dialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QUrl>
#include <QVBoxLayout>
#include <cmath>

#include "app/AppUi.h"
#include "pipeline/AudioDecoder.h"

// ---- the framework's messages ----

QString IntegerRangeMessage(int low, int high) {
  return QStringLiteral("Enter an integer between %1 and %2.").arg(low).arg(high);
}

QString NumberRangeMessage(double low, double high) {
  return QStringLiteral("Enter a number between %1 and %2.")
      .arg(QString::number(low, 'g', 15), QString::number(high, 'g', 15));
}

QString TextLengthMessage(int most) { return QStringLiteral("Enter no more than %1 characters.").arg(most); }

void FieldDialog::accept() {
  if (SaveFields()) QDialog::accept();
}

// ---- shared pieces ----

namespace {

QDialogButtonBox* OkCancel(QDialog* dialog, QBoxLayout* layout) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
  buttons->button(QDialogButtonBox::Ok)->setObjectName("1");
  buttons->button(QDialogButtonBox::Cancel)->setObjectName("2");
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  layout->addWidget(buttons);
  return buttons;
}

void Refuse(QWidget* dialog, QWidget* control, const QString& message) {
  AppUi::Current().ShowWarning(dialog, message);
  if (!control) return;
  control->setFocus(Qt::OtherFocusReason);
  if (auto* edit = qobject_cast<QLineEdit*>(control)) edit->selectAll();
  if (auto* combo = qobject_cast<QComboBox*>(control); combo && combo->lineEdit()) combo->lineEdit()->selectAll();
}

bool ParseInt(const QString& text, int* value) {
  bool ok = false;
  const int v = text.trimmed().toInt(&ok);
  if (ok) *value = v;
  return ok;
}

QLabel* NamedLabel(const QString& text, const char* id, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  if (id) label->setObjectName(id);
  return label;
}

QRadioButton* Radio(const QString& text, const char* id, QWidget* parent) {
  auto* radio = new QRadioButton(text, parent);
  radio->setObjectName(id);
  return radio;
}

QCheckBox* Check(const QString& text, const char* id, QWidget* parent) {
  auto* box = new QCheckBox(text, parent);
  box->setObjectName(id);
  return box;
}

QComboBox* EditableCombo(const char* id, const QStringList& items, QWidget* parent) {
  auto* combo = new QComboBox(parent);
  combo->setObjectName(id);
  combo->setEditable(true);
  combo->setInsertPolicy(QComboBox::NoInsert);
  combo->addItems(items);
  return combo;
}

QLineEdit* Edit(const char* id, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(id);
  return edit;
}

QString NumberText(double v, int digits) { return QString::number(v, 'g', digits); }

// A floating value from an edit box within [low, high]; NaN and infinities are refused too.
template <typename T>
bool ParseRange(const QString& text, T low, T high, T* value) {
  bool ok = false;
  const double v = text.trimmed().toDouble(&ok);
  if (!ok || !std::isfinite(v)) return false;
  const T t = T(v);
  if (!(t >= low && t <= high)) return false;
  *value = t;
  return true;
}

// The channel group of the file dialogs: a caption over two radio buttons.
QGroupBox* ChannelGroup(const QString& title, const QString& caption, QRadioButton** mono, QRadioButton** stereo,
                        QWidget* parent) {
  auto* group = new QGroupBox(title, parent);
  auto* layout = new QVBoxLayout(group);
  if (!caption.isEmpty()) layout->addWidget(new QLabel(caption, group));
  *mono = Radio("&Mono", "1052", group);
  *stereo = Radio("&Stereo", "1053", group);
  layout->addWidget(*mono);
  layout->addWidget(*stereo);
  return group;
}

}  // namespace

// ---- New ----

NewFileDlg::NewFileDlg(QWidget* parent) : FieldDialog(parent) {
  setWindowTitle("New Audio File");
  auto* layout = new QVBoxLayout(this);
  auto* row = new QHBoxLayout;
  row->addWidget(ChannelGroup(QString(), "Number of\nChannels", &mono_, &stereo_, this));
  auto* grid = new QGridLayout;
  rate_ = EditableCombo("1051", {"11025", "22050", "44100", "96000"}, this);
  rate_->setInsertPolicy(QComboBox::InsertAlphabetically);
  duration_ = Edit("1054", this);
  grid->addWidget(new QLabel("Sample Rate (Hz)", this), 0, 0);
  grid->addWidget(rate_, 0, 1);
  grid->addWidget(new QLabel("Duration (sec)", this), 1, 0);
  grid->addWidget(duration_, 1, 1);
  row->addLayout(grid);
  layout->addLayout(row);
  OkCancel(this, layout);
}

void NewFileDlg::LoadFields() {
  mono_->setChecked(channels == 1);
  stereo_->setChecked(channels == 2);
  rate_->setEditText(rateText);
  duration_->setText(NumberText(duration, 15));
}

bool NewFileDlg::SaveFields() {
  const QString text = rate_->currentText();
  if (text.size() > 10) {
    Refuse(this, rate_, TextLengthMessage(10));
    return false;
  }
  // The documents, the player and the writers all work at 8,000 to 96,000 Hz.
  int rate = 0;
  if (!ParseInt(text, &rate) || rate < CAP_AudioDecoder::kMinRate || rate > CAP_AudioDecoder::kMaxRate) {
    Refuse(this, rate_, IntegerRangeMessage(CAP_AudioDecoder::kMinRate, CAP_AudioDecoder::kMaxRate));
    return false;
  }
  double seconds = 0;
  if (!ParseRange(duration_->text(), 1.0, 300.0, &seconds)) {
    Refuse(this, duration_, NumberRangeMessage(1, 300));
    return false;
  }
  rateText = text.trimmed();
  duration = seconds;
  if (mono_->isChecked()) channels = 1;
  if (stereo_->isChecked()) channels = 2;
  return true;
}

// ---- Raw ----

RawFileDlg::RawFileDlg(QWidget* parent) : FieldDialog(parent) {
  setWindowTitle("Raw File Type");
  auto* layout = new QVBoxLayout(this);
  auto* rateRow = new QHBoxLayout;
  rate_ = EditableCombo("1051", {"11025", "22050", "44100", "48000", "96000"}, this);
  rateRow->addWidget(new QLabel("Sample Rate (Hz)", this));
  rateRow->addWidget(rate_);
  layout->addLayout(rateRow);

  auto* row = new QHBoxLayout;
  auto* compression = new QGroupBox("Compression", this);
  auto* cl = new QVBoxLayout(compression);
  signed8_ = Radio("8-bit PCM (Signed)", "1062", compression);
  unsigned8_ = Radio("8-bit PCM (Unsigned)", "1070", compression);
  pcm16_ = Radio("16-bit PCM", "1063", compression);
  pcm24_ = Radio("24-bit PCM", "1095", compression);
  mulaw_ = Radio("G.711 MuLaw", "1064", compression);
  for (QRadioButton* r : {signed8_, unsigned8_, pcm16_, pcm24_, mulaw_}) cl->addWidget(r);
  row->addWidget(compression);

  auto* order = new QGroupBox("Byte Order", this);
  auto* ol = new QVBoxLayout(order);
  little_ = Radio("Little Endian (Windows)", "1065", order);
  big_ = Radio("Big Endian (Macintosh)", "1066", order);
  ol->addWidget(little_);
  ol->addWidget(big_);
  auto* right = new QVBoxLayout;
  right->addWidget(order);
  right->addWidget(ChannelGroup("Channels", QString(), &mono_, &stereo_, this));
  row->addLayout(right);
  layout->addLayout(row);
  OkCancel(this, layout);

  // A click takes effect at once, as the radio's own choice; "24-bit PCM" chooses nothing.
  connect(signed8_, &QRadioButton::clicked, this, [this] { pending_ = {16, 8, true}; });
  connect(unsigned8_, &QRadioButton::clicked, this, [this] { pending_ = {16, 8, false}; });
  connect(pcm16_, &QRadioButton::clicked, this, [this] { pending_ = {17, 16, true}; });
  connect(mulaw_, &QRadioButton::clicked, this, [this] { pending_ = {2, 8, pending_.isSigned}; });
}

void RawFileDlg::LoadFields() {
  rate_->setEditText(rateText);
  pending_ = {compression, bits, isSigned};
  // Radios that share a parent are exclusive: clear them all before setting the one that fits.
  for (QRadioButton* r : {signed8_, unsigned8_, pcm16_, pcm24_, mulaw_, little_, big_, mono_, stereo_}) {
    r->setAutoExclusive(false);
    r->setChecked(false);
    r->setAutoExclusive(true);
  }
  signed8_->setChecked(bits == 8 && compression == 16 && isSigned);
  unsigned8_->setChecked(bits == 8 && compression == 16 && !isSigned);
  pcm16_->setChecked(bits == 16 && compression == 17);
  mulaw_->setChecked(compression == 2);
  little_->setChecked(!bigEndian);
  big_->setChecked(bigEndian);
  mono_->setChecked(channels == 1);
  stereo_->setChecked(channels == 2);
}

bool RawFileDlg::SaveFields() {
  rateText = rate_->currentText().trimmed();
  compression = pending_.compression;
  bits = pending_.bits;
  isSigned = pending_.isSigned;
  if (little_->isChecked()) bigEndian = false;
  if (big_->isChecked()) bigEndian = true;
  if (mono_->isChecked()) channels = 1;
  if (stereo_->isChecked()) channels = 2;
  return true;
}

// ---- Mix ----

MixerDlg::MixerDlg(QWidget* parent) : FieldDialog(parent) {
  setWindowTitle("Mix Clipboard with Waveform");
  auto* layout = new QVBoxLayout(this);
  auto* row = new QHBoxLayout;
  auto column = [this, row](QSlider*& slider, const char* id, const QString& caption) {
    auto* grid = new QGridLayout;
    slider = new QSlider(Qt::Vertical, this);
    slider->setObjectName(id);
    slider->setRange(0, 100);
    slider->setInvertedAppearance(true);  // position 0 at the top
    slider->setInvertedControls(true);
    slider->setTickPosition(QSlider::TicksRight);
    slider->setTickInterval(10);
    slider->setMinimumHeight(160);
    grid->addWidget(slider, 0, 0, 3, 1);
    grid->addWidget(new QLabel("100%", this), 0, 1, Qt::AlignTop);
    grid->addWidget(new QLabel("50%", this), 1, 1, Qt::AlignVCenter);
    grid->addWidget(new QLabel("0%", this), 2, 1, Qt::AlignBottom);
    grid->addWidget(new QLabel(caption, this), 3, 0, 1, 2, Qt::AlignHCenter);
    row->addLayout(grid);
  };
  column(clipboard_, "1097", "Clipboard");
  column(waveform_, "1098", "Waveform");
  layout->addLayout(row);
  OkCancel(this, layout);
}

void MixerDlg::LoadFields() {
  clipboard_->setValue(clipboardPosition);
  waveform_->setValue(waveformPosition);
}

bool MixerDlg::SaveFields() {
  clipboardPosition = clipboard_->value();
  waveformPosition = waveform_->value();
  return true;
}

// ---- Volume ----

VolumeDlg::VolumeDlg(QWidget* parent) : FieldDialog(parent) {
  setWindowTitle("Set Volume");
  auto* layout = new QVBoxLayout(this);
  slider_ = new QSlider(Qt::Horizontal, this);
  slider_->setObjectName("1091");
  slider_->setRange(0, 200);
  slider_->setTickPosition(QSlider::TicksBelow);
  slider_->setTickInterval(25);
  slider_->setMinimumWidth(240);
  layout->addWidget(slider_);
  auto* marks = new QHBoxLayout;
  marks->addWidget(new QLabel("0 %", this), 0, Qt::AlignLeft);
  marks->addWidget(new QLabel("100%", this), 0, Qt::AlignHCenter);
  marks->addWidget(new QLabel("200%", this), 0, Qt::AlignRight);
  layout->addLayout(marks);
  text_ = NamedLabel(QString(), "1092", this);
  layout->addWidget(text_);
  OkCancel(this, layout);
  connect(slider_, &QSlider::valueChanged, this, [this](int value) {
    percent = value;
    text_->setText(QString::asprintf("Amplification: %d%%", value));
  });
  slider_->setValue(percent);
  text_->setText(QString::asprintf("Amplification: %d%%", percent));
}

void VolumeDlg::LoadFields() {
  slider_->setValue(percent);  // a value beyond the range stops at its end
  percent = slider_->value();
  text_->setText(QString::asprintf("Amplification: %d%%", percent));
}

bool VolumeDlg::SaveFields() {
  percent = slider_->value();
  return true;
}

QString VolumeDlg::AmplificationText() const { return text_->text(); }

// ---- Pitch ----

PitchShiftDlg::PitchShiftDlg(QWidget* parent) : FieldDialog(parent) {
  setWindowTitle("Set Pitch Shift");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Number of halftones of pitch shift", this));
  edit_ = Edit("1087", this);
  layout->addWidget(edit_);
  range_ = NamedLabel(QString(), "pitchRange", this);
  range_->setWordWrap(true);
  layout->addWidget(range_);
  OkCancel(this, layout);
}

void PitchShiftDlg::LoadFields() {
  edit_->setText(QString::number(halftones));
  const QString range = rangeText.isEmpty() ? QStringLiteral("%1 to %2 halftones").arg(lowest).arg(highest) : rangeText;
  range_->setText(QStringLiteral("The whole document plays faster and higher, or slower and lower: its length "
                                 "changes. Change Pitch keeps the length.\nThis document allows %1.")
                      .arg(range));
}

bool PitchShiftDlg::SaveFields() {
  int value = 0;
  if (!ParseInt(edit_->text(), &value) || value < lowest || value > highest) {
    Refuse(this, edit_,
           rangeText.isEmpty() ? IntegerRangeMessage(lowest, highest) : QStringLiteral("Enter from %1.").arg(rangeText));
    return false;
  }
  halftones = value;
  return true;
}

// ---- Silence ----

InsertSilenceDlg::InsertSilenceDlg(QWidget* parent) : FieldDialog(parent) {
  setWindowTitle("Insert Silence");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Duration of silence in seconds", this));
  edit_ = Edit("1088", this);
  layout->addWidget(edit_);
  OkCancel(this, layout);
}

void InsertSilenceDlg::LoadFields() { edit_->setText(NumberText(seconds, 6)); }

bool InsertSilenceDlg::SaveFields() {
  float value = 0;
  if (!ParseRange(edit_->text(), 0.0001f, 3600.0f, &value)) {
    Refuse(this, edit_, NumberRangeMessage(0.0001, 3600));
    return false;
  }
  seconds = value;
  return true;
}

// ---- Preferences ----

PreferencesDlg::PreferencesDlg(QWidget* parent) : FieldDialog(parent) {
  setWindowTitle("Preferences");
  auto* layout = new QVBoxLayout(this);
  intro_ = Check("Show \"introduction\" window on startup", "1046", this);
  dc_ = Check("Correct DC offsets in audio data", "1047", this);
  anywhere_ = Check("Match anywhere", "matchAnywhere", this);
  anywhere_->setToolTip("Find sounds wherever they start, not only on the 0.05 s block grid");
  bySound_ = Check("Find what sounds the same (other voices, speeds, levels, noise, rooms)", "searchBySound", this);
  bySound_->setToolTip("Off: compare the blocks' signatures, as the web search does");
  layout->addWidget(intro_);
  layout->addWidget(dc_);
  layout->addWidget(anywhere_);
  layout->addWidget(bySound_);
  auto* levels = new QHBoxLayout;
  undoLevels_ = new QSpinBox(this);
  undoLevels_->setObjectName("undoLevels");
  undoLevels_->setRange(0, 100000);
  undoLevels_->setSpecialValueText("Unlimited");  // 0
  undoLevels_->setToolTip("Edits that can be undone; undo keeps what each edit replaced, no more");
  levels->addWidget(new QLabel("Undo levels:", this));
  levels->addWidget(undoLevels_);
  levels->addStretch();
  layout->addLayout(levels);
  auto* row = new QHBoxLayout;
  url_ = Edit("searchUrl", this);
  url_->setPlaceholderText(kDefaultSearchUrl);
  url_->setMinimumWidth(320);
  row->addWidget(new QLabel("Search service:", this));
  row->addWidget(url_);
  layout->addLayout(row);
  OkCancel(this, layout);
}

void PreferencesDlg::LoadFields() {
  intro_->setChecked(showIntroduction);
  dc_->setChecked(correctDC);
  anywhere_->setChecked(matchAnywhere);
  bySound_->setChecked(searchBySound);
  undoLevels_->setValue(undoLevels);
  url_->setText(searchUrl);
}

bool PreferencesDlg::SaveFields() {
  // The address is handed to the browser as it is: only web addresses are taken.
  const QString text = url_->text().trimmed();
  if (!text.isEmpty()) {
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != "http" && scheme != "https") || url.host().isEmpty()) {
      Refuse(this, url_, "Enter a web address that begins with http:// or https://, or leave the box empty.");
      return false;
    }
  }
  showIntroduction = intro_->isChecked();
  correctDC = dc_->isChecked();
  matchAnywhere = anywhere_->isChecked();
  searchBySound = bySound_->isChecked();
  undoLevels = undoLevels_->value();
  searchUrl = text;
  return true;
}

// ---- Web search ----

SonquestDlg::SonquestDlg(QWidget* parent) : FieldDialog(parent) {
  setWindowTitle("Sonquest on Web");
  auto* layout = new QVBoxLayout(this);
  auto* row = new QHBoxLayout;
  auto* formats = new QGroupBox("File Formats", this);
  auto* fl = new QVBoxLayout(formats);
  aiff_ = Check("AIFF", "1034", formats);
  au_ = Check("AU", "1035", formats);
  wave_ = Check("WAVE", "1036", formats);
  mp3_ = Check("MP3", "1043", formats);
  flac_ = Check("FLAC", "flac", formats);
  ogg_ = Check("Ogg Vorbis", "ogg", formats);
  opus_ = Check("Opus", "opus", formats);
  m4a_ = Check("M4A", "m4a", formats);
  for (QCheckBox* b : {aiff_, au_, wave_, mp3_, flac_, ogg_, opus_, m4a_}) fl->addWidget(b);
  row->addWidget(formats);
  auto* channelGroup = new QGroupBox(this);
  auto* chl = new QVBoxLayout(channelGroup);
  chl->addWidget(new QLabel("Number of\nChannels", channelGroup));
  mono_ = Check("mono", "1038", channelGroup);
  stereo_ = Check("stereo", "1039", channelGroup);
  chl->addWidget(mono_);
  chl->addWidget(stereo_);
  chl->addStretch();
  row->addWidget(channelGroup);
  layout->addLayout(row);

  auto* grid = new QGridLayout;
  resolution_ = EditableCombo("1040", {"8-bit", "16-bit", "24-bit"}, this);
  rate_ = EditableCombo("1041", {"8000 Hz", "11025 Hz", "22050 Hz", "44100 Hz", "96000 Hz"}, this);
  size_ = EditableCombo("1042", {"8 MB", "2 MB", "1 MB", "512k", "256k", "128k", "64k", "32k", "16k"}, this);
  grid->addWidget(new QLabel("Minimum\nResolution", this), 0, 0);
  grid->addWidget(new QLabel("Minimum\nSample Rate", this), 0, 1);
  grid->addWidget(new QLabel("Maximum\nFile Size", this), 0, 2);
  grid->addWidget(resolution_, 1, 0);
  grid->addWidget(rate_, 1, 1);
  grid->addWidget(size_, 1, 2);
  layout->addLayout(grid);
  OkCancel(this, layout);
}

void SonquestDlg::LoadFields() {
  aiff_->setChecked(aiff);
  au_->setChecked(au);
  wave_->setChecked(wave);
  mp3_->setChecked(mp3);
  flac_->setChecked(flac);
  ogg_->setChecked(ogg);
  opus_->setChecked(opus);
  m4a_->setChecked(m4a);
  mono_->setChecked(mono);
  stereo_->setChecked(stereo);
  resolution_->setEditText(resolution);
  rate_->setEditText(rate);
  size_->setEditText(size);
}

bool SonquestDlg::SaveFields() {
  aiff = aiff_->isChecked();
  au = au_->isChecked();
  wave = wave_->isChecked();
  mp3 = mp3_->isChecked();
  flac = flac_->isChecked();
  ogg = ogg_->isChecked();
  opus = opus_->isChecked();
  m4a = m4a_->isChecked();
  mono = mono_->isChecked();
  stereo = stereo_->isChecked();
  resolution = resolution_->currentText();
  rate = rate_->currentText();
  size = size_->currentText();
  return true;
}

WebSearchChoices SonquestDlg::Choices() const {
  WebSearchChoices c;
  c.aiff = aiff;
  c.au = au;
  c.wave = wave;
  c.flac = flac;
  c.ogg = ogg;
  c.opus = opus;
  c.m4a = m4a;
  c.mono = mono;
  c.stereo = stereo;
  c.resolution = resolution.toStdString();
  c.rate = rate.toStdString();
  c.size = size.toStdString();
  return c;
}

void SonquestDlg::SetChoices(const WebSearchChoices& c) {
  aiff = c.aiff;
  au = c.au;
  wave = c.wave;
  flac = c.flac;
  ogg = c.ogg;
  opus = c.opus;
  m4a = c.m4a;
  mono = c.mono;
  stereo = c.stereo;
  resolution = QString::fromStdString(c.resolution);
  rate = QString::fromStdString(c.rate);
  size = QString::fromStdString(c.size);
}

// ---- Introduction and About ----

namespace {
QLabel* IconLabel(QWidget* parent) {
  const QIcon icon = QApplication::windowIcon();
  if (icon.isNull()) return nullptr;
  auto* label = new QLabel(parent);
  label->setPixmap(icon.pixmap(48, 48));
  return label;
}
}  // namespace

CIntroDlg::CIntroDlg(QWidget* parent) : QDialog(parent) {
  setAttribute(Qt::WA_DeleteOnClose);
  setModal(false);
  setWindowTitle("Introduction to Tintwave");
  auto* layout = new QVBoxLayout(this);
  if (QLabel* icon = IconLabel(this)) layout->addWidget(icon, 0, Qt::AlignHCenter);
  auto* text = new QPlainTextEdit(this);
  text->setObjectName("1009");
  text->setReadOnly(true);
  text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  text->setPlainText(IntroductionText().left(10000));
  text->setMinimumSize(440, 300);
  layout->addWidget(text);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->button(QDialogButtonBox::Ok)->setObjectName("1");
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addWidget(buttons);
  // A modeless dialog is closed, not just hidden, by OK, so that it goes away for good.
  connect(this, &QDialog::finished, this, &QWidget::close);
}

QString CIntroDlg::IntroductionText() {
  return QStringLiteral(
      "Welcome to Tintwave\n"
      "Tintwave is an audio editor that draws a sound as a waveform coloured by its frequency "
      "content, so that parts that sound alike look alike. It can also find the places in a "
      "file that sound like a part you select.\n\n"
      "Opening and playing a file\n"
      "Choose File > Open (Ctrl+O), drag a file onto the window, or name it on the command "
      "line. WAVE, AIFF, AU, VOC, IFF/8SVX, MPEG audio, tracker modules, MIDI files and "
      "headerless raw files can be read. Press Space to play and Space again to pause; "
      "Backspace stops. Without a selection playing starts at the cursor; with one it plays "
      "the selection.\n\n"
      "Searching by sound\n"
      "Select a sound by dragging the mouse over the waveform. Find Next (F3) and Find "
      "Previous (Shift+F3) move the cursor to the next or previous place that sounds like "
      "it. The slider labelled \"Matches:\" sets how alike a place must be: towards \"Many\" "
      "more places count as matches, towards \"Few\" only the closest ones. Sonquest on Web "
      "(Ctrl+F) sends the sound of the selection (at most 10 seconds, or the whole file when "
      "nothing is selected) to a web search service for similar sounds and shows the results "
      "in your web browser.\n\n"
      "No warranty\n"
      "Tintwave is provided as it is, without warranty of any kind, express or implied, "
      "including the warranties of merchantability and fitness for a particular purpose. "
      "Keep copies of the files you edit: the authors are not liable for any loss of data or "
      "other damage arising from the use of this program.\n");
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle("About Tintwave Audio Editor");
  auto* layout = new QHBoxLayout(this);
  if (QLabel* icon = IconLabel(this)) layout->addWidget(icon, 0, Qt::AlignTop);
  auto* column = new QVBoxLayout;
  column->addWidget(new QLabel("Tintwave Audio Editor", this));
  column->addWidget(new QLabel("Version 3.0", this));
  column->addWidget(new QLabel("Edits, records and searches sounds by their sound.", this));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->button(QDialogButtonBox::Ok)->setObjectName("1");
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  column->addWidget(buttons);
  layout->addLayout(column);
}
