// The crash guard: its parts in this process, then guarded programs that
// fail for real, read and answered from outside as the user would.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "gen/err/CrashReport.h"
#include "gen/err/Err.h"
#include "gen/err/ExceptionText.h"
#include "gen/err/ReportSubmit.h"
#include "gen/err/StackTrace.h"
#include "gen/err/errgpfse.h"
#include "mania/Winver.h"
#include "toolkit/FiredCheck.h"
#include "toolkit/Probe.h"
#include "toolkit/StandIns.h"

namespace {

const char kFileTemplate[] = "Cannot open '%s'";
const std::string kQuestion =
    "Please help us make the software better. We need to see the details of this error to fix the "
    "problem. This report is anonymous, doesn't contain your e-mail address and will remain "
    "strictly confidential. Would you like to send the report to us?";
const std::string kPrompt = "\n" + kQuestion + " [Y/n]? ";
const std::string kHyphens = std::string(66, '-');

// Whether `text` is `pattern`, where each "*" stands for any text.
bool Matches(const char* text, const char* pattern) {
  if (*pattern == '*') return Matches(text, pattern + 1) || (*text && Matches(text + 1, pattern));
  return *pattern ? *text == *pattern && Matches(text + 1, pattern + 1) : !*text;
}
bool Matches(const std::string& text, const std::string& pattern) { return Matches(text.c_str(), pattern.c_str()); }

// The report's header as a probe writes it on this same Windows.
std::string Header(const std::string& exceptionText, const char* program = "guard_probe.exe") {
  char os[sizeof guardState.osDescription];
  DescribeWindowsForReport(os, sizeof os);
  return "Product 0.01 exception: " + exceptionText + "\nApplication: " + BinFolder() + program +
         "\nOS: " + os + "\n" + kHyphens + "\n";
}

// The console probe's exit code in hex (or the identity it printed), output, "|", errors.
std::string Ending(const std::string& action, const char* input = "n", const char* program = "guard_probe.exe") {
  ProbeResult result = RunProbe(program, action, input);
  std::string identity = "identity=" + std::to_string(result.exitCode) + "\n";
  char code[16];
  snprintf(code, sizeof code, "%lX ", result.exitCode);
  if (result.out.rfind(identity, 0) == 0) result.out.replace(0, identity.size(), "IDENTITY ");
  else result.out = (result.ended ? code : "running ") + result.out;
  return result.out + "|" + WithoutCr(result.err);
}

std::string Reported(const std::string& exceptionText, const std::string& part = "") {
  return "FFFFFFFF *|\n" + Header(exceptionText) + "*" + part + "*" + kPrompt;
}

DWORD WINAPI AwaitPulse(LPVOID event) { return WaitForSingleObject(event, 20000); }

void RaiseListed(const char* format, ...) {
  va_list args;
  va_start(args, format);
  ErrRaiseV(kFileTemplate, format, args);
  va_end(args);
}

DWORD Woken(const Handle& waiter) {
  DWORD result = WAIT_FAILED;
  WaitForSingleObject(waiter.Get(), INFINITE);
  GetExitCodeThread(waiter.Get(), &result);
  return result;
}

}  // namespace

TEST(ExceptionText, EveryCodeAndSignalHasItsText) {
  const struct { DWORD code; std::vector<ULONG_PTR> arguments; const char* text; } cases[] = {
      {9999, {}, "NARVSDK Init Timeout"}, {0x80000001, {}, "Guard page"}, {0x80000003, {}, "Breakpoint"},
      {0x80000004, {}, "Single step"}, {0xC0000005, {0, 0}, "Attempt to read at 0x00000000"},
      {0xC0000005, {1, 0x40ABCD}, "Attempt to write at 0x0040ABCD"}, {0xC0000005, {1}, "Access violation"},
      {0xC0000005, {8, 0x1000}, "Access violation"}, {0xC0000006, {}, "In page error"},
      {0xC0000008, {}, "Invalid handle"}, {0xC0000025, {}, "Noncontinuable exception"},
      {0xC0000026, {}, "Invalid disposition"}, {0xC000008C, {}, "Array bounds exceed"},
      {0xC000008D, {}, "FPU denormal operand"}, {0xC000008E, {}, "FPU divide by 0"},
      {0xC000008F, {}, "FPU inexact result"}, {0xC0000090, {}, "PPU invalid operation"},
      {0xC0000091, {}, "FPU overflow"}, {0xC0000092, {}, "FPU stack check"}, {0xC0000093, {}, "FPU underflow"},
      {0xC0000095, {}, "Integer overflow"}, {0xC0000096, {}, "Privileged instruction"},
      {0x12345678, {}, "unknown 0x12345678"},
  };
  for (const auto& c : cases) {
    EXCEPTION_RECORD record = {c.code, 0, nullptr, nullptr, static_cast<DWORD>(c.arguments.size()), {}};
    std::copy(c.arguments.begin(), c.arguments.end(), record.ExceptionInformation);
    EXPECT_STREQ(c.text, DescribeException(&record)) << std::hex << c.code;
  }
  EXPECT_STREQ("Unknown signal", DescribeSignal(3));  // the others: the probe's signal endings
}

