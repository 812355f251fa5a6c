#include "mania/Winver.h"

#include <cstdio>
#include <cstring>

#include "mania/Bounded.h"

const char kUnsupportedWindows[] = "This sample does not support this version of Windows.\n";

namespace {

const DWORD kPlatform9x = 1;  // VER_PLATFORM_WIN32_WINDOWS
const DWORD kPlatformNT = 2;  // VER_PLATFORM_WIN32_NT
const BYTE kWorkstation = 1;  // VER_NT_WORKSTATION
const WORD kIntel = 0;        // PROCESSOR_ARCHITECTURE_INTEL
const WORD kItanium = 6;      // PROCESSOR_ARCHITECTURE_IA64
const WORD kAmd64 = 9;        // PROCESSOR_ARCHITECTURE_AMD64
const WORD kSuiteEnterprise = 0x2;
const WORD kSuiteDatacenter = 0x80;
const WORD kSuitePersonal = 0x200;
const WORD kSuiteBlade = 0x400;
const WORD kSuiteStorageServer = 0x2000;
const WORD kSuiteComputeServer = 0x4000;
const int kServerR2Metric = 89;  // SM_SERVERR2
const uint32_t kBuildTextSize = 80;

const char kShortFormat[] = "Win%s %d.%02d build %d %s";

struct Edition {
  DWORD productType;
  const char* text;
};

// GetProductInfo's product types that the long text names; others add nothing.
const Edition kEditions[] = {
    {1, "Ultimate Edition"},
    {2, "Home Basic Edition"},
    {3, "Home Premium Edition"},
    {4, "Enterprise Edition"},
    {6, "Business Edition"},
    {7, "Standard Edition"},
    {8, "Datacenter Edition"},
    {9, "Small Business Server"},
    {10, "Enterprise Edition"},
    {11, "Starter Edition"},
    {12, "Datacenter Edition (core installation)"},
    {13, "Standard Edition (core installation)"},
    {14, "Enterprise Edition (core installation)"},
    {15, "Enterprise Edition for Itanium-based Systems"},
    {17, "Web Server Edition"},
    {18, "Cluster Server Edition"},
    {25, "Small Business Server Premium Edition"},
};

const char* EditionText(DWORD productType) {
  for (const Edition& edition : kEditions)
    if (edition.productType == productType) return edition.text;
  return "";
}

// Windows Server 2003's editions differ by processor before suite.
const char* Server2003Edition(WORD architecture, WORD suiteMask) {
  if (architecture == kItanium) {
    if (suiteMask & kSuiteDatacenter) return "Datacenter Edition for Itanium-based Systems";
    if (suiteMask & kSuiteEnterprise) return "Enterprise Edition for Itanium-based Systems";
    return "";
  }
  if (architecture == kAmd64) {
    if (suiteMask & kSuiteDatacenter) return "Datacenter x64 Edition";
    if (suiteMask & kSuiteEnterprise) return "Enterprise x64 Edition";
    return "Standard x64 Edition";
  }
  if (suiteMask & kSuiteComputeServer) return "Compute Cluster Edition";
  if (suiteMask & kSuiteDatacenter) return "Datacenter Edition";
  if (suiteMask & kSuiteEnterprise) return "Enterprise Edition";
  if (suiteMask & kSuiteBlade) return "Web Edition";
  return "Standard Edition";
}

// Vista to 8 (6.0 to 6.2): release, edition and processor width.
void AppendVistaTo8(const WindowsFacts& facts, char* buffer) {
  const char* release = "Windows 8 ";
  if (facts.minorVersion == 0)
    release = facts.productType == kWorkstation ? "Windows Vista " : "Windows Server 2008 ";
  else if (facts.minorVersion == 1)
    release = "Windows 7 ";
  BoundedAppend(buffer, kWindowsDescriptionSize, release);
  BoundedAppend(buffer, kWindowsDescriptionSize, EditionText(facts.edition));
  if (facts.architecture == kAmd64)
    BoundedAppend(buffer, kWindowsDescriptionSize, ", 64-bit");
  else if (facts.architecture == kIntel)
    BoundedAppend(buffer, kWindowsDescriptionSize, ", 32-bit");
}

// 5.2: Server 2003 (R2, Storage) and XP x64, which share the version.
// The Storage Server name carries no separator: a server edition follows
// it directly, and the texts are matched as they are, so it stays so.
void Append2003(const WindowsFacts& facts, char* buffer) {
  const char* release = "Windows Server 2003, ";
  if (facts.serverR2)
    release = "Windows Server 2003 R2, ";
  else if (facts.suiteMask == kSuiteStorageServer)
    release = "Windows Storage Server 2003";
  else if (facts.productType == kWorkstation && facts.architecture == kAmd64)
    release = "Windows XP Professional x64 Edition";
  BoundedAppend(buffer, kWindowsDescriptionSize, release);
  if (facts.productType != kWorkstation)
    BoundedAppend(buffer, kWindowsDescriptionSize,
                  Server2003Edition(facts.architecture, facts.suiteMask));
}

void AppendXp(const WindowsFacts& facts, char* buffer) {
  BoundedAppend(buffer, kWindowsDescriptionSize, "Windows XP ");
  BoundedAppend(buffer, kWindowsDescriptionSize,
                facts.suiteMask & kSuitePersonal ? "Home Edition" : "Professional");
}

void Append2000(const WindowsFacts& facts, char* buffer) {
  BoundedAppend(buffer, kWindowsDescriptionSize, "Windows 2000 ");
  const char* edition = "Server";
  if (facts.productType == kWorkstation)
    edition = "Professional";
  else if (facts.suiteMask & kSuiteDatacenter)
    edition = "Datacenter Server";
  else if (facts.suiteMask & kSuiteEnterprise)
    edition = "Advanced Server";
  BoundedAppend(buffer, kWindowsDescriptionSize, edition);
}

bool HasLongText(const WindowsFacts& facts) {
  return facts.platformId == kPlatformNT && facts.majorVersion > 4;
}

typedef void(WINAPI* SystemInfoQuery)(SYSTEM_INFO*);
typedef BOOL(WINAPI* ProductInfoQuery)(DWORD, DWORD, DWORD, DWORD, DWORD*);

// Looked up by name: older systems lack them, and the executable must
// still load there.
FARPROC Kernel32Function(const char* name) {
  HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  return kernel32 ? GetProcAddress(kernel32, name) : nullptr;
}

template <typename Function>
Function Kernel32(const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(Kernel32Function(name)));
}

