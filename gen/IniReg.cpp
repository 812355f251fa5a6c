// The registry backend of the store: string values below the predefined
// roots, the section being the key path and the key the value's name.
#include <cstring>

#include "gen/IniStore.h"
#include "gen/RegKey.h"
#include "gen/err/Err.h"

namespace {

const int kUnknownRoot = 210;

const char kRootPrefix[] = "HKEY_";

const struct {
  const char* name;
  HKEY root;
} kRoots[] = {
    {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKEY_USERS", HKEY_USERS},
    {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
};


}  // namespace

HKEY RegistryRootOf(const SettingPath& path) {
  if (path.file.IsUnset() || strncmp(path.file, kRootPrefix, strlen(kRootPrefix)) != 0)
    return nullptr;
  for (const auto& known : kRoots)
    if (strcmp(path.file, known.name) == 0) return known.root;
  // Any other "HKEY_" name is a root this store does not serve (or a
  // misspelt one), never an INI file that happens to be called so.
  ErrAssert(kIniModule, kUnknownRoot);
  return nullptr;
}

bool LookupRegistry(const SettingPath& path, HKEY root, char* buffer) {
  RegKey key;
  if (RegOpenKeyA(root, path.section, key.Out()) != ERROR_SUCCESS) return false;
  DWORD type = 0;
  // The buffer was cleared: a string stored without its terminator still
  // ends within it, since the last byte is never handed out.
  DWORD size = kValueRoom;
  LONG result = RegQueryValueExA(key.Get(), path.key, nullptr, &type,
                                 reinterpret_cast<BYTE*>(buffer + 1), &size);
  if (result == ERROR_SUCCESS && type == REG_SZ) return true;
  // A value of another type, or one too long, may have left bytes behind.
  memset(buffer + 1, 0, kValueRoom);
  return false;
}

// Keys are never created: a write below a missing key, or one the user may
// not change, is lost.
void StoreRegistry(const SettingPath& path, HKEY root, const char* text) {
  RegKey key;
  if (RegOpenKeyExA(root, path.section, 0, KEY_ALL_ACCESS, key.Out()) != ERROR_SUCCESS) return;
  RegSetValueExA(key.Get(), path.key, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                 static_cast<DWORD>(strlen(text) + 1));
}
