// A guarded console program that splits or composes a path with one
// component too long, on request, for the tests to watch the crash report
// from outside. Prints "returned" should the operation come back.

#include <cstdio>
#include <string>

#include "gen/Path.h"

extern "C" const bool crashGuardConsoleMode = true;

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string action = argv[1];
  // Each one character more than the runtime's rooms hold.
  if (action == "split-folder") {
    PathSplit(("C:\\" + std::string(510, 'f') + "\\a.txt").c_str());
  } else if (action == "split-name") {
    PathSplit(("C:\\dir\\" + std::string(512, 'n') + ".txt").c_str());
  } else if (action == "split-extension") {
    PathSplit(("C:\\dir\\a." + std::string(511, 'e')).c_str());
  } else if (action == "compose") {
    PathParts parts;
    parts.folder = std::string(299, 'f').c_str();  // with the separator added: 520 characters
    parts.name = std::string(220, 'n').c_str();
    PathCompose(parts);
  } else {
    return 2;
  }
  puts("returned");
  return 0;
}
