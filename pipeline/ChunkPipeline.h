#pragma once
// Chunks made in order by one producer and taken in order by several lanes, the lanes running in
// parallel. The calling thread produces (decodes) into a ring of slots; worker threads, and the
// calling thread whenever the ring is full, run each lane over the chunks it has not taken yet.
// A lane runs on one thread at a time and sees its chunks in order, so whatever a lane changes
// (one track) ends as if the lanes had run one after another. A slot is refilled only after
// every lane has taken it. The producer and the progress it reports run on the calling thread.
#include <functional>

struct ProducedChunk {
  bool filled = false;  // the slot holds a chunk for the lanes
  bool more = false;    // the producer has more to give
};

// produce(slot) fills the slot; consume(lane, slot) takes it. threads counts the calling thread
// (1 = no workers). Returns once every produced chunk went through every lane; the first
// exception of the producer or a lane is rethrown then (no chunk is produced after it).
void RunChunkPipeline(int lanes, int slots, int threads, const std::function<ProducedChunk(int)>& produce,
                      const std::function<void(int, int)>& consume);
