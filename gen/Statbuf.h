#pragma once
#include <cstdarg>

// Formats into one process-wide 200000-byte buffer and returns it. The
// result is valid until the next call: copy it before formatting again.
const char* FormatStatic(const char* format, va_list args);
