// A small program of the product that fails for the demo: a text operation
// of the library is handed a position outside its text, the check fails,
// and the crash guard reports it on the console.
#include <cstdio>

#include "gen/Str.h"

extern "C" const bool crashGuardConsoleMode = true;

namespace {

__attribute__((noinline)) void ShowTheStartOfAName(const char* name) {
  StrView whole(name, 3);
  Str head(HeadUpTo(whole, name + 5));  // past the end of `whole`: a failed check
  printf("%s\n", head.Text());
}

}  // namespace

int main() {
  ShowTheStartOfAName("Recognition");
  return 0;
}
