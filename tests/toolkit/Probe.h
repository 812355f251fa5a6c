#pragma once
#include <windows.h>

#include <memory>
#include <string>

#include "toolkit/WinTest.h"

// A test program run with its standard streams captured: the way tests
// watch a guarded program fail for real.
struct ProbeResult {
  bool ended = false;  // false: killed at the timeout
  DWORD exitCode = 0;
  std::string out;
  std::string err;
};

// A started probe; the test may read and answer its windows while it runs.
class ProbeRun {
 public:
  // Starts `program` (a file name beside the test) with `arguments` and
  // standard input from `input` (empty: end of input at once).
  ProbeRun(const std::string& program, const std::string& arguments,
           const std::string& input = std::string());
  ~ProbeRun();

  DWORD Id() const { return process_.Id(); }
  // Waits up to `timeoutMs`, kills the probe if it still runs, and returns
  // what it did.
  ProbeResult Finish(DWORD timeoutMs = 20000);

 private:
  struct Streams;
  std::unique_ptr<Streams> streams_;
  Process process_;
};

ProbeResult RunProbe(const std::string& program, const std::string& arguments,
                     const std::string& input = std::string(), DWORD timeoutMs = 20000);

// A console stream without the carriage returns its text mode added (the
// console turns a report's line ends into "\r\r\n").
std::string WithoutCr(std::string text);
// The first frame line of a crash report read without carriage returns:
// the line after the hyphens; empty when there is none.
std::string FirstFrameLine(const std::string& report);
