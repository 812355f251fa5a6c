#pragma once
// The Windows side of the tests: processes started and watched from the
// test process, the dialogs they show, the registry, temporary folders, and
// the recorder program that reports being started.
#include <windows.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

// The folder of this test program (with a trailing backslash): the launcher
// and the test doubles are built beside it.
std::string BinFolder();

// Owns a kernel handle; INVALID_HANDLE_VALUE is taken as no handle.
class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE handle) : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
  Handle(Handle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  ~Handle() {
    if (handle_) CloseHandle(handle_);
  }
  HANDLE Get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  HANDLE handle_ = nullptr;
};

class Key {
 public:
  Key() = default;
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  ~Key() {
    if (key_) RegCloseKey(key_);
  }
  HKEY Get() const { return key_; }
  HKEY* Out() { return &key_; }  // for the Reg* call that opens it

 private:
  HKEY key_ = nullptr;
};

// A variable to set (a value) or to remove (nullopt) in a child's environment.
typedef std::pair<std::string, std::optional<std::string>> EnvChange;

// The test's own environment with the changes applied, as a block for
// CreateProcessA. Names compare without regard to case, as Windows does.
std::string EnvironmentBlock(const std::vector<EnvChange>& changes);

// A process started or opened by the test. It never outlives its owner: the
// destructor ends it if it still runs, so a failed test leaves nothing behind.
class Process {
 public:
  // `environment` is a block from EnvironmentBlock, or null for the test's
  // own; an empty `folder` keeps the test's current folder. The child
  // inherits `streams` (input, output, error) when given, and then gets no
  // console. On failure the result is not Started() and StartError() holds
  // the system's code.
  static Process Start(const std::string& commandLine, const std::string* environment = nullptr,
                       const std::string& folder = std::string(),
                       const HANDLE* streams = nullptr);
  static Process Open(DWORD processId);  // one the test did not start

  Process(Process&&) = default;
  ~Process() { Kill(); }

  bool Started() const { return static_cast<bool>(process_); }
  DWORD StartError() const { return startError_; }
  DWORD Id() const { return id_; }
  bool Wait(DWORD milliseconds) const;  // true when it has ended within that time
  DWORD ExitCode() const;               // all 32 bits; STILL_ACTIVE while it runs
  void Kill();                          // returns once it has ended

 private:
  Process(HANDLE process, DWORD id, DWORD startError = 0)
      : process_(process), id_(id), startError_(startError) {}
  Handle process_;
  DWORD id_, startError_;
};

struct DialogView {
  std::string caption;
  std::string text;   // a message box's message (the static with id 0xFFFF)
  bool icon = false;  // a visible static showing an icon
};

// The visible top-level dialogs ("#32770") of a process.
std::vector<HWND> DialogsOf(DWORD processId);
// The first dialog the process shows within `milliseconds`; null when none.
HWND AwaitDialogOf(DWORD processId, DWORD milliseconds = 10000);
DialogView ReadDialog(HWND dialog);
// The text of a control of another process (it answers WM_GETTEXT itself).
std::string ControlText(HWND control);
void PressButton(HWND dialog, int id);

// What a process did until it ended: every dialog it showed, in order, each
// answered as soon as it was seen, with `answer` where the dialog has that
// button and with OK otherwise.
struct Outcome {
  bool ended = false;  // false: not started, or running at the timeout and killed
  DWORD exitCode = 0;
  std::vector<DialogView> dialogs;
};
Outcome RunToEnd(Process& process, DWORD timeoutMilliseconds, int answer = IDOK);

// The registry view a 32-bit test asks for explicitly; under WoW64 only
// parts of HKLM\Software differ between them.
enum class RegView : REGSAM { k32 = KEY_WOW64_32KEY, k64 = KEY_WOW64_64KEY };

// Stores `data` byte for byte as a value of `type`, creating the key as
// needed. Returns the system's result code, as CreateRegKey does.
LONG SetRegValue(HKEY root, RegView view, const std::string& key, const std::string& name,
                 DWORD type, const std::string& data);
LONG CreateRegKey(HKEY root, RegView view, const std::string& key);

// The bytes of a REG_SZ with its terminator; of a REG_DWORD.
std::string RegSz(const std::string& text);
std::string RegDword(DWORD value);

// For the lifetime of the scope, `key` is absent under HKCU and HKLM in both
// views; whatever was there before (values of any type, subkeys) is put
// back at the end.
class RegistryScope {
 public:
  explicit RegistryScope(const std::string& key);
  RegistryScope(const RegistryScope&) = delete;
  RegistryScope& operator=(const RegistryScope&) = delete;
  ~RegistryScope();

 private:
  struct Place;  // one root in one view, with what it held
  std::string key_;
  std::vector<Place> places_;
};

// A unique new folder under the Windows temporary folder, removed with all
// its contents at the end.
class TempFolder {
 public:
  TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder();
  const std::string& Path() const { return path_; }  // no trailing backslash

 private:
  std::string path_;
};

// Creates the folder and any missing parents.
bool CreateFolders(const std::string& path);
bool FileExists(const std::string& path);
// The whole file, or nullopt when it cannot be read.
std::optional<std::string> ReadFileBytes(const std::string& path);

// A copy of recorder.exe, once started, writes "<copy>.started": the path
// the system loaded it from, its command line and its process id. With the
// variable named here set to an event's name, it then waits for that event
// before it ends (at most a minute), so a test can see who waits for it.
const char kRecorderHoldVariable[] = "RECORDER_HOLD";

// Copies recorder.exe to `path`; the folder must exist.
bool PlaceRecorder(const std::string& path);

struct RecorderReport {
  std::string commandLine;
  Process process;  // the running copy, ended at the latest with the report
};
// The report of the copy at `path`, waiting for it up to `milliseconds`;
// nullopt when that copy was not started.
std::optional<RecorderReport> AwaitRecorder(const std::string& path, DWORD milliseconds);
