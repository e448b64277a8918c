#pragma once
// Min/max summaries of a block in levels that each reduce the one below by 8; level 0 is the
// samples. The low levels would take much room beside the samples, so they are worked out from
// the samples when asked: a block's data array holds its samples followed by levels 3 and up (a
// computed block's, levels 2 and up alone); a short block keeps at least its top level.
#include "analysis/SampleTrack.h"

// Floats the stored summary levels of a block of n samples take (computed: of a computed track).
int SummaryFloats(int n, bool computed);
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
