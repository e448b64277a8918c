// tintwave-cli: the command-line face of Tintwave's analysis, files, display and devices.
#include <cstdio>
#include <cstring>

#include "analysis/ScratchFile.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"

namespace {
struct Command {
  const char* name;
  const char* usage;
  int (*run)(int argc, char** argv);
};

const Command kCommands[] = {
    {"info", "info FILE [--json]        the header: format, encoding, rate, channels, duration and tags", RunInfo},
    {"decode", "decode FILE OUT|-         the float frames, interleaved 32-bit little-endian", RunDecode},
    {"convert", "convert IN OUT [--type wave|aiff|au] [--rate R] [--channels C] [--encoding CODE] [--correct-dc]  save as the editor saves", RunConvert},
    {"edit", "edit IN OUT SCRIPT [--type wave|aiff|au] [--rate R] [--channels C] [--encoding CODE]  run editor commands on IN, save the first document as OUT", RunEdit},
    {"blocks", "blocks FILE               start, length, signature and colour of every block", RunBlocks},
    {"signature", "signature FILE [--start T] [--count T]  the region signature", RunSignature},
    {"find", "find FILE --start T --count T [--threshold 0..100]  runs that sound like the region", RunFind},
    {"demo", "demo [--save FILE]        synthesise a sound, find its motif, print matches and colours (--save: write the editor's demo sound)", RunDemo},
    {"levels", "levels [--seconds T] [--rate R] [--channels C]  input levels: peak, hold and DC per second", RunLevels},
    {"play", "play FILE [--from T] [--to T]  play through the default sound output, showing the position", RunPlay},
    {"record", "record OUT [--seconds T] [--rate R] [--channels C] [--correct-dc]  record from the default input", RunRecord},
    {"recover", "recover --list | recover JOURNAL OUT  documents a crash left unsaved: list them, or replay one and save it", RunRecover},
    {"render", "render FILE OUT.png [--width W] [--height H] [--start T] [--seconds T] [--grey] [--select T T]  the editor's view as a picture", RunRender},
};

void PrintHelp(std::FILE* out) {
  std::fprintf(out, "usage: tintwave-cli COMMAND [ARGS]    (tintwave-cli COMMAND --help for more)\n\ncommands:\n");
  for (const Command& c : kCommands) std::fprintf(out, "  %s\n", c.usage);
  std::fprintf(out, "\n%s\nexit status: 0 done, 1 failed, 2 misused (a bad command or option), 130 Ctrl+C\n",
               kTimeSyntax);
}
}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "help"))) {
    PrintHelp(stdout);
    return 0;
  }
  if (argc >= 2 && !std::strcmp(argv[1], "--version")) {
    std::printf("tintwave-cli %s\n", TINTWAVE_VERSION);
    return 0;
  }
  if (argc < 2) {
    PrintHelp(stderr);
    return 2;
  }
  // Long recordings page to a scratch file rather than to swap; without one they stay in memory.
  scratch::UseDirectory(scratch::DefaultDirectory(), nullptr);
  for (const Command& c : kCommands)
    if (!std::strcmp(argv[1], c.name)) return c.run(argc - 1, argv + 1);
  std::fprintf(stderr, "error: unknown command '%s'\n", argv[1]);
  PrintHelp(stderr);
  return 2;
}
