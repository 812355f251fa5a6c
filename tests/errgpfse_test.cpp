#include <gtest/gtest.h>

#include <string>

#include "gen/err/ExceptionText.h"
#include "gen/err/errgpfse.h"
#include "toolkit/Probe.h"

namespace {

std::string Describe(DWORD code, std::initializer_list<ULONG_PTR> arguments) {
  EXCEPTION_RECORD record = {};
  record.ExceptionCode = code;
  for (ULONG_PTR argument : arguments)
    record.ExceptionInformation[record.NumberParameters++] = argument;
  return DescribeException(&record);
}

}  // namespace

TEST(DescribeException, EveryCodeHasItsText) {
  const struct {
    DWORD code;
    const char* text;
  } cases[] = {
      {9998, "Not enough memory"},
      {9999, "NARVSDK Init Timeout"},
      {0x80000001, "Guard page"},
      {0x80000002, "Datatype misalignment"},
      {0x80000003, "Breakpoint"},
      {0x80000004, "Single step"},
      {0xC0000006, "In page error"},
      {0xC0000008, "Invalid handle"},
      {0xC000001D, "Illegal instruction"},
      {0xC0000025, "Noncontinuable exception"},
      {0xC0000026, "Invalid disposition"},
      {0xC000008C, "Array bounds exceed"},
      {0xC000008D, "FPU denormal operand"},
      {0xC000008E, "FPU divide by 0"},
      {0xC000008F, "FPU inexact result"},
      {0xC0000090, "PPU invalid operation"},
      {0xC0000091, "FPU overflow"},
      {0xC0000092, "FPU stack check"},
      {0xC0000093, "FPU underflow"},
      {0xC0000094, "Integer divide by 0"},
      {0xC0000095, "Integer overflow"},
      {0xC0000096, "Privileged instruction"},
      {0xC00000FD, "Stack overflow"},
      {0xE06D7363, "Unhandled structured exception (throw)"},
      {0x12345678, "unknown 0x12345678"},
      {100, "unknown 0x00000064"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.text, Describe(c.code, {})) << std::hex << c.code;
}

TEST(DescribeException, AccessViolationsByKindAndArguments) {
  EXPECT_EQ("Attempt to read at 0x00000000", Describe(0xC0000005, {0, 0}));
  EXPECT_EQ("Attempt to write at 0x0040ABCD", Describe(0xC0000005, {1, 0x40ABCD}));
  EXPECT_EQ("Access violation", Describe(0xC0000005, {8, 0x1000}));
  EXPECT_EQ("Access violation", Describe(0xC0000005, {1}));
  static const char message[] = "carried text";
  EXPECT_EQ(message, Describe(101, {reinterpret_cast<ULONG_PTR>(message)}));
}

TEST(DescribeSignal, EverySignalHasItsText) {
  const struct {
    int signal;
    const char* text;
  } cases[] = {
      {2, "CTRL+C signal (SIGINT)"},
      {4, "Illegal instruction (SIGILL)"},
      {8, "FPU error (SIGFPE)"},
      {11, "Illegal storage access (SIGSEGV)"},
      {15, "Termination request (SIGTERM)"},
      {21, "Ctrl-Break sequence (SIGBREAK)"},
      {22, "Abnormal termination (SIGABRT)"},
      {3, "Unknown signal"},
  };
  for (const auto& c : cases) EXPECT_STREQ(c.text, DescribeSignal(c.signal)) << c.signal;
}

TEST(CrashGuard, InstalledBeforeTheProgramRunsAndExitsNormally) {
  ProbeResult result = RunProbe("guard_probe.exe", "exit");
  ASSERT_TRUE(result.ended);
  EXPECT_EQ(0u, result.exitCode);
  EXPECT_EQ("installed\nreturned\n", result.out);
  EXPECT_EQ("", result.err);
}

TEST(CrashGuard, TerminateEndsAtOnceWithTheFailureCodeAndNoOutput) {
  ProbeResult result = RunProbe("guard_probe.exe", "terminate");
  ASSERT_TRUE(result.ended);
  EXPECT_EQ(0xFFFFFFFFu, result.exitCode);
  EXPECT_EQ("", result.out);
  EXPECT_EQ("", result.err);
}

// Every hook the guard installs ends as a fatal structured exception with
// its own text, and the process ends with 0xFFFFFFFF. The hooks whose text
// also heads a console report (abort, throw, pure call, invalid parameter,
// out of memory, a fault on a thread) are checked there.
TEST(CrashGuard, EverySignalHookBecomesAFatalExceptionWithItsText) {
  const struct {
    const char* action;
    const char* seen;
  } cases[] = {
      {"signal 2", "code=00000065 text=CTRL+C signal (SIGINT)"},
      {"signal 4", "code=00000065 text=Illegal instruction (SIGILL)"},
      {"signal 8", "code=00000065 text=FPU error (SIGFPE)"},
      {"signal 11", "code=00000065 text=Illegal storage access (SIGSEGV)"},
      {"signal 15", "code=00000065 text=Termination request (SIGTERM)"},
      {"signal 21", "code=00000065 text=Ctrl-Break sequence (SIGBREAK)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.action);
    ProbeResult result = RunProbe("guard_probe.exe", c.action);
    ASSERT_TRUE(result.ended);
    EXPECT_EQ(0xFFFFFFFFu, result.exitCode);
    EXPECT_EQ(0u, result.out.find(c.seen)) << result.out;
    EXPECT_EQ(std::string::npos, result.out.find("caught"));
    EXPECT_EQ(std::string::npos, result.out.find("returned"));
  }
}

TEST(CrashGuard, AnErrFrameCarriedAsException100IsShownWithTheProductTitle) {
  ProbeResult result = RunProbe("guard_probe.exe", "errframe-exception");
  ASSERT_TRUE(result.ended);
  EXPECT_EQ(0xFFFFFFFFu, result.exitCode);
  EXPECT_EQ("Product 0.01 errorcarried message", result.err);
}

namespace {

struct SiblingObjects {
  HANDLE paint = CreateEventA(nullptr, TRUE, FALSE, kPaintReadyEvent);
  HANDLE capture = CreateEventA(nullptr, TRUE, FALSE, kCaptureReadyEvent);
  ~SiblingObjects() {
    CloseHandle(paint);
    CloseHandle(capture);
  }
};

DWORD WINAPI WaitForEvent(LPVOID event) {
  return WaitForSingleObject(static_cast<HANDLE>(event), 10000);
}

DWORD WINAPI TryTakeMutex(LPVOID mutex) {
  DWORD result = WaitForSingleObject(static_cast<HANDLE>(mutex), 0);
  if (result == WAIT_OBJECT_0) ReleaseMutex(static_cast<HANDLE>(mutex));
  return result;
}

DWORD ThreadResult(LPTHREAD_START_ROUTINE routine, HANDLE object, bool runRelease) {
  HANDLE thread = CreateThread(nullptr, 0, routine, object, 0, nullptr);
  if (runRelease) ReleaseSiblingWaits();
  WaitForSingleObject(thread, INFINITE);
  DWORD result = 0;
  GetExitCodeThread(thread, &result);
  CloseHandle(thread);
  return result;
}

}  // namespace

TEST(ReleaseSiblingWaits, PulsesTheEventsAndReleasesOwnedMutexes) {
  SiblingObjects objects;
  EXPECT_EQ(WAIT_OBJECT_0, ThreadResult(WaitForEvent, objects.paint, true));
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(objects.paint, 0));
  EXPECT_EQ(WAIT_OBJECT_0, ThreadResult(WaitForEvent, objects.capture, true));
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(objects.capture, 0));

  for (const char* name : {kSharedMutex, kCaptureMutex}) {
    HANDLE mutex = CreateMutexA(nullptr, TRUE, name);
    EXPECT_EQ(WAIT_TIMEOUT, ThreadResult(TryTakeMutex, mutex, false)) << name;
    ReleaseSiblingWaits();
    EXPECT_EQ(WAIT_OBJECT_0, ThreadResult(TryTakeMutex, mutex, false)) << name;
    CloseHandle(mutex);
  }
}

