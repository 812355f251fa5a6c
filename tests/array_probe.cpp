// A guarded console program whose array or text operation fails a check
// on request, for the tests to watch the crash report from outside.

#include <cstdio>
#include <cstring>

#include "gen/Array.h"
#include "gen/Str.h"

extern "C" const bool crashGuardConsoleMode = true;

int main(int argc, char** argv) {
  const char* action = argc < 2 ? "" : argv[1];
  const char text[] = "abc";
  if (strcmp(action, "block-at-end") == 0) {
    ByteBlock block;
    block.Allocate(4);
    block.At(4);
  } else if (strcmp(action, "pop-empty") == 0) {
    TypedArray<int>().Pop();
  } else if (strcmp(action, "head-outside") == 0) {
    HeadUpTo(StrView(text, 1), text + 2);
  } else {
    return 2;
  }
  puts("returned");
  return 0;
}
