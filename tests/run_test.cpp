// The launcher, run.exe, started with the registry and environment each
// case needs, judged from outside: exit code, boxes, and what it started.
#include <gtest/gtest.h>

#include "toolkit/WinTest.h"

namespace {

const char kProductKey[] = "Software\\NARV";
const char k64BitWindows[] = "C:\\Program Files (x86)";
const DWORD kTimeout = 10000;  // waited this long only when something is wrong
const HKEY kUser = HKEY_CURRENT_USER, kMachine = HKEY_LOCAL_MACHINE;
const RegView k32 = RegView::k32, k64 = RegView::k64;

std::string SystemText(DWORD code) {
  char text[1024] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                 sizeof text, nullptr);
  return text;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string NoPathBox(DWORD status) {
  return "exit 4294967295|Error|icon|Couldn't obtain installation path:\n\n" + SystemText(status);
}

// A key of the product, with the installation path when there is data.
struct Stored { HKEY root; RegView view; DWORD type; std::optional<std::string> data; };
// Were it used, this path would show a start failure instead.
const Stored kMachinePath{kMachine, k32, REG_SZ, RegSz("C:\\Elsewhere")};

// Runs sharing this prefix share its registry: a launcher could start the
// other run's program. One test at a time owns the product's key.
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

  // Runs the launcher to its end, a crash report the guard offers declined;
  // returns "exit <code>", then "|<caption>|[icon|]<text>" for each box.
  std::string Launch(const std::optional<std::string>& wow64, const std::string& arguments = "",
                     std::vector<EnvChange> environment = {}) {
    environment.push_back({"ProgramFiles(x86)", wow64});
    std::string block = EnvironmentBlock(environment);
    Process launcher = Process::Start(Quoted(BinFolder() + "run.exe") + arguments, &block);
    EXPECT_TRUE(launcher.Started()) << "error " << launcher.StartError();
    Outcome outcome = RunToEnd(launcher, kTimeout, IDNO);
    std::string seen = outcome.ended ? "exit " + std::to_string(outcome.exitCode) : "running";
    for (const DialogView& box : outcome.dialogs)
      seen += "|" + box.caption + (box.icon ? "|icon|" : "|") + box.text;
    return seen;
  }

  KeyOwner owner_;
};

TEST_F(Launcher, WithoutAUsablePathShowsTheErrorBoxAndFails) {
  const std::string fullBuffer(10240, 'a');
  const struct { const char* name; std::vector<Stored> stored; DWORD status; } rows[] = {
      {"KeyMissingEverywhere", {}, ERROR_FILE_NOT_FOUND},
      // The search ends at the first key that opens, usable value or not.
      {"UserKeyWithoutValueHidesMachineValue", {{kUser, k32}, kMachinePath}, ERROR_FILE_NOT_FOUND},
      {"UserValueEmptyHidesMachineValue", {{kUser, k32, REG_SZ, RegSz("")}, kMachinePath}, 0},
      {"UserValueExpandSzHidesMachineValue",
       {{kUser, k32, REG_EXPAND_SZ, RegSz("C:\\Elsewhere")}, kMachinePath}, 0},
      {"ValueLongerThanBuffer", {{kUser, k32, REG_SZ, RegSz(fullBuffer)}}, ERROR_MORE_DATA},
      // Cut to fit, it would name some other folder: refused as too long.
      {"ValueFillsBufferWithoutTerminator", {{kUser, k32, REG_SZ, fullBuffer}}, ERROR_MORE_DATA},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    RegistryScope registry(kProductKey);
    for (const Stored& stored : row.stored) Store(stored);
    EXPECT_EQ(NoPathBox(row.status), Launch(k64BitWindows));
  }
}

// Both machine attempts of a 32-bit program read the 32-bit view.
TEST_F(Launcher, MachineValueOnlyIn64BitView) {
  BOOL wow64 = FALSE;
  if (!IsWow64Process(GetCurrentProcess(), &wow64) || !wow64)
    GTEST_SKIP() << "needs a 64-bit Windows: a 32-bit one has no 64-bit registry view";
  RegistryScope registry(kProductKey);
  Store({kMachine, k64, REG_SZ, RegSz("C:\\x")});
  EXPECT_EQ(NoPathBox(ERROR_FILE_NOT_FOUND), Launch(k64BitWindows));
}

