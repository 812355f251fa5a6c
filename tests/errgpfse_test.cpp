#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "gen/err/ExceptionText.h"
#include "gen/err/errgpfse.h"
#include "toolkit/Probe.h"

TEST(ExceptionText, EveryCodeHasItsTextAnUnlistedSignalIsUnknown) {
  static const char carried[] = "carried text";
  const struct { DWORD code; std::vector<ULONG_PTR> arguments; const char* text; } cases[] = {
      {101, {reinterpret_cast<ULONG_PTR>(carried)}, carried}, {9998, {}, "Not enough memory"},
      {9999, {}, "NARVSDK Init Timeout"}, {0x80000001, {}, "Guard page"},
      {0x80000002, {}, "Datatype misalignment"}, {0x80000003, {}, "Breakpoint"},
      {0x80000004, {}, "Single step"}, {0xC0000005, {0, 0}, "Attempt to read at 0x00000000"},
      {0xC0000005, {1, 0x40ABCD}, "Attempt to write at 0x0040ABCD"},
      {0xC0000005, {8, 0x1000}, "Access violation"}, {0xC0000005, {1}, "Access violation"},
      {0xC0000006, {}, "In page error"}, {0xC0000008, {}, "Invalid handle"},
      {0xC000001D, {}, "Illegal instruction"}, {0xC0000025, {}, "Noncontinuable exception"},
      {0xC0000026, {}, "Invalid disposition"}, {0xC000008C, {}, "Array bounds exceed"},
      {0xC000008D, {}, "FPU denormal operand"}, {0xC000008E, {}, "FPU divide by 0"},
      {0xC000008F, {}, "FPU inexact result"}, {0xC0000090, {}, "PPU invalid operation"},
      {0xC0000091, {}, "FPU overflow"}, {0xC0000092, {}, "FPU stack check"},
      {0xC0000093, {}, "FPU underflow"}, {0xC0000094, {}, "Integer divide by 0"},
      {0xC0000095, {}, "Integer overflow"}, {0xC0000096, {}, "Privileged instruction"},
      {0xC00000FD, {}, "Stack overflow"}, {0xE06D7363, {}, "Unhandled structured exception (throw)"},
      {0x12345678, {}, "unknown 0x12345678"}, {100, {}, "unknown 0x00000064"},
  };
  for (const auto& c : cases) {
    EXCEPTION_RECORD record = {c.code, 0, nullptr, nullptr, static_cast<DWORD>(c.arguments.size()), {}};
    std::copy(c.arguments.begin(), c.arguments.end(), record.ExceptionInformation);
    EXPECT_STREQ(c.text, DescribeException(&record)) << std::hex << c.code;
  }
  EXPECT_STREQ("Unknown signal", DescribeSignal(3));
}

namespace {

// How a guarded probe ended: its full exit code (or the identity it printed
// first), its output, then its errors.
std::string Ending(const char* action, const char* input) {
  ProbeResult result = RunProbe("guard_probe.exe", action, input);
  std::string identity = "identity=" + std::to_string(result.exitCode) + "\n";
  char code[16];
  snprintf(code, sizeof code, "%lX ", result.exitCode);
  bool byIdentity = result.out.rfind(identity, 0) == 0;
  if (byIdentity) result.out.replace(0, identity.size(), "IDENTITY ");
  return !result.ended ? "running" : (byIdentity ? "" : code) + result.out + "|" + result.err;
}

}  // namespace

