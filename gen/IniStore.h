#pragma once
// The store's backends, shared by the setting path flows (gen/Ini.cpp),
// the INI files (gen/IniFile.cpp) and the registry (gen/IniReg.cpp).
#include <windows.h>

#include "gen/Ini.h"

// Every check of the store names one module, wherever its code sits.
extern const char kIniModule[];

// A value read passes through one buffer: the backends write it from the
// second byte on, and the last byte stays the terminator, so a value holds
// at most 2,046 characters.
const uint32_t kReadBufferSize = 2048;
const uint32_t kValueRoom = kReadBufferSize - 2;

// The predefined root the path's file names, or null for an INI file. A
// file beginning with "HKEY_" that is none of the five roots is a failed
// check.
HKEY RegistryRootOf(const SettingPath& path);

// Both lookups leave the buffer (cleared by the caller) holding the value
// from its second byte on when they answer true.
bool LookupIni(const SettingPath& path, char* buffer);
bool LookupRegistry(const SettingPath& path, HKEY root, char* buffer);
// Neither store reports a failure: a value that cannot be written is lost.
void StoreIni(const SettingPath& path, const char* text);
void StoreRegistry(const SettingPath& path, HKEY root, const char* text);

// One INI read of `key` + `suffix` (no suffix when 0) into `target`, which
// has room for kIniReadSize bytes. True when the key is present, even empty.
const uint32_t kIniReadSize = 1024;
bool ReadIniPart(char* target, const SettingPath& path, char suffix);
