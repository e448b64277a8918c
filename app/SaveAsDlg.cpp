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
    "WAVE (Microsoft) (*.wav)|*.wav||";

namespace {
constexpr int kAiff = 1, kAu = 2, kWave = 3;

int ValidFilter(int index) { return index >= kAiff && index <= kWave ? index : kWave; }

const char* ExtensionOfFilter(int index) {
  switch (index) {
    case kAiff: return ".aiff";
    case kAu: return ".au";
    default: return ".wav";
  }
}
}  // namespace

// ---- the tables ----

int SaveAsDlg::FileTypeOfFilter(int index) {
  switch (index) {
    case kAiff: return FileFormatAiff;
    case kAu: return FileFormatAu;
    default: return FileFormatWave;
  }
}

int SaveAsDlg::FilterOfFileType(int type) {
  switch (type) {
    case FileFormatAiff: return kAiff;
    case FileFormatAu: return kAu;
    default: return kWave;
  }
}

std::vector<int> SaveAsDlg::EncodingsOf(int filterIndex) {
  switch (ValidFilter(filterIndex)) {
    case kAiff: return {16, 17, 18, 2, 3};
    case kAu: return {16, 17, 2, 3};
    default: return {16, 17, 18, 19, 20, 2, 3};
  }
}

int SaveAsDlg::PositionOf(int filterIndex, int code) {
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
  if (index < kAiff || index > kWave) return;
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
