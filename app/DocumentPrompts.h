#pragma once
// The document's questions answered by the application's dialogs, run through AppUi.
#include <QPointer>
#include <QWidget>

#include "editor/Document.h"

class QtDocumentPrompts : public DocumentPrompts {
public:
  // parent: the window the dialogs belong to; devices: the record dialog's input.
  QtDocumentPrompts(QWidget* parent, WaveDeviceFactory devices);
  void SetParent(QWidget* parent) { parent_ = parent; }

  bool AskMixLevels(int* clipboardPercent, int* waveformPercent) override;
  bool AskVolume(int* percent) override;
  bool AskPitch(int* halftones) override;
  bool AskPitchWithin(int* halftones, int lowest, int highest, const std::string& rangeText) override;
  bool AskChangePitch(double* halftones) override;
  bool AskChangeTempo(double* percent) override;
  bool AskSilence(double* seconds) override;
  bool AskRecord(int channels, int rate, bool* correctDC, float* dcLeft, float* dcRight) override;
  bool AskWebSearch(WebSearchChoices* choices) override;
  SaveChangesAnswer AskSaveChanges(const std::string& name) override;  // "Save changes to %s"
  bool AskSaveAs(SaveAsRequest* request) override;

private:
  QPointer<QWidget> parent_;
  WaveDeviceFactory devices_;
};
