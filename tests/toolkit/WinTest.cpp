#include "toolkit/WinTest.h"

#include <algorithm>
#include <cstring>

namespace {

// Asks `done` every few milliseconds until it says yes (true) or
// `milliseconds` have passed (false).
template <typename Done> bool Poll(DWORD milliseconds, Done done) {
  for (DWORD start = GetTickCount();; Sleep(10)) {
    if (done()) return true;
    if (GetTickCount() - start >= milliseconds) return false;
  }
}

}  // namespace

std::string BinFolder() {
  char path[MAX_PATH];
  std::string folder(path, GetModuleFileNameA(nullptr, path, MAX_PATH));
  return folder.substr(0, folder.find_last_of('\\') + 1);
}

std::string EnvironmentBlock(const std::vector<EnvChange>& changes) {
  std::vector<std::string> entries;
  char* strings = GetEnvironmentStringsA();
  for (const char* entry = strings; entry && *entry; entry += strlen(entry) + 1)
    entries.emplace_back(entry);
  if (strings) FreeEnvironmentStringsA(strings);
  for (const EnvChange& change : changes) {
    std::string prefix = change.first + "=";
    int length = static_cast<int>(prefix.size());
    auto named = [&](const std::string& entry) {
      return entry.size() >= prefix.size() &&
             CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, entry.data(), length,
                            prefix.data(), length) == CSTR_EQUAL;
    };
    entries.erase(std::remove_if(entries.begin(), entries.end(), named), entries.end());
    if (change.second) entries.push_back(prefix + *change.second);
  }
  std::string block;
  for (const std::string& entry : entries) block += entry + '\0';
  if (entries.empty()) block += '\0';
  return block + '\0';
}

Process Process::Start(const std::string& commandLine, const std::string* environment,
                       const std::string& folder, const HANDLE* streams) {
  std::string line = commandLine;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  if (streams) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = streams[0];
    startup.hStdOutput = streams[1];
    startup.hStdError = streams[2];
  }
  PROCESS_INFORMATION info = {};
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, streams != nullptr,
                      streams ? CREATE_NO_WINDOW : 0,
                      environment ? const_cast<char*>(environment->data()) : nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup, &info))
    return Process(nullptr, 0, GetLastError());
  CloseHandle(info.hThread);
  return Process(info.hProcess, info.dwProcessId);
}

Process Process::Open(DWORD processId) {
  return Process(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION,
                             FALSE, processId),
                 processId);
}

bool Process::Wait(DWORD milliseconds) const {
  return !process_ || WaitForSingleObject(process_.Get(), milliseconds) == WAIT_OBJECT_0;
}

DWORD Process::ExitCode() const {
  DWORD code = STILL_ACTIVE;
  if (process_) GetExitCodeProcess(process_.Get(), &code);
  return code;
}

void Process::Kill() {
  if (Wait(0)) return;
  TerminateProcess(process_.Get(), 1);
  Wait(5000);
}

namespace {

bool HasClass(HWND window, const char* name) {
  char found[32];
  return GetClassNameA(window, found, sizeof found) && lstrcmpiA(found, name) == 0;
}

// The process asked about and its dialogs found.
typedef std::pair<DWORD, std::vector<HWND>> DialogSearch;

BOOL CALLBACK CollectDialog(HWND window, LPARAM param) {
  DialogSearch* search = reinterpret_cast<DialogSearch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  // A message box is shown only once its texts are set.
  if (owner == search->first && IsWindowVisible(window) && HasClass(window, "#32770"))
    search->second.push_back(window);
  return TRUE;
}

BOOL CALLBACK FindIcon(HWND child, LPARAM param) {
  LONG style = GetWindowLongA(child, GWL_STYLE);
  bool icon = HasClass(child, "Static") && (style & SS_TYPEMASK) == SS_ICON &&
              (style & WS_VISIBLE) && SendMessageA(child, STM_GETICON, 0, 0);
  if (icon) *reinterpret_cast<bool*>(param) = true;
  return !icon;
}

}  // namespace

