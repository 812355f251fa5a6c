#include "gen/Pathw32.h"

#include <windows.h>

#include <cerrno>

#include "gen/Path.h"
#include "gen/err/Err.h"
#include "gen/err/FaultFlow.h"
#include "mania/Bounded.h"

namespace {

const char kModule[] = "..\\gen\\Pathw32.cpp";

const uint32_t kFolderRoom = 4096;
// The current and temporary folders' room, one byte less.
const uint32_t kShortFolderRoom = 4095;
const char kProductFolder[] = "\\NARV";

// `length` is what Windows answered: 0 for a failure, the size it needs
// when the text did not fit into `room`.
Str FolderFrom(const char* room, uint32_t length, uint32_t roomSize, int line) {
  ERR_REQUIRE(length != 0 && length < roomSize, kModule, line);
  Str folder(RequireText(room));
  WithSeparator(folder);
  return folder;
}

Str ProductDataFolder(const char* variable) {
  char room[kFolderRoom];
  DWORD length = GetEnvironmentVariableA(variable, room, sizeof room);
  // Unset, empty or too long: a folder under the root of the current drive,
  // or one cut short, could hold anything; the temporary folder exists.
  if (length == 0 || length + sizeof kProductFolder > sizeof room) return TempFolder();
  // Keeps "C:\" from becoming "C:\\NARV".
  if (EndsInSeparator(StrView(room, length))) room[length - 1] = 0;
  AppendOrFail(room, sizeof room, kProductFolder);
  Str folder(RequireText(room));
  WithSeparator(folder);
  return folder;
}

// A folder of that name is no data file: opening it would fail later.
bool IsReadableFile(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

Str WindowsFolder() {
  char room[kFolderRoom];
  return FolderFrom(room, GetWindowsDirectoryA(room, sizeof room), sizeof room, 15);
}

Str SystemFolder() {
  char room[kFolderRoom];
  return FolderFrom(room, GetSystemDirectoryA(room, sizeof room), sizeof room, 20);
}

Str CurrentFolder() {
  char room[kShortFolderRoom];
  return FolderFrom(room, GetCurrentDirectoryA(sizeof room, room), sizeof room, 25);
}

Str TempFolder() {
  char room[kShortFolderRoom];
  return FolderFrom(room, GetTempPathA(sizeof room, room), sizeof room, 30);
}

Str ModuleFileName() {
  ERR_REQUIRE(moduleHandle != nullptr, kModule, 35);
  char room[kFolderRoom];
  // A name cut to the room comes back with the room's size as its length.
  DWORD length = GetModuleFileNameA(moduleHandle, room, sizeof room);
  ERR_REQUIRE(length != 0 && length < sizeof room, kModule, 36);
  return Str(RequireText(room));
}

Str ModuleBaseName() { return PathOverride(ModuleFileName(), "|/"); }

Str UserDataFolder() { return ProductDataFolder("AppData"); }

Str CommonDataFolder() { return ProductDataFolder("AllUsersProfile"); }

int SetCurrentFolder(const char* folder) { return SetCurrentDirectoryA(folder); }

Str FindDataFile(Str name) {
  Str (*const bases[])() = {CurrentFolder, ModuleFileName, UserDataFolder, CommonDataFolder,
                            WindowsFolder};
  for (Str (*base)() : bases) {
    Str candidate = PathOverride(base(), name);
    if (IsReadableFile(candidate)) return candidate;
  }
  return PathOverride(UserDataFolder(), name);
}

FileFind::FileFind(const char* pattern) : handle_(_findfirst64i32(pattern, &entry_)) {
  if (handle_ == kExhausted) {
    // A missing folder or no match is an empty search; anything else
    // (a malformed pattern, a folder that cannot be read) is the caller's
    // mistake or a broken system.
    ERR_REQUIRE(errno == ENOENT, kModule, 63);
    return;
  }
  if (entry_.attrib & _A_SUBDIR) Next();
}

FileFind::~FileFind() { GiveBack(); }

void FileFind::GiveBack() {
  if (handle_ != kExhausted) _findclose(handle_);
  handle_ = kExhausted;
}

void FileFind::Next() {
  ERR_REQUIRE(More(), kModule, 72);
  do {
    if (_findnext64i32(handle_, &entry_) != 0) {
      GiveBack();
      return;
    }
  } while (entry_.attrib & _A_SUBDIR);
}

Str FileFind::Name() const {
  ERR_REQUIRE(More(), kModule, 68);
  return CurrentName();
}
