// The launcher, run.exe, started as a user would start it, with the
// registry and environment each case needs, and judged from outside: its
// full exit code, the boxes it shows, and what it started.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ostream>

#include "toolkit/WinTest.h"

namespace {

const char kProductKey[] = "Software\\NARV";
const char kPathValue[] = "Installation path";
const char kWow64Variable[] = "ProgramFiles(x86)";
const char k64BitWindows[] = "C:\\Program Files (x86)";
const DWORD kNoInstallation = 0xFFFFFFFF;
const DWORD kPathBufferSize = 10240;
// Waits this long only when something is wrong.
const DWORD kTimeout = 10000;

const HKEY kUser = HKEY_CURRENT_USER;
const HKEY kMachine = HKEY_LOCAL_MACHINE;

std::string SystemText(DWORD code, DWORD flags, DWORD language) {
  char* text = nullptr;
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | flags, nullptr,
                 code, language, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result = text ? text : "";
  LocalFree(text);
  return result;
}

std::string MissingPathMessage(DWORD status) {
  return "Couldn't obtain installation path:\n\n" + SystemText(status, 0, 0);
}

std::string StartFailureMessage(const std::string& program, DWORD code) {
  return "CreateProcess\n\n\"" + program + "\"\n\nfailed with error " + std::to_string(code) +
         ": " +
         SystemText(code, FORMAT_MESSAGE_IGNORE_INSERTS, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT));
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// One registry key holding the installation path, or only the key.
struct Stored {
  HKEY root;
  RegView view;
  bool hasValue;
  DWORD type;
  std::string data;
};

Stored KeyOnly(HKEY root, RegView view) { return {root, view, false, 0, std::string()}; }
Stored Value(HKEY root, RegView view, DWORD type, const std::string& data) {
  return {root, view, true, type, data};
}

class Launcher : public ::testing::Test {
 protected:
  void Store(const Stored& stored) {
    LONG status = stored.hasValue ? SetRegValue(stored.root, stored.view, kProductKey, kPathValue,
                                                stored.type, stored.data)
                                  : CreateRegKey(stored.root, stored.view, kProductKey);
    ASSERT_EQ(ERROR_SUCCESS, status);
  }
  void StorePath(HKEY root, RegView view, const std::string& path) {
    Store(Value(root, view, REG_SZ, RegSz(path)));
  }

  // A folder under the test's temporary one holding both of the product's
  // executables, as recorders.
  std::string Install(const std::string& name) {
    std::string folder = temp_.Path() + "\\" + name;
    EXPECT_TRUE(CreateFolders(folder));
    EXPECT_TRUE(PlaceRecorder(folder + "\\NARV.exe"));
    EXPECT_TRUE(PlaceRecorder(folder + "\\NARV64.exe"));
    return folder;
  }

  // Runs the launcher to its end; every box it shows is answered.
  Outcome Launch(const std::optional<std::string>& wow64 = std::string(k64BitWindows),
                 const std::string& arguments = std::string(),
                 std::vector<EnvChange> environment = {}, int answer = IDOK) {
    environment.push_back({kWow64Variable, wow64});
    std::string block = EnvironmentBlock(environment);
    Process launcher = Process::Start(Quoted(BinFolder() + "run.exe") + arguments, &block);
    EXPECT_TRUE(launcher.Started()) << "error " << launcher.StartError();
    return RunToEnd(launcher, kTimeout, answer);
  }

