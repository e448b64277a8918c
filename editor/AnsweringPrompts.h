#pragma once
// Dialogs answered with values set beforehand, for commands run with nobody to ask: the
// journal's replay, the benchmarks, the tests. Recording, the web search and Save As are
// refused unless a caller overrides them.
#include <string>

#include "editor/Document.h"

struct AnsweringPrompts : DocumentPrompts {
  int mixClipboard = 50, mixWaveform = 50, volume = 100, pitch = 0;
  double silence = 1.0, changePitch = 0, changeTempo = 0;
  bool answer = true;  // false: every valued dialog is cancelled
  SaveChangesAnswer saveChanges = SaveChangesAnswer::Cancel;

  bool AskMixLevels(int* c, int* w) override {
    *c = mixClipboard;
    *w = mixWaveform;
    return answer;
  }
  bool AskVolume(int* p) override {
    *p = volume;
    return answer;
  }
  bool AskPitch(int* h) override {
    *h = pitch;
    return answer;
  }
  bool AskSilence(double* s) override {
    *s = silence;
    return answer;
  }
  bool AskChangePitch(double* h) override {
    *h = changePitch;
    return answer;
  }
  bool AskChangeTempo(double* p) override {
    *p = changeTempo;
    return answer;
  }
  bool AskRecord(int, int, bool*, float*, float*) override { return false; }
  bool AskWebSearch(WebSearchChoices*) override { return false; }
  SaveChangesAnswer AskSaveChanges(const std::string&) override { return saveChanges; }
  bool AskSaveAs(SaveAsRequest*) override { return false; }
};
