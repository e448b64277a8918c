#pragma once
// The index held in memory for searching: the facts of every sound that opened and the packed
// signatures of all its windows, one array for the whole library, so that a query compares
// every window with the packed comparison of the matching code and keeps each file's best.
// Built once, then only read: any number of threads may search it at once.
#include <cstdint>
#include <string>
#include <vector>

#include "analysis/SignatureKernels.h"
#include "search/SearchQuery.h"
#include "search/SoundFile.h"

struct CatalogFile {
  std::int64_t id = 0;  // the index's id, the only handle a request has on the file
  std::string path;
  std::int64_t size = 0;
  SoundFacts facts;
  std::uint32_t firstWindow = 0, windowCount = 0;
};

struct SearchResult {
  const CatalogFile* file = nullptr;
  float score = 0;
  std::int64_t windowStart = 0;  // frames
  std::int32_t windowLength = 0;
};

class SearchCatalog {
public:
  void AddFile(std::int64_t id, std::string path, std::int64_t size, const SoundFacts& facts,
               const std::vector<WindowSeries>& series);
  // The best-scoring files that pass the query's filters, best first (ties by path), at most
  // query.limit of them.
  std::vector<SearchResult> Search(const SearchQuery& query) const;
  // Null for an id that is not in the catalog.
  const CatalogFile* FindFile(std::int64_t id) const;
  std::size_t FileCount() const { return files_.size(); }
  std::size_t WindowCount() const { return windows_.size(); }

private:
  struct WindowPlace {
    std::int64_t start;
    std::int32_t length;
  };
  std::vector<CatalogFile> files_;  // in id order
  std::vector<PackedSignature> windows_;
  std::vector<WindowPlace> places_;
};

// Whether a file's facts pass the query's format, channel, resolution, rate and size filters.
bool PassesFilters(const SearchQuery& query, const SoundFacts& facts, std::int64_t size);
