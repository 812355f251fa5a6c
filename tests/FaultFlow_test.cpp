// The guard end to end: a guarded program fails one way per row, on its
// main thread and on a worker thread, and the test reads what the user
// would see, answers it, and checks what reached the browser.

#include <gtest/gtest.h>

#include <string>

#include "gen/err/CrashReport.h"
#include "gen/err/ReportSubmit.h"
#include "gen/err/errgpfse.h"
#include "mania/Winver.h"
#include "toolkit/Probe.h"
#include "toolkit/StandIns.h"

namespace {

const std::string kHyphens(66, '-');

// The probe runs on the same Windows as this test.
std::string OsDescription() {
  char text[sizeof guardState.osDescription];
  DescribeWindowsForReport(text, sizeof text);
  return text;
}

std::string Header(const std::string& exceptionText, const std::string& program) {
  return "Product 0.01 exception: " + exceptionText + "\nApplication: " + BinFolder() +
         program + "\nOS: " + OsDescription() + "\n" + kHyphens + "\n";
}

struct Fault {
  const char* action;
  const char* text;
  const char* frame;  // a frame line the report must hold
};

// Every fatal failure: a report with its text, and the named frame.
const Fault kFaults[] = {
    {"read-null", "Attempt to read at 0x00000000", "guard_probe.cpp: ("},
    {"write-null", "Attempt to write at 0x00000000", "namespace'::Fail]"},
    {"divide", "Integer divide by 0", "namespace'::Fail]"},
    {"illegal", "Illegal instruction", "namespace'::Fail]"},
    {"stack-overflow", "Stack overflow", "namespace'::Recurse]"},
    {"abort", "Abnormal termination (SIGABRT)", "namespace'::Fail]"},
    {"invalid-parameter", "Datatype misalignment", "mania\\Bounded.cpp: ("},
    {"purecall", "Illegal instruction", "::Base::CallPure"},
    {"throw", "Unhandled structured exception (throw)", "namespace'::Fail]"},
    {"out-of-memory", "Not enough memory", "gen\\Memwing.cpp: ("},
    {"free-null", "Asserted", "gen\\Memwing.cpp: ("},
    // Out of address space, the common end of a 32-bit program with large images.
    {"memory-gone out-of-memory", "Not enough memory", "gen\\Memwing.cpp: ("},
    {"memory-gone write-null", "Attempt to write at 0x00000000", "namespace'::Fail]"},
};

}  // namespace

TEST(FaultFlow, EveryFatalFailureIsReportedOnTheConsoleAndNotSentOnNo) {
  for (const Fault& fault : kFaults) {
    for (const char* where : {"", "thread "}) {
      std::string action = std::string(where) + fault.action;
      SCOPED_TRACE(action);
      BrowserStandIn browser;
      ASSERT_TRUE(browser.Ready());
      ProbeResult result = RunProbe("guard_probe.exe", action, "n");
      ASSERT_TRUE(result.ended);
      EXPECT_EQ(0xFFFFFFFFu, result.exitCode);
      std::string err = WithoutCr(result.err);
      EXPECT_EQ(0u, err.find("\n" + Header(fault.text, "guard_probe.exe"))) << err;
      EXPECT_NE(std::string::npos, err.find(fault.frame)) << err;
      EXPECT_NE(std::string::npos,
                err.find(std::string("\n") + kReportQuestion + " [Y/n]? "));
      EXPECT_EQ(std::string::npos, result.out.find("returned"));
      EXPECT_EQ(std::string::npos, result.out.find("caught"));
      EXPECT_FALSE(browser.Received(0));
    }
  }
}

TEST(FaultFlow, ACheckIsNamedByTheFrameThatCheckedNotByTheGuard) {
  std::string err = WithoutCr(RunProbe("guard_probe.exe", "free-null", "n").err);
  EXPECT_EQ(0u, FirstFrameLine(err).find("gen\\Memwing.cpp: ")) << err;
  EXPECT_NE(std::string::npos, err.find("[MemFree]\n"));
  EXPECT_EQ(std::string::npos, err.find("gen\\err\\"));
  EXPECT_EQ(std::string::npos, err.find("Err.cpp"));
}

