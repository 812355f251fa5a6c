#include "toolkit/Probe.h"

#include "toolkit/WinTest.h"

namespace {

// A temporary file that a child can inherit as one of its standard streams.
class StreamFile {
 public:
  explicit StreamFile(const std::string& content) {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    char path[MAX_PATH];
    GetTempFileNameA(folder, "prb", 0, path);
    path_ = path;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    handle_ = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    DWORD written = 0;
    if (!content.empty()) WriteFile(handle_, content.data(), content.size(), &written, nullptr);
    SetFilePointer(handle_, 0, nullptr, FILE_BEGIN);
  }
  StreamFile(const StreamFile&) = delete;
  StreamFile& operator=(const StreamFile&) = delete;
  ~StreamFile() {
    CloseHandle(handle_);
    DeleteFileA(path_.c_str());
  }
  HANDLE Get() const { return handle_; }
  std::string Read() const {
    std::string text;
    HANDLE reader = CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    char buffer[4096];
    DWORD count = 0;
    while (ReadFile(reader, buffer, sizeof buffer, &count, nullptr) && count)
      text.append(buffer, count);
    CloseHandle(reader);
    return text;
  }

 private:
  std::string path_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace

struct ProbeRun::Streams {
  explicit Streams(const std::string& input) : in(input), out(""), err("") {}
  StreamFile in, out, err;
};

ProbeRun::ProbeRun(const std::string& program, const std::string& arguments,
                   const std::string& input)
    : streams_(new Streams(input)) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = streams_->in.Get();
  startup.hStdOutput = streams_->out.Get();
  startup.hStdError = streams_->err.Get();
  std::string commandLine = "\"" + BinFolder() + program + "\" " + arguments;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                      nullptr, BinFolder().c_str(), &startup, &info))
    return;
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  id_ = info.dwProcessId;
}

ProbeRun::~ProbeRun() {
  if (!process_) return;
  TerminateProcess(process_, 1);
  WaitForSingleObject(process_, INFINITE);
  CloseHandle(process_);
}

ProbeResult ProbeRun::Finish(DWORD timeoutMs) {
  ProbeResult result;
  if (!process_) return result;
  result.ended = WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0;
  if (!result.ended) {
    TerminateProcess(process_, 1);
    WaitForSingleObject(process_, INFINITE);
  }
  GetExitCodeProcess(process_, &result.exitCode);
  CloseHandle(process_);
  process_ = nullptr;
  result.out = streams_->out.Read();
  result.err = streams_->err.Read();
  return result;
}

ProbeResult RunProbe(const std::string& program, const std::string& arguments,
                     const std::string& input, DWORD timeoutMs) {
  ProbeRun run(program, arguments, input);
  return run.Finish(timeoutMs);
}

HWND AwaitDialogOf(DWORD processId, DWORD milliseconds) {
  const DWORD kPollMs = 20;
  for (DWORD waited = 0; waited <= milliseconds; waited += kPollMs, Sleep(kPollMs)) {
    std::vector<HWND> dialogs = DialogsOf(processId);
    if (!dialogs.empty()) return dialogs.front();
  }
  return nullptr;
}

std::string ControlText(HWND control) {
  char text[8192] = "";
  SendMessageA(control, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}
