#pragma once
#include <windows.h>
#include <string>

// The folder of this test program (with a trailing backslash): the launcher
// and the test doubles are built beside it.
std::string BinFolder();