// Closed again, the objects must be gone: the release keeps no handle.
TEST(ReleaseSiblingWaits, PulsesTheEventsReleasesTheMutexesAndCreatesNothing) {
  const char* const names[] = {kPaintReadyEvent, kCaptureReadyEvent, kSharedMutex, kCaptureMutex};
  {
    Handle objects[] = {Handle(CreateEventA(nullptr, TRUE, FALSE, names[0])),
                        Handle(CreateEventA(nullptr, TRUE, FALSE, names[1])),
                        Handle(CreateMutexA(nullptr, TRUE, names[2])),
                        Handle(CreateMutexA(nullptr, TRUE, names[3]))};
    Handle waiters[] = {Handle(CreateThread(nullptr, 0, AwaitPulse, objects[0].Get(), 0, nullptr)),
                        Handle(CreateThread(nullptr, 0, AwaitPulse, objects[1].Get(), 0, nullptr))};
    Sleep(200);  // both waiters wait
    ReleaseSiblingWaits();
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(WAIT_OBJECT_0, Woken(waiters[i])) << names[i];
      EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(objects[i].Get(), 0)) << names[i] << " left set";
      EXPECT_FALSE(ReleaseMutex(objects[2 + i].Get())) << names[2 + i] << " still owned";
    }
  }
  ReleaseSiblingWaits();
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(nullptr, Handle(i < 2 ? OpenEventA(SYNCHRONIZE, FALSE, names[i])
                                    : OpenMutexA(SYNCHRONIZE, FALSE, names[i])).Get()) << names[i];
}

TEST(CrashGuard, ASecondConstructionKeepsHeapAndReserveTheTeardownDestroysThem) {
  auto heapExists = [](HANDLE heap) {
    HANDLE heaps[256];
    return std::count(heaps, heaps + std::min<DWORD>(GetProcessHeaps(256, heaps), 256), heap) == 1;
  };
  HANDLE heap = guardState.privateHeap;
  void* reserve = guardState.reserveBlock;
  ASSERT_TRUE(heapExists(heap) && reserve);
  CrashGuard again(false);
  EXPECT_TRUE(heap == guardState.privateHeap && reserve == guardState.reserveBlock);
  CrashGuardTearDown();
  EXPECT_FALSE(heapExists(heap));
  EXPECT_TRUE(!guardState.privateHeap && !guardState.reserveBlock && !guardState.vectoredHandler);
}

TEST(StackTrace, OwnFramesAreTheProductsSourcesButNotTheGuardsAndAreShortened) {
  for (const char* folder : {"com", "dia", "gen", "kle", "mania", "sdk", "setup", "tracedtapi",
                             "accessibility", "narv", "helper", "minhook", "tinyxml", "ware"})
    EXPECT_TRUE(IsOwnSourceFile(("C:\\b\\" + std::string(folder) + "\\x.cpp").c_str())) << folder;
  for (const char* path : {"Z:\\w\\gen\\err\\Err.cpp", "Z:\\w\\tests\\Str_test.cpp",
                           "Z:\\w\\GEN\\Str.cpp", "SymGetLineFromAddr64 error: 2"})
    EXPECT_FALSE(IsOwnSourceFile(path)) << path;
  const char* const paths[][2] = {
      {"D:\\src\\gen\\Str.cpp", "gen\\Str.cpp"}, {"..\\gen\\Str.cpp", "gen\\Str.cpp"},
      {"\\gen\\x.cpp", "\\gen\\x.cpp"},          {"C:\\x.cpp", "C:\\x.cpp"},
      {"x.cpp", "x.cpp"},                        {"Z:\\a\\b\\c\\mania\\run.cpp", "mania\\run.cpp"},
  };
  for (const auto& c : paths) EXPECT_STREQ(c[1], ShortenSourcePath(c[0])) << c[0];
}

