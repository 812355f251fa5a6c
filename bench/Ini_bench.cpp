// Reads per second through the configuration store beside the same reads
// made with the platform's calls directly, for an INI file and for the
// registry. The store's overhead is the ratio of the two. The best of
// several runs counts, and every read is checked, not only timed. Beside
// each ratio: the platform's profile and registry calls one read makes.

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "gen/Ini.h"

namespace {

// Short runs, many of them: on a shared machine the best run is the one
// that nothing else disturbed.
const int kReads = 2000;
const int kRuns = 9;
const char kBenchKey[] = "Software\\NARV_IniBench";

// --- Counting the platform calls ---------------------------------------------

int platformCalls = 0;

decltype(&GetPrivateProfileStringA) realGetString;
decltype(&GetPrivateProfileSectionA) realGetSection;
decltype(&RegOpenKeyA) realOpenKey;
decltype(&RegOpenKeyExA) realOpenKeyEx;
decltype(&RegQueryValueExA) realQueryValue;
decltype(&RegCloseKey) realCloseKey;

DWORD WINAPI CountedGetString(LPCSTR section, LPCSTR key, LPCSTR fallback, LPSTR target,
                              DWORD size, LPCSTR file) {
  ++platformCalls;
  return realGetString(section, key, fallback, target, size, file);
}
DWORD WINAPI CountedGetSection(LPCSTR section, LPSTR target, DWORD size, LPCSTR file) {
  ++platformCalls;
  return realGetSection(section, target, size, file);
}
LONG WINAPI CountedOpenKey(HKEY root, LPCSTR path, PHKEY key) {
  ++platformCalls;
  return realOpenKey(root, path, key);
}
LONG WINAPI CountedOpenKeyEx(HKEY root, LPCSTR path, DWORD options, REGSAM access, PHKEY key) {
  ++platformCalls;
  return realOpenKeyEx(root, path, options, access, key);
}
LONG WINAPI CountedQueryValue(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                              LPDWORD size) {
  ++platformCalls;
  return realQueryValue(key, name, reserved, type, data, size);
}
LONG WINAPI CountedCloseKey(HKEY key) {
  ++platformCalls;
  return realCloseKey(key);
}

// Points this program's imports of `name` (the library's calls included:
// it is linked in) at `counted`; false when the program does not import it.
template <typename Function>
bool Count(const char* name, Function& real, Function counted) {
  BYTE* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
  auto* headers = reinterpret_cast<IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports =
      headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (auto* module = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       module->Name; ++module) {
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->FirstThunk);
    for (; names->u1.AddressOfData; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (strcmp(reinterpret_cast<const char*>(byName->Name), name) != 0) continue;
      DWORD protection;
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection);
      real = reinterpret_cast<Function>(slots->u1.Function);
      slots->u1.Function = reinterpret_cast<ULONG_PTR>(counted);
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
      return true;
    }
  }
  return false;
}

void CountPlatformCalls() {
  Count("GetPrivateProfileStringA", realGetString, &CountedGetString);
  Count("GetPrivateProfileSectionA", realGetSection, &CountedGetSection);
  Count("RegOpenKeyA", realOpenKey, &CountedOpenKey);
  Count("RegOpenKeyExA", realOpenKeyEx, &CountedOpenKeyEx);
  Count("RegQueryValueExA", realQueryValue, &CountedQueryValue);
  Count("RegCloseKey", realCloseKey, &CountedCloseKey);
}

template <typename Read>
int CallsOf(Read read) {
  int before = platformCalls;
  read();
  return platformCalls - before;
}

// --- Timing ------------------------------------------------------------------

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
  int storeCalls = 0;
  int directCalls = 0;
};

template <typename Store, typename Direct>
Rates Compare(Store store, Direct direct) {
  Rates best;
  best.storeCalls = CallsOf(store);
  best.directCalls = CallsOf(direct);
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
  printf("%-38s store %7.0f reads/s, direct %7.0f reads/s, store/direct %.2f, "
         "calls %d/%d\n",
         what, rates.store, rates.direct, rates.store / rates.direct, rates.storeCalls,
         rates.directCalls);
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
  // A section of some 20 KB with the key read last: the store's listing of
  // the section's first kilobytes does not show it, so it is read alone.
  const std::string filler(100, 'f');
  for (int i = 0; i < 200; ++i)
    WritePrivateProfileStringA("Large", ("Filler" + std::to_string(i)).c_str(), filler.c_str(),
                               file.c_str());
  WritePrivateProfileStringA("Large", "Plain", "a value of some length", file.c_str());
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
  // The direct read cannot tell missing from empty at all.
  Report("INI, missing key", Compare([&] { ReadSetting(missing.c_str()); }, [&] {
    GetPrivateProfileStringA("Bench", "Missing", "", buffer, sizeof buffer, file.c_str());
  }));
  Report("INI, two numbered parts (vs one)", Compare([&] {
    Expect(strcmp(ReadSetting(parts.c_str()), "first line\nsecond line") == 0, "parts read");
  }, directPlain));
  std::string large = "|" + file + "|Large|Plain";
  Report("INI, present key after 20 KB of others", Compare([&] {
    Expect(strcmp(ReadSetting(large.c_str()), "a value of some length") == 0, "large read");
  }, [&] {
    GetPrivateProfileStringA("Large", "Plain", "", buffer, sizeof buffer, file.c_str());
    Expect(strcmp(buffer, "a value of some length") == 0, "direct large read");
  }));
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
  CountPlatformCalls();
#ifndef __OPTIMIZE__
  printf("An unoptimised build: its figures say little.\n");
#endif
  printf("%d reads per run, best of %d runs; calls: platform calls per read, store/direct\n",
         kReads, kRuns);
  BenchIni();
  BenchRegistry();
  return failures == 0 ? 0 : 1;
}
