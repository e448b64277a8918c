#include "editor/SharedClipboard.h"

SharedClipboard& SharedClipboard::Instance() {
  static SharedClipboard clipboard;
  return clipboard;
}

CAP_SampleTrack* SharedClipboard::Slot(int index) const {
  return index >= 0 && index < kSlots ? slots_[index].get() : nullptr;
}

std::vector<std::shared_ptr<const CAP_SampleTrack>> SharedClipboard::Share() const {
  return {slots_.begin(), slots_.begin() + FilledCount()};
}

void SharedClipboard::SetSlot(int index, std::unique_ptr<CAP_SampleTrack> track) {
  if (index >= 0 && index < kSlots) slots_[index] = std::move(track);
  ++generation_;
}

void SharedClipboard::Clear() {
  for (auto& slot : slots_) slot.reset();
  ++generation_;
}

int SharedClipboard::FilledCount() const {
  int n = 0;
  while (n < kSlots && slots_[n]) ++n;
  return n;
}
