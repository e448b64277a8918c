// The similarity search: every block is scored as the start of a run as long as the prototype,
// and the best runs claim their blocks without overlap.
#include <algorithm>
#include <cstring>
#include <vector>

#include "analysis/AlignedRunScores.h"
#include "analysis/SampleTrack.h"
#include "analysis/SignatureKernels.h"

namespace {
// The run score over blocks laid out in arrays: the same walk as CAP_SampleTrack::RunScore.
// prototype[p - first] stands in for the signature of prototype block p.
float RunScoreIndexed(const PackedSignature* sig, const PackedSignature* prototype, const int* count,
                      int blocks, int first, int last, int q, int* runLength) {
  int n = 1;
  float sum = 0, weight = 0;
  int p = first;
  long long pStart = 0, qStart = 0;
  for (;;) {
    if (q >= blocks || p > last) {
      if (q >= blocks && p <= last) sum = 0;  // the track ends before a full run
      break;
    }
    const long long pEnd = pStart + count[p], qEnd = qStart + count[q];
    const float overlap = float(std::min(pEnd, qEnd) - std::max(pStart, qStart)) /
                          float(std::max(pEnd, qEnd) - std::min(pStart, qStart));
    const float w = std::max(overlap, 0.0f);
    sum = sum + ComparePacked(prototype[p - first], sig[q]) * w;
    weight = weight + w;
    if (qEnd >= pEnd) {
      pStart = pEnd;
      ++p;
    }
    if (pEnd >= qEnd) {
      if (p <= last) ++n;
      qStart = qEnd;
      ++q;
    }
    if (p >= blocks) break;
  }
  *runLength = n;
  return sum / std::max(weight, 0.01f);
}

// The claim order's key: scores order as these unsigned integers (negative scores below the
// positive ones, -0 with +0).
std::uint32_t ClaimKey(float score) {
  const float v = score == 0 ? 0.0f : score;
  std::uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  return bits & 0x80000000u ? ~bits : bits | 0x80000000u;
}

// Candidates ascending by score, equal scores in track order; claiming takes them from the end.
std::vector<int> ClaimOrderReference(const std::vector<float>& score) {
  std::vector<int> order(score.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = int(i);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return score[a] < score[b]; });
  return order;
}

// The same order by a stable two-pass radix sort of the scores' keys.
std::vector<int> ClaimOrder(const std::vector<float>& score) {
  const std::size_t n = score.size();
  std::vector<std::uint32_t> key(n);
  for (std::size_t i = 0; i < n; ++i) key[i] = ClaimKey(score[i]);
  std::vector<int> order(n), scratch(n);
  for (std::size_t i = 0; i < n; ++i) scratch[i] = int(i);
  for (int pass = 0; pass < 2; ++pass) {
    const int shift = 16 * pass;
    std::vector<std::size_t> count(65537, 0);
    for (std::size_t i = 0; i < n; ++i) ++count[((key[i] >> shift) & 0xFFFF) + 1];
    for (std::size_t d = 1; d < count.size(); ++d) count[d] += count[d - 1];
    const std::vector<int>& from = pass == 0 ? scratch : order;
    std::vector<int>& to = pass == 0 ? order : scratch;
    for (std::size_t i = 0; i < n; ++i) to[count[(key[from[i]] >> shift) & 0xFFFF]++] = from[i];
  }
  return scratch;
}
}  // namespace

float CAP_SampleTrack::RunScore(const SampleBlock* first, const SampleBlock* last,
                                const SampleBlock* q, int* runLength,
                                const SoundSignature* prototype) const {
  int n = 1;
  float sum = 0, weight = 0;
  const SampleBlock* p = first;
  const SoundSignature* pSignature = prototype ? prototype : &first->signature;
  bool pastLast = false;
  long long pStart = 0, qStart = 0;
  for (;;) {
    if (!q || pastLast) {
      if (!q && !pastLast) sum = 0;  // the track ends before a full run
      break;
    }
    const long long pEnd = pStart + p->count, qEnd = qStart + q->count;
    const float overlap = float(std::min(pEnd, qEnd) - std::max(pStart, qStart)) /
                          float(std::max(pEnd, qEnd) - std::min(pStart, qStart));
    const float w = std::max(overlap, 0.0f);
    sum = sum + CompareSignatures(pSignature, &q->signature) * w;
    weight = weight + w;
    if (qEnd >= pEnd) {
      pStart = pEnd;
      if (p == last) pastLast = true;
      p = p->next;
      if (p) pSignature = prototype ? pSignature + 1 : &p->signature;
    }
    if (pEnd >= qEnd) {
      if (p && !pastLast) ++n;
      qStart = qEnd;
      q = q->next;
    }
    if (!p) break;
  }
  if (runLength) *runLength = n;
  return sum / std::max(weight, 0.01f);
}

