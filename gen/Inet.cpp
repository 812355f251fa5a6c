#include "gen/Inet.h"

#include <windows.h>

#include <cstring>

#include "gen/Memwing.h"
#include "gen/Pathw32.h"
#include "gen/RegKey.h"
#include "gen/Str.h"
#include "gen/err/Err.h"
#include "gen/err/FaultFlow.h"
#include "mania/Winver.h"

namespace {

const char kModule[] = "..\\gen\\Inet.cpp";
const int kTextsCheckLine = 83;

const char kBrowserCommandKey[] = "http\\shell\\open\\command";
// Where the browser's program name ends: what follows are its own
// arguments and placeholders, replaced by the address.
const char kProgramEnd[] = ".exe ";
const char kUrlModule[] = "url.dll";
const char kHandlerName[] = "FileProtocolHandler";
const char kNotNTFormat[] = "start rundll32 url.dll,FileProtocolHandler %s";
const char kNTFormat[] = "%srundll32 url.dll,FileProtocolHandler %s";
// The 95/98 family's command line has little room.
const uint32_t kNotNTAddressLimit = 400;

const char kLineFeedEscape[] = "%0D%0A";
const char kQuoteEscape[] = "%22";
const UINT kStartShow = SW_SHOWNORMAL;
const int kHandlerShow = SW_SHOW;

// The URL handler's entry as rundll32 calls it.
typedef void(CALLBACK* UrlHandler)(HWND, HINSTANCE, LPSTR, int);


// The registered browser command's beginning up to its program name, taken
// from the first command that has one and kept for the process.
Str& KeptBeginning() {
  static Str beginning;
  return beginning;
}

// The default value of the browser command key, lower-cased; unset when
// the registry gives none.
Str RegisteredBrowserCommand() {
  RegKey key;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, kBrowserCommandKey, 0, KEY_READ, key.Out()) !=
      ERROR_SUCCESS)
    return Str();
  DWORD size = 0;
  if (RegQueryValueExA(key.Get(), nullptr, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS)
    return Str();
  // One byte more than asked for: a value stored without its terminator
  // still ends in one.
  char* value = static_cast<char*>(MemAlloc(size + 1));
  memset(value, 0, size + 1);
  Str command;
  if (RegQueryValueExA(key.Get(), nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value),
                       &size) == ERROR_SUCCESS)
    command = value;
  MemFree(value);
  if (command.IsUnset()) return command;
  return ToLower(command);
}

// The address as one argument of a command line, whatever blanks or quotes
// it holds: quoted, and a quote inside it encoded as a URL would have it,
// so that it cannot end the argument and pass the rest on as arguments of
// their own.
Str QuoteForCommandLine(const char* address) {
  Str quoted(address);
  Replace(quoted, "\"", kQuoteEscape);
  return Str::Format("\"%s\"", quoted.Text());
}

// As QuoteForCommandLine, for a program whose runtime splits its command
// line: backslashes just before the closing quote would escape it, so they
// are doubled and reach the program as they were.
Str QuoteForProgram(const char* address) {
  Str quoted = QuoteForCommandLine(address);
  StrView inner(quoted.Text() + 1, quoted.Length() - 2);
  uint32_t trailing = 0;
  while (trailing < inner.length && inner.text[inner.length - 1 - trailing] == '\\') ++trailing;
  return Concat(Left(quoted, quoted.Length() - 1), Concat(Right(inner, trailing), "\""));
}

// The registered command (lower-cased) with the address in place of its
// arguments, or behind it when its program name is not followed by a blank.
Str BuildBrowserCommand(const char* command, const char* address) {
  Str argument = QuoteForProgram(address);
  const char* programEnd = strstr(command, kProgramEnd);
  if (!programEnd) return Str::Format("%s %s", command, argument.Text());
  Str& beginning = KeptBeginning();
  if (beginning.IsUnset())
    beginning = Left(command, static_cast<uint32_t>(programEnd - command + strlen(kProgramEnd)));
  return Concat(beginning, argument);
}

}  // namespace

Str BuildUrlCommand(const char* address, bool notNT, const char* systemFolder) {
  if (notNT)
    return Str::Format(kNotNTFormat, QuoteForCommandLine(Left(address, kNotNTAddressLimit)).Text());
  return Str::Format(kNTFormat, systemFolder, QuoteForCommandLine(address).Text());
}

bool OpenBrowser(const char* address) {
  Str command = RegisteredBrowserCommand();
  if (command.IsUnset()) return false;
  WinExec(BuildBrowserCommand(command, address), kStartShow);
  return true;
}

void OpenUrl(const char* format, const char* first, const char* second, const char* third) {
  if (!first || !second) {
    ErrAssert(kModule, kTextsCheckLine);
    return;
  }
  Str address = Str::Format(format, first, second, third);
  Replace(address, "\n", kLineFeedEscape);

  if (HMODULE module = LoadLibraryA(kUrlModule)) {
    UrlHandler handler = reinterpret_cast<UrlHandler>(
        reinterpret_cast<void*>(GetProcAddress(module, kHandlerName)));
    // No command line here: the handler gets the address as it is.
    if (handler) handler(GetDesktopWindow(), moduleHandle, address.Text(), kHandlerShow);
    FreeLibrary(module);
    if (handler) return;
  }
  WinVersionInfo windows;
  Str systemFolder = windows.IsNotNT() ? Str("") : SystemFolder();
  WinExec(BuildUrlCommand(address, windows.IsNotNT(), systemFolder), kStartShow);
}

void Browse(const char* address) {
  if (!OpenBrowser(address)) OpenUrl("%s", address, "", "");
}

void BrowseWeb(const char* address) {
  if (!OpenBrowser(address)) OpenUrl("http://%s", address, "", "");
}

void BrowseFile(const char* path) { OpenUrl("file://%s", path, "", ""); }
