// Reads per second through the configuration store beside the same reads
// made with the platform's calls directly, for an INI file and for the
// registry. The store's overhead is the ratio of the two. The best of
// several runs counts, and every read is checked, not only timed.

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "gen/Ini.h"

namespace {

const int kReads = 4000;
const int kRuns = 5;
const char kBenchKey[] = "Software\\NARV_IniBench";

template <typename Read>
double ReadsPerSecond(Read read) {
  LARGE_INTEGER frequency, start, stop;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  for (int i = 0; i < kReads; ++i) read();
  QueryPerformanceCounter(&stop);
  return kReads * static_cast<double>(frequency.QuadPart) / (stop.QuadPart - start.QuadPart);
}

// Runs alternate between the two, so that a slow spell of the machine or
// of the platform's caches hits both; the best run of each counts.
struct Rates {
  double store = 0;
  double direct = 0;
};

template <typename Store, typename Direct>
Rates Compare(Store store, Direct direct) {
  Rates best;
  for (int run = 0; run < kRuns; ++run) {
    double rate = ReadsPerSecond(direct);
    if (rate > best.direct) best.direct = rate;
    rate = ReadsPerSecond(store);
    if (rate > best.store) best.store = rate;
  }
  return best;
}

int failures = 0;

void Expect(bool ok, const char* what) {
  if (!ok && failures++ == 0) fprintf(stderr, "wrong result: %s\n", what);
}

void Report(const char* what, Rates rates) {
  printf("%-34s store %9.0f reads/s, direct %9.0f reads/s, store/direct %.2f\n", what,
         rates.store, rates.direct, rates.store / rates.direct);
}

void BenchIni() {
  char folder[MAX_PATH];
  GetTempPathA(MAX_PATH, folder);
  std::string file = std::string(folder) + "ini_bench.ini";
  DeleteFileA(file.c_str());
  WritePrivateProfileStringA("Bench", "Plain", "a value of some length", file.c_str());
  WritePrivateProfileStringA("Bench", "Checked", AddChecksum("a value of some length"),
                             file.c_str());
  WritePrivateProfileStringA("Bench", "Parts1", "first line", file.c_str());
  WritePrivateProfileStringA("Bench", "Parts2", "second line", file.c_str());
  // The platform rereads a file changed within the last moments on every
  // call; let it settle so that both sides read a cached file.
  Sleep(2000);
  std::string plain = "|" + file + "|Bench|Plain";
  std::string checked = "|" + file + "|!Bench|Checked";
  std::string parts = "|" + file + "|Bench|Parts";
  std::string missing = "|" + file + "|Bench|Missing";
  char buffer[1024];

  auto directPlain = [&] {
    GetPrivateProfileStringA("Bench", "Plain", "", buffer, sizeof buffer, file.c_str());
    Expect(strcmp(buffer, "a value of some length") == 0, "direct INI read");
  };
  Report("INI, present key", Compare([&] {
    Expect(strcmp(ReadSetting(plain.c_str()), "a value of some length") == 0, "INI read");
  }, directPlain));
  Report("INI, checksummed key", Compare([&] {
    Expect(strcmp(ReadSetting(checked.c_str()), "a value of some length") == 0, "checked read");
  }, directPlain));
  // A missing key costs the store a second read, and the first numbered
  // part two more; the direct read cannot tell missing from empty at all.
  Report("INI, missing key", Compare([&] { ReadSetting(missing.c_str()); }, [&] {
    GetPrivateProfileStringA("Bench", "Missing", "", buffer, sizeof buffer, file.c_str());
  }));
  // Every later part is looked for, present or not: 70 platform reads.
  Report("INI, two numbered parts (vs one)", Compare([&] {
    Expect(strcmp(ReadSetting(parts.c_str()), "first line\nsecond line") == 0, "parts read");
  }, directPlain));
  DeleteFileA(file.c_str());
}

void BenchRegistry() {
  HKEY key;
  if (RegCreateKeyA(HKEY_CURRENT_USER, kBenchKey, &key) != ERROR_SUCCESS) {
    fprintf(stderr, "cannot create HKCU\\%s\n", kBenchKey);
    ++failures;
    return;
  }
  const char value[] = "a value of some length";
  RegSetValueExA(key, "Plain", 0, REG_SZ, reinterpret_cast<const BYTE*>(value), sizeof value);
  RegCloseKey(key);
  std::string plain = std::string("|HKEY_CURRENT_USER|") + kBenchKey + "|Plain";
  char buffer[2048];

  Report("registry, present value", Compare([&] {
    Expect(strcmp(ReadSetting(plain.c_str()), value) == 0, "registry read");
  }, [&] {
    HKEY opened;
    DWORD type = 0, size = sizeof buffer;
    bool ok = RegOpenKeyA(HKEY_CURRENT_USER, kBenchKey, &opened) == ERROR_SUCCESS &&
              RegQueryValueExA(opened, "Plain", nullptr, &type,
                               reinterpret_cast<BYTE*>(buffer), &size) == ERROR_SUCCESS;
    if (ok) RegCloseKey(opened);
    Expect(ok && strcmp(buffer, value) == 0, "direct registry read");
  }));
  RegDeleteKeyA(HKEY_CURRENT_USER, kBenchKey);
}

}  // namespace

int main() {
  printf("%d reads per run, best of %d runs\n", kReads, kRuns);
  BenchIni();
  BenchRegistry();
  return failures == 0 ? 0 : 1;
}
