#include "app/DocumentPrompts.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>

#include "app/AppUi.h"
#include "app/Dialogs.h"
#include "app/StretchDialogs.h"

QtDocumentPrompts::QtDocumentPrompts(QWidget* parent, WaveDeviceFactory devices)
    : parent_(parent), devices_(std::move(devices)) {}

bool QtDocumentPrompts::AskMixLevels(int* clipboardPercent, int* waveformPercent) {
  // The sliders stand with 100 % at the top, where their position is 0.
  MixerDlg dialog(parent_);
  dialog.clipboardPosition = 100 - std::clamp(*clipboardPercent, 0, 100);
  dialog.waveformPosition = 100 - std::clamp(*waveformPercent, 0, 100);
  if (!AppUi::Current().RunDialog(dialog)) return false;
  *clipboardPercent = 100 - dialog.clipboardPosition;
  *waveformPercent = 100 - dialog.waveformPosition;
  return true;
}

bool QtDocumentPrompts::AskVolume(int* percent) {
  VolumeDlg dialog(parent_);
  dialog.percent = *percent;
  if (!AppUi::Current().RunDialog(dialog)) return false;
  *percent = dialog.percent;
  return true;
}

bool QtDocumentPrompts::AskPitch(int* halftones) {
  PitchShiftDlg dialog(parent_);
  dialog.halftones = *halftones;
  if (!AppUi::Current().RunDialog(dialog)) return false;
  *halftones = dialog.halftones;
  return true;
}

bool QtDocumentPrompts::AskPitchWithin(int* halftones, int lowest, int highest, const std::string& rangeText) {
  PitchShiftDlg dialog(parent_);
  dialog.halftones = *halftones;
  dialog.lowest = lowest;
  dialog.highest = highest;
  dialog.rangeText = QString::fromStdString(rangeText);
  if (!AppUi::Current().RunDialog(dialog)) return false;
  *halftones = dialog.halftones;
  return true;
}

bool QtDocumentPrompts::AskChangePitch(double* halftones) {
  ChangePitchDlg dialog(parent_);
  dialog.value = *halftones;
  if (!AppUi::Current().RunDialog(dialog)) return false;
  *halftones = dialog.value;
  return true;
}

bool QtDocumentPrompts::AskChangeTempo(double* percent) {
  ChangeTempoDlg dialog(parent_);
  dialog.value = *percent;
  if (!AppUi::Current().RunDialog(dialog)) return false;
  *percent = dialog.value;
  return true;
}

bool QtDocumentPrompts::AskSilence(double* seconds) {
  InsertSilenceDlg dialog(parent_);
  dialog.seconds = float(*seconds);
  if (!AppUi::Current().RunDialog(dialog)) return false;
  *seconds = dialog.seconds;
  return true;
}

bool QtDocumentPrompts::AskRecord(int channels, int rate, bool* correctDC, float* dcLeft, float* dcRight) {
  RecordDlg dialog(devices_, parent_);
  dialog.channels = channels;
  dialog.rate = rate;
  dialog.correctDC = *correctDC;
  if (!AppUi::Current().RunDialog(dialog)) return false;
  *correctDC = dialog.correctDC;
  *dcLeft = dialog.dcLeft;
  *dcRight = dialog.dcRight;
  return true;
}

bool QtDocumentPrompts::AskWebSearch(WebSearchChoices* choices) {
  SonquestDlg dialog(parent_);
  dialog.SetChoices(*choices);
  if (!AppUi::Current().RunDialog(dialog)) return false;
  *choices = dialog.Choices();
  return true;
}

SaveChangesAnswer QtDocumentPrompts::AskSaveChanges(const std::string& name) {
  const QMessageBox::StandardButton answer =
      AppUi::Current().AskYesNoCancel(parent_, QStringLiteral("Save changes to ") + QString::fromStdString(name));
  switch (answer) {
    case QMessageBox::Yes: return SaveChangesAnswer::Yes;
    case QMessageBox::No: return SaveChangesAnswer::No;
    default: return SaveChangesAnswer::Cancel;
  }
}

bool QtDocumentPrompts::AskSaveAs(SaveAsRequest* request) {
  SaveAsDlg dialog(parent_);
  const QString path = QFile::decodeName(QByteArray::fromStdString(request->path));
  if (path.contains('/')) dialog.setDirectory(QFileInfo(path).absolutePath());
  dialog.path = path;
  dialog.filterIndex = SaveAsDlg::FilterOfFileType(request->fileType);
  dialog.rateText = QString::asprintf("%d Hz", request->rate);
  dialog.compression = request->compression;
  dialog.channelPosition = request->channels == 2 ? 1 : 0;
  if (!AppUi::Current().RunDialog(dialog)) return false;
  request->path = QFile::encodeName(dialog.path).toStdString();
  request->fileType = SaveAsDlg::FileTypeOfFilter(dialog.filterIndex);
  request->rate = SaveAsDlg::RateOfText(dialog.rateText);
  request->channels = dialog.channelPosition + 1;
  request->compression = dialog.compression;
  return true;
}