namespace {

// The report exactly as the console showed it, lines ended by "\r\n".
std::string ReportFromConsole(const std::string& err) {
  std::string text;
  for (size_t i = 0; i < err.size(); ++i)
    if (!(err[i] == '\r' && i + 1 < err.size() && err[i + 1] == '\r')) text += err[i];
  size_t start = text.find("\r\n") + 2;
  size_t end = text.find(std::string("\r\n") + kReportQuestion);
  return text.substr(start, end - start);
}

std::string Encoded(const std::string& text) {
  static char buffer[4096];
  return EncodeForUrl(text.c_str(), buffer, sizeof buffer);
}

}  // namespace

TEST(FaultFlow, YesOpensTheReportPageWithSubjectAndReport) {
  BrowserStandIn browser;
  UrlModuleStandIn urlModule;  // the platform's fails on long addresses
  ASSERT_TRUE(browser.Ready() && urlModule.Ready());
  ProbeResult result = RunProbe("guard_probe.exe", "free-null", "y");
  ASSERT_TRUE(result.ended);
  EXPECT_EQ(0xFFFFFFFFu, result.exitCode);
  std::string report = ReportFromConsole(result.err);
  size_t line = report.find("gen\\Memwing.cpp: (") + 18;
  std::string lineNumber = report.substr(line, report.find(')', line) - line);
  std::string subject = "Product 0.01: Asserted - gen\\Memwing.cpp (" + lineNumber + ")[MemFree]";
  std::string expected = std::string(productInfo.reportAddress) + "subject=" +
                         Encoded(subject) + "&text=" + Encoded(report);
  std::optional<std::string> received = browser.Received();
  ASSERT_TRUE(received);
  EXPECT_EQ(expected.substr(0, 2046), *received);
}

TEST(FaultFlow, NoReadableAnswerSendsNothing) {
  BrowserStandIn browser;
  ProbeResult result = RunProbe("guard_probe.exe", "write-null", "");
  EXPECT_EQ(0xFFFFFFFFu, result.exitCode);
  EXPECT_FALSE(browser.Received(500));
}

TEST(FaultFlow, PassedOnExceptionsReachTheProgram) {
  ProbeResult thrown = RunProbe("guard_probe.exe", "throw-errframe");
  EXPECT_EQ(0u, thrown.exitCode);
  EXPECT_EQ("caught passed on\nreturned\n", thrown.out);
  EXPECT_EQ("", thrown.err);

  ProbeResult breakpoint = RunProbe("guard_probe.exe", "breakpoint");
  EXPECT_EQ(0u, breakpoint.exitCode);
  EXPECT_NE(std::string::npos, breakpoint.out.find("breakpoint reached the program\nreturned\n"));
  EXPECT_EQ("", breakpoint.err);
}

TEST(FaultFlow, ThrowRecordsArePassedOnOnlyWhenTypedAsAnErrFrame) {
  ProbeResult typed = RunProbe("guard_probe.exe", "raise-throw-errframe", "n");
  EXPECT_EQ(0xE06D7363u, typed.exitCode);
  EXPECT_EQ(std::string::npos, typed.err.find("exception:"));
  for (const char* action : {"raise-throw-untyped", "raise-throw-garbage"}) {
    ProbeResult result = RunProbe("guard_probe.exe", action, "n");
    EXPECT_EQ(0xFFFFFFFFu, result.exitCode) << action;
    EXPECT_NE(std::string::npos,
              result.err.find("Product 0.01 exception: Unhandled structured exception (throw)"))
        << action;
  }
}

