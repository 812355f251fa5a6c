#pragma once
#include <cstdint>

// Percent-encodes `source` into `destination` of `size` bytes: letters and
// digits as they are, blanks as "+", every other byte as "%XX". A character
// that does not fit ends the result; an escape is never cut. Returns
// `destination`.
char* EncodeForUrl(const char* source, char* destination, uint32_t size);

// The report's subject (1023 characters at most): names the first frame of
// the product's own sources when the trace found one.
const char* FormatSubject(const char* exceptionText);
// The maker's report page with the subject and the report as parameters.
const char* BuildReportAddress(const char* subject, const char* report);

// Formats `format` with the two texts and the argument, and opens the
// result through the system's URL handler.
void OpenReportAddress(const char* first, const char* second, const char* format,
                       const char* argument);

// The address last handed to the URL handler (2046 characters at most).
const char* LastOpenedAddress();
