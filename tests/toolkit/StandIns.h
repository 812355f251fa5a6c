#pragma once
// Test doubles put in place of what the system opens: the web browser and
// the system's URL module.
#include <optional>
#include <string>

#include "toolkit/WinTest.h"

// For its lifetime the registered web browser is a recorder copy, so that
// every http address opened reaches it; the registry is put back after.
class BrowserStandIn {
 public:
  BrowserStandIn() : classes_("Software\\Classes\\http"), path_(folder_.Path() + "\\b.exe") {
    ready_ = PlaceRecorder(path_);
    for (RegView view : {RegView::k32, RegView::k64})
      ready_ = ready_ && SetRegValue(HKEY_LOCAL_MACHINE, view,
                                     "Software\\Classes\\http\\shell\\open\\command", "", REG_SZ,
                                     RegSz("\"" + path_ + "\" \"%1\"")) == ERROR_SUCCESS;
  }
  bool Ready() const { return ready_; }
  // The address the browser received as its one argument, or its whole
  // command line when that is not what it holds.
  std::optional<std::string> Received(DWORD milliseconds = 10000) const {
    std::optional<RecorderReport> report = AwaitRecorder(path_, milliseconds);
    if (!report) return std::nullopt;
    const std::string& line = report->commandLine;
    std::string start = "\"" + path_ + "\" \"";
    if (line.rfind(start, 0) != 0 || line.back() != '"') return line;
    return line.substr(start.size(), line.size() - start.size() - 1);
  }

 private:
  TempFolder folder_;
  RegistryScope classes_;
  std::string path_;
  bool ready_ = false;
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
    if (FileExists(aside())) CopyFileA(aside().c_str(), installed_.c_str(), FALSE);
    ready_ = CopyFileA(installed_.c_str(), aside().c_str(), FALSE) &&
             CopyFileA((BinFolder() + "url_standin.dll").c_str(), installed_.c_str(), FALSE);
  }
  ~UrlModuleStandIn() {
    if (CopyFileA(aside().c_str(), installed_.c_str(), FALSE)) DeleteFileA(aside().c_str());
  }
  bool Ready() const { return ready_; }

 private:
  std::string aside() const { return installed_ + ".original"; }
  std::string installed_;
  bool ready_ = false;
};

