#include "render/terminal.h"

#include <cstdio>
#include <unistd.h>

bool stderrIsTerminal() { return isatty(fileno(stderr)) != 0; }
