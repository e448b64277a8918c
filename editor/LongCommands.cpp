// The frame of every long command: its work is announced, the history makes its changes through
// it, and a stop leaves the document as it was.
#include "analysis/SampleTrack.h"
#include "editor/AudioFileEditor.h"
#include "editor/EditHistory.h"
#include "editor/LongWork.h"

bool EP_AudioFileEditor::RunLong(const std::string& text, const std::string& what,
                                 const std::function<bool(LongWork&)>& body) {
  struct Running {
    EP_AudioFileEditor* editor;
    ~Running() {
      editor->working_ = false;
      if (editor->history_) editor->history_->SetWork(nullptr);
    }
  } running{this};
  working_ = true;
  LongWork work(longWorkObserver_, text);
  history_->SetWork(&work);
  try {
    return body(work);
  } catch (const WorkStopped&) {
    errorText_.clear();
    SetStatusText(0, what + " stopped; the audio is unchanged");
    return false;
  }
}

void EP_AudioFileEditor::RunSearch(const std::function<void()>& search) {
  CAP_SampleTrack* track = DisplayTrack();
  if (!longWorkObserver_ || working_ || !track) {
    search();
    return;
  }
  // The search only marks blocks; the edit before it stays whatever happens to the search.
  struct Running {
    EP_AudioFileEditor* editor;
    CAP_SampleTrack* track;
    ~Running() {
      editor->working_ = false;
      track->SetSearchProgress(nullptr);
    }
  } running{this, track};
  working_ = true;
  LongWork work(longWorkObserver_, "Finding similar sounds");
  track->SetSearchProgress([&work](double fraction) { return work.Tick(fraction); });
  search();
  if (work.Stopped()) SetStatusText(0, "Search stopped; no matches are marked until the next selection");
}