  RegistryScope registry_{kProductKey};
  TempFolder temp_;
};

void ExpectStarted(const std::string& program) {
  std::optional<RecorderReport> report = AwaitRecorder(program, kTimeout);
  ASSERT_TRUE(report) << program << " was not started";
  EXPECT_EQ(program, report->modulePath);
  EXPECT_EQ(Quoted(program), report->commandLine);
}

void ExpectNotStarted(const std::string& program) {
  EXPECT_FALSE(AwaitRecorder(program, 0)) << program << " was started";
}

// --- No usable installation path: one error box, exit code -1 -------------

struct MissingPathCase {
  const char* name;
  std::vector<Stored> stored;
  DWORD status;  // the code whose system text the box shows
};

void PrintTo(const MissingPathCase& param, std::ostream* out) { *out << param.name; }

class MissingPath : public Launcher, public ::testing::WithParamInterface<MissingPathCase> {};

TEST_P(MissingPath, ShowsErrorBoxAndFails) {
  for (const Stored& stored : GetParam().stored) Store(stored);
  Outcome outcome = Launch();
  ASSERT_TRUE(outcome.ended);
  EXPECT_EQ(kNoInstallation, outcome.exitCode);
  ASSERT_EQ(1u, outcome.dialogs.size());
  EXPECT_EQ("Error", outcome.dialogs[0].caption);
  EXPECT_EQ(MissingPathMessage(GetParam().status), outcome.dialogs[0].text);
  EXPECT_TRUE(outcome.dialogs[0].icon);
}

// A path that, were it used, would show a start failure instead.
const std::string kElsewhere = RegSz("C:\\Elsewhere");
const std::string kFullBuffer(kPathBufferSize, 'a');

INSTANTIATE_TEST_SUITE_P(
    Launcher, MissingPath,
    ::testing::Values(
        MissingPathCase{"KeyMissingEverywhere", {}, ERROR_FILE_NOT_FOUND},
        MissingPathCase{"ValueMissing", {KeyOnly(kMachine, RegView::k32)}, ERROR_FILE_NOT_FOUND},
        // The search ends at the first key that opens, usable value or not.
        MissingPathCase{"UserKeyWithoutValueHidesMachineValue",
                        {KeyOnly(kUser, RegView::k32),
                         Value(kMachine, RegView::k32, REG_SZ, kElsewhere)},
                        ERROR_FILE_NOT_FOUND},
        MissingPathCase{"UserValueEmptyHidesMachineValue",
                        {Value(kUser, RegView::k32, REG_SZ, RegSz("")),
                         Value(kMachine, RegView::k32, REG_SZ, kElsewhere)},
                        ERROR_SUCCESS},
        MissingPathCase{"UserValueExpandSzHidesMachineValue",
                        {Value(kUser, RegView::k32, REG_EXPAND_SZ, kElsewhere),
                         Value(kMachine, RegView::k32, REG_SZ, kElsewhere)},
                        ERROR_SUCCESS},
        // Both machine attempts of a 32-bit program read the 32-bit view.
        MissingPathCase{"MachineValueOnlyIn64BitView",
                        {Value(kMachine, RegView::k64, REG_SZ, kElsewhere)},
                        ERROR_FILE_NOT_FOUND},
        MissingPathCase{"ValueWithoutBytes", {Value(kUser, RegView::k32, REG_SZ, "")},
                        ERROR_SUCCESS},
        MissingPathCase{"ValueDword", {Value(kUser, RegView::k32, REG_DWORD, RegDword(1))},
                        ERROR_SUCCESS},
        MissingPathCase{"ValueLongerThanBuffer",
                        {Value(kUser, RegView::k32, REG_SZ, RegSz(kFullBuffer))},
                        ERROR_MORE_DATA},
        // Cut to fit, it would name some other folder: refused as too long.
        MissingPathCase{"ValueFillsBufferWithoutTerminator",
                        {Value(kUser, RegView::k32, REG_SZ, kFullBuffer)}, ERROR_MORE_DATA}),
    [](const ::testing::TestParamInfo<MissingPathCase>& info) { return info.param.name; });

// --- The product's executable is started ----------------------------------

struct StartCase {
  const char* name;
  HKEY root;  // where the path is stored; a user path hides a machine one
  RegView view;
  bool terminated;  // stored with its terminating zero
  std::optional<std::string> wow64;
  std::string arguments;  // given to the launcher
  const char* program;
  const char* folder = "inst";  // below the temporary folder
};

void PrintTo(const StartCase& param, std::ostream* out) { *out << param.name; }

class Starts : public Launcher, public ::testing::WithParamInterface<StartCase> {};

TEST_P(Starts, ProgramOfInstallationFolder) {
  const StartCase& param = GetParam();
  std::string folder = Install(param.folder);
  std::string hidden = Install("hidden");
  std::string decoy = temp_.Path() + "\\Program.exe";
  ASSERT_TRUE(PlaceRecorder(decoy));
  std::string data = param.terminated ? RegSz(folder) : folder;
  Store(Value(param.root, param.view, REG_SZ, data));
  if (param.root == kUser) StorePath(kMachine, RegView::k32, hidden);

  Outcome outcome = Launch(param.wow64, param.arguments);
  ASSERT_TRUE(outcome.ended);
  EXPECT_EQ(0u, outcome.exitCode);
  EXPECT_TRUE(outcome.dialogs.empty());
  ExpectStarted(folder + "\\" + param.program);
  ExpectNotStarted(decoy);
  for (const char* program : {"NARV.exe", "NARV64.exe"}) {
    if (program != std::string(param.program)) ExpectNotStarted(folder + "\\" + program);
    ExpectNotStarted(hidden + "\\" + program);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Launcher, Starts,
    ::testing::Values(
        StartCase{"UserPath", kUser, RegView::k32, true, k64BitWindows, "", "NARV64.exe"},
        StartCase{"MachinePath", kMachine, RegView::k32, true, k64BitWindows, "", "NARV64.exe"},
        StartCase{"PathWithoutTerminator", kUser, RegView::k32, false, k64BitWindows, "",
                  "NARV64.exe"},
        StartCase{"Wow64VariableEmpty", kUser, RegView::k32, true, "", "", "NARV.exe"},
        StartCase{"Wow64VariableAbsent", kUser, RegView::k32, true, std::nullopt, "",
                  "NARV.exe"},
        StartCase{"LauncherArgumentsNotPassedOn", kUser, RegView::k32, true, k64BitWindows,
                  " /update \"two words\" -x", "NARV64.exe"},
        // Unquoted, "<temp>\Program Files\NARV-inst\NARV64.exe" would first be
        // tried as the decoy "<temp>\Program.exe" with arguments.
        StartCase{"PathWithBlanks", kUser, RegView::k32, true, k64BitWindows, "", "NARV64.exe",
                  "Program Files\\NARV-inst"}),
    [](const ::testing::TestParamInfo<StartCase>& info) { return info.param.name; });

// The system resolves the doubled backslash, so the program starts and its
// command line shows the path as the launcher composed it.
TEST_F(Launcher, TrailingBackslashIsKept) {
  std::string folder = Install("inst");
  StorePath(kUser, RegView::k32, folder + "\\");

  Outcome outcome = Launch();
  ASSERT_TRUE(outcome.ended);
  EXPECT_EQ(0u, outcome.exitCode);
  std::optional<RecorderReport> report = AwaitRecorder(folder + "\\NARV64.exe", kTimeout);
  ASSERT_TRUE(report);
  EXPECT_EQ(Quoted(folder + "\\\\NARV64.exe"), report->commandLine);
}

// Keeps the recorders started under its name from ending, until it goes.
class Hold {
 public:
  Hold()
      : name_("run_test-hold-" + std::to_string(GetCurrentProcessId())),
        event_(CreateEventA(nullptr, TRUE, FALSE, name_.c_str())) {}
  ~Hold() { Release(); }
  const std::string& Name() const { return name_; }
  bool Ready() const { return static_cast<bool>(event_); }
  void Release() {
    if (event_) SetEvent(event_.Get());
  }

 private:
  std::string name_;
  Handle event_;
};

TEST_F(Launcher, DoesNotWaitForTheProgram) {
  std::string folder = Install("inst");
  StorePath(kUser, RegView::k32, folder);
  Hold hold;
  ASSERT_TRUE(hold.Ready());

  Outcome outcome = Launch(std::string(k64BitWindows), "", {{kRecorderHoldVariable, hold.Name()}});
  ASSERT_TRUE(outcome.ended) << "the launcher waited for the program";
  EXPECT_EQ(0u, outcome.exitCode);
  std::optional<RecorderReport> report = AwaitRecorder(folder + "\\NARV64.exe", kTimeout);
  ASSERT_TRUE(report);
  EXPECT_FALSE(report->process.Wait(0)) << "the program ended before it was let go";
  hold.Release();
  EXPECT_TRUE(report->process.Wait(kTimeout));
}

// --- The executable cannot be started: the start box, exit code still 0 ---

struct StartFailureCase {
  const char* name;
  std::string folder;  // below the temporary folder
  bool exists;
  DWORD code;  // 0: the system's to choose
};

void PrintTo(const StartFailureCase& param, std::ostream* out) { *out << param.name; }

class StartFailure : public Launcher, public ::testing::WithParamInterface<StartFailureCase> {};

TEST_P(StartFailure, ShowsStartBoxAndSucceeds) {
  const StartFailureCase& param = GetParam();
  std::string folder = temp_.Path() + "\\" + param.folder;
  if (param.exists) {
    ASSERT_TRUE(CreateFolders(folder));
  }
  StorePath(kUser, RegView::k32, folder);

  Outcome outcome = Launch();
  ASSERT_TRUE(outcome.ended);
  EXPECT_EQ(0u, outcome.exitCode);
  ASSERT_EQ(1u, outcome.dialogs.size());
  const DialogView& box = outcome.dialogs[0];
  EXPECT_EQ("Error", box.caption);
  EXPECT_FALSE(box.icon);
  const char kCodeLead[] = "failed with error ";
  size_t lead = box.text.rfind(kCodeLead);
  ASSERT_NE(std::string::npos, lead) << box.text;
  DWORD code = strtoul(box.text.c_str() + lead + strlen(kCodeLead), nullptr, 10);
  if (param.code) {
    EXPECT_EQ(param.code, code);
  }
  EXPECT_EQ(StartFailureMessage(folder + "\\NARV64.exe", code), box.text);
}

INSTANTIATE_TEST_SUITE_P(
    Launcher, StartFailure,
    ::testing::Values(
        StartFailureCase{"ExecutableMissing", "empty", true, ERROR_FILE_NOT_FOUND},
        StartFailureCase{"FolderMissing", "missing", false, ERROR_PATH_NOT_FOUND},
        // Longer than MAX_PATH: shown whole, never cut. (Wine's CreateProcessA
        // fails hard on such paths when the folder exists.)
        StartFailureCase{"LongPathShownWhole", "missing\\" + std::string(300, 'x'), false, 0}),
    [](const ::testing::TestParamInfo<StartFailureCase>& info) { return info.param.name; });

// --- The composed path must fit the buffer, terminator included -----------

struct PathLimitCase {
  const char* name;
  std::optional<std::string> wow64;
  const char* program;
  size_t storedLength;  // of the installation path
  bool fits;            // with the executable's name appended
};

void PrintTo(const PathLimitCase& param, std::ostream* out) { *out << param.name; }

class PathLimit : public Launcher, public ::testing::WithParamInterface<PathLimitCase> {};

// A path that fits is started as it is (and fails: its folder does not
// exist); one that does not fit ends the launcher as a failure of its own,
// through the crash guard, never as a shortened path started. A report the
// guard offers to send is declined.
TEST_P(PathLimit, IsStartedWholeOrFailsTheLauncher) {
  const PathLimitCase& param = GetParam();
  std::string folder = temp_.Path() + "\\missing\\";
  folder.resize(param.storedLength, 'x');
  StorePath(kUser, RegView::k32, folder);
  std::string program = folder + "\\" + param.program;

  Outcome outcome = Launch(param.wow64, "", {}, IDNO);
  ASSERT_TRUE(outcome.ended);
  EXPECT_EQ(param.fits ? 0u : kNoInstallation, outcome.exitCode);
  std::string tried = "CreateProcess\n\n" + Quoted(program) + "\n\n";
  bool started = false;
  for (const DialogView& box : outcome.dialogs) started = started || box.text.rfind(tried, 0) == 0;
  EXPECT_EQ(param.fits, started);
}

// "\NARV64.exe" is 11 characters, "\NARV.exe" 9; the buffer holds 10240 bytes.
INSTANTIATE_TEST_SUITE_P(
    Launcher, PathLimit,
    ::testing::Values(
        PathLimitCase{"LongestFor64Bit", k64BitWindows, "NARV64.exe", 10228, true},
        PathLimitCase{"OneTooLongFor64Bit", k64BitWindows, "NARV64.exe", 10229, false},
        PathLimitCase{"LongestFor32Bit", std::nullopt, "NARV.exe", 10230, true},
        PathLimitCase{"OneTooLongFor32Bit", std::nullopt, "NARV.exe", 10231, false},
        PathLimitCase{"FillingTheBuffer", k64BitWindows, "NARV64.exe", kPathBufferSize - 1,
                      false}),
    [](const ::testing::TestParamInfo<PathLimitCase>& info) { return info.param.name; });

}  // namespace