// Own frames listed shortened, the first named; with none, every named frame
// whole. Appends fill the report to its last character (one more: report-overflow).
TEST(StackTrace, ReportListsOwnFramesOrElseEveryNamedFrame) {
  const TraceFrame frames[] = {
      {"ErrAssert", "Z:\\w\\gen\\err\\Assert.cpp", 60}, {"", "", 0},
      {"MemFree", "Z:\\w\\gen\\Memwing.cpp", 34},      {"", "SymGetLineFromAddr64 error: 2", 0},
      {"WinMain", "Z:\\w\\mania\\run.cpp", 99},        {"Fail", "Z:\\w\\tests\\probe.cpp", 7},
  };
  strcpy(guardState.applicationPath, "C:\\Program Files\\Product\\run.exe");
  strcpy(guardState.osDescription, "Windows 7 (6.1.7601)");
  EXCEPTION_RECORD record = {EXCEPTION_BREAKPOINT, 0, nullptr, reinterpret_cast<PVOID>(0x401000)};
  const std::string header = "Product 0.01 exception: Breakpoint\r\nApplication: C:\\Program Files\\"
                             "Product\\run.exe\r\nOS: Windows 7 (6.1.7601)\r\n" + kHyphens + "\r\n";
  traceState.frameCount = 0;
  for (int i : {0, 1, 2, 3, 4}) traceState.frames[traceState.frameCount++] = frames[i];
  EXPECT_EQ(header + "gen\\Memwing.cpp: (34) [MemFree]\r\nmania\\run.cpp: (99) [WinMain]\r\n",
            FormatOwnFrames(record.ExceptionCode, &record));
  traceState.frameCount = 0;
  for (int i : {3, 5, 1}) traceState.frames[traceState.frameCount++] = frames[i];
  std::string all = header + "SymGetLineFromAddr64 error: 2: (0) []\r\nZ:\\w\\tests\\probe.cpp: (7) [Fail]\r\n";
  EXPECT_EQ(all, FormatAllFrames(record.ExceptionCode, &record));
  std::string rest(kReportSize - 1 - all.size(), 'x');
  EXPECT_EQ(0, CatchRaised([&] { AppendToReport(rest.c_str()); }).count);
  EXPECT_EQ(all + rest, reportText);
  EXPECT_STREQ("Can't initialize stack tracing. LastError=87(0X00000057)\r\nSearch path: a;b\r\n"
               " Exception code:80000003\r\nException Address: 401000\r\n",
               FormatTraceFailure(87, "a;b", &record));
}

// A product library's folder comes first only while loaded; one planted in
// the current folder of a failing program never runs. That program lacks its
// PDB, and still reports, with the unnamed frames listed.
TEST(StackTrace, SearchPathNamesLoadedProductLibrariesButNeverLoadsThem) {
  TempFolder planted;
  std::string library = planted.Path() + "\\NARVCOM.DLL";
  ASSERT_TRUE(CopyFileA((BinFolder() + "planted_dll.dll").c_str(), library.c_str(), FALSE));
  char current[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, current);
  std::string own = BinFolder().substr(0, BinFolder().size() - 1) + ";" + current;
  EXPECT_EQ(own, BuildSymbolSearchPath());
  ASSERT_TRUE(SetCurrentDirectoryA(planted.Path().c_str()));
  std::string ending = Ending("write-null", "n", "guard_probe_bare.exe");
  SetCurrentDirectoryA(current);
  EXPECT_TRUE(Matches(ending, "FFFFFFFF *|\n" + Header("Attempt to write at 0x00000000", "guard_probe_bare.exe") +
                                  "SymGetLineFromAddr64 error: *" + kPrompt)) << ending;
  EXPECT_FALSE(FileExists(planted.Path() + "\\entry.ran"));
  HMODULE loaded = LoadLibraryA(library.c_str());
  ASSERT_NE(nullptr, loaded);
  EXPECT_EQ(planted.Path() + ";" + own, BuildSymbolSearchPath());
  FreeLibrary(loaded);
}


