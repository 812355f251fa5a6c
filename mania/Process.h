#pragma once
#include <cstdint>

// Starts a command line as a new process; the system splits it into
// program and arguments. A failure is shown to the user in an error box
// before the system's error code is returned; 0 means the process was
// created (and, with `wait`, has ended).
uint32_t StartProcess(char* commandLine, bool wait, bool hide);

// Starts exactly the program at `programPath`, whatever blanks the path
// holds; the program sees its whole path, quoted, as its first argument.
// Failures are reported as by StartProcess, naming the path.
uint32_t StartProgram(const char* programPath, bool wait, bool hide);