TEST(ReleaseSiblingWaits, WithNoObjectsCreatesNothing) {
  ReleaseSiblingWaits();
  for (const char* name : {kPaintReadyEvent, kCaptureReadyEvent})
    EXPECT_EQ(nullptr, OpenEventA(SYNCHRONIZE, FALSE, name));
  for (const char* name : {kSharedMutex, kCaptureMutex})
    EXPECT_EQ(nullptr, OpenMutexA(SYNCHRONIZE, FALSE, name));
}

namespace {

bool HeapExists(HANDLE heap) {
  HANDLE heaps[256];
  DWORD count = GetProcessHeaps(256, heaps);
  for (DWORD i = 0; i < count && i < 256; ++i)
    if (heaps[i] == heap) return true;
  return false;
}

}  // namespace

TEST(CrashGuard, ASecondConstructionKeepsHeapAndReserve) {
  HANDLE heap = guardState.privateHeap;
  void* reserve = guardState.reserveBlock;
  ASSERT_TRUE(heap && reserve);
  CrashGuard again(false);
  EXPECT_EQ(heap, guardState.privateHeap);
  EXPECT_EQ(reserve, guardState.reserveBlock);
  EXPECT_NE(nullptr, guardState.vectoredHandler);
}

TEST(CrashGuard, TeardownDestroysTheHeapAndRemovesTheHandler) {
  HANDLE heap = guardState.privateHeap;
  ASSERT_TRUE(HeapExists(heap));
  CrashGuardTearDown();
  EXPECT_FALSE(HeapExists(heap));
  EXPECT_EQ(nullptr, guardState.privateHeap);
  EXPECT_EQ(nullptr, guardState.reserveBlock);
  EXPECT_EQ(nullptr, guardState.vectoredHandler);
  CrashGuard reinstalled(false);
  EXPECT_TRUE(HeapExists(guardState.privateHeap));
}