// A subject too long is cut with a mark, never lost (a whole one: see the console answers).
TEST(ReportAddress, EncodingKeepsLettersAndDigitsAndNeverCutsAnEscape) {
  const struct { const char* source; uint32_t size; const char* encoded; } cases[] = {
      {"Product 0.01: Breakpoint", 4096, "Product+0%2E01%3A+Breakpoint"},
      {"\xE9\x01-_.~\"\r\n", 4096, "%E9%01%2D%5F%2E%7E%22%0D%0A"},
      {"a b,c", 8, "a+b%2Cc"}, {"abcdefgh", 8, "abcdefg"}, {"abcd,", 8, "abcd%2C"},
      {"abcde,", 8, "abcde"},  {",", 4, "%2C"},            {",", 3, ""},
      {"ab", 2, "a"},          {"a", 1, ""},               {"", 8, ""},
  };
  for (const auto& c : cases) {
    std::string buffer(c.size + 1, '#');
    EXPECT_EQ(&buffer[0], EncodeForUrl(c.source, &buffer[0], c.size));
    EXPECT_EQ(c.encoded + std::string(c.size - strlen(c.encoded), '\0') + "#", buffer) << c.source << c.size;
  }
  strcpy(traceState.firstOwnFile, "gen\\Str.cpp");
  traceState.firstOwnLine = 214;
  memset(traceState.firstOwnFunction, 'f', 1023);
  std::string cut = "Product 0.01: Breakpoint - gen\\Str.cpp (214)[";
  EXPECT_EQ(cut + std::string(1023 - cut.size() - 4, 'f') + "f...", FormatSubject("Breakpoint"));
}

// Cut to 2046 characters at a whole character or escape; a quote must not
// end the address's argument on rundll32's command line.
TEST(OpenReportAddress, OpensTheFormattedAddressAsOneArgumentOfAtMost2046Characters) {
  auto filler = [](size_t length) { return "http://r.example/?text=" + std::string(length - 23, 'x'); };
  const std::string site = "http://r.example/?";
  const struct { std::string first, second, argument, opened, received; } cases[] = {  // received: as opened
      {site + "m=e&", "subject=a+b", "&text=x%2Cy", site + "m=e&subject=a+b&text=x%2Cy"},
      {site + "q=a\" \"b\"", "", "", site + "q=a\" \"b\"", site + "q=a%22 %22b%22"},
      {filler(3000), "", "", filler(2046)},
      {filler(2041) + "\nx", "", "", filler(2041)},
      {filler(2040) + "\n", "", "", filler(2040) + "%0D%0A"},
  };
  UrlModuleStandIn urlModule;
  ASSERT_TRUE(urlModule.Ready());
  for (const auto& c : cases) {
    BrowserStandIn browser;
    ASSERT_TRUE(browser.Ready());
    OpenReportAddress(c.first.c_str(), c.second.c_str(), "%s%s%s", c.argument.c_str());
    EXPECT_EQ(c.opened, LastOpenedAddress());
    EXPECT_EQ(c.received.empty() ? c.opened : c.received, browser.Received()) << c.first.size();
  }
  for (const char* first : {static_cast<const char*>(nullptr), "http://r.example/"})  // both texts needed
    EXPECT_EQ("..\\gen\\errgpfse.cpp:573",
              FiredCheck([&] { OpenReportAddress(first, first ? nullptr : "x", "%s", ""); }));
}

// rundll32's failure is shown, then the URL module opens the address in this
// process, or WinExec when it lacks the handler; the module is released.
TEST(OpenReportAddress, FallsBackToTheUrlModuleInProcessThenToWinExec) {
  const std::string address = "http://r.example/?mode=errorreport&subject=probe";
  char system[MAX_PATH];
  GetSystemDirectoryA(system, MAX_PATH);
  const std::string command = system + ("\\rundll32 url.dll,FileProtocolHandler \"" + address + "\"");
  // For its lifetime Wine refuses to start rundll32, as if it were missing.
  RegistryScope overrides("Software\\Wine\\DllOverrides");
  ASSERT_EQ(ERROR_SUCCESS, SetRegValue(HKEY_CURRENT_USER, RegView::k32, "Software\\Wine\\DllOverrides",
                                       "rundll32.exe", REG_SZ, RegSz("")));
  for (bool inProcess : {true, false}) {
    BrowserStandIn browser;
    ASSERT_TRUE(browser.Ready());
    ProbeRun probe("guard_probe_gui.exe", (inProcess ? "open-in-process " : "open-without-handler ") + address);
    HWND box = AwaitDialogOf(probe.Id());
    ASSERT_NE(nullptr, box) << inProcess;
    EXPECT_TRUE(Matches(ReadDialog(box).text, "*" + command + "*"));
    PressButton(box, IDOK);
    EXPECT_EQ((inProcess ? "" : "WinExec 1 " + command + "\n") + "released\nreturned\n",
              probe.Finish(10000).out);
    EXPECT_EQ(inProcess ? std::optional<std::string>(address) : std::nullopt,
              browser.Received(inProcess ? 10000 : 500));
  }
}