std::vector<HWND> DialogsOf(DWORD processId) {
  DialogSearch search{processId, {}};
  EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&search));
  return search.second;
}

HWND AwaitDialogOf(DWORD processId, DWORD milliseconds) {
  std::vector<HWND> dialogs;
  return Poll(milliseconds, [&] { return !(dialogs = DialogsOf(processId)).empty(); })
             ? dialogs.front()
             : nullptr;
}

// Sends WM_GETTEXT: the text of another process's control is not known to
// GetWindowTextA, only to the control itself.
std::string ControlText(HWND control) {
  if (!control) return std::string();
  std::string text(static_cast<size_t>(SendMessageA(control, WM_GETTEXTLENGTH, 0, 0)) + 1, '\0');
  text.resize(SendMessageA(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0])));
  return text;
}

DialogView ReadDialog(HWND dialog) {
  const int kMessageId = 0xFFFF;
  DialogView view{ControlText(dialog), ControlText(GetDlgItem(dialog, kMessageId))};
  EnumChildWindows(dialog, FindIcon, reinterpret_cast<LPARAM>(&view.icon));
  return view;
}

void PressButton(HWND dialog, int id) {
  PostMessageA(dialog, WM_COMMAND, static_cast<WPARAM>(id), 0);
}

Outcome RunToEnd(Process& process, DWORD timeoutMilliseconds, int answer) {
  Outcome outcome;
  std::vector<HWND> answered;
  outcome.ended = process.Started() && Poll(timeoutMilliseconds, [&] {
    if (process.Wait(0)) return true;
    for (HWND dialog : DialogsOf(process.Id())) {
      if (std::find(answered.begin(), answered.end(), dialog) != answered.end()) continue;
      answered.push_back(dialog);
      outcome.dialogs.push_back(ReadDialog(dialog));
      PressButton(dialog, GetDlgItem(dialog, answer) ? answer : IDOK);
    }
    return false;
  });
  if (outcome.ended) outcome.exitCode = process.ExitCode();
  process.Kill();
  return outcome;
}

namespace {

// RegSetValueExA quietly counts one more byte when a string's last byte is
// not zero but the byte behind it is; a non-zero guard byte keeps a value
// stored without terminator exactly as given.
LONG SetValueBytes(HKEY key, const std::string& name, DWORD type, const std::string& data) {
  std::string guarded = data + '\x7F';
  return RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(guarded.data()),
                        static_cast<DWORD>(data.size()));
}

LONG CreateKey(HKEY parent, REGSAM view, const std::string& name, Key* key) {
  return RegCreateKeyExA(parent, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr,
                         key->Out(), nullptr);
}

// Removes the key with everything below it, if it is there.
void DeleteKey(HKEY root, REGSAM view, const std::string& name) {
  {
    Key key;
    if (RegOpenKeyExA(root, name.c_str(), 0, KEY_ALL_ACCESS | view, key.Out()) != ERROR_SUCCESS ||
        RegDeleteTreeA(key.Get(), nullptr) != ERROR_SUCCESS)
      return;
  }
  RegDeleteKeyExA(root, name.c_str(), view, 0);
}

}  // namespace

LONG SetRegValue(HKEY root, RegView view, const std::string& key, const std::string& name,
                 DWORD type, const std::string& data) {
  Key opened;
  LONG status = CreateKey(root, static_cast<REGSAM>(view), key, &opened);
  return status == ERROR_SUCCESS ? SetValueBytes(opened.Get(), name, type, data) : status;
}

LONG CreateRegKey(HKEY root, RegView view, const std::string& key) {
  Key opened;
  return CreateKey(root, static_cast<REGSAM>(view), key, &opened);
}

std::string RegSz(const std::string& text) { return text + '\0'; }

