// A guarded console program that says which Windows it runs on (Wine may
// pretend another for it alone) in "short=", "nt=", "result=", "long=" and
// "str=" lines, then fails an array check, so that its crash report names
// both the Windows and the checking frame.
#include <cstdio>

#include "mania/Winver.h"

extern "C" const bool crashGuardConsoleMode = true;

int main() {
  char buffer[kWindowsDescriptionSize] = {};
  printf("short=%s\nnt=%d\n", DescribeWindowsShort().Text(), WinVersionInfo().IsNT());
  int result = DescribeWindows(buffer);
  printf("result=%d\nlong=%s\n", result, buffer);
  printf("str=%s\n", DescribeWindows().Text());
  fflush(stdout);  // before the failure ends the program
  TypedArray<int>().Pop();
}
