// tintwave-cli convert IN OUT: loads IN as the editor does and saves it as the editor's save
// does, through a temporary file that replaces OUT only when it is complete.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/LoadDocument.h"
#include "formats/Probe.h"
#include "pipeline/SafeSave.h"

namespace {

constexpr const char* kUsage =
    "usage: tintwave-cli convert IN OUT [--type wave|aiff|au] [--rate R] [--channels C]\n"
    "                            [--encoding CODE] [--correct-dc]\n"
    "  CODE: 2 u-law, 3 A-law, 16 8-bit, 17 16-bit, 18 24-bit, 19 32-bit PCM, 20 32-bit float\n";

int TypeFromName(std::string name) {
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
  if (name == "wave" || name == "wav") return FileFormatWave;
  if (name == "aiff" || name == "aif") return FileFormatAiff;
  if (name == "au") return FileFormatAu;
  return FileFormatNone;
}

int TypeFromExtension(std::string extension) {
  std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) { return std::tolower(c); });
  if (extension == ".wav") return FileFormatWave;
  if (extension == ".aiff" || extension == ".aif" || extension == ".aifc") return FileFormatAiff;
  if (extension == ".au" || extension == ".snd") return FileFormatAu;
  return FileFormatNone;
}

bool IsWritableEncoding(int code) {
  return code == CompressionMuLaw || code == CompressionALaw || (code >= CompressionPcm8 && code <= CompressionFloat32);
}

}  // namespace

int RunConvert(int argc, char** argv) {
  if (argc < 3) return ReportMisuse("convert takes an input and an output file", kUsage);
  const std::string input = argv[1], output = argv[2];
  int type = TypeFromExtension(ExtensionOf(output));
  int rate = 0, channels = 0, encoding = 0;
  bool correctDC = false;
  for (int i = 3; i < argc; ++i) {
    const std::string option = argv[i];
    const bool hasValue = i + 1 < argc;
    if (option == "--correct-dc") {
      correctDC = true;
    } else if (option == "--type" && hasValue) {
      type = TypeFromName(argv[++i]);
      if (type == FileFormatNone) return ReportMisuse(std::string("unknown file type '") + argv[i] + "'", kUsage);
    } else if (option == "--rate" && hasValue) {
      if (!ParseInteger(argv[++i], CAP_AudioDecoder::kMinRate, CAP_AudioDecoder::kMaxRate, &rate))
        return ReportError("Sample rate must be between 8000 and 96000");
    } else if (option == "--channels" && hasValue) {
      if (!ParseInteger(argv[++i], 1, 2, &channels)) return ReportError("The channels must be 1 or 2");
    } else if (option == "--encoding" && hasValue) {
      if (!ParseInteger(argv[++i], 0, 255, &encoding) || !IsWritableEncoding(encoding))
        return ReportError(std::string("Encoding ") + argv[i] + " cannot be written; choose 2, 3 or 16 to 20");
    } else {
      return ReportMisuse("unknown or incomplete option '" + option + "'", kUsage);
    }
  }
  if (type == FileFormatNone)
    return ReportMisuse("cannot tell the file type from '" + output + "'; give --type", kUsage);

  LoadFailure failure;
  const auto document = LoadDocument(input, correctDC, &failure);
  if (!document) return ReportError(failure.message);
  const CAP_AudioDecoder& decoder = *document->decoder;
  // As the save dialog: the document's own layout unless another is chosen; an encoding that
  // cannot be written becomes 16-bit PCM.
  SaveTarget target;
  target.path = output;
  target.fileFormat = type;
  target.rate = rate ? rate : decoder.sampleRate;
  target.channels = channels ? channels : decoder.channels;
  target.compression = encoding ? encoding : IsWritableEncoding(decoder.compression) ? decoder.compression
                                                                                      : int(CompressionPcm16);
  const std::string error = SaveAudioSafely(*document->mixer, document->DisplayTrack().duration, target,
                                            &document->annotations);
  if (!error.empty()) return ReportError(error);
  return 0;
}
