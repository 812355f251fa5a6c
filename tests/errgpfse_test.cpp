#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "gen/err/ExceptionText.h"
#include "gen/err/errgpfse.h"
#include "toolkit/Probe.h"

TEST(DescribeException, EveryCodeHasItsText) {
  static const char carried[] = "carried text";
  const struct {
    DWORD code;
    std::vector<ULONG_PTR> arguments;
    const char* text;
  } cases[] = {
      {101, {reinterpret_cast<ULONG_PTR>(carried)}, carried},
      {9998, {}, "Not enough memory"},
      {9999, {}, "NARVSDK Init Timeout"},
      {0x80000001, {}, "Guard page"},
      {0x80000002, {}, "Datatype misalignment"},
      {0x80000003, {}, "Breakpoint"},
      {0x80000004, {}, "Single step"},
      {0xC0000005, {0, 0}, "Attempt to read at 0x00000000"},
      {0xC0000005, {1, 0x40ABCD}, "Attempt to write at 0x0040ABCD"},
      {0xC0000005, {8, 0x1000}, "Access violation"},
      {0xC0000005, {1}, "Access violation"},
      {0xC0000006, {}, "In page error"},
      {0xC0000008, {}, "Invalid handle"},
      {0xC000001D, {}, "Illegal instruction"},
      {0xC0000025, {}, "Noncontinuable exception"},
      {0xC0000026, {}, "Invalid disposition"},
      {0xC000008C, {}, "Array bounds exceed"},
      {0xC000008D, {}, "FPU denormal operand"},
      {0xC000008E, {}, "FPU divide by 0"},
      {0xC000008F, {}, "FPU inexact result"},
      {0xC0000090, {}, "PPU invalid operation"},
      {0xC0000091, {}, "FPU overflow"},
      {0xC0000092, {}, "FPU stack check"},
      {0xC0000093, {}, "FPU underflow"},
      {0xC0000094, {}, "Integer divide by 0"},
      {0xC0000095, {}, "Integer overflow"},
      {0xC0000096, {}, "Privileged instruction"},
      {0xC00000FD, {}, "Stack overflow"},
      {0xE06D7363, {}, "Unhandled structured exception (throw)"},
      {0x12345678, {}, "unknown 0x12345678"},
      {100, {}, "unknown 0x00000064"},
  };
  for (const auto& c : cases) {
    EXCEPTION_RECORD record = {c.code, 0, nullptr, nullptr, static_cast<DWORD>(c.arguments.size())};
    std::copy(c.arguments.begin(), c.arguments.end(), record.ExceptionInformation);
    EXPECT_STREQ(c.text, DescribeException(&record)) << std::hex << c.code;
  }
}

namespace {

// How a guarded probe ended: its full exit code, its output, then its errors.
std::string Ending(const std::string& action) {
  ProbeResult result = RunProbe("guard_probe.exe", action);
  char code[16];
  snprintf(code, sizeof code, "%lX ", result.exitCode);
  return (result.ended ? code : "running ") + result.out + "|" + result.err;
}

}  // namespace

// Each signal the guard hooks ends the process as internal error 101 with
// the signal's text, before anything of the program's own goes on.
TEST(OnSignal, EverySignalEndsTheProcessAsAnInternalErrorWithItsText) {
  const std::pair<int, const char*> cases[] = {
      {2, "CTRL+C signal (SIGINT)"},
      {4, "Illegal instruction (SIGILL)"},
      {8, "FPU error (SIGFPE)"},
      {11, "Illegal storage access (SIGSEGV)"},
      {15, "Termination request (SIGTERM)"},
      {21, "Ctrl-Break sequence (SIGBREAK)"},
      {22, "Abnormal termination (SIGABRT)"},
  };
  for (const auto& [signal, text] : cases) {
    std::string ending = Ending("signal " + std::to_string(signal));
    EXPECT_EQ("FFFFFFFF code=00000065 text=" + std::string(text) + "\nmessage=\n|",
              ending.substr(0, ending.find('|') + 1));
  }
  EXPECT_STREQ("Unknown signal", DescribeSignal(3));
}

// The terminate routine ends at once and silently; an ErrFrame carried as
// exception 100 is shown with the product's title.
TEST(CrashGuard, InstalledBeforeTheProgramRunsAndEndsEachWayWithItsCode) {
  EXPECT_EQ("0 installed\nreturned\n|", Ending("exit"));
  EXPECT_EQ("FFFFFFFF |", Ending("terminate"));
  EXPECT_EQ("FFFFFFFF code=00000064 text=unknown 0x00000064\n|Product 0.01 errorcarried message",
            Ending("errframe-exception"));
}

namespace {

DWORD WINAPI WaitForEvent(LPVOID event) { return WaitForSingleObject(event, 10000); }

}  // namespace

// Closed again, the objects must be gone: the release holds no handle.
TEST(ReleaseSiblingWaits, PulsesTheEventsReleasesTheMutexesAndCreatesNothing) {
  const char* const events[] = {kPaintReadyEvent, kCaptureReadyEvent};
  const char* const mutexes[] = {kSharedMutex, kCaptureMutex};
  {
    std::vector<Handle> objects, waiters;
    for (const char* name : events) {
      objects.emplace_back(CreateEventA(nullptr, TRUE, FALSE, name));
      waiters.emplace_back(CreateThread(nullptr, 0, WaitForEvent, objects.back().Get(), 0, nullptr));
    }
    for (const char* name : mutexes) objects.emplace_back(CreateMutexA(nullptr, TRUE, name));
    Sleep(200);  // both waiters wait
    ReleaseSiblingWaits();
    for (int i = 0; i < 2; ++i) {
      DWORD woken = 0;
      WaitForSingleObject(waiters[i].Get(), INFINITE);
      GetExitCodeThread(waiters[i].Get(), &woken);
      EXPECT_EQ(WAIT_OBJECT_0, woken) << events[i];
      EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(objects[i].Get(), 0)) << events[i];
      EXPECT_FALSE(ReleaseMutex(objects[2 + i].Get())) << mutexes[i] << " still owned";
    }
  }
  ReleaseSiblingWaits();
  for (const char* name : events) EXPECT_EQ(nullptr, OpenEventA(SYNCHRONIZE, FALSE, name));
  for (const char* name : mutexes) EXPECT_EQ(nullptr, OpenMutexA(SYNCHRONIZE, FALSE, name));
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
