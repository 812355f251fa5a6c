#pragma once
#include <windows.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

// The folder of this test program, with a trailing backslash.
std::string BinFolder();

// Owns a handle or key; INVALID_HANDLE_VALUE is taken as none.
template <typename T, auto Close> class Owned {
 public:
  Owned() = default;
  explicit Owned(T owned) : owned_(owned == INVALID_HANDLE_VALUE ? nullptr : owned) {}
  Owned(Owned&& other) noexcept : owned_(std::exchange(other.owned_, nullptr)) {}
  ~Owned() {
    if (owned_) Close(owned_);
  }
  T Get() const { return owned_; }
  T* Out() { return &owned_; }  // for the call that opens it
  explicit operator bool() const { return owned_ != nullptr; }

 private:
  T owned_ = nullptr;
};
typedef Owned<HANDLE, CloseHandle> Handle;
typedef Owned<HKEY, RegCloseKey> Key;

// A variable to set (a value) or to remove (nullopt) in a child's environment.
typedef std::pair<std::string, std::optional<std::string>> EnvChange;

// The test's own environment with the changes applied (names compare
// without regard to case), as a block for CreateProcessA.
std::string EnvironmentBlock(const std::vector<EnvChange>& changes);

// Never outlives its owner, so that a failed test leaves nothing behind.
class Process {
 public:
  // With `streams` (input, output, error) the child inherits them and gets
  // no console. On failure StartError() holds the system's code.
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

std::vector<HWND> DialogsOf(DWORD processId);  // visible, top-level
HWND AwaitDialogOf(DWORD processId, DWORD milliseconds = 10000);
DialogView ReadDialog(HWND dialog);
std::string ControlText(HWND control);
void PressButton(HWND dialog, int id);

// Every dialog the process showed until it ended, each answered when seen
// with `answer` where the dialog has that button, and with OK otherwise.
struct Outcome {
  bool ended = false;  // false: not started, or running at the timeout and killed
  DWORD exitCode = 0;
  std::vector<DialogView> dialogs;
};
Outcome RunToEnd(Process& process, DWORD timeoutMilliseconds, int answer = IDOK);

enum class RegView : REGSAM { k32 = KEY_WOW64_32KEY, k64 = KEY_WOW64_64KEY };

// Stores `data` byte for byte, creating the key as needed.
LONG SetRegValue(HKEY root, RegView view, const std::string& key, const std::string& name,
                 DWORD type, const std::string& data);
LONG CreateRegKey(HKEY root, RegView view, const std::string& key);

std::string RegSz(const std::string& text);
std::string RegDword(DWORD value);

// For its lifetime `key` is absent under HKCU and HKLM in both views; what
// was there is put back after.
class RegistryScope {
 public:
  explicit RegistryScope(const std::string& key);
  RegistryScope(const RegistryScope&) = delete;
  RegistryScope& operator=(const RegistryScope&) = delete;
  ~RegistryScope();

 private:
  struct Place;
  std::string key_;
  std::vector<Place> places_;
};

// A new folder under the temporary folder, removed with its contents.
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

bool CreateFolders(const std::string& path);
bool FileExists(const std::string& path);
std::optional<std::string> ReadFileBytes(const std::string& path);

// A copy of recorder.exe, once started, writes "<copy>.started": its path,
// command line and process id. With this variable naming an event, it then
// waits for that event (at most a minute), so a test can see who waits for it.
const char kRecorderHoldVariable[] = "RECORDER_HOLD";

bool PlaceRecorder(const std::string& path);

struct RecorderReport {
  std::string commandLine;
  Process process;  // the running copy, ended at the latest with the report
};
// nullopt when the copy at `path` was not started within `milliseconds`.
std::optional<RecorderReport> AwaitRecorder(const std::string& path, DWORD milliseconds);
