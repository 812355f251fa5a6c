// A guarded console program that prints key K of section S, checksummed,
// in the INI file named, for the tests to watch a tampered value end in a
// crash report.

#include <cstdio>
#include <string>

#include "gen/Ini.h"

extern "C" const bool crashGuardConsoleMode = true;

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  puts(ReadSetting((std::string("|") + argv[1] + "|!S|K").c_str()));
  return 0;
}