std::string RegDword(DWORD value) {
  return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

// What a place held is copied to a key of its own under HKCU\Software,
// which no registry view redirects.
struct RegistryScope::Place {
  HKEY root;
  REGSAM view;
  std::string copy;
  bool saved;
};

RegistryScope::RegistryScope(const std::string& key) : key_(key) {
  static int copies = 0;
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
      Place place{root, view, "Software\\WinTestSaved-" + std::to_string(GetCurrentProcessId()) +
                                  "-" + std::to_string(++copies), false};
      Key original, copy;
      place.saved =
          RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | view, original.Out()) == ERROR_SUCCESS &&
          CreateKey(HKEY_CURRENT_USER, 0, place.copy, &copy) == ERROR_SUCCESS &&
          RegCopyTreeA(original.Get(), nullptr, copy.Get()) == ERROR_SUCCESS;
      places_.push_back(place);
    }
  for (const Place& place : places_) DeleteKey(place.root, place.view, key_);
}

// Everything goes first: in the views that share a key, restoring one
// would otherwise be undone by clearing the other.
RegistryScope::~RegistryScope() {
  for (const Place& place : places_) DeleteKey(place.root, place.view, key_);
  for (const Place& place : places_) {
    Key restored, copy;
    if (place.saved && CreateKey(place.root, place.view, key_, &restored) == ERROR_SUCCESS &&
        RegOpenKeyExA(HKEY_CURRENT_USER, place.copy.c_str(), 0, KEY_READ, copy.Out()) ==
            ERROR_SUCCESS)
      RegCopyTreeA(copy.Get(), nullptr, restored.Get());
    DeleteKey(HKEY_CURRENT_USER, 0, place.copy);
  }
}

namespace {

void RemoveTree(const std::string& path) {
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((path + "\\*").c_str(), &entry);
  for (bool more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileA(find, &entry)) {
    std::string name = entry.cFileName, child = path + "\\" + name;
    if (name == "." || name == "..") continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      RemoveTree(child);
    } else {
      SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileA(child.c_str());
    }
  }
  if (find != INVALID_HANDLE_VALUE) FindClose(find);
  RemoveDirectoryA(path.c_str());
}

}  // namespace

TempFolder::TempFolder() {
  static unsigned counter = 0;
  char temp[MAX_PATH + 1];
  std::string base(temp, GetTempPathA(sizeof temp, temp));
  if (!base.empty() && base.back() == '\\') base.pop_back();
  do {
    path_ = base + "\\wintest-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(++counter);
  } while (!CreateDirectoryA(path_.c_str(), nullptr) && GetLastError() == ERROR_ALREADY_EXISTS);
}

TempFolder::~TempFolder() { RemoveTree(path_); }

bool CreateFolders(const std::string& path) {
  for (size_t end = path.find('\\', 3);; end = path.find('\\', end + 1)) {
    if (!CreateDirectoryA(path.substr(0, end).c_str(), nullptr) &&
        GetLastError() != ERROR_ALREADY_EXISTS)
      return false;
    if (end == std::string::npos) return true;
  }
}

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::optional<std::string> ReadFileBytes(const std::string& path) {
  Handle file(CreateFileA(path.c_str(), GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  std::string bytes;
  char chunk[4096];
  DWORD read = 0;
  while (ReadFile(file.Get(), chunk, sizeof chunk, &read, nullptr) && read)
    bytes.append(chunk, read);
  return bytes;
}

bool PlaceRecorder(const std::string& path) {
  return CopyFileA((BinFolder() + "recorder.exe").c_str(), path.c_str(), FALSE) != 0;
}

std::optional<RecorderReport> AwaitRecorder(const std::string& path, DWORD milliseconds) {
  std::string reportPath = path + ".started";
  std::optional<std::string> bytes;
  if (!Poll(milliseconds, [&] { return FileExists(reportPath); }) ||
      !(bytes = ReadFileBytes(reportPath)))
    return std::nullopt;
  // Three lines: module path, command line, process id.
  size_t first = bytes->find('\n'), second = bytes->find('\n', first + 1);
  if (second == std::string::npos) return std::nullopt;
  return RecorderReport{bytes->substr(first + 1, second - first - 1),
                        Process::Open(strtoul(bytes->c_str() + second + 1, nullptr, 10))};
}
