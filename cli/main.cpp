// tintwave-cli: the command-line face of Tintwave's analysis, files, display and devices.
#include <cstdio>
#include <cstring>

#include "cli/Commands.h"

namespace {
struct Command {
  const char* name;
  const char* usage;
  int (*run)(int argc, char** argv);
};

const Command kCommands[] = {
    {"info", "info FILE                 format, encoding, rate, channels, length and annotations", RunInfo},
    {"decode", "decode FILE OUT           the float frames, interleaved 32-bit little-endian", RunDecode},
    {"convert", "convert IN OUT [--type wave|aiff|au] [--rate R] [--channels C] [--encoding CODE] [--correct-dc]  save as the editor saves", RunConvert},
    {"edit", "edit IN OUT SCRIPT [--type wave|aiff|au] [--rate R] [--channels C] [--encoding CODE]  run editor commands on IN, save the first document as OUT", RunEdit},
    {"blocks", "blocks FILE               start, length, signature and colour of every block", RunBlocks},
    {"signature", "signature FILE [--start S] [--count N]  the region signature (samples)", RunSignature},
    {"find", "find FILE --start S --count N [--threshold T]  runs that sound like the region", RunFind},
    {"demo", "demo [--save FILE]        synthesise a sound, find its motif, print matches and colours (--save: write the editor's demo sound)", RunDemo},
    {"levels", "levels [--seconds N] [--rate R] [--channels C]  input levels: peak, hold and DC per second", RunLevels},
    {"play", "play FILE [--from S] [--to E]  play through the default sound output, showing the position", RunPlay},
    {"record", "record OUT [--seconds N] [--rate R] [--channels C] [--correct-dc]  record from the default input", RunRecord},
    {"render", "render FILE OUT.png [--width W] [--height H] [--start S] [--seconds D] [--grey] [--select A B]  the editor's view as a picture", RunRender},
};

void PrintHelp(std::FILE* out) {
  std::fprintf(out, "usage: tintwave-cli COMMAND [ARGS]\n\ncommands:\n");
  for (const Command& c : kCommands) std::fprintf(out, "  %s\n", c.usage);
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "help")) {
    PrintHelp(stdout);
    return argc < 2 ? 1 : 0;
  }
  for (const Command& c : kCommands)
    if (!std::strcmp(argv[1], c.name)) return c.run(argc - 1, argv + 1);
  std::fprintf(stderr, "error: unknown command '%s'\n", argv[1]);
  PrintHelp(stderr);
  return 1;
}
