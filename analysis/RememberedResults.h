#pragma once
// Results of the sound search's costly steps, remembered from one search to the next under
// everything they were computed from: the stamps of the blocks they read (hashes of their samples)
// and the numbers that placed them. After an edit, what it did not touch is taken as it
// was and what it touched is computed again, so a search that follows every edit costs little
// more than the edit. Only what the last search used is kept. Used from one thread.
#include <cstdint>
#include <unordered_map>
#include <vector>

template <class Result>
class RememberedResults {
public:
  using Inputs = std::vector<std::uint64_t>;

  // The result remembered for exactly these inputs, or null.
  const Result* Find(const Inputs& inputs) {
    if (auto it = now_.find(inputs); it != now_.end()) return &it->second;
    auto old = last_.find(inputs);
    if (old == last_.end()) return nullptr;
    return &now_.emplace(inputs, old->second).first->second;
  }
  void Keep(const Inputs& inputs, const Result& result) { now_[inputs] = result; }
  // A new search begins: what the one before did not use is forgotten.
  void StartSearch() {
    last_ = std::move(now_);
    now_.clear();
  }
  void Clear() {
    last_.clear();
    now_.clear();
  }

private:
  struct Hash {
    std::size_t operator()(const Inputs& v) const {
      std::uint64_t h = 0x9e3779b97f4a7c15ull;
      for (std::uint64_t x : v) h = (h ^ x) * 0x100000001b3ull + (h >> 29);
      return std::size_t(h);
    }
  };
  std::unordered_map<Inputs, Result, Hash> last_, now_;
};
