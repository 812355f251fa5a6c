#include "gen/Statbuf.h"

#include <cstdio>

#include "gen/err/Err.h"

namespace {

const size_t kStaticSize = 200000;
// Texts this close to the end are taken as a sign of runaway formatting.
const unsigned kStaticLimit = 199980;
char staticBuffer[kStaticSize];

}  // namespace

const char* FormatStatic(const char* format, va_list args) {
  int count = _vsnprintf_s(staticBuffer, kStaticSize, kStaticSize, format, args);
  if (static_cast<unsigned>(count) >= kStaticLimit)
    ErrAssert("..\\gen\\Statbuf.cpp", 14);
  return staticBuffer;
}
