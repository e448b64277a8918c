#pragma once
// The search for what a listener hears as the same sound: the blocks' band energies as cepstra
// (the spectrum's shape, whatever its level), a time-warping alignment of the prototype's blocks
// with every stretch of the track (a candidate may take from half to twice as long), and a second
// alignment of the best candidates with the prototype shifted by fractions of its first block,
// and for a word (a prototype whose spectrum moves) a finer look at the best runs on frames every
// 10 ms with bands up to 8 kHz, made from their samples, which alone scores them.
// Leaves the same marks on the blocks as the signature search: scores 0..100, claimed runs, the
// sound's start on each run's head. Runs on the calling thread (the track's owner), with a worker
// beside it for the blocks' missing band shapes and for the second alignments when there are
// many; the results are those of the calling thread alone.
#include <string>

class CAP_SampleTrack;

enum class SearchMode {
  Sound,     // the spectral search above (the default)
  Anywhere,  // signatures, the prototype at 16 phases of its first block
  Grid,      // signatures, on the block grid only
};

// "sound", "anywhere", "grid"; false for another name.
bool ParseSearchMode(const std::string& name, SearchMode* mode);
const char* SearchModeName(SearchMode mode);

// The prototype is samples start .. start + count - 1 of the track; one longer than 30 s is
// searched by signatures, as SearchMode::Anywhere.
void ComputeSoundMatches(CAP_SampleTrack& track, int count, int start);
// The fast search remembers what it found near each run for the next searches of the last few
// prototypes (after an edit it computes again only what the edit touched); this forgets it all,
// so that the next search computes everything (benchmarks).
void ForgetRememberedSearches();
// Forgets what was found for the prototypes but keeps what the search knows of the blocks
// whatever the prototype (as after an edit of the selection itself: benchmarks).
void ForgetRememberedPrototypes();
// The same search written plainly (the block list walked, every cell of the alignment kept);
// slower, kept to check the fast search against.
void ComputeSoundMatchesReference(CAP_SampleTrack& track, int count, int start);
// The search of the mode.
void FindSoundsLike(CAP_SampleTrack& track, int count, int start, SearchMode mode);