TEST(FaultFlow, AFailureInsideTheReportIsUnrecoverable) {
  for (const char* action : {"fault-in-report", "thread fault-in-report"}) {
    ProbeResult result = RunProbe("guard_probe.exe", action, "y");
    EXPECT_EQ(0xFFFFFFFFu, result.exitCode) << action;
    std::string err = WithoutCr(result.err);
    EXPECT_EQ(0u, err.find("Application " + BinFolder() +
                           "guard_probe.exe\nNested exception occured.\n Exception code:C0000005\n"
                           "Exception Address: "))
        << err;
    EXPECT_EQ(std::string::npos, err.find(kReportQuestion));
  }
}

// A corrupted heap often fails several threads at once: the first failure
// is reported, the others wait for the end.
TEST(FaultFlow, TwoThreadsFailingAtOnceGiveOneReport) {
  for (int run = 0; run < 20; ++run) {
    SCOPED_TRACE(run);
    ProbeResult result = RunProbe("guard_probe.exe", "twin-faults", "n");
    ASSERT_TRUE(result.ended);
    EXPECT_EQ(0xFFFFFFFFu, result.exitCode);
    std::string err = WithoutCr(result.err);
    EXPECT_EQ(0u, err.find("\n" + Header("Attempt to write at 0x00000000", "guard_probe.exe")))
        << err;
    EXPECT_EQ(err.find(" exception: "), err.rfind(" exception: ")) << err;
    EXPECT_NE(std::string::npos, err.find(std::string("\n") + kReportQuestion + " [Y/n]? "));
  }
}

