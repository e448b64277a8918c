// The Save As dialog: Qt's own file chooser (not the desktop's, so that the panel of lists can
// join its layout), with the channel, encoding and rate lists under the file type list.
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>
#include <algorithm>

#include "app/AppUi.h"
#include "app/Dialogs.h"
#include "formats/FormatCodes.h"
#include "pipeline/AudioDecoder.h"

const char* const SaveAsDlg::kFilters =
    "Macintosh AIFF (*.aif,*.aiff)|*.aif; *.aiff|Sun (Java) File (*.au,*.snd)|*.au; *.snd|"
    "WAVE (Microsoft) (*.wav)|*.wav|FLAC (*.flac)|*.flac|Ogg Vorbis (*.ogg)|*.ogg|Opus (*.opus)|*.opus|"
    "MP3 (*.mp3)|*.mp3||";

namespace {
constexpr int kAiff = 1, kAu = 2, kWave = 3, kFlac = 4, kOgg = 5, kOpus = 6, kMp3 = 7;

int ValidFilter(int index) { return index >= kAiff && index <= kMp3 ? index : kWave; }

const char* ExtensionOfFilter(int index) {
  switch (index) {
    case kAiff: return ".aiff";
    case kAu: return ".au";
    case kFlac: return ".flac";
    case kOgg: return ".ogg";
    case kOpus: return ".opus";
    case kMp3: return ".mp3";
    default: return ".wav";
  }
}

// The codec types' lists: each entry an encoding with its setting; the first is the default.
std::vector<int> CodecEncodings(int filterIndex) {
  switch (filterIndex) {
    case kFlac:
      return {WithSetting(CompressionPcm16, 5), WithSetting(CompressionPcm16, 8), WithSetting(CompressionPcm16, 0),
              WithSetting(CompressionPcm24, 5), WithSetting(CompressionPcm24, 8), WithSetting(CompressionPcm24, 0)};
    case kOgg:
      return {WithSetting(CompressionVorbis, 50), WithSetting(CompressionVorbis, 30), WithSetting(CompressionVorbis, 70),
              WithSetting(CompressionVorbis, 100), WithSetting(CompressionVorbis, 0)};
    case kOpus:
      return {WithSetting(CompressionOpus, 96), WithSetting(CompressionOpus, 32), WithSetting(CompressionOpus, 64),
              WithSetting(CompressionOpus, 128), WithSetting(CompressionOpus, 192), WithSetting(CompressionOpus, 256)};
    case kMp3:
      return {WithSetting(CompressionMpegLayer3, 192), WithSetting(CompressionMpegLayer3, 128),
              WithSetting(CompressionMpegLayer3, 256), WithSetting(CompressionMpegLayer3, 320),
              WithSetting(CompressionMpegLayer3, 0) | kVbrFlag, WithSetting(CompressionMpegLayer3, 2) | kVbrFlag,
              WithSetting(CompressionMpegLayer3, 4) | kVbrFlag};
    default: return {};
  }
}
}  // namespace

// ---- the tables ----

int SaveAsDlg::FileTypeOfFilter(int index) {
  switch (index) {
    case kAiff: return FileFormatAiff;
    case kAu: return FileFormatAu;
    case kFlac: return FileFormatFlac;
    case kOgg: return FileFormatOggVorbis;
    case kOpus: return FileFormatOpus;
    case kMp3: return FileFormatMpeg;
    default: return FileFormatWave;
  }
}

int SaveAsDlg::FilterOfFileType(int type) {
  switch (type) {
    case FileFormatAiff: return kAiff;
    case FileFormatAu: return kAu;
    case FileFormatFlac: return kFlac;
    case FileFormatOggVorbis: return kOgg;
    case FileFormatOpus: return kOpus;
    case FileFormatMpeg: return kMp3;
    default: return kWave;
  }
}

std::vector<int> SaveAsDlg::EncodingsOf(int filterIndex) {
  switch (ValidFilter(filterIndex)) {
    case kAiff: return {16, 17, 18, 2, 3};
    case kAu: return {16, 17, 2, 3};
    case kWave: return {16, 17, 18, 19, 20, 2, 3};
    default: return CodecEncodings(filterIndex);
  }
}