// A 32-bit program under a 64-bit Windows sees its own, emulated,
// processor unless it asks for the native one.
WORD NativeArchitecture() {
  SYSTEM_INFO info;
  memset(&info, 0, sizeof info);
  if (SystemInfoQuery native = Kernel32<SystemInfoQuery>("GetNativeSystemInfo"))
    native(&info);
  else
    GetSystemInfo(&info);
  return info.wProcessorArchitecture;
}

DWORD QueryEdition() {
  DWORD productType = 0;
  if (ProductInfoQuery query = Kernel32<ProductInfoQuery>("GetProductInfo"))
    query(6, 0, 0, 0, &productType);
  return productType;
}

// False when Windows does not answer; `version` must outlive the facts,
// which point into it.
bool QueryFacts(OSVERSIONINFOEXA* version, WindowsFacts* facts) {
  memset(version, 0, sizeof *version);
  version->dwOSVersionInfoSize = sizeof *version;
  if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(version))) return false;
  facts->platformId = version->dwPlatformId;
  facts->majorVersion = version->dwMajorVersion;
  facts->minorVersion = version->dwMinorVersion;
  facts->buildNumber = version->dwBuildNumber;
  facts->servicePack = version->szCSDVersion;
  facts->suiteMask = version->wSuiteMask;
  facts->productType = version->wProductType;
  facts->architecture = NativeArchitecture();
  facts->edition = QueryEdition();
  facts->serverR2 = GetSystemMetrics(kServerR2Metric) != 0;
  return true;
}

