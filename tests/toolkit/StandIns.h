#pragma once
// Test doubles put in place of what the system opens: the web browser and
// the system's URL module.
#include <functional>
#include <optional>
#include <string>

#include "toolkit/WinTest.h"

// For its lifetime a recorder copy is the program registered for `scheme`
// (http, file, mailto), started by the command `command` makes of its path
// (by default the quoted path and the quoted address); the registry is put
// back after.
class SchemeStandIn {
 public:
  explicit SchemeStandIn(const std::string& scheme,
                         const std::function<std::string(const std::string&)>& command =
                             [](const std::string& path) { return "\"" + path + "\" \"%1\""; })
      : classes_("Software\\Classes\\" + scheme), path_(folder_.Path() + "\\s.exe") {
    ready_ = PlaceRecorder(path_);
    for (RegView view : {RegView::k32, RegView::k64})
      ready_ = ready_ && SetRegValue(HKEY_LOCAL_MACHINE, view,
                                     "Software\\Classes\\" + scheme + "\\shell\\open\\command",
                                     "", REG_SZ, RegSz(command(path_))) == ERROR_SUCCESS;
  }
  bool Ready() const { return ready_; }
  const std::string& Path() const { return path_; }
  // The recorder's whole command line; nullopt when it was not started.
  std::optional<std::string> CommandLine(DWORD milliseconds = 10000) const {
    std::optional<RecorderReport> report = AwaitRecorder(path_, milliseconds);
    return report ? std::optional<std::string>(report->commandLine) : std::nullopt;
  }
  // The address received as the one argument of the default command, or
  // the whole command line when that is not what it holds.
  std::optional<std::string> Received(DWORD milliseconds = 10000) const {
    std::optional<std::string> line = CommandLine(milliseconds);
    std::string start = "\"" + path_ + "\" \"";
    if (line && line->rfind(start, 0) == 0 && line->back() == '"')
      return line->substr(start.size(), line->size() - start.size() - 1);
    return line;
  }

 private:
  TempFolder folder_;
  RegistryScope classes_;
  std::string path_;
  bool ready_ = false;
};

// The registered web browser, so that every http address opened reaches it.
struct BrowserStandIn : SchemeStandIn {
  BrowserStandIn() : SchemeStandIn("http") {}
};

// For its lifetime rundll32 loads the test's URL module, which passes
// addresses of any length on. The platform's module waits aside; one left
// there by an interrupted run is put back first.
class UrlModuleStandIn {
 public:
  UrlModuleStandIn() {
    char folder[MAX_PATH];
    if (!GetSystemWow64DirectoryA(folder, MAX_PATH)) GetSystemDirectoryA(folder, MAX_PATH);
    installed_ = std::string(folder) + "\\url.dll";
    aside_ = installed_ + ".original";
    if (FileExists(aside_)) CopyFileA(aside_.c_str(), installed_.c_str(), FALSE);
    ready_ = CopyFileA(installed_.c_str(), aside_.c_str(), FALSE) &&
             CopyFileA((BinFolder() + "url_standin.dll").c_str(), installed_.c_str(), FALSE);
  }
  ~UrlModuleStandIn() {
    if (CopyFileA(aside_.c_str(), installed_.c_str(), FALSE)) DeleteFileA(aside_.c_str());
  }
  bool Ready() const { return ready_; }

 private:
  std::string installed_, aside_;
  bool ready_ = false;
};