int SaveAsDlg::PositionOf(int filterIndex, int code) {
  if (ValidFilter(filterIndex) > kWave) {
    // The entry itself; a FLAC encoding of the other width, or none, falls on the default.
    const std::vector<int> codes = CodecEncodings(filterIndex);
    const auto at = std::find(codes.begin(), codes.end(), code);
    if (at != codes.end()) return int(at - codes.begin());
    const bool wide = BaseCompression(code) == CompressionPcm24 || BaseCompression(code) == CompressionPcm32 ||
                      BaseCompression(code) == CompressionFloat32;
    return filterIndex == kFlac && wide ? 3 : 0;
  }
  const int column = ValidFilter(filterIndex) - 1;  // AIFF, AU, WAVE
  static const int kMuLaw[] = {3, 2, 5}, kALaw[] = {4, 3, 6}, kPcm24[] = {2, 1, 2}, kPcm32[] = {2, 1, 3},
                   kFloat[] = {2, 1, 4};
  switch (code) {
    case CompressionMuLaw: return kMuLaw[column];
    case CompressionALaw: return kALaw[column];
    case CompressionNone:
    case CompressionPcm8: return 0;
    case CompressionPcm24: return kPcm24[column];
    case CompressionPcm32: return kPcm32[column];
    case CompressionFloat32: return kFloat[column];
    default: return 1;  // 16-bit PCM and every code the type cannot write
  }
}

QString SaveAsDlg::EncodingName(int code) {
  if (HasSetting(code)) {
    const int setting = SettingOf(code);
    switch (BaseCompression(code)) {
      case CompressionPcm16: return QString::asprintf("16-bit, level %d", setting);
      case CompressionPcm24: return QString::asprintf("24-bit, level %d", setting);
      case CompressionVorbis: return QString::asprintf("quality %g", setting / 10.0);
      case CompressionOpus: return QString::asprintf("%d kbit/s", setting);
      case CompressionMpegLayer3:
        return IsVbr(code) ? QString::asprintf("variable bit rate, V%d", setting) : QString::asprintf("%d kbit/s", setting);
    }
  }
  switch (code) {
    case CompressionPcm8: return "8-bit PCM";
    case CompressionPcm16: return "16-bit PCM";
    case CompressionPcm24: return "24-bit PCM";
    case CompressionPcm32: return "32-bit PCM";
    case CompressionFloat32: return "32-bit PCM IEEE";
    case CompressionMuLaw: return "G.711 u-Law";
    case CompressionALaw: return "G.711 A-Law";
    default: return "Unsupported";
  }
}

int SaveAsDlg::RateOfText(const QString& text) {
  const QString t = text.trimmed();
  int end = 0;
  while (end < t.size() && end < 10 && t[end].isDigit()) ++end;
  bool ok = false;
  const long long rate = t.left(end).toLongLong(&ok);
  return ok && rate <= 2147483647 ? int(rate) : 0;
}

// ---- the dialog ----

SaveAsDlg::SaveAsDlg(QWidget* parent) : QFileDialog(parent) {
  setOption(QFileDialog::DontUseNativeDialog, true);
  setAcceptMode(QFileDialog::AcceptSave);
  setFileMode(QFileDialog::AnyFile);
  setWindowTitle("Save As");
  setNameFilters(AppUi::NameFilters(kFilters));

  channels_ = new QComboBox(this);
  channels_->setObjectName("1096");
  channels_->addItems({"mono", "stereo"});
  compression_ = new QComboBox(this);
  compression_->setObjectName("1042");
  rates_ = new QComboBox(this);
  rates_->setObjectName("1041");
  rates_->addItems({"8000 Hz", "11025 Hz", "22050 Hz", "44100 Hz", "48000 Hz", "96000 Hz"});

  const std::pair<const char*, QComboBox*> rows[] = {
      {"Channels:", channels_}, {"Compression:", compression_}, {"Sample Rate:", rates_}};
  if (auto* grid = qobject_cast<QGridLayout*>(layout())) {
    // Under the file type row, in the columns of its label and its list.
    for (const auto& [label, list] : rows) {
      const int row = grid->rowCount();
      grid->addWidget(new QLabel(label, this), row, 0);
      grid->addWidget(list, row, 1);
    }
  } else if (layout()) {
    auto* panel = new QWidget(this);
    auto* grid = new QGridLayout(panel);
    int row = 0;
    for (const auto& [label, list] : rows) {
      grid->addWidget(new QLabel(label, panel), row, 0);
      grid->addWidget(list, row++, 1);
    }
    layout()->addWidget(panel);
  }

  connect(this, &QFileDialog::filterSelected, this, [this](const QString& filter) {
    const int index = int(nameFilters().indexOf(filter)) + 1;
    if (index > 0) ChangeType(index);
  });
  connect(compression_, &QComboBox::activated, this, [this](int position) {
    const std::vector<int> codes = EncodingsOf(shownFilter_);
    if (position >= 0 && position < int(codes.size())) compression = codes[position];
  });
}