// The consent dialog's template written out, little-endian: {width in bytes, value}.
TEST(ReportDialogTemplate, IsTheExtendedTemplateByteForByteOnEveryBuild) {
  std::vector<uint8_t> bytes;
  auto put = [&](std::initializer_list<std::pair<int, uint32_t>> fields) {
    for (auto [width, value] : fields)
      for (int i = 0; i < width; ++i) bytes.push_back(uint8_t(value >> (8 * i)));
  };
  auto text = [&](const std::string& text) {
    for (char c : text + '\0') put({{2, uint8_t(c)}});
  };
  // ..., five items at 0, 0, 260 by 219, no menu, the standard class
  put({{2, 1}, {2, 0xFFFF}, {4, 0}, {4, 0}, {4, 0x80C808C4}, {2, 5}, {4, 0}, {2, 260}, {2, 219}, {4, 0}});
  text("Exception occured");
  put({{2, 8}, {2, 75}, {1, 0}, {1, 0}});
  text("MS Sans Serif");
  const struct { uint32_t style; uint16_t x, y, cx, cy; uint32_t id; uint16_t kind; std::string text; } items[] = {
      {0x50001007, 14, 151, 233, 1, 0xFFFFFFFF, 0x82, ""}, {0x50030001, 138, 199, 50, 14, 6, 0x80, "&Yes"},
      {0x50030000, 195, 199, 50, 14, 7, 0x80, "&No"}, {0x502008C5, 11, 9, 238, 137, 1044, 0x81, ""},
      {0x50000021, 12, 158, 233, 38, 0xFFFFFFFF, 0x82, kQuestion},
  };
  for (const auto& item : items) {
    bytes.resize((bytes.size() + 3) / 4 * 4);
    put({{4, 0}, {4, 0}, {4, item.style}, {2, item.x}, {2, item.y}, {2, item.cx}, {2, item.cy}, {4, item.id},
         {2, 0xFFFF}, {2, item.kind}});
    text(item.text);
    put({{2, 0}});
  }
  for (int build = 1; build <= 2; ++build) {
    const DialogTemplateBuffer& built = BuildReportDialogTemplate();
    EXPECT_EQ(bytes, std::vector<uint8_t>(built.Bytes(), built.Bytes() + built.Size())) << "build " << build;
  }
}

TEST(DialogTemplateBuffer, TakesWholeAppendsUpToItsCapacityOnly) {
  static DialogTemplateBuffer buffer;
  buffer.Append(nullptr, DialogTemplateBuffer::kCapacity - 2);
  buffer.Append("xyz", 3);  // one byte too many: none of it is taken
  buffer.Append("xy", 2);
  buffer.Align();  // no room left to reach a multiple of 4
  EXPECT_EQ(DialogTemplateBuffer::kCapacity, buffer.Size());
  EXPECT_EQ('y', buffer.Bytes()[DialogTemplateBuffer::kCapacity - 1]);
}

// Rethrown from an inner frame, formatted. A va_list is a char pointer here:
// a text argument must not be taken for one.
TEST(ErrFrame, AnErrorArrivesFormattedAndTravelsOutwards) {
  ErrFrame outer;
  EXPECT_FALSE(outer.Try([] {}));
  EXPECT_EQ(&rootFrame, CurrentFrameSlot());  // a Try with nothing raised pops
  outer.Enter();
  EXPECT_TRUE(outer.Try([] {
    ErrFrame inner;
    if (inner.Try([] { ErrRaise(kFileTemplate, "deep.ini"); })) inner.RethrowToEnclosing();
  }));
  EXPECT_EQ(kFileTemplate, outer.Code());
  EXPECT_STREQ("Cannot open 'deep.ini'", outer.Message().Text());
  for (auto raise : {+[] { ErrRaiseV(kFileTemplate, "%s failed", "copy"); },
                     +[] { ErrRaiseV(kFileTemplate, "%s failed", Str("copy").Text()); },
                     +[] { RaiseListed("%s failed", "copy"); }}) {
    ErrFrame frame;
    EXPECT_TRUE(frame.Try(raise));
    EXPECT_STREQ("copy failed", frame.Message().Text());
  }
  EXPECT_EQ(0, errorNesting);
  EXPECT_EQ(&rootFrame, CurrentFrameSlot());
}

