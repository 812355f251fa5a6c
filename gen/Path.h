#pragma once
#include "gen/Str.h"

// File paths taken apart and put together again. Both "\" and "/" count as
// separators wherever a path is examined; where one is added it is "\".
// Two-byte characters of the multibyte code page are kept whole, so a
// second byte that happens to be "\" is never taken for a separator.

// A path in four components. For C:\Data\Scan.tif: drive "C:", folder
// "\Data\" (up to and including the last separator), name "Scan" and
// extension ".tif" (from the last "." of the final component). Components
// are never unset; missing ones are empty.
//
// Components copied in from another PathParts follow the clear markers: a
// text that begins with "|" or ".|" is copied as the empty text. Split,
// "|.|" gives name "|" and extension ".|" (clear both), "|/" gives folder
// "|/" (clear drive and folder).
struct PathParts {
  Str drive{""};
  Str folder{""};
  Str name{""};
  Str extension{""};

  // Each missing component is taken from `defaults`; drive and folder go
  // together, and only when both are missing here.
  PathParts& FillMissing(const PathParts& defaults);
  // Each component present in `other` replaces this one's; drive and folder
  // go together, so a relative folder in `other` replaces both.
  PathParts& Override(const PathParts& other);
  // Extends the folder by the relative path's folder (checked: no drive, no
  // leading separator) and takes its name and extension, empty or not.
  PathParts& AppendRelative(const PathParts& relative);
};

// Folder, name and extension hold at most 511 characters each: a longer one
// goes to the runtime's invalid-parameter handler, never cut.
PathParts PathSplit(StrView path);
// At most 519 characters; a longer result goes to the invalid-parameter
// handler. Adds "\" behind a folder without one, "." before an extension
// without one.
Str PathCompose(const PathParts& parts);

// The in-place forms return nothing, so that a call meant to give a new
// text cannot change its argument unnoticed.
void PathFillMissing(Str& path, StrView defaults);
Str PathFillMissing(StrView path, StrView defaults);
void PathOverride(Str& path, StrView other);
Str PathOverride(StrView path, StrView other);

// Adds "\" to a non-empty path that does not end in a separator.
void WithSeparator(Str& path);
Str WithSeparator(StrView path);
// Removes one trailing separator, if there is one.
void WithoutSeparator(Str& path);
Str WithoutSeparator(StrView path);
bool EndsInSeparator(StrView path);
