#pragma once
#include <windows.h>

#include <string>

// A console test program run to its end with its output captured: the way
// tests watch a guarded program fail for real.
struct ProbeResult {
  bool ended = false;  // false: killed at the timeout
  DWORD exitCode = 0;
  std::string out;
  std::string err;
};

// Starts `program` (a file name beside the test) with `arguments`, standard
// input from `input` (empty: end of input at once), and waits up to
// `timeoutMs`.
ProbeResult RunProbe(const std::string& program, const std::string& arguments,
                     const std::string& input = std::string(), DWORD timeoutMs = 20000);
