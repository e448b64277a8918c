#pragma once
// The General MIDI Level 1 names of the programs and of the percussion keys, for the MIDI
// reader's listing of the instruments a file uses.

// Program 0..127 ("Acoustic Grand Piano" .. "Gunshot"); null outside that range.
const char* GeneralMidiProgramName(int program);
// Percussion key 35..81 ("Acoustic Bass Drum" .. "Open Triangle"); null outside that range.
const char* GeneralMidiPercussionName(int key);
