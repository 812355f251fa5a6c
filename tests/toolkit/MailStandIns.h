#pragma once
// Test doubles for composing mail: WIN.INI's permission for the mail client
// and the client's library (MAPI32.dll beside the test programs, see
// mapi_double.cpp). The mail program is a SchemeStandIn for "mailto".
#include <fstream>
#include <optional>
#include <string>

#include "toolkit/StandIns.h"
#include "toolkit/WinTest.h"

// For its lifetime WIN.INI's [MAIL] MAPI holds `value` (removed for null);
// the file's bytes are put back after.
class MapiPermission {
 public:
  explicit MapiPermission(const char* value) : saved_(ReadFileBytes(Path())) {
    WritePrivateProfileStringA("MAIL", "MAPI", value, "WIN.INI");
  }
  ~MapiPermission() {
    // The platform caches the file: let go of it before the bytes go back.
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, "WIN.INI");
    if (saved_)
      std::ofstream(Path(), std::ios::binary | std::ios::trunc) << *saved_;
    else
      DeleteFileA(Path().c_str());
  }
  MapiPermission(const MapiPermission&) = delete;
  MapiPermission& operator=(const MapiPermission&) = delete;

 private:
  static std::string Path() {
    char folder[MAX_PATH];
    return std::string(folder, GetWindowsDirectoryA(folder, MAX_PATH)) + "\\win.ini";
  }
  std::optional<std::string> saved_;
};

// For its lifetime the client's library of this process and its children
// answers logons and sendings with the given results and records its calls.
// The platform prefers its own library of that name unless told otherwise;
// its loader reads the override at each load, from a key it keeps open, so
// only the value comes and goes.
class MapiDouble {
 public:
  explicit MapiDouble(ULONG logonResult = 0, ULONG sendResult = 0) {
    DWORD size = sizeof saved_;
    hadOverride_ = RegGetValueA(HKEY_CURRENT_USER, kOverrides, "mapi32", RRF_RT_REG_SZ, nullptr,
                                saved_, &size) == ERROR_SUCCESS;
    SetRegValue(HKEY_CURRENT_USER, RegView::k32, kOverrides, "mapi32", REG_SZ,
                RegSz("native,builtin"));
    SetEnvironmentVariableA("MAPI_DOUBLE_RECORD", record_.c_str());
    SetEnvironmentVariableA("MAPI_DOUBLE_LOGON", std::to_string(logonResult).c_str());
    SetEnvironmentVariableA("MAPI_DOUBLE_SEND", std::to_string(sendResult).c_str());
  }
  ~MapiDouble() {
    for (const char* name : {"MAPI_DOUBLE_RECORD", "MAPI_DOUBLE_LOGON", "MAPI_DOUBLE_SEND"})
      SetEnvironmentVariableA(name, nullptr);
    if (hadOverride_)
      SetRegValue(HKEY_CURRENT_USER, RegView::k32, kOverrides, "mapi32", REG_SZ, RegSz(saved_));
    else
      RegDeleteKeyValueA(HKEY_CURRENT_USER, kOverrides, "mapi32");
  }
  MapiDouble(const MapiDouble&) = delete;
  MapiDouble& operator=(const MapiDouble&) = delete;

  // The calls so far, one line each; texts quoted, line breaks as \r and \n.
  std::string Calls() const { return ReadFileBytes(record_).value_or(""); }
  // The rest of the line of the first call named `word`.
  std::string Call(const std::string& word) const {
    std::string calls = "\n" + Calls();
    size_t at = calls.find("\n" + word + " ");
    if (at == std::string::npos) return "<none>";
    at += word.size() + 2;
    return calls.substr(at, calls.find('\n', at) - at);
  }

 private:
  static constexpr const char* kOverrides = "Software\\Wine\\DllOverrides";
  TempFolder folder_;
  std::string record_ = folder_.Path() + "\\calls.txt";
  char saved_[64] = "";
  bool hadOverride_ = false;
};
