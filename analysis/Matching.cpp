// The similarity search: every block is scored as the start of a run as long as the prototype,
// and the best runs claim their blocks without overlap.
#include <algorithm>
#include <cstring>
#include <vector>

#include "analysis/SampleTrack.h"
#include "analysis/SignatureKernels.h"

namespace {
// The run score over blocks laid out in arrays: the same walk as CAP_SampleTrack::RunScore.
float RunScoreIndexed(const PackedSignature* sig, const int* count, int blocks, int first, int last,
                      int q, int* runLength) {
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
    sum = sum + ComparePacked(sig[p], sig[q]) * w;
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

// Candidates ascending by score, equal scores in track order; claiming takes them from the end.
std::vector<int> ClaimOrderReference(const std::vector<float>& score) {
  std::vector<int> order(score.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = int(i);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return score[a] < score[b]; });
  return order;
}

// The same order by a stable two-pass radix sort of the scores' bit patterns, turned so that
// they order as unsigned integers (negative scores below the positive ones).
std::vector<int> ClaimOrder(const std::vector<float>& score) {
  const std::size_t n = score.size();
  std::vector<std::uint32_t> key(n);
  for (std::size_t i = 0; i < n; ++i) {
    const float v = score[i] == 0 ? 0.0f : score[i];  // -0 sorts with +0, as the comparison has it
    std::uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    key[i] = bits & 0x80000000u ? ~bits : bits | 0x80000000u;
  }
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
                                const SampleBlock* q, int* runLength) const {
  int n = 1;
  float sum = 0, weight = 0;
  const SampleBlock* p = first;
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
    sum = sum + CompareSignatures(&p->signature, &q->signature) * w;
    weight = weight + w;
    if (qEnd >= pEnd) {
      pStart = pEnd;
      if (p == last) pastLast = true;
      p = p->next;
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

void CAP_SampleTrack::ComputeMatchesReference(int count, int start) {
  ClearAllMarks();
  if (count <= 0 || !head_) return;
  SampleBlock* first = Locate(start, nullptr);
  SampleBlock* last = Locate(start + count - 1, nullptr);
  for (SampleBlock* b = first; b; b = b->next) {
    b->inPrototype = true;
    if (b == last) break;
  }
  std::vector<SampleBlock*> candidates;
  std::vector<float> score;
  for (SampleBlock* q = head_; q; q = q->next) {
    int n = 1;
    q->score = RunScore(first, last, q, &n);
    q->runLength = n;
    candidates.push_back(q);
    score.push_back(q->score);
  }
  const std::vector<int> order = ClaimOrderReference(score);
  for (auto it = order.rbegin(); it != order.rend(); ++it) ClaimRun(candidates[*it]);
}

void CAP_SampleTrack::ComputeMatches(int count, int start) {
  ClearAllMarks();
  if (count <= 0 || !head_) return;
  SampleBlock* firstBlock = Locate(start, nullptr);
  SampleBlock* lastBlock = Locate(start + count - 1, nullptr);

  // The blocks in arrays: the search reads each signature about 2P times.
  const int blocks = blockCount_;
  const std::size_t nb = static_cast<std::size_t>(blocks);
  std::vector<SampleBlock*> block(nb);
  std::vector<PackedSignature> sig(nb);
  std::vector<int> size(nb);
  int first = 0, last = 0;
  {
    int i = 0;
    for (SampleBlock* b = head_; b; b = b->next, ++i) {
      block[i] = b;
      PackSignature(b->signature, &sig[i]);
      size[i] = b->count;
      if (b == firstBlock) first = i;
      if (b == lastBlock) last = i;
    }
  }
  for (int i = first; i <= last; ++i) block[i]->inPrototype = true;

  std::vector<float> score(nb);
  std::vector<int> runLength(nb);
  for (int q = 0; q < blocks; ++q)
    score[q] = RunScoreIndexed(sig.data(), size.data(), blocks, first, last, q, &runLength[q]);

  std::vector<int> runHead(nb, -1);
  const std::vector<int> order = ClaimOrder(score);
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    const int head = *it;
    const int end = std::min(blocks, head + runLength[head]);
    bool free = true;
    for (int k = head; k < end && free; ++k) free = runHead[k] < 0;
    if (!free) continue;
    for (int k = head; k < end; ++k) {
      runHead[k] = head;
      score[k] = score[head];
    }
  }
  for (int i = 0; i < blocks; ++i) {
    block[i]->score = score[i];
    block[i]->runLength = runLength[i];
    block[i]->runHead = runHead[i] < 0 ? nullptr : block[runHead[i]];
  }
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
  SampleBlock* result = nullptr;
  int resultStart = 0;
  int s = qStart;
  for (SampleBlock* b = q; b && !result; s += b->count, b = b->next)
    if (b->runHead && b->runHead != current && t <= b->score) {
      result = b;
      resultStart = s;
    }
  if (!result) {
    s = 0;
    for (SampleBlock* b = head_; b != q && !result; s += b->count, b = b->next)
      if (b->runHead && t <= b->score) {
        result = b;
        resultStart = s;
      }
  }
  if (!result) {
    result = q;
    resultStart = qStart;
  }
  *score = result->score;
  if (t <= *score) {
    *position = resultStart;
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
  auto qualifies = [&](const SampleBlock* b) { return b->runHead == b && t <= b->score; };
  SampleBlock* result = nullptr;
  int resultStart = 0;
  if (offset > 0 && qualifies(q)) {
    result = q;
    resultStart = qStart;
  }
  int s = qStart;
  for (SampleBlock* b = q->prev; b && !result; b = b->prev) {
    s -= b->count;
    if (qualifies(b)) {
      result = b;
      resultStart = s;
    }
  }
  if (!result) {
    // Wrap: from the tail back down to q; reaching q gives q itself.
    s = length_;
    for (SampleBlock* b = tail_; b; b = b->prev) {
      s -= b->count;
      if (b == q || qualifies(b)) {
        result = b;
        resultStart = s;
        break;
      }
    }
  }
  *score = result->score;
  if (t <= *score) {
    *position = resultStart;
    return true;
  }
  return false;
}
