#include "gen/Path.h"

#include <mbctype.h>

#include <cstring>

#include "gen/err/Err.h"
#include "mania/Bounded.h"

namespace {

const char kModule[] = "..\\gen\\Path.cpp";

// The rooms of the runtime's path splitting and composition: a component,
// and a whole path, each with its terminator.
const uint32_t kComponentRoom = 512;
const uint32_t kPathRoom = 520;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Bytes of the character at `at`: two for a lead byte of the multibyte
// code page with its second byte still in the text.
uint32_t CharLength(const char* at, const char* end) {
  return _ismbblead(static_cast<unsigned char>(*at)) && at + 1 < end ? 2 : 1;
}

// A component in the room the runtime's splitting gives it; one that does
// not fit goes to the invalid-parameter handler instead of being cut.
Str Component(StrView part) {
  if (!part.Length()) return Str("");
  char room[kComponentRoom];
  FormatOrFail(room, sizeof room, "%.*s", static_cast<int>(part.Length()), part.text);
  return Str(room);
}

bool IsClearMarker(const Str& component) {
  const char* text = component.Text();
  return text && (text[0] == '|' || (text[0] == '.' && text[1] == '|'));
}

void TakeComponent(Str& target, const Str& source) {
  if (IsClearMarker(source))
    target = "";
  else
    target = source;
}

}  // namespace

bool EndsInSeparator(StrView path) {
  const char* end = path.End();
  const char* last = nullptr;
  for (const char* at = path.text; at < end; at += CharLength(at, end)) last = at;
  return last && IsSeparator(*last);
}

PathParts& PathParts::FillMissing(const PathParts& defaults) {
  if (drive.IsEmpty() && folder.IsEmpty()) {
    TakeComponent(drive, defaults.drive);
    TakeComponent(folder, defaults.folder);
  }
  if (name.IsEmpty()) TakeComponent(name, defaults.name);
  if (extension.IsEmpty()) TakeComponent(extension, defaults.extension);
  return *this;
}

PathParts& PathParts::Override(const PathParts& other) {
  if (!other.drive.IsEmpty() || !other.folder.IsEmpty()) {
    TakeComponent(drive, other.drive);
    TakeComponent(folder, other.folder);
  }
  if (!other.name.IsEmpty()) TakeComponent(name, other.name);
  if (!other.extension.IsEmpty()) TakeComponent(extension, other.extension);
  return *this;
}

PathParts& PathParts::AppendRelative(const PathParts& relative) {
  ERR_REQUIRE(relative.drive.IsEmpty() &&
                  !(relative.folder.Length() && IsSeparator(relative.folder.Text()[0])),
              kModule, 47);
  // A split folder already ends in a separator: none is inserted.
  folder = Concat(folder, relative.folder);
  name = relative.name;
  extension = relative.extension;
  return *this;
}

PathParts PathSplit(StrView path) {
  PathParts parts;
  const char* start = path.text;
  const char* end = path.End();
  if (path.Length() >= 2 && start[1] == ':') {
    parts.drive = Str(StrView(start, 2));
    start += 2;
  }
  const char* finalStart = start;
  const char* dot = nullptr;
  for (const char* at = start; at < end; at += CharLength(at, end)) {
    if (IsSeparator(*at)) {
      finalStart = at + 1;
      dot = nullptr;
    } else if (*at == '.') {
      dot = at;
    }
  }
  const char* extensionStart = dot ? dot : end;
  parts.folder = Component(StrView(start, finalStart - start));
  parts.name = Component(StrView(finalStart, extensionStart - finalStart));
  parts.extension = Component(StrView(extensionStart, end - extensionStart));
  return parts;
}

Str PathCompose(const PathParts& parts) {
  char room[kPathRoom] = "";
  if (!parts.drive.IsEmpty()) {
    const char drive[] = {parts.drive.Text()[0], ':', 0};
    AppendOrFail(room, sizeof room, drive);
  }
  if (!parts.folder.IsEmpty()) {
    AppendOrFail(room, sizeof room, parts.folder);
    if (!EndsInSeparator(parts.folder)) AppendOrFail(room, sizeof room, "\\");
  }
  if (!parts.name.IsEmpty()) AppendOrFail(room, sizeof room, parts.name);
  if (!parts.extension.IsEmpty()) {
    if (parts.extension.Text()[0] != '.') AppendOrFail(room, sizeof room, ".");
    AppendOrFail(room, sizeof room, parts.extension);
  }
  // The bounded appends refuse a longer result first; the limit is stated
  // here as well because callers rely on it, not on the appends.
  ERR_REQUIRE(strlen(room) < kPathRoom, kModule, 61);
  return Str(room);
}

void PathFillMissing(Str& path, StrView defaults) {
  path = PathFillMissing(StrView(path), defaults);
}

Str PathFillMissing(StrView path, StrView defaults) {
  return PathCompose(PathSplit(path).FillMissing(PathSplit(defaults)));
}

void PathOverride(Str& path, StrView other) { path = PathOverride(StrView(path), other); }

Str PathOverride(StrView path, StrView other) {
  return PathCompose(PathSplit(path).Override(PathSplit(other)));
}

void WithSeparator(Str& path) {
  if (!path.IsEmpty() && !EndsInSeparator(path)) path = Concat(path, "\\");
}

Str WithSeparator(StrView path) {
  Str result(path);
  WithSeparator(result);
  return result;
}

void WithoutSeparator(Str& path) {
  if (EndsInSeparator(path)) path = Left(path, path.Length() - 1);
}

Str WithoutSeparator(StrView path) {
  Str result(path);
  WithoutSeparator(result);
  return result;
}
