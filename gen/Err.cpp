#include "gen/Err.h"

#include <windows.h>

#include <cstring>

namespace {

const DWORD kInternalError = 101;
char assertedText[1024];

}  // namespace

void ErrAssert(const char*, int) {
  strcpy(assertedText, "Asserted");
  ULONG_PTR argument = reinterpret_cast<ULONG_PTR>(assertedText);
  RaiseException(kInternalError, 0, 1, &argument);
}