TEST(ErrFrame, PrintsOnlyTheProgramsOwnTemplatesAndTranslatesOnlyCode100) {
  testing::internal::CaptureStderr();
  for (ErrTemplate hidden : {kAssertTemplate, kCheckTemplate, kSignalTemplate, kGpfTemplate,
                             kNotImplementedTemplate, kDoubleNestedTemplate, kTripleNestedTemplate,
                             static_cast<ErrTemplate>(nullptr)})
    EXPECT_TRUE(ErrPrint(hidden, "hidden"));
  ErrPrint(kFileTemplate, "shown as is");
  EXPECT_EQ("shown as is", testing::internal::GetCapturedStderr());
  ErrFrame frame;
  EXCEPTION_RECORD record = {100, 0, nullptr, nullptr, 1, {reinterpret_cast<ULONG_PTR>(&frame)}};
  EXCEPTION_POINTERS pointers = {&record, nullptr};
  TranslateErrFrameException(101, &pointers);
  EXPECT_THROW(TranslateErrFrameException(100, &pointers), ErrFrame);
}

// On the main thread and on a worker; not sent on "n" (see the answers below).
TEST(FaultFlow, EveryFatalFailureIsReportedWithItsTextAndAFrameLine) {
  const char* const faults[][3] = {  // the action, its exception's text, a frame line the report holds
      {"write-null", "Attempt to write at 0x00000000", "namespace'::Fail]"},
      {"divide", "Integer divide by 0", "guard_probe.cpp: ("},
      {"stack-overflow", "Stack overflow", "namespace'::Recurse]"},
      {"abort", "Abnormal termination (SIGABRT)", "namespace'::Fail]"},
      {"purecall", "Illegal instruction", "::Base::CallPure"},
      {"throw", "Unhandled structured exception (throw)", "namespace'::Fail]"},
      {"free-null", "Asserted", "gen\\Memwing.cpp: ("},
      // One character more than the report's buffer is an invalid parameter.
      {"report-overflow", "Datatype misalignment", "mania\\Bounded.cpp: ("},
      // Out of address space, the common end of a 32-bit program with large images.
      {"memory-gone out-of-memory", "Not enough memory", "gen\\Memwing.cpp: ("},
      {"memory-gone write-null", "Attempt to write at 0x00000000", "namespace'::Fail]"},
  };
  for (const auto& fault : faults)
    for (std::string action : {std::string(fault[0]), "thread " + std::string(fault[0])}) {
      std::string ending = Ending(action);
      EXPECT_TRUE(Matches(ending, Reported(fault[1], fault[2]))) << action << "\n" << ending;
    }
}

TEST(GuardedProgram, EndsEachWayWithItsOutputAndExitCode) {
  std::vector<std::pair<std::string, std::string>> cases;  // the action (input "n"), its ending
  // Signals and checks become internal error 101 (the observer's "code=00000065") with their text.
  for (std::string signal : {"2 CTRL+C signal (SIGINT)", "4 Illegal instruction (SIGILL)", "8 FPU error (SIGFPE)",
                             "11 Illegal storage access (SIGSEGV)", "15 Termination request (SIGTERM)",
                             "21 Ctrl-Break sequence (SIGBREAK)", "22 Abnormal termination (SIGABRT)"}) {
    std::string text = signal.substr(signal.find(' ') + 1);
    cases.emplace_back("signal " + signal.substr(0, signal.find(' ')),
                       "FFFFFFFF code=00000065 text=" + text + "\nmessage=\n" + Reported(text).substr(10));
  }
  const std::string asserted = "FFFFFFFF code=00000065 text=Asserted\nmessage=Internal error. Trap to the "
                               "debugger(Y/N)?\nAssertion failed at '..\\Gen\\Err.cpp' line ";
  const std::string thrown = "FFFFFFFF *|\nProduct 0.01 exception: Unhandled structured exception (throw)\n*";
  const std::string nested = "FFFFFFFF *|Application " + BinFolder() +
                             "guard_probe.exe\nNested exception occured.\n Exception code:C0000005\nException Address: *";
  cases.insert(cases.end(), {
           {"null-format", asserted + "21\n\n|\n" + Header("Asserted") + "*"},
           {"reenter", asserted + "132\n\n|\n" + Header("Asserted") + "*"},
           {"terminate", "FFFFFFFF |"},
           {"errframe-exception", "FFFFFFFF code=00000064 text=unknown 0x00000064\n|Product 0.01 errorfirst error"},
           // An error nobody can catch exits with its template's identity.
           {"root-error", "IDENTITY |Cannot delete file"},
           {"double-nested", "IDENTITY |Internal double nested error. Trap to the debugger(Y/N)\n"
                             "First: { first error\n}\nNested: { second error\n}\n?"},
           // Only the codes on the pass-on list reach the program.
           {"throw-errframe", "0 *caught passed on\nreturned\n|"},
           {"breakpoint", "0 *breakpoint reached the program\nreturned\n|"},
           {"raise-throw-errframe", "E06D7363 *"},  // passed on, and nobody else takes it
           {"raise-throw-untyped", thrown}, {"raise-throw-garbage", thrown},
           {"fault-in-report", nested}, {"thread fault-in-report", nested}});
  for (const auto& [action, expected] : cases) {
    std::string ending = Ending(action);
    EXPECT_TRUE(Matches(ending, expected)) << action << "\n" << ending;
  }
  for (const char* input : {"", "n", "N"})  // no answer or no: do not break
    EXPECT_EQ("0 not held\nreturned\n|\n?", Ending("ask", input)) << input;
}