bool CAP_SampleTrack::ClaimRun(SampleBlock* block) {
  int k = 0;
  for (SampleBlock* b = block; b && k < block->runLength; b = b->next, ++k)
    if (b->runHead) return false;
  k = 0;
  for (SampleBlock* b = block; b && k < block->runLength; b = b->next, ++k) {
    b->runHead = block;
    b->score = block->score;
  }
  return true;
}

int CAP_SampleTrack::MarkPrototype(SampleBlock* first, SampleBlock* last) {
  for (SampleBlock* b = first; b; b = b->next) {
    b->inPrototype = true;
    if (b == last) break;
  }
  return BlockStart(first);
}

CAP_SampleTrack::PhasedPrototype CAP_SampleTrack::PrototypeAtPhases(const SampleBlock* first,
                                                                    const SampleBlock* last,
                                                                    int firstStart, int phases) {
  PhasedPrototype proto;
  for (const SampleBlock* b = first; b; b = b->next) {
    ++proto.blocks;
    proto.signature.push_back(b->signature);
    if (b == last) break;
  }
  proto.offset.push_back(0);
  // Equal steps over the first block, as far as the track reaches back; where the track has no
  // analyzer every phase is the same.
  if (sampleRate >= 8000)
    for (int k = 1; k < phases; ++k) {
      const int d = int(static_cast<long long>(k) * first->count / phases);
      if (d > firstStart) break;
      proto.offset.push_back(d);
    }
  const int shifts = int(proto.offset.size());
  if (shifts == 1) return proto;
  const int reach = proto.offset.back();
  proto.signature.resize(std::size_t(shifts) * proto.blocks);
  std::vector<float> window;
  int s = firstStart, i = 0;
  for (const SampleBlock* b = first; b; b = b->next, ++i) {
    // The samples of this block and, before them, as many as the largest shift reaches back.
    window.resize(std::size_t(b->count) + reach);
    ReadSamples(window.data(), b->count + reach, s - reach);
    for (int k = 1; k < shifts; ++k)
      ComputeBlockSignature(window.data() + (reach - proto.offset[k]), b->count, sampleRate,
                            &proto.signature[std::size_t(k) * proto.blocks + i]);
    s += b->count;
    if (b == last) break;
  }
  return proto;
}

namespace {
// On each run's head the sound's start, the winning phase's shift plus the selection's offset in
// its first block, kept inside the run (a Find Next from one sample after it stays in the run);
// elsewhere 0. Every block of a run carries its head's score.
void SettleRuns(SampleBlock* head, const std::vector<int>& offset, int selectionOffset,
                const std::vector<int>& phaseOfHead) {
  int i = 0;
  for (SampleBlock* b = head; b; b = b->next, ++i) {
    if (b->runHead != b) {
      b->matchOffset = 0;
      if (b->runHead) b->score = b->runHead->score;
      continue;
    }
    long long span = 0;
    int k = 0;
    for (const SampleBlock* r = b; r && k < b->runLength; r = r->next, ++k) span += r->count;
    b->matchOffset = int(std::min<long long>(offset[phaseOfHead[i]] + selectionOffset,
                                             std::max<long long>(span - 2, 0)));
  }
}

// The block length most blocks have (the shortest of equally common ones).
int MostCommonLength(const std::vector<int>& size) {
  std::vector<int> seen;
  for (int n : size) {
    if (n >= int(seen.size())) seen.resize(std::size_t(n) + 1, 0);
    ++seen[n];
  }
  return int(std::max_element(seen.begin(), seen.end()) - seen.begin());
}
}  // namespace

