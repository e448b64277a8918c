#pragma once
// Each tintwave-cli command: argv[0] is the command name. Returns the process exit code.
int RunBlocks(int argc, char** argv);
int RunConvert(int argc, char** argv);
int RunDecode(int argc, char** argv);
int RunDemo(int argc, char** argv);
int RunEdit(int argc, char** argv);
int RunFind(int argc, char** argv);
int RunInfo(int argc, char** argv);
int RunLevels(int argc, char** argv);
int RunPlay(int argc, char** argv);
int RunRecord(int argc, char** argv);
int RunRecover(int argc, char** argv);
int RunRender(int argc, char** argv);
int RunSignature(int argc, char** argv);