// Long names and deep stacks with long paths are cut to fit; the report
// itself always goes out.
TEST(FaultFlow, AReportTooLongForItsBuffersIsCutAndStillSent) {
  const struct {
    const char* action;
    const char* mark;  // what says that something was left out
  } cases[] = {
      {"long-name", "FaultWithALongName_xxxx"},
      {"deep-long-path", " more frames\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.action);
    BrowserStandIn browser;
    UrlModuleStandIn urlModule;
    ASSERT_TRUE(browser.Ready() && urlModule.Ready());
    ProbeResult result = RunProbe("guard_probe.exe", c.action, "y");
    EXPECT_EQ(0xFFFFFFFFu, result.exitCode);
    std::string err = WithoutCr(result.err);
    EXPECT_EQ(0u, err.find("\n" + Header("Attempt to write at 0x00000000", "guard_probe.exe")))
        << err;
    std::string report = ReportFromConsole(result.err);
    EXPECT_LT(report.size(), kReportSize);
    EXPECT_NE(std::string::npos, err.find(c.mark)) << err;
    EXPECT_TRUE(browser.Received());
  }
  // The cut name ends in a mark and leaves its frame line whole.
  std::string err = WithoutCr(RunProbe("guard_probe.exe", "long-name", "n").err);
  size_t name = err.find("[`anonymous namespace'::FaultWithALongName_");
  ASSERT_NE(std::string::npos, name) << err;
  EXPECT_EQ(name + 1024 + 1, err.find("...]\n", name) + 4);
  // A deep stack keeps its innermost frames and counts the rest.
  err = WithoutCr(RunProbe("guard_probe.exe", "deep-long-path", "n").err);
  EXPECT_NE(std::string::npos, FirstFrameLine(err).find("\\builds\\a-checkout-folder-")) << err;
  size_t more = err.find(" more frames\n\n" + std::string(kReportQuestion));
  ASSERT_NE(std::string::npos, more) << err;
  size_t count = err.rfind("\n... ", more) + 5;
  int listed = 0;
  for (size_t at = err.find("recursion_in_a_long_path.cpp"); at != std::string::npos;
       at = err.find("recursion_in_a_long_path.cpp", at + 1))
    ++listed;
  EXPECT_GT(listed, 10);
  EXPECT_EQ(128 - listed, std::stoi(err.substr(count, more - count)));
}

// The windowed program: the consent dialog, the error boxes.
TEST(FaultFlow, TheConsentDialogShowsTheReportAndYesSendsIt) {
  for (int button : {IDNO, IDYES}) {
    BrowserStandIn browser;
    UrlModuleStandIn urlModule;
    ProbeRun probe("guard_probe_gui.exe", "thread divide");
    HWND dialog = AwaitDialogOf(probe.Id());
    ASSERT_NE(nullptr, dialog);
    EXPECT_EQ("Product 0.01 exception", ReadDialog(dialog).caption);
    std::string report = ControlText(GetDlgItem(dialog, 1044));
    EXPECT_EQ(0u, WithoutCr(report).find(
                      Header("Integer divide by 0", "guard_probe_gui.exe")));
    PressButton(dialog, button);
    EXPECT_EQ(0xFFFFFFFFu, probe.Finish().exitCode);
    std::optional<std::string> received = browser.Received(button == IDYES ? 10000 : 300);
    EXPECT_EQ(button == IDYES, received.has_value());
    if (received)
      EXPECT_EQ(0u, received->find(std::string(productInfo.reportAddress) +
                                   "subject=Product+0%2E01%3A+Integer+divide+by+0&text="));
  }
}

TEST(FaultFlow, BoxesForACarriedErrFrameAndForANestedFailure) {
  const struct {
    const char* action;
    const char* caption;
    const char* text;
    bool icon;
  } cases[] = {
      {"errframe-exception", "Product 0.01 error", "carried message", true},
      {"fault-in-report", "Unrecoverable Error", "Nested exception occured.", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.action);
    ProbeRun probe("guard_probe_gui.exe", c.action);
    HWND box = AwaitDialogOf(probe.Id());
    ASSERT_NE(nullptr, box);
    DialogView view = ReadDialog(box);
    EXPECT_EQ(c.caption, view.caption);
    EXPECT_NE(std::string::npos, view.text.find(c.text));
    EXPECT_EQ(c.icon, view.icon);
    PressButton(box, IDOK);
    EXPECT_EQ(0xFFFFFFFFu, probe.Finish().exitCode);
  }
}

namespace {

DWORD WINAPI AwaitPulse(LPVOID event) {
  return WaitForSingleObject(static_cast<HANDLE>(event), 20000);
}

}  // namespace

TEST(FaultFlow, TheSiblingsAreReleasedAtTheEnd) {
  HANDLE paint = CreateEventA(nullptr, TRUE, FALSE, kPaintReadyEvent);
  HANDLE watcher = CreateThread(nullptr, 0, AwaitPulse, paint, 0, nullptr);
  ProbeResult result = RunProbe("guard_probe.exe", "write-null", "n");
  EXPECT_EQ(0xFFFFFFFFu, result.exitCode);
  WaitForSingleObject(watcher, INFINITE);
  DWORD seen = 0;
  GetExitCodeThread(watcher, &seen);
  EXPECT_EQ(WAIT_OBJECT_0, seen);
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(paint, 0));
  CloseHandle(watcher);
  CloseHandle(paint);
}

// Until the program's module handle is recorded the guard cannot tell its
// own process from a host's: it handles the failure only when the process
// is marked as one of the product's by its per-process mutex.
TEST(FaultFlow, AFailureInAnUnmarkedHostIsLeftToTheHost) {
  SetEnvironmentVariableA("PROBE_EARLY_FAULT", "1");
  ProbeResult host = RunProbe("guard_probe.exe", "exit", "n");
  EXPECT_EQ(0xE0000001u, host.exitCode);
  EXPECT_EQ(std::string::npos, host.err.find("Product 0.01 exception"));

  char name[64];
  snprintf(name, sizeof name, "%X_CAPTURE_MUTEX",
           static_cast<unsigned>(reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr))));
  HANDLE mark = CreateMutexA(nullptr, FALSE, name);
  ProbeResult product = RunProbe("guard_probe.exe", "exit", "n");
  CloseHandle(mark);
  SetEnvironmentVariableA("PROBE_EARLY_FAULT", nullptr);
  EXPECT_EQ(0xFFFFFFFFu, product.exitCode);
  EXPECT_NE(std::string::npos,
            product.err.find("Product 0.01 exception: unknown 0xE0000001"));
}
