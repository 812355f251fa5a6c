// A guarded console program that says which Windows it runs on, for tests
// that make Wine pretend another version for this program alone: it prints
// "short=", "nt=", "result=", "long=" and "str=" lines, then writes through
// a null pointer, so that its crash report names the Windows as well.

#include <cstdio>
#include <cstring>

#include "gen/err/errgpfse.h"
#include "mania/Winver.h"

extern "C" const bool crashGuardConsoleMode = true;

int main() {
  char buffer[kWindowsDescriptionSize] = {};
  printf("short=%s\nnt=%d\n", DescribeWindowsShort().Text(), WinVersionInfo().IsNT());
  int result = DescribeWindows(buffer);
  printf("result=%d\nlong=%s\n", result, buffer);
  printf("str=%s\n", DescribeWindows().Text());
  fflush(stdout);  // before the failure ends the program
  *static_cast<volatile int*>(nullptr) = 1;
}
