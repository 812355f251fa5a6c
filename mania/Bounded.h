#pragma once
#include <cstdarg>
#include <cstdint>

// Bounded text routines into a caller's buffer. Capacities count bytes
// including the terminator. They never write outside the capacity, and
// write nothing at all when the capacity itself is invalid.
typedef uint32_t BoundedResult;
const BoundedResult kBoundedOk = 0;
const BoundedResult kBoundedInvalid = 0x80070057;    // bad capacity or no terminator
const BoundedResult kBoundedTruncated = 0x8007007A;  // cut to fit, still terminated
const uint32_t kBoundedMaxCapacity = 0x7FFFFFFF;

BoundedResult BoundedFormat(char* dest, uint32_t capacity, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
BoundedResult BoundedFormatV(char* dest, uint32_t capacity, const char* format,
                             va_list args);
BoundedResult BoundedCopy(char* dest, uint32_t capacity, const char* source);
BoundedResult BoundedAppend(char* dest, uint32_t capacity, const char* source);
BoundedResult BoundedLength(const char* text, uint32_t capacity, uint32_t* length);

// Appends, and treats a result that does not fit as the caller's invalid
// parameter: the runtime's invalid-parameter handler is called and nothing
// is silently shortened.
void AppendOrFail(char* dest, uint32_t capacity, const char* source);

// Copies, with the same rule as AppendOrFail for a source that does not fit.
void CopyOrFail(char* dest, uint32_t capacity, const char* source);
// Formats, with the same rule as AppendOrFail for a text that does not fit.
void FormatOrFail(char* dest, uint32_t capacity, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Ends a text that `result` says was cut to its capacity with "...", so
// that the cut shows; any other result leaves it as it is.
void MarkIfTruncated(BoundedResult result, char* dest, uint32_t capacity);