void CAP_SampleTrack::ComputeMatchesReference(int count, int start, int phases) {
  Settle();
  ClearAllMarks();
  if (count <= 0 || !head_) return;
  SampleBlock* first = Locate(start, nullptr);
  SampleBlock* last = Locate(start + count - 1, nullptr);
  const int firstStart = MarkPrototype(first, last);
  const PhasedPrototype proto = PrototypeAtPhases(first, last, firstStart, phases);
  const int shifts = int(proto.offset.size());
  auto prototypeAt = [&](int k) { return &proto.signature[std::size_t(k) * proto.blocks]; };
  std::vector<SampleBlock*> candidates;
  std::vector<float> score;
  std::vector<int> phase;
  for (SampleBlock* q = head_; q; q = q->next) {
    int n = 1, won = 0;
    for (int k = 0; k < shifts; ++k) {
      const float s = RunScore(first, last, q, &n, prototypeAt(k));
      if (k == 0 || s > q->score) {  // the earlier phase keeps a tie
        q->score = s;
        won = k;
      }
    }
    q->runLength = n;
    candidates.push_back(q);
    score.push_back(q->score);
    phase.push_back(won);
  }
  const std::vector<int> order = ClaimOrderReference(score);
  for (auto it = order.rbegin(); it != order.rend(); ++it) ClaimRun(candidates[*it]);
  SettleRuns(head_, proto.offset, phases > 1 ? start - firstStart : 0, phase);
}

void CAP_SampleTrack::MatchWholeTrack(int selectionOffset) {
  // Every later candidate ends past the track and scores 0; the first pairs each block with
  // itself at weight 1, so its walk adds the blocks' own comparisons in order.
  float sum = 0, weight = 0;
  PackedSignature packed;
  for (SampleBlock* b = head_; b; b = b->next) {
    PackSignature(b->signature, &packed);
    sum = sum + ComparePacked(packed, packed);
    weight = weight + 1.0f;
  }
  const float own = sum / std::max(weight, 0.01f);
  // Claims go from the highest score down, equal scores from the track's end: the first block's
  // run takes the track when it scores above 0; otherwise the last block alone claims itself (its
  // run ends past the track) and every other run overlaps it.
  const bool ownRunClaims = blockCount_ == 1 || ClaimKey(own) > ClaimKey(0.0f);
  SampleBlock* const head = ownRunClaims ? head_ : tail_;
  int i = 0;
  for (SampleBlock* b = head_; b; b = b->next, ++i) {
    b->inPrototype = true;
    b->runLength = i == 0 ? blockCount_ : blockCount_ - i + 1;
    b->runHead = ownRunClaims || b == tail_ ? head : nullptr;
    b->score = ownRunClaims || i == 0 ? own : 0.0f;
    b->matchOffset = 0;
  }
  const int span = ownRunClaims ? length_ : tail_->count;
  head->matchOffset = std::min(selectionOffset, std::max(span - 2, 0));
}

