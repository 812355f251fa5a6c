#include "toolkit/Probe.h"

#include <algorithm>

// Files in a folder of their own that the probe inherits as its standard
// input, output and error; their handles close before the folder goes.
struct ProbeRun::Streams {
  explicit Streams(const std::string& input) : files{Open(0), Open(1), Open(2)} {
    DWORD written = 0;
    WriteFile(handles[0], input.data(), static_cast<DWORD>(input.size()), &written, nullptr);
    SetFilePointer(handles[0], 0, nullptr, FILE_BEGIN);
  }
  std::string Path(int stream) const { return folder.Path() + "\\" + "012"[stream]; }
  Handle Open(int stream) const {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return Handle(CreateFileA(Path(stream).c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr));
  }
  std::string Read(int stream) const { return ReadFileBytes(Path(stream)).value_or(""); }

  TempFolder folder;
  Handle files[3];
  HANDLE handles[3] = {files[0].Get(), files[1].Get(), files[2].Get()};
};

ProbeRun::ProbeRun(const std::string& program, const std::string& arguments,
                   const std::string& input)
    : streams_(new Streams(input)),
      process_(Process::Start("\"" + BinFolder() + program + "\" " + arguments, nullptr,
                              BinFolder(), streams_->handles)) {}

ProbeRun::~ProbeRun() = default;

ProbeResult ProbeRun::Finish(DWORD timeoutMs) {
  ProbeResult result;
  if (!process_.Started()) return result;
  result.ended = process_.Wait(timeoutMs);
  process_.Kill();
  result.exitCode = process_.ExitCode();
  result.out = streams_->Read(1);
  result.err = streams_->Read(2);
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
