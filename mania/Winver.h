#pragma once
// The running Windows described in words: a short text for logs
// ("WinXP 5.01 build 2600 Service Pack 3") and a long one naming release,
// edition, processor width, service pack and build. The rules work on a
// plain record (WindowsFacts) so that every release can be described
// without running on it; the functions without one ask Windows.
#include <windows.h>

#include <cstdint>

#include "gen/Str.h"

// The version record of the running Windows, and whether it is of the NT
// line (platform id 2) rather than the 95/98 family.
struct WinVersionInfo {
  OSVERSIONINFOA version;
  bool isNT;

  // Asks Windows. When it cannot answer, the record stays cleared and the
  // system counts as not NT.
  WinVersionInfo();
  explicit WinVersionInfo(const OSVERSIONINFOA& record);

  bool IsNT() const { return isNT; }
  bool IsNotNT() const { return !isNT; }
};

// --- Short text -----------------------------------------------------------

// The release as the short text names it: "95", "98", "NT", "2000", "XP",
// "Vista", "7", "8"; "???" for a platform of neither line. Version 6.1 and
// 6.2 are both "7" and only major version 7 is "8".
const char* ShortReleaseName(DWORD platformId, DWORD majorVersion, DWORD minorVersion);

// "Win<name> <major>.<minor, two digits> build <low 16 bits> <service pack>".
// The blank before the service pack is there even when it is empty.
Str DescribeWindowsShort(const WinVersionInfo& info);
Str DescribeWindowsShort();

// --- Long text ------------------------------------------------------------

const uint32_t kWindowsDescriptionSize = 256;

// Printed on standard output by DescribeWindows where no long text exists.
extern const char kUnsupportedWindows[];

// What the long text is built from: the extended version record's fields,
// the native processor architecture, the edition and the R2 flag.
struct WindowsFacts {
  DWORD platformId;
  DWORD majorVersion;
  DWORD minorVersion;
  DWORD buildNumber;
  const char* servicePack;  // the CSD version text; never null
  WORD suiteMask;
  BYTE productType;         // 1 workstation, 2 domain controller, 3 server
  WORD architecture;        // PROCESSOR_ARCHITECTURE_*, of the system, not of this process
  DWORD edition;            // what GetProductInfo answers for version 6.0 SP 0.0; 0 if nothing
  bool serverR2;            // GetSystemMetrics(SM_SERVERR2) is non-zero
};

// The long text of `facts` into `buffer`, cut to fit. Only NT 5 and later
// have one: for the 95/98 family and NT 4 and older the result is false
// and the buffer is left untouched.
bool ComposeWindowsDescription(const WindowsFacts& facts,
                               char (&buffer)[kWindowsDescriptionSize]);

// The long text of the running Windows into `buffer`. Returns 1 with the
// text; 0, after printing kUnsupportedWindows on standard output, for a
// system without one; 1 with the buffer untouched when Windows cannot be
// asked for its version.
int DescribeWindows(char (&buffer)[kWindowsDescriptionSize]);

// DescribeWindows into a process-wide buffer cleared first, as a Str:
// empty when nothing was written.
Str DescribeWindows();

// --- Crash reports --------------------------------------------------------

// The text of a crash report's OS line: the long text, or the short one
// where there is no long text (the report must still say what ran).
// Prints nothing and allocates nothing, so a failure in progress may use
// it; writes an empty text when Windows cannot be asked.
void DescribeWindowsForReport(char* dest, uint32_t capacity);
