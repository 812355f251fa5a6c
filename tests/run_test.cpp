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
const DWORD kNoInstallation = 0xFFFFFFFF;
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

// Every box shown, as "caption|text", with "icon|" between when it has one.
std::vector<std::string> Boxes(const Outcome& outcome) {
  std::vector<std::string> boxes;
  for (const DialogView& box : outcome.dialogs)
    boxes.push_back(box.caption + (box.icon ? "|icon|" : "|") + box.text);
  return boxes;
}

// A registry key of the product, with the installation path when `data` is set.
struct Stored {
  HKEY root;
  RegView view;
  DWORD type;
  std::optional<std::string> data;
};
// Were it used, this path would show a start failure instead.
const Stored kMachinePath{kMachine, k32, REG_SZ, RegSz("C:\\Elsewhere")};

// Runs that share this prefix share its registry (a subset run beside a
// whole one): a launcher would start the other run's program or read a key
// cleared under it. One test at a time owns the product's key, from before
// it is cleared until it is put back.
class KeyOwner {
 public:
  KeyOwner() : mutex_(CreateMutexA(nullptr, FALSE, "run_test-product-key")) {
    WaitForSingleObject(mutex_.Get(), INFINITE);  // an abandoned one is owned as well
  }
  ~KeyOwner() { ReleaseMutex(mutex_.Get()); }

 private:
  Handle mutex_;
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
  Outcome outcome = Launch(k64BitWindows);
  ASSERT_TRUE(outcome.ended);
  EXPECT_EQ(kNoInstallation, outcome.exitCode);
  EXPECT_EQ(std::vector<std::string>{"Error|icon|Couldn't obtain installation path:\n\n" +
                                     SystemText(GetParam().status, 0, 0)},
            Boxes(outcome));
}

const std::string kFullBuffer(10240, 'a');

INSTANTIATE_TEST_SUITE_P(
    Launcher, MissingPath,
    ::testing::Values(
        MissingPathCase{"KeyMissingEverywhere", {}, ERROR_FILE_NOT_FOUND},
        MissingPathCase{"ValueMissing", {{kMachine, k32}}, ERROR_FILE_NOT_FOUND},
        // The search ends at the first key that opens, usable value or not.
        MissingPathCase{"UserKeyWithoutValueHidesMachineValue", {{kUser, k32}, kMachinePath},
                        ERROR_FILE_NOT_FOUND},
        MissingPathCase{"UserValueEmptyHidesMachineValue",
                        {{kUser, k32, REG_SZ, RegSz("")}, kMachinePath}, ERROR_SUCCESS},
        MissingPathCase{"UserValueExpandSzHidesMachineValue",
                        {{kUser, k32, REG_EXPAND_SZ, RegSz("C:\\Elsewhere")}, kMachinePath},
                        ERROR_SUCCESS},
        // Both machine attempts of a 32-bit program read the 32-bit view.
        MissingPathCase{"MachineValueOnlyIn64BitView", {{kMachine, k64, REG_SZ, RegSz("C:\\x")}},
                        ERROR_FILE_NOT_FOUND},
        MissingPathCase{"ValueWithoutBytes", {{kUser, k32, REG_SZ, ""}}, ERROR_SUCCESS},
        MissingPathCase{"ValueDword", {{kUser, k32, REG_DWORD, RegDword(1)}}, ERROR_SUCCESS},
        MissingPathCase{"ValueLongerThanBuffer", {{kUser, k32, REG_SZ, RegSz(kFullBuffer)}},
                        ERROR_MORE_DATA},
        // Cut to fit, it would name some other folder: refused as too long.
        MissingPathCase{"ValueFillsBufferWithoutTerminator", {{kUser, k32, REG_SZ, kFullBuffer}},
                        ERROR_MORE_DATA}),
    [](const ::testing::TestParamInfo<MissingPathCase>& info) { return info.param.name; });

// --- The product's executable is started, and not waited for --------------

struct StartCase {
  const char* name;
  HKEY root;  // where the path is stored; a user path hides a machine one
  std::optional<std::string> wow64;
  const char* program;
  std::string arguments = "";    // given to the launcher
  const char* folder = "inst";   // below the temporary folder
  const char* tail = "";         // stored behind the folder
  bool terminated = true;        // stored with its terminating zero
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

  Outcome outcome = Launch(param.wow64, param.arguments, {{kRecorderHoldVariable, hold}});
  ASSERT_TRUE(outcome.ended) << "the launcher waited for the program";
  EXPECT_EQ(0u, outcome.exitCode);
  EXPECT_EQ(std::vector<std::string>{}, Boxes(outcome));
  std::optional<RecorderReport> report = AwaitRecorder(folder + "\\" + param.program, kTimeout);
  ASSERT_TRUE(report) << param.program << " was not started";
  EXPECT_EQ(Quoted(stored + "\\" + param.program), report->commandLine);
  EXPECT_FALSE(report->process.Wait(0)) << "the program ended before it was let go";
}