char describedWindows[kWindowsDescriptionSize];

}  // namespace

WinVersionInfo::WinVersionInfo() : isNT(false) {
  memset(&version, 0, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;
  if (GetVersionExA(&version))
    isNT = version.dwPlatformId == kPlatformNT;
  else
    memset(&version, 0, sizeof version);
}

WinVersionInfo::WinVersionInfo(const OSVERSIONINFOA& record)
    : version(record), isNT(record.dwPlatformId == kPlatformNT) {}

const char* ShortReleaseName(DWORD platformId, DWORD majorVersion, DWORD minorVersion) {
  if (platformId == kPlatform9x) return minorVersion == 0 ? "95" : "98";
  if (platformId != kPlatformNT) return "???";
  switch (majorVersion) {
    case 7: return "8";
    case 6: return minorVersion == 0 ? "Vista" : "7";
    case 5: return minorVersion == 0 ? "2000" : "XP";
    default: return "NT";
  }
}

Str DescribeWindowsShort(const WinVersionInfo& info) {
  const OSVERSIONINFOA& version = info.version;
  return Str::Format(kShortFormat,
                     ShortReleaseName(version.dwPlatformId, version.dwMajorVersion,
                                      version.dwMinorVersion),
                     static_cast<int>(version.dwMajorVersion),
                     static_cast<int>(version.dwMinorVersion),
                     static_cast<int>(version.dwBuildNumber & 0xFFFF), version.szCSDVersion);
}

Str DescribeWindowsShort() { return DescribeWindowsShort(WinVersionInfo()); }

bool ComposeWindowsDescription(const WindowsFacts& facts,
                               char (&buffer)[kWindowsDescriptionSize]) {
  if (!HasLongText(facts)) return false;
  BoundedCopy(buffer, kWindowsDescriptionSize, "Microsoft ");
  // Releases after 8 (6.3, 10) have no name here: the text goes straight
  // on to the service pack and build.
  if (facts.majorVersion == 6 && facts.minorVersion <= 2)
    AppendVistaTo8(facts, buffer);
  else if (facts.majorVersion == 5 && facts.minorVersion == 2)
    Append2003(facts, buffer);
  else if (facts.majorVersion == 5 && facts.minorVersion == 1)
    AppendXp(facts, buffer);
  else if (facts.majorVersion == 5 && facts.minorVersion == 0)
    Append2000(facts, buffer);
  if (facts.servicePack[0]) {
    BoundedAppend(buffer, kWindowsDescriptionSize, " ");
    BoundedAppend(buffer, kWindowsDescriptionSize, facts.servicePack);
  }
  char build[kBuildTextSize];
  BoundedFormat(build, sizeof build, " (build %d)", static_cast<int>(facts.buildNumber));
  BoundedAppend(buffer, kWindowsDescriptionSize, build);
  return true;
}

int DescribeWindows(char (&buffer)[kWindowsDescriptionSize]) {
  OSVERSIONINFOEXA version;
  WindowsFacts facts;
  if (!QueryFacts(&version, &facts)) return 1;
  if (ComposeWindowsDescription(facts, buffer)) return 1;
  fputs(kUnsupportedWindows, stdout);
  fflush(stdout);
  return 0;
}

Str DescribeWindows() {
  memset(describedWindows, 0, sizeof describedWindows);
  DescribeWindows(describedWindows);
  return Str(describedWindows);
}

void DescribeWindowsForReport(char* dest, uint32_t capacity) {
  OSVERSIONINFOEXA version;
  WindowsFacts facts;
  char text[kWindowsDescriptionSize] = {};
  if (QueryFacts(&version, &facts) && !ComposeWindowsDescription(facts, text))
    BoundedFormat(text, sizeof text, kShortFormat,
                  ShortReleaseName(facts.platformId, facts.majorVersion, facts.minorVersion),
                  static_cast<int>(facts.majorVersion), static_cast<int>(facts.minorVersion),
                  static_cast<int>(facts.buildNumber & 0xFFFF), facts.servicePack);
  BoundedCopy(dest, capacity, text);
}
