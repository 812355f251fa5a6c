// The guard end to end: a guarded program fails for real, one way per row,
// on its main thread and on a worker, and the test reads what the user
// would see, answers it, and checks what reached the browser.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "gen/err/CrashReport.h"
#include "gen/err/ReportSubmit.h"
#include "gen/err/errgpfse.h"
#include "mania/Winver.h"
#include "toolkit/Probe.h"
#include "toolkit/StandIns.h"

namespace {

const std::string kPrompt = std::string("\n") + kReportQuestion + " [Y/n]? ";

// The report's header as the probe writes it on this same Windows.
std::string Header(const std::string& exceptionText, const char* program = "guard_probe.exe") {
  char os[sizeof guardState.osDescription];
  DescribeWindowsForReport(os, sizeof os);
  return "Product 0.01 exception: " + exceptionText + "\nApplication: " + BinFolder() + program +
         "\nOS: " + os + "\n" + std::string(66, '-') + "\n";
}

// The console probe's errors, without carriage returns, after it failed
// and ended as every handled failure ends.
std::string Failed(const std::string& action, const char* input = "n") {
  ProbeResult result = RunProbe("guard_probe.exe", action, input);
  EXPECT_EQ(0xFFFFFFFFu, result.exitCode) << action;
  EXPECT_EQ(std::string::npos, result.out.find("returned")) << action;
  return WithoutCr(result.err);
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace

TEST(FaultFlow, EveryFatalFailureIsReportedOnTheConsoleAndNotSentOnNo) {
  // The action, its exception's text, and a frame line the report must hold.
  const char* const faults[][3] = {
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
  for (const auto& fault : faults)
    for (const char* where : {"", "thread "}) {
      BrowserStandIn browser;
      ASSERT_TRUE(browser.Ready());
      std::string err = Failed(where + std::string(fault[0]));
      EXPECT_EQ(0u, err.find("\n" + Header(fault[1]))) << err;
      EXPECT_TRUE(Has(err, fault[2]) && Has(err, kPrompt) && !browser.Received(0)) << err;
    }
}

// Only the codes on the pass-on list reach the program; a report text
// that would overflow its buffer is an invalid parameter.
TEST(FaultFlow, OnlyThePassOnListReachesTheProgram) {
  const char kThrowReport[] = "|\nProduct 0.01 exception: Unhandled structured exception (throw)";
  // What is seen is looked for in the output, then the errors.
  const struct { const char* action; DWORD exitCode; const char* seen; } cases[] = {
      {"throw-errframe", 0, "caught passed on\nreturned\n|"},
      {"breakpoint", 0, "breakpoint reached the program\nreturned\n|"},
      {"raise-throw-errframe", 0xE06D7363, ""},  // passed on, and nobody else takes it
      {"raise-throw-untyped", 0xFFFFFFFF, kThrowReport},
      {"raise-throw-garbage", 0xFFFFFFFF, kThrowReport},
      {"report-overflow", 0xFFFFFFFF, "|\nProduct 0.01 exception: Datatype misalignment\n"},
  };
  for (const auto& c : cases) {
    ProbeResult result = RunProbe("guard_probe.exe", c.action, "n");
    EXPECT_EQ(c.exitCode, result.exitCode) << c.action;
    EXPECT_TRUE(Has(result.out + "|" + WithoutCr(result.err), c.seen)) << c.action << result.out;
  }
}

// Any answer but n or N sends; the page gets the subject, which names the
// frame that checked, and the report exactly as shown.
TEST(FaultFlow, TheConsoleAnswerDecidesAndYesOpensTheReportPage) {
  // "": nothing to read; the first two send.
  const char* const answers[] = {"y", "\n", "n", "N\n", ""};
  for (const char* answer : answers) {
    bool sent = answer == answers[0] || answer == answers[1];
    BrowserStandIn browser;
    UrlModuleStandIn urlModule;  // the platform's fails on long addresses
    ASSERT_TRUE(browser.Ready() && urlModule.Ready());
    std::string err = Failed("free-null", answer);
    std::optional<std::string> received = browser.Received(sent ? 10000 : 500);
    ASSERT_EQ(sent, received.has_value()) << answer;
    if (!received) continue;
    std::string report;
    for (char c : err.substr(1, err.find(kPrompt) - 1))
      report += c == '\n' ? "\r\n" : std::string(1, c);
    size_t line = report.find("gen\\Memwing.cpp: (") + 18;
    std::string subject = "Product 0.01: Asserted - gen\\Memwing.cpp (" +
                          report.substr(line, report.find(')', line) - line) + ")[MemFree]";
    static char encodedSubject[4096], encodedReport[4096];
    std::string expected = std::string(productInfo.reportAddress) + "subject=" +
                           EncodeForUrl(subject.c_str(), encodedSubject, 4096) + "&text=" +
                           EncodeForUrl(report.c_str(), encodedReport, 4096);
    EXPECT_EQ(expected.substr(0, 2046), *received);
  }
}

TEST(FaultFlow, AFailureInsideTheReportIsUnrecoverable) {
  for (const char* action : {"fault-in-report", "thread fault-in-report"}) {
    std::string err = Failed(action, "y");
    EXPECT_EQ(0u, err.find("Application " + BinFolder() +
                           "guard_probe.exe\nNested exception occured.\n Exception code:C0000005\n"
                           "Exception Address: ")) << err;
    EXPECT_FALSE(Has(err, kReportQuestion));
  }
}

// A corrupted heap often fails several threads at once: the first failure
// is reported, the others wait for the end.
TEST(FaultFlow, TwoThreadsFailingAtOnceGiveOneReport) {
  for (int run = 0; run < 20; ++run) {
    std::string err = Failed("twin-faults");
    EXPECT_EQ(0u, err.find("\n" + Header("Attempt to write at 0x00000000"))) << run << err;
    EXPECT_TRUE(err.find(" exception: ") == err.rfind(" exception: ") && Has(err, kPrompt)) << err;
  }
}

// A name longer than a frame's field is cut with a mark; a deep stack with
// long paths keeps its innermost frames whole and counts the rest. The
// report always goes out.
TEST(FaultFlow, AReportTooLongForItsBuffersIsCutAndStillSent) {
  std::string errs[2];
  for (int i = 0; i < 2; ++i) {
    BrowserStandIn browser;
    UrlModuleStandIn urlModule;
    ASSERT_TRUE(browser.Ready() && urlModule.Ready());
    errs[i] = Failed(i == 0 ? "long-name" : "deep-long-path", "y");
    EXPECT_EQ(0u, errs[i].find("\n" + Header("Attempt to write at 0x00000000"))) << errs[i];
    EXPECT_TRUE(browser.Received()) << errs[i];
  }
  size_t name = errs[0].find("[`anonymous namespace'::FaultWithALongName_");
  ASSERT_NE(std::string::npos, name) << errs[0];
  EXPECT_EQ(name + 1 + 1020, errs[0].find("...]\n", name));
  const std::string& deep = errs[1];
  EXPECT_TRUE(Has(FirstFrameLine(deep), "\\builds\\a-checkout-folder-")) << deep;
  size_t frames = deep.find(std::string(66, '-')) + 67, cut = deep.find("\n... ", frames);
  ASSERT_NE(std::string::npos, cut) << deep;
  int listed = std::count(deep.begin() + frames, deep.begin() + cut + 1, '\n');
  EXPECT_GT(listed, 10);
  EXPECT_EQ("]\n... " + std::to_string(128 - listed) + " more frames\n" + kPrompt,
            deep.substr(cut - 1));
}

// The windowed program: the consent dialog, the error boxes.
TEST(FaultFlow, TheConsentDialogShowsTheReportAndEndsOnlyWithYesOrNo) {
  for (int button : {IDNO, IDYES}) {
    BrowserStandIn browser;
    UrlModuleStandIn urlModule;
    ProbeRun probe("guard_probe_gui.exe", "thread divide");
    HWND dialog = AwaitDialogOf(probe.Id());
    ASSERT_NE(nullptr, dialog);
    HWND report = GetDlgItem(dialog, 1044);
    EXPECT_EQ("Product 0.01 exception", ReadDialog(dialog).caption);
    EXPECT_EQ(0u, WithoutCr(ControlText(report))
                      .find(Header("Integer divide by 0", "guard_probe_gui.exe")));
    EXPECT_EQ("&Yes|&No",
              ControlText(GetDlgItem(dialog, IDYES)) + "|" + ControlText(GetDlgItem(dialog, IDNO)));
    // The question follows the report; the sunken line shares its identifier.
    EXPECT_EQ(kReportQuestion, ControlText(GetWindow(report, GW_HWNDNEXT)));
    PostMessageA(dialog, WM_CLOSE, 0, 0);
    PressButton(dialog, IDCANCEL);  // what Escape sends
    Sleep(300);
    EXPECT_EQ(std::vector<HWND>{dialog}, DialogsOf(probe.Id()));
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
  // The action, the box's caption (marked when it shows an icon), and a part of its text.
  const char* const cases[][3] = {
      {"errframe-exception", "Product 0.01 error (icon)", "carried message"},
      {"fault-in-report", "Unrecoverable Error", "Nested exception occured."},
  };
  for (const auto& c : cases) {
    ProbeRun probe("guard_probe_gui.exe", c[0]);
    HWND box = AwaitDialogOf(probe.Id());
    ASSERT_NE(nullptr, box) << c[0];
    DialogView view = ReadDialog(box);
    EXPECT_EQ(c[1], view.caption + (view.icon ? " (icon)" : ""));
    EXPECT_TRUE(Has(view.text, c[2])) << view.text;
    PressButton(box, IDOK);
    EXPECT_EQ(0xFFFFFFFFu, probe.Finish().exitCode) << c[0];
  }
}

namespace {

DWORD WINAPI AwaitPulse(LPVOID event) { return WaitForSingleObject(event, 20000); }

}  // namespace

TEST(FaultFlow, TheSiblingsAreReleasedAtTheEnd) {
  Handle paint(CreateEventA(nullptr, TRUE, FALSE, kPaintReadyEvent));
  Handle watcher(CreateThread(nullptr, 0, AwaitPulse, paint.Get(), 0, nullptr));
  Failed("write-null");
  DWORD seen = WAIT_FAILED;
  WaitForSingleObject(watcher.Get(), INFINITE);
  GetExitCodeThread(watcher.Get(), &seen);
  EXPECT_EQ(WAIT_OBJECT_0, seen);
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(paint.Get(), 0));  // pulsed, not left set
}

// Until the program's module handle is recorded the guard cannot tell its
// own process from a host's: it handles the failure only when the process
// is marked as one of the product's by its per-process mutex.
TEST(FaultFlow, AFailureInAnUnmarkedHostIsLeftToTheHost) {
  SetEnvironmentVariableA("PROBE_EARLY_FAULT", "1");
  ProbeResult host = RunProbe("guard_probe.exe", "exit");
  char name[64];
  snprintf(name, sizeof name, "%X_CAPTURE_MUTEX",
           static_cast<unsigned>(reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr))));
  Handle mark(CreateMutexA(nullptr, FALSE, name));
  ProbeResult product = RunProbe("guard_probe.exe", "exit", "n");
  SetEnvironmentVariableA("PROBE_EARLY_FAULT", nullptr);
  EXPECT_EQ(0xE0000001u, host.exitCode);
  EXPECT_EQ("", host.err);
  EXPECT_EQ(0xFFFFFFFFu, product.exitCode);
  EXPECT_TRUE(Has(product.err, "Product 0.01 exception: unknown 0xE0000001")) << product.err;
}
