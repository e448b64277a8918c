#include "search/SearchCatalog.h"

#include <algorithm>

bool PassesFilters(const SearchQuery& query, const SoundFacts& facts, std::int64_t size) {
  if (!query.formats.empty() &&
      std::find(query.formats.begin(), query.formats.end(), facts.format) == query.formats.end())
    return false;
  if (query.channels != 0 && facts.channels != query.channels) return false;
  if (facts.bits < query.minBits || facts.rate < query.minRate) return false;
  return query.maxSize == 0 || size <= query.maxSize;
}

void SearchCatalog::AddFile(std::int64_t id, std::string path, std::int64_t size, const SoundFacts& facts,
                            const std::vector<WindowSeries>& series) {
  CatalogFile file{id, std::move(path), size, facts, std::uint32_t(windows_.size()), 0};
  for (const WindowSeries& s : series) {
    for (std::size_t i = 0; i < s.signatures.size(); ++i) {
      PackedSignature packed;
      PackSignature(s.signatures[i], &packed);
      windows_.push_back(packed);
      places_.push_back({std::int64_t(i) * s.hop, s.length});
    }
  }
  file.windowCount = std::uint32_t(windows_.size() - file.firstWindow);
  // Ids come in order from the index; keep the array sorted for FindFile whatever the caller does.
  const auto at = std::upper_bound(files_.begin(), files_.end(), id,
                                   [](std::int64_t v, const CatalogFile& f) { return v < f.id; });
  files_.insert(at, std::move(file));
}

const CatalogFile* SearchCatalog::FindFile(std::int64_t id) const {
  const auto at = std::lower_bound(files_.begin(), files_.end(), id,
                                   [](const CatalogFile& f, std::int64_t v) { return f.id < v; });
  return at != files_.end() && at->id == id ? &*at : nullptr;
}

std::vector<SearchResult> SearchCatalog::Search(const SearchQuery& query) const {
  PackedSignature wanted;
  PackSignature(query.signature, &wanted);
  std::vector<SearchResult> results;
  for (const CatalogFile& file : files_) {
    if (file.windowCount == 0 || !PassesFilters(query, file.facts, file.size)) continue;
    float best = -1;
    std::uint32_t bestWindow = file.firstWindow;
    const std::uint32_t end = file.firstWindow + file.windowCount;
    for (std::uint32_t w = file.firstWindow; w < end; ++w) {
      const float score = ComparePacked(wanted, windows_[w]);
      if (score > best) {
        best = score;
        bestWindow = w;
      }
    }
    if (best < 0) continue;
    results.push_back({&file, best, places_[bestWindow].start, places_[bestWindow].length});
  }
  const auto better = [](const SearchResult& a, const SearchResult& b) {
    if (a.score != b.score) return a.score > b.score;
    return a.file->path < b.file->path;
  };
  const std::size_t keep = std::min<std::size_t>(results.size(), std::size_t(std::max(query.limit, 0)));
  std::partial_sort(results.begin(), results.begin() + std::ptrdiff_t(keep), results.end(), better);
  results.resize(keep);
  return results;
}
