// The launcher, run.exe, started as a user would start it, with the
// registry and environment each case needs, and judged from outside: its
// full exit code, the boxes it shows, and what it started.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>

#include "toolkit/WinTest.h"

namespace {

const char kProductKey[] = "Software\\NARV";
const char k64BitWindows[] = "C:\\Program Files (x86)";
const DWORD kTimeout = 10000;  // waited this long only when something is wrong
const HKEY kUser = HKEY_CURRENT_USER, kMachine = HKEY_LOCAL_MACHINE;
const RegView k32 = RegView::k32, k64 = RegView::k64;

std::string SystemText(DWORD code, DWORD flags, DWORD language) {
  char* text = nullptr;
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | flags, nullptr,
                 code, language, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result = text ? text : "";
  LocalFree(text);
  return result;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// How the launcher ended and every box it showed, in one text to compare
// whole: "exit <code>", then "|<caption>|[icon|]<text>" for each box.
std::string Seen(const Outcome& outcome) {
  std::string seen = outcome.ended ? "exit " + std::to_string(outcome.exitCode) : "running";
  for (const DialogView& box : outcome.dialogs)
    seen += "|" + box.caption + (box.icon ? "|icon|" : "|") + box.text;
  return seen;
}

// A key of the product, with the installation path when there is data.
struct Stored {
  HKEY root;
  RegView view;
  DWORD type;
  std::optional<std::string> data;
};
// Were it used, this path would show a start failure instead.
const Stored kMachinePath{kMachine, k32, REG_SZ, RegSz("C:\\Elsewhere")};

// Runs that share this prefix share its registry (a subset run beside a
// whole one): a launcher would start the other run's program, or read a
// key cleared under it. One test at a time owns the product's key, from
// before it is cleared until it is put back.
struct KeyOwner {
  KeyOwner() { WaitForSingleObject(mutex.Get(), INFINITE); }  // abandoned: owned as well
  ~KeyOwner() { ReleaseMutex(mutex.Get()); }
  Handle mutex{CreateMutexA(nullptr, FALSE, "run_test-product-key")};
};

class Launcher : public ::testing::Test {
 protected:
  void Store(const Stored& s) {
    ASSERT_EQ(ERROR_SUCCESS, s.data ? SetRegValue(s.root, s.view, kProductKey, "Installation path",
                                                  s.type, *s.data)
                                    : CreateRegKey(s.root, s.view, kProductKey));
  }

  // Runs the launcher to its end; every box is answered, a crash report
  // the guard offers to send is declined.
  Outcome Launch(const std::optional<std::string>& wow64, const std::string& arguments = "",
                 std::vector<EnvChange> environment = {}) {
    environment.push_back({"ProgramFiles(x86)", wow64});
    std::string block = EnvironmentBlock(environment);
    Process launcher = Process::Start(Quoted(BinFolder() + "run.exe") + arguments, &block);
    EXPECT_TRUE(launcher.Started()) << "error " << launcher.StartError();
    return RunToEnd(launcher, kTimeout, IDNO);
  }

  KeyOwner owner_;
  RegistryScope registry_{kProductKey};
  TempFolder temp_;
};

// Cases are named, and print, by their name.
template <typename Case>
std::string Named(const ::testing::TestParamInfo<Case>& info) { return info.param.name; }

// --- No usable installation path: one error box, exit code -1 -------------

struct MissingPathCase {
  const char* name;
  std::vector<Stored> stored;
  DWORD status;  // the code whose system text the box shows
};

void PrintTo(const MissingPathCase& param, std::ostream* out) { *out << param.name; }
class MissingPath : public Launcher, public ::testing::WithParamInterface<MissingPathCase> {};

TEST_P(MissingPath, ShowsErrorBoxAndFails) {
  for (const Stored& stored : GetParam().stored) {
    BOOL wow64 = FALSE;
    if (stored.view == k64 && !(IsWow64Process(GetCurrentProcess(), &wow64) && wow64))
      GTEST_SKIP() << "needs a 64-bit Windows: a 32-bit one has no 64-bit registry view";
    Store(stored);
  }
  EXPECT_EQ("exit 4294967295|Error|icon|Couldn't obtain installation path:\n\n" +
                SystemText(GetParam().status, 0, 0),
            Seen(Launch(k64BitWindows)));
}

const std::string kFullBuffer(10240, 'a');
const MissingPathCase kMissingPathCases[] = {
    {"KeyMissingEverywhere", {}, ERROR_FILE_NOT_FOUND},
    {"ValueMissing", {{kMachine, k32}}, ERROR_FILE_NOT_FOUND},
    // The search ends at the first key that opens, usable value or not.
    {"UserKeyWithoutValueHidesMachineValue", {{kUser, k32}, kMachinePath}, ERROR_FILE_NOT_FOUND},
    {"UserValueEmptyHidesMachineValue", {{kUser, k32, REG_SZ, RegSz("")}, kMachinePath}, 0},
    {"UserValueExpandSzHidesMachineValue",
     {{kUser, k32, REG_EXPAND_SZ, RegSz("C:\\Elsewhere")}, kMachinePath}, 0},
    // Both machine attempts of a 32-bit program read the 32-bit view.
    {"MachineValueOnlyIn64BitView", {{kMachine, k64, REG_SZ, RegSz("C:\\x")}}, ERROR_FILE_NOT_FOUND},
    {"ValueWithoutBytes", {{kUser, k32, REG_SZ, ""}}, 0},
    {"ValueDword", {{kUser, k32, REG_DWORD, RegDword(1)}}, 0},
    {"ValueLongerThanBuffer", {{kUser, k32, REG_SZ, RegSz(kFullBuffer)}}, ERROR_MORE_DATA},
    // Cut to fit, it would name some other folder: refused as too long.
    {"ValueFillsBufferWithoutTerminator", {{kUser, k32, REG_SZ, kFullBuffer}}, ERROR_MORE_DATA},
};
INSTANTIATE_TEST_SUITE_P(Launcher, MissingPath, ::testing::ValuesIn(kMissingPathCases),
                         Named<MissingPathCase>);

// --- The product's executable is started, and not waited for --------------

struct StartCase {
  const char* name;
  HKEY root;  // where the path is stored; a user path hides a machine one
  std::optional<std::string> wow64;
  const char* program;
  std::string arguments = "";   // given to the launcher
  const char* folder = "inst";  // below the temporary folder
  const char* tail = "";        // stored behind the folder
  bool terminated = true;       // stored with its terminating zero
};

void PrintTo(const StartCase& param, std::ostream* out) { *out << param.name; }
class Starts : public Launcher, public ::testing::WithParamInterface<StartCase> {};

TEST_P(Starts, ProgramOfInstallationFolderWithoutWaiting) {
  const StartCase& param = GetParam();
  std::string folder = temp_.Path() + "\\" + param.folder, stored = folder + param.tail;
  ASSERT_TRUE(CreateFolders(folder) && PlaceRecorder(folder + "\\" + param.program));
  Store({param.root, k32, REG_SZ, param.terminated ? RegSz(stored) : stored});
  if (param.root == kUser) Store(kMachinePath);
  // The program started waits for this event, so the launcher must end first.
  std::string hold = "run_test-hold-" + std::to_string(GetCurrentProcessId());
  Handle held(CreateEventA(nullptr, TRUE, FALSE, hold.c_str()));

  EXPECT_EQ("exit 0", Seen(Launch(param.wow64, param.arguments, {{kRecorderHoldVariable, hold}})));
  std::optional<RecorderReport> report = AwaitRecorder(folder + "\\" + param.program, kTimeout);
  ASSERT_TRUE(report) << param.program << " was not started";
  EXPECT_EQ(Quoted(stored + "\\" + param.program), report->commandLine);
  EXPECT_FALSE(report->process.Wait(0)) << "the program ended before it was let go";
}

const StartCase kStartCases[] = {
    {"UserPath", kUser, k64BitWindows, "NARV64.exe"},
    {"MachinePath", kMachine, k64BitWindows, "NARV64.exe"},
    {"PathWithoutTerminator", kUser, k64BitWindows, "NARV64.exe", "", "inst", "", false},
    {"Wow64VariableEmpty", kUser, "", "NARV.exe"},
    {"Wow64VariableAbsent", kUser, std::nullopt, "NARV.exe"},
    {"LauncherArgumentsNotPassedOn", kUser, k64BitWindows, "NARV64.exe", " /update \"two\" -x"},
    // Unquoted, the command line would name "<temp>\Program" first.
    {"PathWithBlanks", kUser, k64BitWindows, "NARV64.exe", "", "Program Files\\NARV-inst"},
    // The system resolves the doubled backslash; the command line keeps it.
    {"TrailingBackslashKept", kUser, k64BitWindows, "NARV64.exe", "", "inst", "\\"},
};
INSTANTIATE_TEST_SUITE_P(Launcher, Starts, ::testing::ValuesIn(kStartCases), Named<StartCase>);

// --- The executable cannot be started --------------------------------------

struct StartFailureCase {
  const char* name;
  const char* folder;  // below the temporary folder; made `length` long if set
  size_t length;
  bool exists, is64;
  bool fits;   // else the launcher ends through the crash guard, nothing tried
  DWORD code;  // 0: the system's to choose
};

void PrintTo(const StartFailureCase& param, std::ostream* out) { *out << param.name; }
class StartFailure : public Launcher, public ::testing::WithParamInterface<StartFailureCase> {};

// A path that fits is tried and shown whole; the exit code is still 0.
TEST_P(StartFailure, ShowsStartBoxOrFailsTheLauncher) {
  const StartFailureCase& param = GetParam();
  std::string folder = temp_.Path() + "\\" + param.folder;
  if (param.length) folder.resize(param.length, 'x');
  if (param.exists) ASSERT_TRUE(CreateFolders(folder));
  Store({kUser, k32, REG_SZ, RegSz(folder)});

  std::string seen = Seen(Launch(param.is64 ? k64BitWindows : std::optional<std::string>()));
  if (!param.fits) {
    EXPECT_EQ(0u, seen.find("exit 4294967295|")) << seen;
    EXPECT_EQ(std::string::npos, seen.find("CreateProcess")) << seen;
    return;
  }
  DWORD code = param.code ? param.code : strtoul(&seen[seen.rfind("error ") + 6], nullptr, 10);
  EXPECT_EQ("exit 0|Error|CreateProcess\n\n" +
                Quoted(folder + (param.is64 ? "\\NARV64.exe" : "\\NARV.exe")) +
                "\n\nfailed with error " + std::to_string(code) + ": " +
                SystemText(code, FORMAT_MESSAGE_IGNORE_INSERTS,
                           MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT)),
            seen);
}

// "\NARV64.exe" is 11 characters, "\NARV.exe" 9; the buffer holds 10240
// bytes with the terminator. Wine's CreateProcessA fails hard on paths
// longer than MAX_PATH whose folder exists: those folders are missing.
const StartFailureCase kStartFailureCases[] = {
    {"ExecutableMissing", "empty", 0, true, true, true, ERROR_FILE_NOT_FOUND},
    {"FolderMissing", "missing", 0, false, true, true, ERROR_PATH_NOT_FOUND},
    {"LongestFor64Bit", "missing\\", 10228, false, true, true, 0},
    {"OneTooLongFor64Bit", "missing\\", 10229, false, true, false, 0},
    {"LongestFor32Bit", "missing\\", 10230, false, false, true, 0},
    {"OneTooLongFor32Bit", "missing\\", 10231, false, false, false, 0},
    {"FillingTheBuffer", "missing\\", 10239, false, true, false, 0},
};
INSTANTIATE_TEST_SUITE_P(Launcher, StartFailure, ::testing::ValuesIn(kStartFailureCases),
                         Named<StartFailureCase>);

}  // namespace
