// A guarded console program that prints key K of section S, checksummed, in the INI file named.
#include <cstdio>
#include <string>

#include "gen/Ini.h"

extern "C" const bool crashGuardConsoleMode = true;

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  puts(ReadSetting((std::string("|") + argv[1] + "|!S|K").c_str()));
  return 0;
}
