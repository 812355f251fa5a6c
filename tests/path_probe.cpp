// A guarded console program that splits or composes a path one character longer than the
// runtime's rooms hold, for the tests to watch the crash report; 0 should the operation return.
#include <string>

#include "gen/Path.h"

extern "C" const bool crashGuardConsoleMode = true;

int main(int argc, char** argv) {
  const std::string action = argc > 1 ? argv[1] : "";
  PathParts composed;  // with the separator added: 520 characters
  composed.folder = std::string(299, 'f').c_str();
  composed.name = std::string(220, 'n').c_str();
  if (action == "split") PathSplit(("C:\\dir\\" + std::string(512, 'n') + ".txt").c_str());
  else if (action == "compose") PathCompose(composed);
  else return 2;
  return 0;
}
