#pragma once
// The band shapes of a track's blocks, as the sound search reads them. Each block keeps its own
// in its record (SampleBlock::bands), so it lives and dies with the record, travels with it into
// an edit's history and back, and is cleared whenever the samples change. Loading and editing
// only mark it missing; the first search after computes what is missing, on a worker thread
// beside the caller's when there is much of it. Call from the thread that owns the track.
class CAP_SampleTrack;
struct SampleBlock;

// Computes the shape of every block of the track that has none at the track's rate.
void FillBandShapes(CAP_SampleTrack& track);
