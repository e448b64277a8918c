#pragma once
// Loads a file exactly as the editor opens it: file buffer, input stream, decoder (with the
// chunks behind the audio read for their annotations), then a mixer with the mix track that
// pulls every frame from the decoder. The display track is the mixer's last track.
#include <istream>
#include <memory>
#include <string>

#include "analysis/SampleTrack.h"
#include "formats/Annotations.h"
#include "pipeline/AudioDecoder.h"
#include "pipeline/FileBuffer.h"
#include "pipeline/SampleMixer.h"

struct LoadedDocument {
  CUP_FileBuffer buffer;
  std::istream stream{&buffer};
  std::unique_ptr<CAP_AudioDecoder> decoder;
  std::unique_ptr<EP_SampleMixer> mixer;
  AnnotationList annotations;

  CAP_SampleTrack& DisplayTrack() const { return *mixer->Track(mixer->TrackCount() - 1); }
};

struct LoadFailure {
  std::string message;  // the editor's text: "Could not open file", the decoder's own text, ...
  int openErrno = 0;    // the system's reason when the file could not be opened
};

// Null on failure, with *failure filled.
std::unique_ptr<LoadedDocument> LoadDocument(const std::string& path, bool correctDC, LoadFailure* failure);
