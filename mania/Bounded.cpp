#include "mania/Bounded.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const uint32_t kMaxSourceLength = 2147483646;

bool CapacityValid(uint32_t capacity) {
  return capacity != 0 && capacity <= kBoundedMaxCapacity;
}

// Copies while room is left; when the room runs out the last character
// copied is dropped so that the terminator still fits.
BoundedResult CopyStep(char* dest, uint32_t room, const char* source,
                       uint32_t sourceLimit) {
  while (room && sourceLimit && *source) {
    *dest++ = *source++;
    --room;
    --sourceLimit;
  }
  BoundedResult result = kBoundedOk;
  if (room == 0) {
    --dest;
    result = kBoundedTruncated;
  }
  *dest = 0;
  return result;
}

}  // namespace

BoundedResult BoundedFormatV(char* dest, uint32_t capacity, const char* format,
                             va_list args) {
  if (!CapacityValid(capacity)) return kBoundedInvalid;
  uint32_t limit = capacity - 1;
  int count = _vsnprintf(dest, limit, format, args);
  if (count < 0 || static_cast<uint32_t>(count) > limit) {
    dest[limit] = 0;
    return kBoundedTruncated;
  }
  if (static_cast<uint32_t>(count) == limit) dest[limit] = 0;
  return kBoundedOk;
}

BoundedResult BoundedFormat(char* dest, uint32_t capacity, const char* format, ...) {
  va_list args;
  va_start(args, format);
  BoundedResult result = BoundedFormatV(dest, capacity, format, args);
  va_end(args);
  return result;
}

BoundedResult BoundedCopy(char* dest, uint32_t capacity, const char* source) {
  if (!CapacityValid(capacity)) return kBoundedInvalid;
  return CopyStep(dest, capacity, source, kMaxSourceLength);
}

BoundedResult BoundedLength(const char* text, uint32_t capacity, uint32_t* length) {
  uint32_t count = 0;
  BoundedResult result = kBoundedInvalid;
  if (CapacityValid(capacity)) {
    while (count < capacity && text[count]) ++count;
    if (count < capacity) result = kBoundedOk;
  }
  if (result != kBoundedOk) count = 0;
  if (length) *length = count;
  return result;
}

BoundedResult BoundedAppend(char* dest, uint32_t capacity, const char* source) {
  uint32_t length = 0;
  BoundedResult result = BoundedLength(dest, capacity, &length);
  if (result != kBoundedOk) return result;
  return CopyStep(dest + length, capacity - length, source, kMaxSourceLength);
}

namespace {

// The runtime under some hosts does not call the handler for its own
// bounded routines, so the call is made here. Nothing is ever silently
// shortened: should the handler return, the process ends.
void FailInvalidParameter() {
  _invalid_parameter_handler handler = _get_invalid_parameter_handler();
  if (handler) handler(nullptr, nullptr, nullptr, 0, 0);
  abort();
}

}  // namespace

void AppendOrFail(char* dest, uint32_t capacity, const char* source) {
  if (BoundedAppend(dest, capacity, source) != kBoundedOk) FailInvalidParameter();
}

void CopyOrFail(char* dest, uint32_t capacity, const char* source) {
  if (BoundedCopy(dest, capacity, source) != kBoundedOk) FailInvalidParameter();
}

void FormatOrFail(char* dest, uint32_t capacity, const char* format, ...) {
  va_list args;
  va_start(args, format);
  BoundedResult result = BoundedFormatV(dest, capacity, format, args);
  va_end(args);
  if (result != kBoundedOk) FailInvalidParameter();
}

void MarkIfTruncated(BoundedResult result, char* dest, uint32_t capacity) {
  const char mark[] = "...";
  if (result == kBoundedTruncated && capacity >= sizeof mark)
    memcpy(dest + capacity - sizeof mark, mark, sizeof mark);
}