// Any answer but n or N sends (nothing to read: not sent): the subject naming
// the frame that checked, and the report as shown. A long name is cut with a
// mark; a deep stack with long paths keeps its innermost frames whole and
// counts the rest of the 128 walked.
TEST(FaultFlow, TheConsoleAnswerDecidesAndYesSendsTheReportEvenWhenCut) {
  std::map<std::string, std::string> shown;
  for (std::string run : {"free-null y", "free-null \n", "free-null n", "free-null N\n", "free-null ",
                          "long-name y", "deep-long-path y"}) {
    std::string action = run.substr(0, run.find(' ')), answer = run.substr(action.size() + 1), report;
    bool sent = answer[0] == 'y' || answer[0] == '\n';
    BrowserStandIn browser;
    UrlModuleStandIn urlModule;  // the platform's fails on long addresses
    ASSERT_TRUE(browser.Ready() && urlModule.Ready());
    std::string ending = Ending(action, answer.c_str());
    std::optional<std::string> received = browser.Received(sent ? 10000 : 500);
    ASSERT_TRUE(Matches(ending, "FFFFFFFF *|\n*" + kPrompt) && sent == received.has_value()) << run << ending;
    std::string& text = shown[action] = ending.substr(ending.find('|') + 2);
    text.resize(text.size() - kPrompt.size());
    if (!received) continue;
    for (char c : text) report += c == '\n' ? "\r\n" : std::string(1, c);
    size_t line = report.find("gen\\Memwing.cpp: (") + 18;
    std::string subject = action != "free-null" ? "Product 0.01: Attempt to write at 0x00000000"
                          : "Product 0.01: Asserted - gen\\Memwing.cpp (" +
                                report.substr(line, report.find(')', line) - line) + ")[MemFree]";
    static char encoded[2][4096];
    std::string address = productInfo.reportAddress + ("subject=" + std::string(EncodeForUrl(subject.c_str(),
                          encoded[0], 4096))) + "&text=" + EncodeForUrl(report.c_str(), encoded[1], 4096);
    EXPECT_EQ(address.substr(0, 2046), *received);
  }
  EXPECT_TRUE(Matches(shown["long-name"], "*[`anonymous namespace'::FaultWithALongName_" + std::string(978, 'x') +
                                              "...]\n*")) << shown["long-name"];
  const std::string& deep = shown["deep-long-path"];
  EXPECT_TRUE(Matches(FirstFrameLine(deep), "*\\builds\\a-checkout-folder-*\\third-party\\"
                      "recursion_in_a_long_path.cpp: (3) [`anonymous namespace'::RecurseInALongPath]")) << deep;
  size_t frames = deep.find(kHyphens) + 67, cut = deep.find("\n... ", frames);
  ASSERT_NE(std::string::npos, cut) << deep;
  int listed = std::count(deep.begin() + frames, deep.begin() + cut + 1, '\n');
  EXPECT_GT(listed, 10);
  EXPECT_EQ("]\n... " + std::to_string(128 - listed) + " more frames\n", deep.substr(cut - 1));
}

