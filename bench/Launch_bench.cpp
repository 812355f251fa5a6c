// Start-up cost of run.exe beside a bare launcher doing the same work: each
// is started and waited for in turn, many times, with an installation whose
// product program ends at once. Prints the median wall time, the mean
// processor time and their ratios.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "toolkit/WinTest.h"

namespace {

struct Run {
  double wallMs;
  double cpuMs;
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The system counts processor time in whole ticks; only a mean over many
// starts says something about a single one.
double Mean(const std::vector<double>& values) {
  double sum = 0;
  for (double value : values) sum += value;
  return sum / values.size();
}

double FileTimeMs(const FILETIME& time) {
  return (static_cast<double>(time.dwHighDateTime) * 4294967296.0 + time.dwLowDateTime) / 1e4;
}

Run Start(const std::string& program) {
  LARGE_INTEGER frequency, before, after;
  QueryPerformanceFrequency(&frequency);
  std::string commandLine = "\"" + program + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info;
  QueryPerformanceCounter(&before);
  if (!CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &info))
    return {0, 0};
  WaitForSingleObject(info.hProcess, INFINITE);
  QueryPerformanceCounter(&after);
  FILETIME created, exited, kernel, user;
  GetProcessTimes(info.hProcess, &created, &exited, &kernel, &user);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return {(after.QuadPart - before.QuadPart) * 1000.0 / frequency.QuadPart,
          FileTimeMs(kernel) + FileTimeMs(user)};
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? atoi(argv[1]) : 40;
  TempFolder installation;
  for (const char* name : {"\\NARV.exe", "\\NARV64.exe"})
    CopyFileA((BinFolder() + "bare_product.exe").c_str(), (installation.Path() + name).c_str(),
              FALSE);
  RegistryScope scope("Software\\NARV");
  SetRegValue(HKEY_CURRENT_USER, RegView::k32, "Software\\NARV", "Installation path", REG_SZ,
              RegSz(installation.Path()));
  const std::string programs[] = {BinFolder() + "run.exe", BinFolder() + "bare_launcher.exe"};
  std::vector<double> wall[2], cpu[2];
  for (int round = 0; round < rounds; ++round)
    for (int i = 0; i < 2; ++i) {
      Run run = Start(programs[i]);
      wall[i].push_back(run.wallMs);
      cpu[i].push_back(run.cpuMs);
    }
  printf("%d alternating starts each; wall: median, cpu: mean\n", rounds);
  printf("  run.exe        wall %7.2f ms  cpu %7.2f ms\n", Median(wall[0]), Mean(cpu[0]));
  printf("  bare launcher  wall %7.2f ms  cpu %7.2f ms\n", Median(wall[1]), Mean(cpu[1]));
  printf("  ratio          wall %7.3f     cpu %7.3f\n", Median(wall[0]) / Median(wall[1]),
         Mean(cpu[0]) / Mean(cpu[1]));
  return 0;
}
