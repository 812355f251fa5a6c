// A guarded console program that reads a setting on request, for the tests
// to watch a tampered checksummed value end in a crash report.

#include <cstdio>
#include <cstring>
#include <string>

#include "gen/Ini.h"

extern "C" const bool crashGuardConsoleMode = true;

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  if (strcmp(argv[1], "read-checked") != 0) return 2;
  // Key K of section S, checksummed, in the INI file named.
  std::string path = std::string("|") + argv[2] + "|!S|K";
  puts(ReadSetting(path.c_str()));
  return 0;
}
