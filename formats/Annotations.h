#pragma once
// Metadata items that readers fill, the document keeps and writers store back. An item is either
// of a kind (name, artist, ...) or identified by the chunk id under which a format found it.
#include <cstddef>
#include <cstdint>
#include <vector>

enum AnnotationKind : std::int32_t {
  AnnotationById = 0,  // no kind: identified by chunkId and origin
  AnnotationName = 1,
  AnnotationArtist = 2,
  AnnotationCopyright = 3,
  AnnotationComment = 4,
  AnnotationGenre = 5,
  AnnotationSource = 6,
  AnnotationUrl = 7,
  AnnotationTempo = 8,
  AnnotationKey = 9,
  // Tags of FLAC, Ogg, MP4 and the other formats read through libsndfile or FFmpeg.
  AnnotationAlbum = 10,
  AnnotationDate = 11,
  AnnotationTrack = 12,
};

struct Annotation {
  std::int32_t kind = AnnotationById;
  std::uint32_t chunkId = 0;  // four-character code; 0 for kind items
  std::int32_t origin = -1;   // -1 for kind items, else the FileFormatCode that defines chunkId
  std::vector<std::uint8_t> data;

  std::int32_t Length() const { return static_cast<std::int32_t>(data.size()); }
};

class AnnotationList {
public:
  // Replaces the data of the item of that kind, or appends one. Nothing happens when n is 0.
  void SetByKind(std::int32_t kind, const std::uint8_t* data, std::int32_t n);
  // Replaces the item with the same chunkId and origin, or appends one. Nothing when n is 0.
  void SetById(std::int32_t origin, std::uint32_t chunkId, const std::uint8_t* data, std::int32_t n);
  // Sets every item of other in order: kind items by kind, the others by id.
  void CopyFrom(const AnnotationList& other);

  // The item of that kind (or with that id and origin), null when there is none.
  const Annotation* FindKind(std::int32_t kind) const;
  const Annotation* FindId(std::int32_t origin, std::uint32_t chunkId) const;

  std::size_t Size() const { return items_.size(); }
  bool Empty() const { return items_.empty(); }
  const Annotation& operator[](std::size_t i) const { return items_[i]; }
  std::vector<Annotation>::const_iterator begin() const { return items_.begin(); }
  std::vector<Annotation>::const_iterator end() const { return items_.end(); }
  void Clear() { items_.clear(); }

private:
  std::vector<Annotation> items_;
};
