#include "toolkit/WinTest.h"

#include <cstring>

std::string BinFolder() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, length);
  return folder.substr(0, folder.find_last_of('\\') + 1);
}

// --- Owners ---------------------------------------------------------------

Handle& Handle::operator=(Handle&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

void Handle::Close() {
  if (handle_) CloseHandle(handle_);
  handle_ = nullptr;
}

// --- Processes ------------------------------------------------------------

namespace {

bool SameName(const std::string& entry, const std::string& name) {
  return entry.size() > name.size() && entry[name.size()] == '=' &&
         CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, entry.data(),
                        static_cast<int>(name.size()), name.data(),
                        static_cast<int>(name.size())) == CSTR_EQUAL;
}

}  // namespace

std::string EnvironmentBlock(const std::vector<EnvChange>& changes) {
  std::vector<std::string> entries;
  char* strings = GetEnvironmentStringsA();
  for (const char* entry = strings; entry && *entry; entry += strlen(entry) + 1)
    entries.emplace_back(entry);
  if (strings) FreeEnvironmentStringsA(strings);

  for (const EnvChange& change : changes) {
    std::vector<std::string> kept;
    for (std::string& entry : entries)
      if (!SameName(entry, change.first)) kept.push_back(std::move(entry));
    if (change.second) kept.push_back(change.first + "=" + *change.second);
    entries = std::move(kept);
  }

  std::string block;
  for (const std::string& entry : entries) block += entry + '\0';
  if (entries.empty()) block += '\0';
  return block + '\0';
}

Process Process::Start(const std::string& commandLine, const std::string* environment,
                       const std::string& folder) {
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back(0);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  Process result;
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0,
                      environment ? const_cast<char*>(environment->data()) : nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
    result.startError_ = GetLastError();
    return result;
  }
  CloseHandle(info.hThread);
  result.process_ = Handle(info.hProcess);
  result.id_ = info.dwProcessId;
  return result;
}

Process Process::Open(DWORD processId) {
  Process result;
  result.process_ = Handle(OpenProcess(
      SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (result.process_)
    result.id_ = processId;
  else
    result.startError_ = GetLastError();
  return result;
}

bool Process::Wait(DWORD milliseconds) const {
  return !process_ || WaitForSingleObject(process_.Get(), milliseconds) == WAIT_OBJECT_0;
}

DWORD Process::ExitCode() const {
  DWORD code = STILL_ACTIVE;
  if (process_) GetExitCodeProcess(process_.Get(), &code);
  return code;
}

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    Kill();
    process_ = std::move(other.process_);
    id_ = other.id_;
    startError_ = other.startError_;
  }
  return *this;
}

void Process::Kill() {
  if (Wait(0)) return;
  TerminateProcess(process_.Get(), 1);
  Wait(5000);
}

// --- Dialogs of another process ------------------------------------------

