#include "formats/Annotations.h"

void AnnotationList::SetByKind(std::int32_t kind, const std::uint8_t* data, std::int32_t n) {
  if (n <= 0) return;
  for (Annotation& item : items_) {
    if (item.kind == kind && item.kind != AnnotationById) {
      item.data.assign(data, data + n);
      item.origin = -1;
      item.chunkId = 0;
      return;
    }
  }
  items_.push_back(Annotation{kind, 0, -1, std::vector<std::uint8_t>(data, data + n)});
}

void AnnotationList::SetById(std::int32_t origin, std::uint32_t chunkId, const std::uint8_t* data,
                             std::int32_t n) {
  if (n <= 0) return;
  for (Annotation& item : items_) {
    if (item.kind == AnnotationById && item.chunkId == chunkId && item.origin == origin) {
      item.data.assign(data, data + n);
      return;
    }
  }
  items_.push_back(Annotation{AnnotationById, chunkId, origin, std::vector<std::uint8_t>(data, data + n)});
}

void AnnotationList::CopyFrom(const AnnotationList& other) {
  if (&other == this) return;
  for (const Annotation& item : other.items_) {
    if (item.kind != AnnotationById)
      SetByKind(item.kind, item.data.data(), item.Length());
    else
      SetById(item.origin, item.chunkId, item.data.data(), item.Length());
  }
}

const Annotation* AnnotationList::FindKind(std::int32_t kind) const {
  for (const Annotation& item : items_)
    if (item.kind == kind) return &item;
  return nullptr;
}

const Annotation* AnnotationList::FindId(std::int32_t origin, std::uint32_t chunkId) const {
  for (const Annotation& item : items_)
    if (item.kind == AnnotationById && item.chunkId == chunkId && item.origin == origin) return &item;
  return nullptr;
}
