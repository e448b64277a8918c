#include "cli/Commands.h"
int RunDemo(int, char**) { return 0; }
