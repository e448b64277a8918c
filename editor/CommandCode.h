#pragma once
// The codes IsCommandEnabled answers; several commands share one code (Mute and Volume, Fade In
// and Fade Out). Any code not listed is enabled whenever nothing is being recorded.
enum CommandCode : int {
  CommandUndo = 0,
  CommandRedo = 1,
  CommandCut = 2,
  CommandCopy = 3,
  CommandPaste = 4,
  CommandMix = 5,
  CommandDelete = 6,
  CommandTrim = 7,
  CommandWebSearch = 8,
  CommandFindPrevious = 10,
  CommandFindNext = 11,
  CommandZoomIn = 12,
  CommandZoomOut = 13,
  CommandColoredWaveform = 14,
  CommandInsertSilence = 16,
  CommandNormalize = 17,
  CommandMuteVolume = 18,
  CommandFade = 19,
  CommandReverse = 20,
  CommandPlay = 21,
  CommandPause = 22,
  CommandStop = 23,
  CommandRecord = 25,
  CommandStretch = 26,  // Change Pitch, Change Tempo
};
