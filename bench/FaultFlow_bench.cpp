// Prints how long the guard takes from a fault to the report address
// reaching the browser, for a shallow stack and a 100-frame-deep one, and
// how much address space the report's own work takes.
// A benchmark, not a test: run it by hand under Wine.

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "toolkit/Probe.h"
#include "toolkit/StandIns.h"

namespace {

const int kRuns = 7;

// Milliseconds from the probe's stamp just before it faults to the moment
// the browser stand-in's record appeared; negative when nothing arrived.
double TimeOneFault(const char* action, const LARGE_INTEGER& frequency) {
  BrowserStandIn browser;
  UrlModuleStandIn urlModule;
  if (!browser.Ready() || !urlModule.Ready()) return -1;
  ProbeRun probe("guard_probe.exe", action, "y");
  bool received = browser.Received(30000).has_value();
  LARGE_INTEGER arrived;
  QueryPerformanceCounter(&arrived);
  ProbeResult result = probe.Finish();
  size_t stamp = result.out.find("fault-at=");
  if (!received || stamp == std::string::npos) return -1;
  long long faultAt = std::stoll(result.out.substr(stamp + 9));
  return (arrived.QuadPart - faultAt) * 1000.0 / frequency.QuadPart;
}

// Mebibytes of address space the report takes beyond what the program held
// before it failed (the probe writes the figures; the guard's reserves are
// counted as the program's, so the reserve block's 32 MiB come on top).
double ReportAddressSpace(const char* action) {
  SetEnvironmentVariableA("PROBE_WATCH", "1");
  std::string out = RunProbe("guard_probe.exe", action, "n").out;
  SetEnvironmentVariableA("PROBE_WATCH", nullptr);
  size_t first = out.find("in-use="), last = out.rfind("in-use=");
  if (first == std::string::npos) return -1;
  return (std::stod(out.substr(last + 7)) - std::stod(out.substr(first + 7))) / (1 << 20);
}

}  // namespace

int main() {
  SetEnvironmentVariableA("PROBE_STAMP", "1");
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  const struct {
    const char* label;
    const char* action;
  } cases[] = {{"shallow stack", "write-null"}, {"100 frames deep", "deep"}};
  printf("fault to browser, %d runs each (ms)\n", kRuns);
  for (const auto& c : cases) {
    std::vector<double> times;
    for (int run = 0; run < kRuns; ++run) times.push_back(TimeOneFault(c.action, frequency));
    std::sort(times.begin(), times.end());
    printf("%-16s min %7.1f  median %7.1f  max %7.1f\n", c.label, times.front(),
           times[times.size() / 2], times.back());
  }
  for (const auto& c : cases)
    printf("%-16s report's peak address space %.1f MiB\n", c.label, ReportAddressSpace(c.action));
  return 0;
}
