#include "gen/err/ReportSubmit.h"

#include <windows.h>

#include <cstring>

#include "gen/err/Err.h"
#include "gen/err/FaultFlow.h"
#include "gen/err/StackTrace.h"
#include "gen/err/errgpfse.h"
#include "mania/Bounded.h"
#include "mania/Process.h"

namespace {

const uint32_t kSubjectSize = 1024;
const uint32_t kEncodedSize = 4096;
const uint32_t kAddressSize = 8192;
// Longer addresses are refused or cut by browsers and by the URL handler.
const uint32_t kOpenedLimit = 2046;
const uint32_t kSystemFolderSize = 512;

const char kLineFeedEscape[] = "%0D%0A";
const char kQuoteEscape[] = "%22";
const char kCommandFormat[] = "%s\\rundll32 url.dll,FileProtocolHandler \"%s\"";
const char kHandlerName[] = "FileProtocolHandler";
const int kHandlerShow = SW_SHOW;
const UINT kWinExecShow = SW_SHOWNORMAL;

// The URL handler's entry as rundll32 calls it.
typedef void(CALLBACK* UrlHandler)(HWND, HINSTANCE, LPSTR, int);

// Fixed buffers: this runs on the report thread after a failure.
char subject[kSubjectSize];
char encodedSubject[kEncodedSize];
char encodedReport[kEncodedSize];
char reportAddress[kAddressSize];
char formattedAddress[kAddressSize];
char openedAddress[kOpenedLimit + 1];
// The opened address as it goes on a command line: every character may
// become a three-character escape.
char commandAddress[kOpenedLimit * 3 + 1];
char commandLine[kAddressSize];

bool IsPlainUrlCharacter(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// Copies `source` with each line feed escaped, keeping only whole characters
// and escapes within the limit.
void CopyForOpening(const char* source) {
  uint32_t length = 0;
  for (const char* c = source; *c; ++c) {
    const char* piece = *c == '\n' ? kLineFeedEscape : c;
    uint32_t pieceLength = *c == '\n' ? sizeof kLineFeedEscape - 1 : 1;
    if (length + pieceLength > kOpenedLimit) break;
    memcpy(openedAddress + length, piece, pieceLength);
    length += pieceLength;
  }
  openedAddress[length] = 0;
}

// The address ends up as one quoted argument: a quote inside it would end
// that argument early and hand the rest to rundll32 as further arguments.
void EscapeQuotesForCommandLine(const char* address) {
  char* out = commandAddress;
  for (const char* c = address; *c; ++c) {
    if (*c == '"') {
      memcpy(out, kQuoteEscape, sizeof kQuoteEscape - 1);
      out += sizeof kQuoteEscape - 1;
    } else {
      *out++ = *c;
    }
  }
  *out = 0;
}

// The handler of the URL module the guard loaded on entry, called in this
// process; false when the module has none. The module is released either way.
bool OpenInProcess(const char* address) {
  HMODULE module = guardState.urlModule;
  if (!module) return false;
  UrlHandler handler = reinterpret_cast<UrlHandler>(
      reinterpret_cast<void*>(GetProcAddress(module, kHandlerName)));
  if (handler) handler(GetDesktopWindow(), moduleHandle, const_cast<char*>(address), kHandlerShow);
  FreeLibrary(module);
  guardState.urlModule = nullptr;
  return handler != nullptr;
}

}  // namespace

char* EncodeForUrl(const char* source, char* destination, uint32_t size) {
  static const char kHexDigits[] = "0123456789ABCDEF";
  if (size == 0) return destination;
  memset(destination, 0, size);
  // Signed: sizes below 2 leave no room at all.
  const int64_t limit = static_cast<int64_t>(size) - 2;
  int64_t written = 0;
  for (const unsigned char* c = reinterpret_cast<const unsigned char*>(source); *c; ++c) {
    if (written > limit) break;
    if (IsPlainUrlCharacter(*c)) {
      destination[written++] = static_cast<char>(*c);
    } else if (*c == ' ') {
      destination[written++] = '+';
    } else {
      if (written + 2 > limit) break;
      destination[written++] = '%';
      destination[written++] = kHexDigits[*c >> 4];
      destination[written++] = kHexDigits[*c & 0xF];
    }
  }
  destination[written] = 0;
  return destination;
}

// A subject longer than its buffer (a long function name, a deep path) is
// cut with a mark: the report goes out all the same.
const char* FormatSubject(const char* exceptionText) {
  BoundedResult result;
  if (traceState.firstOwnFile[0]) {
    result = BoundedFormat(subject, sizeof subject, "%s %s: %s - %s (%d)[%s]", productInfo.name,
                           productInfo.version, exceptionText, traceState.firstOwnFile,
                           static_cast<int>(traceState.firstOwnLine),
                           traceState.firstOwnFunction);
  } else {
    result = BoundedFormat(subject, sizeof subject, "%s %s: %s", productInfo.name,
                           productInfo.version, exceptionText);
  }
  MarkIfTruncated(result, subject, sizeof subject);
  return subject;
}

const char* BuildReportAddress(const char* subjectText, const char* report) {
  EncodeForUrl(subjectText, encodedSubject, sizeof encodedSubject);
  EncodeForUrl(report, encodedReport, sizeof encodedReport);
  FormatOrFail(reportAddress, sizeof reportAddress, "%ssubject=%s&text=%s",
               productInfo.reportAddress, encodedSubject, encodedReport);
  return reportAddress;
}

void OpenReportAddress(const char* first, const char* second, const char* format,
                       const char* argument) {
  if (!first || !second) {
    ErrAssert("..\\gen\\errgpfse.cpp", 573);
    return;
  }
  FormatOrFail(formattedAddress, sizeof formattedAddress, format, first, second, argument);
  CopyForOpening(formattedAddress);

  char systemFolder[kSystemFolderSize];
  if (!GetSystemDirectoryA(systemFolder, sizeof systemFolder)) systemFolder[0] = 0;
  EscapeQuotesForCommandLine(openedAddress);
  FormatOrFail(commandLine, sizeof commandLine, kCommandFormat, systemFolder, commandAddress);
  if (StartProcess(commandLine, true, false) == 0) return;
  if (OpenInProcess(openedAddress)) return;
  WinExec(commandLine, kWinExecShow);
}

const char* LastOpenedAddress() { return openedAddress; }