void CAP_SampleTrack::ComputeMatches(int count, int start, int phases) {
  Settle();
  if (count <= 0 || !head_) {
    ClearAllMarks();
    return;
  }
  // A prototype of every block can only meet itself (its phases start inside its first block,
  // and there is nothing before it to shift into). Found without locating its end, a walk.
  if (start < head_->count && (long long)start + count > length_ - tail_->count &&
      (phases <= 1 || sampleRate < 8000 || head_->count >= phases)) {
    MatchWholeTrack(phases > 1 ? start : 0);
    return;
  }
  ClearAllMarks();
  SampleBlock* firstBlock = Locate(start, nullptr);
  SampleBlock* lastBlock = Locate(start + count - 1, nullptr);
  const int firstStart = MarkPrototype(firstBlock, lastBlock);
  const PhasedPrototype proto = PrototypeAtPhases(firstBlock, lastBlock, firstStart, phases);
  const int shifts = int(proto.offset.size());

  // The blocks in arrays: the search reads each signature about 2P times.
  const int blocks = blockCount_;
  const std::size_t nb = static_cast<std::size_t>(blocks);
  std::vector<SampleBlock*> block(nb);
  std::vector<PackedSignature> sig(nb);
  std::vector<int> size(nb);
  std::vector<long long> blockStart(nb + 1, 0);
  int first = 0;
  {
    int i = 0;
    for (SampleBlock* b = head_; b; b = b->next, ++i) {
      block[i] = b;
      PackSignature(b->signature, &sig[i]);
      size[i] = b->count;
      blockStart[i + 1] = blockStart[i] + b->count;
      if (b == firstBlock) first = i;
    }
  }
  const int protoBlocks = proto.blocks, last = first + protoBlocks - 1;
  const long long protoSpan = blockStart[last + 1] - blockStart[first];
  std::vector<PackedSignature> protoSig(proto.signature.size());
  for (std::size_t i = 0; i < protoSig.size(); ++i) PackSignature(proto.signature[i], &protoSig[i]);
  auto walk = [&](int k, int q, int* n) {
    return RunScoreIndexed(sig.data(), &protoSig[std::size_t(k) * protoBlocks], size.data(), blocks,
                           first, last, q, n);
  };

  // Candidates on blocks of the track's usual length are all paired with the prototype's blocks
  // in the same way: one plan of the walk's pairs, scored lanes at a time. The rest walk.
  const int unit = MostCommonLength(size);
  std::vector<PairStep> plan;
  float planWeight = 0;
  int planRun = 1, reach = 0;  // the run's length; the candidate's blocks the plan touches
  {
    long long pStart = 0, qStart = 0;
    for (int p = first, j = 0; p <= last;) {
      const long long pEnd = pStart + size[p], qEnd = qStart + unit;
      const float overlap = float(std::min(pEnd, qEnd) - std::max(pStart, qStart)) /
                            float(std::max(pEnd, qEnd) - std::min(pStart, qStart));
      const float w = std::max(overlap, 0.0f);
      plan.push_back({p - first, j, w});
      planWeight = planWeight + w;
      reach = j + 1;
      if (qEnd >= pEnd) {
        pStart = pEnd;
        ++p;
      }
      if (pEnd >= qEnd) {
        if (p <= last) ++planRun;
        qStart = qEnd;
        ++j;
      }
    }
  }
  std::vector<int> sameAhead(nb + 1, 0);  // blocks of length unit from here on
  for (int q = blocks - 1; q >= 0; --q) sameAhead[q] = size[q] == unit ? sameAhead[q + 1] + 1 : 0;
  const bool anyPlanned = reach <= blocks;
  static const std::vector<PackedSignature> kNoBlocks;
  const SignaturePlanes planes(anyPlanned ? sig : kNoBlocks);  // a reference either way, no copy
  std::vector<PrototypeRow> rows;  // phase by phase
  if (anyPlanned)
    for (const PackedSignature& s : protoSig) rows.emplace_back(s, planes.stride);

  std::vector<float> score(nb);
  std::vector<int> runLength(nb), phase(nb, 0);
  std::vector<float> sums(std::size_t(shifts) * kAlignedLanes);
  auto planned = [&](int q) { return sameAhead[q] >= reach; };
  for (int q0 = 0; q0 < blocks; q0 += kAlignedLanes) {
    if (searchProgress_ && !searchProgress_(double(q0) / blocks)) {
      ClearAllMarks();  // the prototype's marks too: a stopped search marks nothing
      return;
    }
    const int lanes = std::min(kAlignedLanes, blocks - q0);
    bool any = false;
    for (int l = 0; l < lanes; ++l) any = any || planned(q0 + l);
    if (any) AlignedRunSums(planes, rows.data(), shifts, protoBlocks, plan, q0, sums.data());
    for (int l = 0; l < lanes; ++l) {
      const int q = q0 + l;
      if (planned(q)) {
        for (int k = 0; k < shifts; ++k) {
          const float s = sums[std::size_t(k) * kAlignedLanes + l] / std::max(planWeight, 0.01f);
          if (k == 0 || s > score[q]) {
            score[q] = s;
            phase[q] = k;
          }
        }
        runLength[q] = planRun;
        continue;
      }
      // A run that the track ends before scores 0 at every phase, and the walk would take every
      // block up to the end and one past it: no walk (with a prototype as long as the track, the
      // walks alone would cost the square of its blocks).
      if (blockStart[nb] - blockStart[q] < protoSpan) {
        score[q] = 0;
        runLength[q] = blocks - q + 1;
        continue;
      }
      for (int k = 0; k < shifts; ++k) {
        const float s = walk(k, q, &runLength[q]);
        if (k == 0 || s > score[q]) {
          score[q] = s;
          phase[q] = k;
        }
      }
    }
  }

  std::vector<int> runHead(nb, -1);
  const std::vector<int> order = ClaimOrder(score);
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    const int head = *it;
    const int end = std::min(blocks, head + runLength[head]);
    bool free = true;
    for (int k = head; k < end && free; ++k) free = runHead[k] < 0;
    if (!free) continue;
    for (int k = head; k < end; ++k) runHead[k] = head;
  }
  for (int i = 0; i < blocks; ++i) {
    block[i]->score = score[i];
    block[i]->runLength = runLength[i];
    block[i]->runHead = runHead[i] < 0 ? nullptr : block[runHead[i]];
  }
  SettleRuns(head_, proto.offset, phases > 1 ? start - firstStart : 0, phase);
}

