#include "toolkit/Probe.h"

#include <algorithm>

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
    handle_ = Handle(CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr));
    DWORD written = 0;
    if (!content.empty()) WriteFile(handle_.Get(), content.data(), content.size(), &written, nullptr);
    SetFilePointer(handle_.Get(), 0, nullptr, FILE_BEGIN);
  }
  ~StreamFile() {
    handle_.Close();
    DeleteFileA(path_.c_str());
  }
  HANDLE Get() const { return handle_.Get(); }
  std::string Read() const { return ReadFileBytes(path_).value_or(""); }

 private:
  std::string path_;
  Handle handle_;
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
  process_ = Handle(info.hProcess);
  id_ = info.dwProcessId;
}

ProbeRun::~ProbeRun() {
  if (!process_) return;
  TerminateProcess(process_.Get(), 1);
  WaitForSingleObject(process_.Get(), INFINITE);
}

ProbeResult ProbeRun::Finish(DWORD timeoutMs) {
  ProbeResult result;
  if (!process_) return result;
  result.ended = WaitForSingleObject(process_.Get(), timeoutMs) == WAIT_OBJECT_0;
  if (!result.ended) {
    TerminateProcess(process_.Get(), 1);
    WaitForSingleObject(process_.Get(), INFINITE);
  }
  GetExitCodeProcess(process_.Get(), &result.exitCode);
  process_.Close();
  result.out = streams_->out.Read();
  result.err = streams_->err.Read();
  return result;
}

ProbeResult RunProbe(const std::string& program, const std::string& arguments,
                     const std::string& input, DWORD timeoutMs) {
  return ProbeRun(program, arguments, input).Finish(timeoutMs);
}

std::string WithoutCr(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

std::string FirstFrameLine(const std::string& report) {
  const std::string hyphens = std::string(66, '-') + "\n";
  size_t frames = report.find(hyphens);
  if (frames == std::string::npos) return std::string();
  size_t start = frames + hyphens.size();
  return report.substr(start, report.find('\n', start) - start);
}