QLineEdit* SaveAsDlg::NameBox() const { return findChild<QLineEdit*>("fileNameEdit"); }

QString SaveAsDlg::NameBoxText() const {
  if (QLineEdit* box = NameBox()) return box->text();
  return selectedFiles().value(0);
}

void SaveAsDlg::FillCompression(int filterIndex, int position) {
  compression_->clear();
  for (int code : EncodingsOf(filterIndex)) compression_->addItem(EncodingName(code));
  compression_->setCurrentIndex(std::clamp(position, 0, compression_->count() - 1));
  shownFilter_ = filterIndex;
}

void SaveAsDlg::LoadFields() {
  const int filter = ValidFilter(filterIndex);
  selectNameFilter(nameFilters().value(filter - 1));
  if (!path.isEmpty()) {
    const QFileInfo info(path);
    if (path.contains('/')) setDirectory(info.absolutePath());
    selectFile(info.fileName());
  }
  channels_->setCurrentIndex(channelPosition == 1 ? 1 : 0);

  // The rate list offers the usual rates; a document's own rate joins it in its place.
  const int rate = RateOfText(rateText);
  int shown = -1;
  for (int i = 0; i < rates_->count() && shown < 0; ++i)
    if (RateOfText(rates_->itemText(i)) == rate) shown = i;
  if (shown < 0 && rate > 0) {
    shown = 0;
    while (shown < rates_->count() && RateOfText(rates_->itemText(shown)) < rate) ++shown;
    rates_->insertItem(shown, QString::asprintf("%d Hz", rate));
  }
  rates_->setCurrentIndex(shown);

  // The list shows where the encoding falls for this type. An encoding the type does not offer
  // (an AU file's 24 bits, say) becomes the one shown: the file is saved as the list says.
  const int position = PositionOf(filter, compression);
  const std::vector<int> offered = EncodingsOf(filter);
  if (std::find(offered.begin(), offered.end(), compression) == offered.end() && position >= 0 &&
      position < int(offered.size()))
    compression = offered[std::size_t(position)];
  FillCompression(filter, position);
}

void SaveAsDlg::ChangeType(int index) {
  if (index < kAiff || index > kMp3) return;
  const QString filter = nameFilters().value(index - 1);
  if (selectedNameFilter() != filter) selectNameFilter(filter);
  if (QLineEdit* box = NameBox()) {
    // The extension of the name itself; a dot in a folder of a typed path is not one.
    QString name = box->text();
    const qsizetype dot = name.lastIndexOf('.');
    if (dot >= 0 && dot > name.lastIndexOf('/')) {
      name = name.left(dot) + ExtensionOfFilter(index);
      box->setText(name);
    }
  }
  const int position = PositionOf(index, compression);
  const std::vector<int> codes = EncodingsOf(index);
  compression = codes[std::clamp(position, 0, int(codes.size()) - 1)];
  FillCompression(index, position);
}

bool SaveAsDlg::SaveFields() {
  const QString text = rates_->currentText();
  const int rate = RateOfText(text);
  if (rate < CAP_AudioDecoder::kMinRate || rate > CAP_AudioDecoder::kMaxRate) {
    AppUi::Current().ShowWarning(this, QString::asprintf("Sample rate must be between %d and %d",
                                                         CAP_AudioDecoder::kMinRate, CAP_AudioDecoder::kMaxRate));
    return false;
  }
  rateText = text;
  channelPosition = channels_->currentIndex() == 1 ? 1 : 0;
  const int selected = int(nameFilters().indexOf(selectedNameFilter())) + 1;
  filterIndex = selected > 0 ? selected : shownFilter_;
  if (!selectedFiles().isEmpty()) path = selectedFiles().first();
  return true;
}

void SaveAsDlg::accept() {
  if (!SaveFields()) return;
  // Qt checks the name, enters a typed folder and asks before replacing a file.
  QFileDialog::accept();
}

void SaveAsDlg::done(int result) {
  if (result == QDialog::Accepted && !selectedFiles().isEmpty()) path = selectedFiles().first();
  QFileDialog::done(result);
}