// The program started waits for an event until the launcher has ended. A
// user path hides the machine one beside it; the variable set and not empty
// means the 64-bit program; the launcher's arguments are not passed on.
TEST_F(Launcher, StartsTheProgramOfTheInstallationFolderWithoutWaiting) {
  const struct {
    const char* name;
    HKEY root;
    std::optional<std::string> wow64;
    std::string arguments = "";
    const char *folder = "inst", *tail = "";
    bool terminated = true;
  } rows[] = {
      {"MachinePath", kMachine, k64BitWindows},
      // The system resolves the doubled backslash; the command line keeps it.
      {"UnterminatedWithTrailingBackslash", kUser, k64BitWindows, "", "inst", "\\", false},
      {"Wow64VariableEmpty", kUser, ""},
      {"Wow64VariableAbsent", kUser, std::nullopt},
      // Unquoted, the command line would name "<temp>\Program" first.
      {"BlanksInPath", kUser, k64BitWindows, " /update \"two\" -x", "Program Files\\NARV-inst"},
  };
  std::string hold = "run_test-hold-" + std::to_string(GetCurrentProcessId());
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    RegistryScope registry(kProductKey);
    TempFolder temp;
    std::string folder = temp.Path() + "\\" + row.folder, stored = folder + row.tail;
    std::string program = row.wow64 && !row.wow64->empty() ? "\\NARV64.exe" : "\\NARV.exe";
    ASSERT_TRUE(CreateFolders(folder) && PlaceRecorder(folder + program));
    Store({row.root, k32, REG_SZ, row.terminated ? RegSz(stored) : stored});
    if (row.root == kUser) Store(kMachinePath);
    Handle held(CreateEventA(nullptr, TRUE, FALSE, hold.c_str()));
    EXPECT_EQ("exit 0", Launch(row.wow64, row.arguments, {{kRecorderHoldVariable, hold}}));
    std::optional<RecorderReport> report = AwaitRecorder(folder + program, kTimeout);
    ASSERT_TRUE(report) << program << " was not started";
    EXPECT_EQ(Quoted(stored + program), report->commandLine);
    EXPECT_FALSE(report->process.Wait(0)) << "the program ended before it was let go";
  }
}

// A path that fits is tried and shown whole, and the exit code is still 0;
// one that does not ends the launcher through the crash guard. The buffer
// holds 10240 bytes with the terminator, "\NARV64.exe" is 11 characters.
// Wine's CreateProcessA fails hard on paths longer than MAX_PATH whose
// folder exists: those folders are missing.
TEST_F(Launcher, StartFailureShowsTheStartBoxOrFailsTheLauncher) {
  // The folder is made `length` long if that is set; a code of 0 is the
  // system's to choose.
  const struct { const char *name, *folder; size_t length; bool exists, fits; DWORD code; } rows[] = {
      {"ExecutableMissing", "empty", 0, true, true, ERROR_FILE_NOT_FOUND},
      {"Longest", "missing\\", 10228, false, true, 0},
      {"OneTooLong", "missing\\", 10229, false, false, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    RegistryScope registry(kProductKey);
    TempFolder temp;
    std::string folder = temp.Path() + "\\" + row.folder;
    if (row.length) folder.resize(row.length, 'x');
    if (row.exists) ASSERT_TRUE(CreateFolders(folder));
    Store({kUser, k32, REG_SZ, RegSz(folder)});
    std::string seen = Launch(k64BitWindows);
    if (!row.fits) {
      EXPECT_EQ(0u, seen.find("exit 4294967295|")) << seen;
      EXPECT_EQ(std::string::npos, seen.find("CreateProcess")) << seen;
      continue;
    }
    DWORD code = row.code ? row.code : std::stoul(seen.substr(seen.rfind("error ") + 6));
    EXPECT_EQ("exit 0|Error|CreateProcess\n\n" + Quoted(folder + "\\NARV64.exe") +
                  "\n\nfailed with error " + std::to_string(code) + ": " + SystemText(code),
              seen);
  }
}

}  // namespace
