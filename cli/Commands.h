#pragma once
// Each tintwave-cli command: argv[0] is the command name. Returns the process exit code.
int RunDemo(int argc, char** argv);
int RunLevels(int argc, char** argv);
int RunPlay(int argc, char** argv);
int RunRecord(int argc, char** argv);
int RunRender(int argc, char** argv);
