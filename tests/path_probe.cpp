// A guarded console program that splits or composes a path with one
// component too long, on request, for the tests to watch the crash report
// from outside. Ends with 0 should the operation come back.

#include <string>

#include "gen/Path.h"

extern "C" const bool crashGuardConsoleMode = true;

int main(int argc, char** argv) {
  const std::string action = argc > 1 ? argv[1] : "", f(510, 'f'), n(512, 'n'), e(511, 'e');
  PathParts parts;  // with the separator added: 520 characters
  parts.folder = std::string(299, 'f').c_str();
  parts.name = std::string(220, 'n').c_str();
  // Each one character more than the runtime's rooms hold.
  if (action == "split-folder") PathSplit(("C:\\" + f + "\\a.txt").c_str());
  else if (action == "split-name") PathSplit(("C:\\dir\\" + n + ".txt").c_str());
  else if (action == "split-extension") PathSplit(("C:\\dir\\a." + e).c_str());
  else if (action == "compose") PathCompose(parts);
  else return 2;
  return 0;
}
