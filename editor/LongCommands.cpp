// The frame of every long command: its work is announced, the history makes its changes through
// it, and a stop leaves the document as it was.
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