INSTANTIATE_TEST_SUITE_P(
    Launcher, Starts,
    ::testing::Values(
        StartCase{"UserPath", kUser, k64BitWindows, "NARV64.exe"},
        StartCase{"MachinePath", kMachine, k64BitWindows, "NARV64.exe"},
        StartCase{"PathWithoutTerminator", kUser, k64BitWindows, "NARV64.exe", "", "inst", "",
                  false},
        StartCase{"Wow64VariableEmpty", kUser, "", "NARV.exe"},
        StartCase{"Wow64VariableAbsent", kUser, std::nullopt, "NARV.exe"},
        StartCase{"LauncherArgumentsNotPassedOn", kUser, k64BitWindows, "NARV64.exe",
                  " /update \"two words\" -x"},
        // Unquoted, the command line would name "<temp>\Program" first.
        StartCase{"PathWithBlanks", kUser, k64BitWindows, "NARV64.exe", "",
                  "Program Files\\NARV-inst"},
        // The system resolves the doubled backslash; the command line keeps it.
        StartCase{"TrailingBackslashKept", kUser, k64BitWindows, "NARV64.exe", "", "inst", "\\"}),
    [](const ::testing::TestParamInfo<StartCase>& info) { return info.param.name; });

// --- The executable cannot be started --------------------------------------

struct StartFailureCase {
  const char* name;
  std::string folder;  // below the temporary folder; filled up to `length` if set
  size_t length;
  bool exists;
  std::optional<std::string> wow64;
  const char* program;
  DWORD exitCode;
  DWORD code;  // 0: the system's to choose
};

void PrintTo(const StartFailureCase& param, std::ostream* out) { *out << param.name; }

class StartFailure : public Launcher, public ::testing::WithParamInterface<StartFailureCase> {};

// A path that fits is tried whole and shown whole in the start box; one
// that does not fit ends the launcher as a failure of its own, through the
// crash guard, and nothing is tried.
TEST_P(StartFailure, ShowsStartBoxOrFailsTheLauncher) {
  const StartFailureCase& param = GetParam();
  std::string folder = temp_.Path() + "\\" + param.folder;
  if (param.length) folder.resize(param.length, 'x');
  if (param.exists) ASSERT_TRUE(CreateFolders(folder));
  Store({kUser, k32, REG_SZ, RegSz(folder)});

  Outcome outcome = Launch(param.wow64);
  ASSERT_TRUE(outcome.ended);
  EXPECT_EQ(param.exitCode, outcome.exitCode);
  std::vector<std::string> boxes = Boxes(outcome);
  if (param.exitCode == kNoInstallation) {
    for (const std::string& box : boxes) EXPECT_EQ(std::string::npos, box.find("CreateProcess"));
    return;
  }
  ASSERT_EQ(1u, boxes.size());
  DWORD code = param.code ? param.code : strtoul(&boxes[0][boxes[0].rfind("error ") + 6], 0, 10);
  EXPECT_EQ("Error|CreateProcess\n\n" + Quoted(folder + "\\" + param.program) +
                "\n\nfailed with error " + std::to_string(code) + ": " +
                SystemText(code, FORMAT_MESSAGE_IGNORE_INSERTS,
                           MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT)),
            boxes[0]);
}

// "\NARV64.exe" is 11 characters, "\NARV.exe" 9; the buffer holds 10240
// bytes with the terminator. Wine's CreateProcessA fails hard on paths
// longer than MAX_PATH whose folder exists: those folders are missing.
INSTANTIATE_TEST_SUITE_P(
    Launcher, StartFailure,
    ::testing::Values(
        StartFailureCase{"ExecutableMissing", "empty", 0, true, k64BitWindows, "NARV64.exe", 0,
                         ERROR_FILE_NOT_FOUND},
        StartFailureCase{"FolderMissing", "missing", 0, false, k64BitWindows, "NARV64.exe", 0,
                         ERROR_PATH_NOT_FOUND},
        StartFailureCase{"LongestFor64Bit", "missing\\", 10228, false, k64BitWindows,
                         "NARV64.exe", 0, 0},
        StartFailureCase{"OneTooLongFor64Bit", "missing\\", 10229, false, k64BitWindows,
                         "NARV64.exe", kNoInstallation, 0},
        StartFailureCase{"LongestFor32Bit", "missing\\", 10230, false, std::nullopt, "NARV.exe",
                         0, 0},
        StartFailureCase{"OneTooLongFor32Bit", "missing\\", 10231, false, std::nullopt,
                         "NARV.exe", kNoInstallation, 0},
        StartFailureCase{"FillingTheBuffer", "missing\\", 10239, false, k64BitWindows,
                         "NARV64.exe", kNoInstallation, 0}),
    [](const ::testing::TestParamInfo<StartFailureCase>& info) { return info.param.name; });

}  // namespace
