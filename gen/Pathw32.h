#pragma once
#include <io.h>

#include <cstdint>

#include "gen/Str.h"

// The folders that Windows and the product use. Each result is a new text;
// folders end in "\". A folder Windows cannot give is a failed check.
Str WindowsFolder();
Str SystemFolder();
Str CurrentFolder();
Str TempFolder();
// The executable's full file name.
Str ModuleFileName();
// The executable's name and extension only.
Str ModuleBaseName();
// "<AppData>\NARV\" and "<AllUsersProfile>\NARV\". When the variable is
// unset, empty, or too long for the folder's room, the temporary folder
// instead: callers always get a folder that exists and ends in "\".
Str UserDataFolder();
Str CommonDataFolder();

// Windows' own result: non-zero on success. Changes the folder for every
// thread of the process.
int SetCurrentFolder(const char* folder);

// The first existing, readable file (not a folder) among `name` placed in
// the current folder, beside the executable, in the user's and the common
// data folder and in the Windows folder, in this order. `name` overrides
// each of them as PathOverride does, so a name without an extension keeps
// the executable's one at the second place, and a name with its own folder
// is the same candidate everywhere. When none exists: the candidate in the
// user's data folder, where such a file is to be created.
Str FindDataFile(Str name);

// The files of a folder matching a pattern, folders skipped. The search is
// given back to the runtime as soon as it is exhausted, and when the object
// is destroyed.
//   for (FileFind file("C:\\Scans\\*.tif"); file.More(); file.Next()) Use(file.Name());
class FileFind {
 public:
  // A pattern that matches nothing, or a folder that does not exist, gives
  // an exhausted search; any other failure of the search is a failed check.
  explicit FileFind(const char* pattern);
  FileFind(const FileFind&) = delete;
  FileFind& operator=(const FileFind&) = delete;
  ~FileFind();

  bool More() const { return handle_ != kExhausted; }
  // On to the next file; checked: not on an exhausted search.
  void Next();
  // Checked: not on an exhausted search.
  Str Name() const;
  // Unchecked: empty on an exhausted search.
  Str CurrentName() const { return Str(entry_.name); }
  uint32_t Size() const { return entry_.size; }
  uint32_t Attributes() const { return entry_.attrib; }
  // Seconds since 1 January 1970 (UTC).
  int64_t WriteTime() const { return entry_.time_write; }

 private:
  // The runtime's handle is an address, which may lie above 2 GiB in a
  // large-address-aware process: only its failure value means "none".
  static const intptr_t kExhausted = -1;
  void GiveBack();

  intptr_t handle_;
  _finddata64i32_t entry_;
};
