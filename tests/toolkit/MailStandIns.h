#pragma once
// Test doubles for composing mail: the mail program registered for mailto:
// addresses, WIN.INI's permission for the mail client, and the client's
// library (MAPI32.dll beside the test programs, see mapi_double.cpp).
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "toolkit/StandIns.h"
#include "toolkit/WinTest.h"

// The registered mail program, so that every mailto: address reaches it.
class MailtoStandIn : public SchemeStandIn {
 public:
  MailtoStandIn() : SchemeStandIn("mailto") {}
};

// For its lifetime WIN.INI's [MAIL] MAPI holds `value` (removed for
// nullopt); the file's bytes are put back after.
class MapiPermission {
 public:
  explicit MapiPermission(std::optional<std::string> value) {
    char folder[MAX_PATH];
    GetWindowsDirectoryA(folder, MAX_PATH);
    path_ = std::string(folder) + "\\win.ini";
    saved_ = ReadFileBytes(path_);
    WritePrivateProfileStringA("MAIL", "MAPI", value ? value->c_str() : nullptr, "WIN.INI");
  }
  ~MapiPermission() {
    // The platform caches the file: let go of it before the bytes go back.
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, "WIN.INI");
    if (saved_) {
      std::ofstream(path_, std::ios::binary | std::ios::trunc) << *saved_;
    } else {
      DeleteFileA(path_.c_str());
    }
  }
  MapiPermission(const MapiPermission&) = delete;
  MapiPermission& operator=(const MapiPermission&) = delete;

 private:
  std::string path_;
  std::optional<std::string> saved_;
};

// For its lifetime the client's library of this process and its children
// answers logons and sendings with the given results and records its calls.
// The platform prefers its own library of that name unless told otherwise;
// its loader reads the override at each load, from a key it keeps open, so
// only the value comes and goes.
class MapiDouble {
 public:
  explicit MapiDouble(ULONG logonResult = 0, ULONG sendResult = 0)
      : record_(folder_.Path() + "\\calls.txt") {
    char saved[64];
    DWORD size = sizeof saved;
    if (RegGetValueA(HKEY_CURRENT_USER, kOverrides, "mapi32", RRF_RT_REG_SZ, nullptr, saved,
                     &size) == ERROR_SUCCESS)
      savedOverride_ = saved;
    SetRegValue(HKEY_CURRENT_USER, RegView::k32, kOverrides, "mapi32", REG_SZ,
                RegSz("native,builtin"));
    SetEnvironmentVariableA("MAPI_DOUBLE_RECORD", record_.c_str());
    SetEnvironmentVariableA("MAPI_DOUBLE_LOGON", std::to_string(logonResult).c_str());
    SetEnvironmentVariableA("MAPI_DOUBLE_SEND", std::to_string(sendResult).c_str());
  }
  ~MapiDouble() {
    for (const char* name : {"MAPI_DOUBLE_RECORD", "MAPI_DOUBLE_LOGON", "MAPI_DOUBLE_SEND"})
      SetEnvironmentVariableA(name, nullptr);
    if (savedOverride_)
      SetRegValue(HKEY_CURRENT_USER, RegView::k32, kOverrides, "mapi32", REG_SZ,
                  RegSz(*savedOverride_));
    else
      RegDeleteKeyValueA(HKEY_CURRENT_USER, kOverrides, "mapi32");
  }
  MapiDouble(const MapiDouble&) = delete;
  MapiDouble& operator=(const MapiDouble&) = delete;

  // The calls so far, one line each; texts quoted, line breaks as \r and \n.
  std::vector<std::string> Calls() const {
    std::vector<std::string> lines;
    std::istringstream stream(ReadFileBytes(record_).value_or(""));
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
  }
  // The first recorded line beginning with `word` and a blank, without them.
  std::string Call(const std::string& word) const {
    for (const std::string& line : Calls())
      if (line.rfind(word + " ", 0) == 0) return line.substr(word.size() + 1);
    return "<none>";
  }

 private:
  static constexpr const char* kOverrides = "Software\\Wine\\DllOverrides";
  TempFolder folder_;
  std::string record_;
  std::optional<std::string> savedOverride_;
};
