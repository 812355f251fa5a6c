// A guarded console program that says which Windows it runs on, for tests
// that make Wine pretend another version for this program alone.
//   describe  prints "short=", "nt=", "result=", "long=" and "str=" lines
//   crash     prints the "short=" and "long=" lines, then writes through a
//             null pointer
// Built twice: plain, and with a manifest that declares every release up
// to 10 (without one, Windows reports 8.1 and 10 as 8).

#include <cstdio>
#include <cstring>

#include "gen/err/errgpfse.h"
#include "mania/Winver.h"

extern "C" const bool crashGuardConsoleMode = true;

namespace {

void PrintLong() {
  char buffer[kWindowsDescriptionSize];
  memset(buffer, 0, sizeof buffer);
  int result = DescribeWindows(buffer);
  printf("result=%d\nlong=%s\n", result, buffer);
  fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  if (strcmp(argv[1], "describe") == 0) {
    printf("short=%s\nnt=%d\n", DescribeWindowsShort().Text(), WinVersionInfo().IsNT());
    PrintLong();
    printf("str=%s\n", DescribeWindows().Text());
    return 0;
  }
  if (strcmp(argv[1], "crash") == 0) {
    printf("short=%s\n", DescribeWindowsShort().Text());
    PrintLong();
    *static_cast<volatile int*>(nullptr) = 1;
  }
  return 2;
}
