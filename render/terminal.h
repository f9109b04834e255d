#pragma once
// Whether stderr is a terminal (worth a progress bar) rather than a file or a pipe.
bool stderrIsTerminal();
