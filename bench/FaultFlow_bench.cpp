// Prints how long the guard takes from a fault to the report address
// reaching the browser, for a shallow stack and a 100-frame-deep one.
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
  return 0;
}