// A corrupted heap often fails several threads at once: one report.
TEST(FaultFlow, TwoThreadsFailingAtOnceGiveOneReportAndReleaseTheSiblings) {
  Handle paint(CreateEventA(nullptr, TRUE, FALSE, kPaintReadyEvent));
  Handle watcher(CreateThread(nullptr, 0, AwaitPulse, paint.Get(), 0, nullptr));
  for (int run = 0; run < 20; ++run) {
    std::string ending = Ending("twin-faults");
    EXPECT_TRUE(Matches(ending, Reported("Attempt to write at 0x00000000"))) << run << ending;
    EXPECT_EQ(ending.find(" exception: "), ending.rfind(" exception: ")) << ending;
  }
  EXPECT_EQ(WAIT_OBJECT_0, Woken(watcher));
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(paint.Get(), 0));  // pulsed, not left set
}

// Before the module handle is recorded, only a process marked by its mutex is the product's.
TEST(FaultFlow, AFailureInAnUnmarkedHostIsLeftToTheHost) {
  SetEnvironmentVariableA("PROBE_EARLY_FAULT", "1");
  std::string host = Ending("none", "");
  char name[64];
  snprintf(name, sizeof name, "%X_CAPTURE_MUTEX", reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr)));
  Handle mark(CreateMutexA(nullptr, FALSE, name));
  std::string product = Ending("none");
  SetEnvironmentVariableA("PROBE_EARLY_FAULT", nullptr);
  EXPECT_EQ("E0000001 |", host);
  EXPECT_TRUE(Matches(product, Reported("unknown 0xE0000001"))) << product;
}

TEST(FaultFlow, TheConsentDialogShowsTheReportAndEndsOnlyWithYesOrNo) {
  for (int button : {IDNO, IDYES}) {
    BrowserStandIn browser;
    UrlModuleStandIn urlModule;
    ProbeRun probe("guard_probe_gui.exe", "thread divide");
    HWND dialog = AwaitDialogOf(probe.Id());
    ASSERT_NE(nullptr, dialog);
    HWND report = GetDlgItem(dialog, 1044);
    EXPECT_EQ("Product 0.01 exception|&Yes|&No|" + kQuestion, ReadDialog(dialog).caption + "|" +
              ControlText(GetDlgItem(dialog, IDYES)) + "|" + ControlText(GetDlgItem(dialog, IDNO)) + "|" +
              ControlText(GetWindow(report, GW_HWNDNEXT)));  // the question follows the report
    EXPECT_EQ(0u, WithoutCr(ControlText(report)).find(Header("Integer divide by 0", "guard_probe_gui.exe")));
    PostMessageA(dialog, WM_CLOSE, 0, 0);
    PressButton(dialog, IDCANCEL);  // what Escape sends
    Sleep(300);
    EXPECT_EQ(std::vector<HWND>{dialog}, DialogsOf(probe.Id()));
    PressButton(dialog, button);
    EXPECT_EQ(0xFFFFFFFFu, probe.Finish().exitCode);
    std::optional<std::string> received = browser.Received(button == IDYES ? 10000 : 300);
    std::string sent = productInfo.reportAddress + std::string("subject=Product+0%2E01%3A+Integer+divide+by+0&");
    EXPECT_EQ(button == IDYES, received && received->rfind(sent, 0) == 0) << received.value_or("none");
  }
  const char* const boxes[][3] = {  // the action, the box's caption (marked when it shows an icon), its text
      {"errframe-exception", "Product 0.01 error (icon)", "first error"},
      {"fault-in-report", "Unrecoverable Error", "Application *guard_probe_gui.exe\r\nNested exception occured.*"},
  };
  for (const auto& c : boxes) {
    Process probe = Process::Start("\"" + BinFolder() + "guard_probe_gui.exe\" " + c[0]);
    Outcome outcome = RunToEnd(probe, 20000);
    ASSERT_TRUE(outcome.ended && outcome.dialogs.size() == 1) << c[0];
    EXPECT_EQ(c[1], outcome.dialogs[0].caption + (outcome.dialogs[0].icon ? " (icon)" : ""));
    EXPECT_TRUE(Matches(outcome.dialogs[0].text, c[2]) && outcome.exitCode == 0xFFFFFFFF) << outcome.dialogs[0].text;
  }
}