int CAP_SampleTrack::CountMatches(int threshold) const {
  int count = 0;
  const float t = float(threshold);
  for (const SampleBlock* b = head_; b;) {
    if (b->runHead && t <= b->score) {
      const SampleBlock* met = b;
      const SampleBlock* run = b->runHead;
      while (b && b->runHead == run) b = b->next;
      if (!met->inPrototype) ++count;
    } else {
      b = b->next;
    }
  }
  return count;
}

bool CAP_SampleTrack::FindNextMatch(int threshold, int* position, float* score) {
  int offset = 0, qStart = 0;
  *score = 0;
  SampleBlock* q = LocateWithStart(*position, &offset, &qStart);
  if (!q) return false;
  const float t = float(threshold);
  const SampleBlock* current = q->runHead;
  // The prototype's own run is never a match, as CountMatches has it.
  auto other = [](const SampleBlock* b) { return b->runHead && !b->runHead->inPrototype; };
  SampleBlock* result = nullptr;
  int resultStart = 0;
  int s = qStart;
  for (SampleBlock* b = q; b && !result; s += b->count, b = b->next)
    if (other(b) && b->runHead != current && t <= b->score) {
      result = b;
      resultStart = s;
    }
  if (!result) {
    s = 0;
    for (SampleBlock* b = head_; b != q && !result; s += b->count, b = b->next)
      if (other(b) && t <= b->score) {
        result = b;
        resultStart = s;
      }
  }
  if (!result) {
    if (!other(q)) return false;
    result = q;
    resultStart = qStart;
  }
  *score = result->score;
  if (t <= *score) {
    *position = resultStart + result->matchOffset;
    return true;
  }
  return false;
}

bool CAP_SampleTrack::FindPreviousMatch(int threshold, int* position, float* score) {
  int offset = 0, qStart = 0;
  *score = 0;
  SampleBlock* q = LocateWithStart(*position, &offset, &qStart);
  if (!q) return false;
  const float t = float(threshold);
  // A run's sound may start inside its blocks: a run counts as before the position when its
  // sound starts before it (on the grid: every run head before q, and q itself past its start).
  auto qualifies = [&](const SampleBlock* b) { return b->runHead == b && !b->inPrototype && t <= b->score; };
  auto before = [&](const SampleBlock* b, int start) { return start + b->matchOffset < *position; };
  SampleBlock* result = nullptr;
  int resultStart = 0;
  if (offset > 0 && qualifies(q) && before(q, qStart)) {
    result = q;
    resultStart = qStart;
  }
  int s = qStart;
  for (SampleBlock* b = q->prev; b && !result; b = b->prev) {
    s -= b->count;
    if (qualifies(b) && before(b, s)) {
      result = b;
      resultStart = s;
    }
  }
  if (!result) {
    // Wrap: from the tail back down to q; reaching q gives q itself unless it lies in the
    // prototype's own run.
    s = length_;
    for (SampleBlock* b = tail_; b; b = b->prev) {
      s -= b->count;
      if (b == q || qualifies(b)) {
        result = b;
        resultStart = s;
        break;
      }
    }
    if (result == q && !(q->runHead && !q->runHead->inPrototype)) return false;
  }
  *score = result->score;
  if (t <= *score) {
    *position = resultStart + result->matchOffset;
    return true;
  }
  return false;
}