namespace {

bool HasClass(HWND window, const char* name) {
  char found[32];
  return GetClassNameA(window, found, sizeof found) && lstrcmpiA(found, name) == 0;
}

struct DialogSearch {
  DWORD processId;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectDialog(HWND window, LPARAM param) {
  DialogSearch* search = reinterpret_cast<DialogSearch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  // A message box is shown only once its texts are set.
  if (owner == search->processId && IsWindowVisible(window) && HasClass(window, "#32770"))
    search->found.push_back(window);
  return TRUE;
}

BOOL CALLBACK FindIcon(HWND child, LPARAM param) {
  LONG style = GetWindowLongA(child, GWL_STYLE);
  if (HasClass(child, "Static") && (style & SS_TYPEMASK) == SS_ICON &&
      (style & WS_VISIBLE) && SendMessageA(child, STM_GETICON, 0, 0)) {
    *reinterpret_cast<bool*>(param) = true;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

std::vector<HWND> DialogsOf(DWORD processId) {
  DialogSearch search{processId, {}};
  EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND AwaitDialogOf(DWORD processId, DWORD milliseconds) {
  const DWORD kPoll = 20;
  for (DWORD waited = 0; waited <= milliseconds; waited += kPoll, Sleep(kPoll)) {
    std::vector<HWND> dialogs = DialogsOf(processId);
    if (!dialogs.empty()) return dialogs.front();
  }
  return nullptr;
}

// Sends WM_GETTEXT: the text of another process's control is not known to
// GetWindowTextA, only to the control itself.
std::string ControlText(HWND control) {
  if (!control) return std::string();
  LRESULT length = SendMessageA(control, WM_GETTEXTLENGTH, 0, 0);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  text.resize(SendMessageA(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0])));
  return text;
}

DialogView ReadDialog(HWND dialog) {
  const int kMessageId = 0xFFFF;
  DialogView view;
  std::string caption(static_cast<size_t>(GetWindowTextLengthA(dialog)) + 1, '\0');
  caption.resize(GetWindowTextA(dialog, &caption[0], static_cast<int>(caption.size())));
  view.caption = caption;
  view.text = ControlText(GetDlgItem(dialog, kMessageId));
  EnumChildWindows(dialog, FindIcon, reinterpret_cast<LPARAM>(&view.icon));
  return view;
}

void PressButton(HWND dialog, int id) {
  PostMessageA(dialog, WM_COMMAND, static_cast<WPARAM>(id), 0);
}

Outcome RunToEnd(Process& process, DWORD timeoutMilliseconds, int answer) {
  const DWORD kPoll = 10;
  Outcome outcome;
  if (!process.Started()) return outcome;
  std::vector<HWND> answered;
  DWORD start = GetTickCount();
  for (;;) {
    if (process.Wait(kPoll)) {
      outcome.ended = true;
      outcome.exitCode = process.ExitCode();
      return outcome;
    }
    for (HWND dialog : DialogsOf(process.Id())) {
      bool seen = false;
      for (HWND known : answered) seen = seen || known == dialog;
      if (seen) continue;
      outcome.dialogs.push_back(ReadDialog(dialog));
      PressButton(dialog, GetDlgItem(dialog, answer) ? answer : IDOK);
      answered.push_back(dialog);
    }
    if (GetTickCount() - start > timeoutMilliseconds) {
      process.Kill();
      return outcome;
    }
  }
}

// --- Registry -------------------------------------------------------------

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

LONG DeleteRegKey(HKEY root, RegView view, const std::string& key) {
  REGSAM sam = static_cast<REGSAM>(view);
  {
    Key opened;
    LONG status = RegOpenKeyExA(root, key.c_str(), 0, KEY_ALL_ACCESS | sam, opened.Out());
    if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS) return status;
    status = RegDeleteTreeA(opened.Get(), nullptr);
    if (status != ERROR_SUCCESS) return status;
  }
  return RegDeleteKeyExA(root, key.c_str(), sam, 0);
}

std::string RegSz(const std::string& text) { return text + '\0'; }

std::string RegDword(DWORD value) {
  return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

struct RegistryScope::Tree {
  struct Value {
    std::string name;
    DWORD type;
    std::string data;
  };
  std::string name;
  std::vector<Value> values;
  std::vector<Tree> subkeys;
};

struct RegistryScope::Place {
  HKEY root;
  RegView view;
  std::optional<Tree> saved;
};

bool RegistryScope::ReadKey(HKEY parent, REGSAM view, const std::string& name, Tree* tree) {
  Key key;
  if (RegOpenKeyExA(parent, name.c_str(), 0, KEY_READ | view, key.Out()) != ERROR_SUCCESS)
    return false;
  tree->name = name;
  DWORD subkeys = 0, longestSubkey = 0, values = 0, longestName = 0, longestData = 0;
  if (RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, &subkeys, &longestSubkey, nullptr,
                       &values, &longestName, &longestData, nullptr, nullptr) != ERROR_SUCCESS)
    return false;
  for (DWORD i = 0; i < values; ++i) {
    std::string valueName(longestName + 1, '\0');
    std::string data(longestData + 1, '\0');
    DWORD nameLength = static_cast<DWORD>(valueName.size());
    DWORD dataSize = static_cast<DWORD>(data.size());
    DWORD type = 0;
    if (RegEnumValueA(key.Get(), i, &valueName[0], &nameLength, nullptr, &type,
                      reinterpret_cast<BYTE*>(&data[0]), &dataSize) != ERROR_SUCCESS)
      return false;
    valueName.resize(nameLength);
    data.resize(dataSize);
    tree->values.push_back({valueName, type, data});
  }
  for (DWORD i = 0; i < subkeys; ++i) {
    std::string subkey(longestSubkey + 1, '\0');
    DWORD length = static_cast<DWORD>(subkey.size());
    if (RegEnumKeyExA(key.Get(), i, &subkey[0], &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      return false;
    subkey.resize(length);
    tree->subkeys.emplace_back();
    if (!ReadKey(key.Get(), view, subkey, &tree->subkeys.back())) return false;
  }
  return true;
}

void RegistryScope::WriteKey(HKEY parent, REGSAM view, const Tree& tree) {
  Key key;
  if (CreateKey(parent, view, tree.name, &key) != ERROR_SUCCESS) return;
  for (const auto& value : tree.values) SetValueBytes(key.Get(), value.name, value.type, value.data);
  for (const Tree& subkey : tree.subkeys) WriteKey(key.Get(), view, subkey);
}

RegistryScope::RegistryScope(const std::string& key) : key_(key) {
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    for (RegView view : {RegView::k32, RegView::k64}) {
      Tree tree;
      bool present = ReadKey(root, static_cast<REGSAM>(view), key, &tree);
      places_.push_back({root, view, present ? std::optional<Tree>(tree) : std::nullopt});
    }
  }
  for (const Place& place : places_) DeleteRegKey(place.root, place.view, key_);
}

// Everything goes first: in the views that share a key, restoring one
// would otherwise be undone by clearing the other.
RegistryScope::~RegistryScope() {
  for (const Place& place : places_) DeleteRegKey(place.root, place.view, key_);
  for (const Place& place : places_)
    if (place.saved) WriteKey(place.root, static_cast<REGSAM>(place.view), *place.saved);
}

// --- Files ----------------------------------------------------------------

TempFolder::TempFolder() {
  static unsigned counter = 0;
  char temp[MAX_PATH + 1];
  DWORD length = GetTempPathA(sizeof temp, temp);
  std::string base(temp, length);
  if (!base.empty() && base.back() == '\\') base.pop_back();
  do {
    path_ = base + "\\wintest-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(++counter);
  } while (!CreateDirectoryA(path_.c_str(), nullptr) && GetLastError() == ERROR_ALREADY_EXISTS);
}

TempFolder::~TempFolder() { RemoveTree(path_); }

bool CreateFolders(const std::string& path) {
  for (size_t end = path.find('\\', 3); ; end = path.find('\\', end + 1)) {
    std::string part = path.substr(0, end);
    if (!CreateDirectoryA(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
      return false;
    if (end == std::string::npos) return true;
  }
}

bool RemoveTree(const std::string& path) {
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((path + "\\*").c_str(), &entry);
  bool removed = true;
  for (bool more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileA(find, &entry)) {
    std::string name = entry.cFileName;
    if (name == "." || name == "..") continue;
    std::string child = path + "\\" + name;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      removed = RemoveTree(child) && removed;
    } else {
      SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
      removed = DeleteFileA(child.c_str()) && removed;
    }
  }
  if (find != INVALID_HANDLE_VALUE) FindClose(find);
  return RemoveDirectoryA(path.c_str()) && removed;
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

// --- The recorder ---------------------------------------------------------

bool PlaceRecorder(const std::string& path) {
  return CopyFileA((BinFolder() + "recorder.exe").c_str(), path.c_str(), FALSE) != 0;
}

std::optional<RecorderReport> AwaitRecorder(const std::string& path, DWORD milliseconds) {
  const DWORD kPoll = 10;
  std::string reportPath = path + ".started";
  DWORD start = GetTickCount();
  while (!FileExists(reportPath)) {
    if (GetTickCount() - start >= milliseconds) return std::nullopt;
    Sleep(kPoll);
  }
  std::optional<std::string> bytes = ReadFileBytes(reportPath);
  if (!bytes) return std::nullopt;
  // Three lines: module path, command line, process id.
  size_t first = bytes->find('\n');
  size_t second = bytes->find('\n', first + 1);
  if (second == std::string::npos) return std::nullopt;
  RecorderReport report;
  report.modulePath = bytes->substr(0, first);
  report.commandLine = bytes->substr(first + 1, second - first - 1);
  report.process = Process::Open(strtoul(bytes->c_str() + second + 1, nullptr, 10));
  return report;
}
