#pragma once
// Min/max summaries of a block in levels that each reduce the one below by 8; level 0 is the
// samples. Level 1 (one entry per 8 samples) would take a quarter as much room as the samples, so
// it is not stored but worked out from them when asked: the block's data array holds the samples
// followed by levels 2 and up (level 1 alone when it has a single entry).
#include "analysis/SampleTrack.h"

// Floats the stored summary levels of a block of n samples take.
int SummaryFloats(int n);
// Rebuilds every stored level from the block's samples (given: a computed block keeps none).
void BuildSummaries(SampleBlock* block, const float* samples);
inline void BuildSummaries(SampleBlock* block) { BuildSummaries(block, block->Samples()); }
// Lowers min and raises max by the entries from .. to - 1 of the given level; samples are the
// block's (levels 0 and 1 come from them).
void BlockMinMax(const SampleBlock* block, const float* samples, int from, int to, int level, float& min,
                 float& max);
inline void BlockMinMax(const SampleBlock* block, int from, int to, int level, float& min, float& max) {
  BlockMinMax(block, block->Samples(), from, to, level, min, max);
}
// The single entry of the top level: the block's min and max (min at most 1, max at least -1).
void BlockTotalMinMax(const SampleBlock* block, float& min, float& max);
