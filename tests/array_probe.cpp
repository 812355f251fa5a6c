// A guarded console program whose array or text operation fails a check
// on request, for the tests to watch the crash report from outside.

#include <cstdio>
#include <cstring>

#include "gen/Array.h"
#include "gen/Str.h"

extern "C" const bool crashGuardConsoleMode = true;

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const char* action = argv[1];
  if (strcmp(action, "block-at-end") == 0) {
    ByteBlock block;
    block.Allocate(4);
    block.At(4);
  } else if (strcmp(action, "pop-empty") == 0) {
    TypedArray<int> empty;
    empty.Pop();
  } else if (strcmp(action, "head-outside") == 0) {
    const char text[] = "abc";
    HeadUpTo(StrView(text, 1), text + 2);
  } else {
    return 2;
  }
  puts("returned");
  return 0;
}