// Every way a guarded program ends, read from outside. Signals and checks
// become internal error 101 (the observer's "code=00000065") with their
// text and stop the program; an error nobody can catch exits with its
// template's identity. An ending in "|..." leaves the report unread.
TEST(GuardedProgram, EndsEachWayWithItsOutputAndExitCode) {
#define SIGNALED(text) "FFFFFFFF code=00000065 text=" text "\nmessage=\n|..."
#define ASSERTED(site)                                                                    \
  "FFFFFFFF code=00000065 text=Asserted\nmessage=Internal error. Trap to the debugger(Y/N)?\n" \
  "Assertion failed at '" site "\n\n|..."
  const struct { const char* action; const char* input; const char* ending; } cases[] = {
      {"exit", "", "0 installed\nreturned\n|"},
      {"terminate", "", "FFFFFFFF |"},
      {"errframe-exception", "",
       "FFFFFFFF code=00000064 text=unknown 0x00000064\n|Product 0.01 errorcarried message"},
      {"signal 2", "", SIGNALED("CTRL+C signal (SIGINT)")},
      {"signal 4", "", SIGNALED("Illegal instruction (SIGILL)")},
      {"signal 8", "", SIGNALED("FPU error (SIGFPE)")},
      {"signal 11", "", SIGNALED("Illegal storage access (SIGSEGV)")},
      {"signal 15", "", SIGNALED("Termination request (SIGTERM)")},
      {"signal 21", "", SIGNALED("Ctrl-Break sequence (SIGBREAK)")},
      {"signal 22", "", SIGNALED("Abnormal termination (SIGABRT)")},
      {"assert", "", ASSERTED("..\\gen\\Str.cpp' line 77")},
      {"null-format", "", ASSERTED("..\\Gen\\Err.cpp' line 21")},
      {"reenter", "", ASSERTED("..\\Gen\\Err.cpp' line 132")},
      {"root-error", "", "IDENTITY |Cannot delete file"},
      {"double-nested", "n",
       "IDENTITY |Internal double nested error. Trap to the debugger(Y/N)\r\n"
       "First: { first error\r\n}\r\nNested: { second error\r\n}\r\n?"},
      // No answer or no: do not break.
      {"ask", "", "0 not held\nreturned\n|\r\n?"}, {"ask", "n", "0 not held\nreturned\n|\r\n?"},
      {"ask", "N", "0 not held\nreturned\n|\r\n?"},
  };
#undef SIGNALED
#undef ASSERTED
  for (const auto& c : cases) {
    std::string ending = Ending(c.action, c.input), expected = c.ending;
    if (expected.rfind("|...") == expected.size() - 4)
      ending = ending.substr(0, expected.size() - 3) + "...";
    EXPECT_EQ(expected, ending) << c.action << " " << c.input;
  }
}

namespace {

DWORD WINAPI AwaitPulse(LPVOID event) { return WaitForSingleObject(event, 10000); }

}  // namespace

// Closed again, the objects must be gone: the release keeps no handle.
TEST(ReleaseSiblingWaits, PulsesTheEventsReleasesTheMutexesAndCreatesNothing) {
  const char* const names[] = {kPaintReadyEvent, kCaptureReadyEvent, kSharedMutex, kCaptureMutex};
  {
    std::vector<Handle> objects, waiters;
    for (int i = 0; i < 4; ++i)
      objects.emplace_back(i < 2 ? CreateEventA(nullptr, TRUE, FALSE, names[i])
                                 : CreateMutexA(nullptr, TRUE, names[i]));
    for (int i = 0; i < 2; ++i)
      waiters.emplace_back(CreateThread(nullptr, 0, AwaitPulse, objects[i].Get(), 0, nullptr));
    Sleep(200);  // both waiters wait
    ReleaseSiblingWaits();
    for (int i = 0; i < 2; ++i) {
      DWORD woken = WAIT_FAILED;
      WaitForSingleObject(waiters[i].Get(), INFINITE);
      GetExitCodeThread(waiters[i].Get(), &woken);
      EXPECT_EQ(WAIT_OBJECT_0, woken) << names[i];
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
    DWORD count = std::min<DWORD>(GetProcessHeaps(256, heaps), 256);
    return std::find(heaps, heaps + count, heap) != heaps + count;
  };
  HANDLE heap = guardState.privateHeap;
  void* reserve = guardState.reserveBlock;
  ASSERT_TRUE(heapExists(heap) && reserve);
  CrashGuard again(false);
  EXPECT_EQ(heap, guardState.privateHeap);
  EXPECT_EQ(reserve, guardState.reserveBlock);
  CrashGuardTearDown();
  EXPECT_FALSE(heapExists(heap));
  EXPECT_TRUE(!guardState.privateHeap && !guardState.reserveBlock && !guardState.vectoredHandler);
  CrashGuard reinstalled(false);
  EXPECT_TRUE(heapExists(guardState.privateHeap));
}
