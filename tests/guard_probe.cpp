// A guarded program that fails on request ("thread <action>": on a worker), as
// a console program, a windowed one and a console one without its PDB. An
// observer before the guard writes down each exception the guard will see.
#include <windows.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>
#include <typeinfo>

#include "gen/Memwing.h"
#include "gen/err/CrashReport.h"
#include "gen/err/Err.h"
#include "gen/err/ExceptionText.h"
#include "gen/err/ReportSubmit.h"
#include "gen/err/errgpfse.h"

#ifdef PROBE_CONSOLE
extern "C" const bool crashGuardConsoleMode = true;
#endif

namespace {

void Say(const std::string& line) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), (line + "\n").data(), line.size() + 1, &written, nullptr);
}

LONG CALLBACK Observe(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  // Stack overflows leave no room for formatting on this thread.
  if (record->ExceptionCode == 0xC00000FD) return EXCEPTION_CONTINUE_SEARCH;
  char line[512];
  snprintf(line, sizeof line, "code=%08lX text=%s", record->ExceptionCode, DescribeException(record));
  const char* message = CurrentFrameSlot()->Message().Text();
  Say(line + (record->ExceptionCode == kInternalError ? "\nmessage=" + std::string(message ? message : "") : ""));
  return EXCEPTION_CONTINUE_SEARCH;
}

// Last in the chain: sees only what the guard passed on, and skips breakpoints.
LONG CALLBACK ProgramHandler(EXCEPTION_POINTERS* pointers) {
  if (pointers->ExceptionRecord->ExceptionCode != EXCEPTION_BREAKPOINT) return EXCEPTION_CONTINUE_SEARCH;
  Say("breakpoint reached the program");
  pointers->ContextRecord->Eip += 1;
  return EXCEPTION_CONTINUE_EXECUTION;
}

struct Base {
  Base() { CallPure(); }
  virtual void Pure() = 0;
  __attribute__((noinline)) void CallPure() { Pure(); }
};
struct Derived : Base { void Pure() override {} };

const char kRootTemplate[] = "Cannot delete file";
volatile int zero = 0;

__attribute__((noinline)) void WriteNull() { *static_cast<volatile int*>(nullptr) = 1; }

// A function name of well over 1024 characters: longer than a frame's field.
__attribute__((noinline)) void FaultWithALongName_xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx() { *static_cast<volatile int*>(nullptr) = 1; }

__attribute__((noinline)) int Recurse(int depth) {
  volatile char pad[4096];
  pad[0] = static_cast<char>(depth);
  return zero ? 0 : Recurse(depth + 1) + pad[0];  // until the stack is gone
}

// Takes and keeps all the address space malloc gives, as large images do.
void* volatile keptBlocks;

void TakeAllAddressSpace() {
  for (size_t size = 64 << 20; size >= 64 << 10; size /= 2)
    while (void** block = static_cast<void**>(malloc(size))) {
      *block = keptBlocks;  // chained, so that no block is unused
      keptBlocks = block;
    }
}

UINT WINAPI RecordWinExec(LPCSTR commandLine, UINT show) {
  Say("WinExec " + std::to_string(show) + " " + commandLine);
  return ERROR_FILE_NOT_FOUND;
}

// Opens the address as a report does, with `urlModule` loaded as the guard
// loads it; WinExec is recorded, not run (a jump written over its start).
void Open(const char* urlModule, const std::string& address) {
  char* winExec = reinterpret_cast<char*>(GetProcAddress(GetModuleHandleA("kernel32"), "WinExec"));
  int32_t jump = reinterpret_cast<char*>(RecordWinExec) - (winExec + 5);
  DWORD protection = 0;
  VirtualProtect(winExec, 5, PAGE_EXECUTE_READWRITE, &protection);
  winExec[0] = '\xE9';
  memcpy(winExec + 1, &jump, sizeof jump);
  guardState.urlModule = LoadLibraryA(urlModule);
  OpenReportAddress(address.c_str(), "", "%s", "");
  Say(!guardState.urlModule && !GetModuleHandleA(urlModule) ? "released" : "kept");
}

int RecurseInALongPath(int depth);
void Fail(const std::string& action);

DWORD WINAPI FailOnThread(LPVOID action) {
  Fail(*static_cast<const std::string*>(action));
  return 0;
}

void Fail(const std::string& action) {
  size_t blank = action.find(' ');
  std::string head = action.substr(0, blank), rest = blank == std::string::npos ? "" : action.substr(blank + 1);
  if (head == "thread") WaitForSingleObject(CreateThread(nullptr, 0, FailOnThread, &rest, 0, nullptr), INFINITE);
  if (head == "memory-gone") {
    TakeAllAddressSpace();
    Fail(rest);
  }
  if (head == "signal") raise(atoi(rest.c_str()));
  if (head == "open-in-process") Open("url.dll", rest);
  if (head == "open-without-handler") Open("msimg32.dll", rest);  // no URL module: it lacks the handler
  if (action == "terminate") std::terminate();
  if (action == "abort") abort();
  if (action == "write-null") WriteNull();
  if (action == "divide") Say(std::to_string(10 / zero));
  if (action == "stack-overflow") Say(std::to_string(Recurse(0)));
  if (action == "long-name") FaultWithALongName_xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx();
  if (action == "deep-long-path" || action == "deep") RecurseInALongPath(action == "deep" ? 100 : 200);
  if (action == "purecall") Derived();
  if (action == "out-of-memory") MemAlloc(0x7FFFFFF0);
  if (action == "free-null") MemFree(nullptr);
  if (action == "null-format") ErrRaiseFormat(nullptr);
  if (action == "breakpoint") DebugBreak();
  if (action == "ask") Say(AskTrapToDebugger() ? "held" : "not held");
  if (action == "twin-faults") {  // two threads started together fail at once
    std::string fault = "write-null";
    HANDLE threads[2];
    for (HANDLE& thread : threads) thread = CreateThread(nullptr, 0, FailOnThread, &fault, CREATE_SUSPENDED, nullptr);
    for (HANDLE thread : threads) ResumeThread(thread);
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
  }
  if (action == "fault-in-report") {  // the report's header reads the product name
    productInfo.name = reinterpret_cast<const char*>(16);
    WriteNull();
  }
  if (action == "report-overflow") {
    WriteReportHeader("Breakpoint");
    AppendToReport(std::string(kReportSize - strlen(reportText), 'x').c_str());
  }
  if (action == "root-error") {
    Say("identity=" + std::to_string(reinterpret_cast<uintptr_t>(kRootTemplate)));
    ErrRaiseText(kRootTemplate, "Cannot delete file");
  }
  if (action == "throw") try {
      throw std::runtime_error("caught by the program");
    } catch (const std::exception&) {
      Say("caught");
    }
  ErrFrame frame;
  if (action == "throw-errframe" && frame.Try([] { ErrRaiseText(kRootTemplate, "passed on"); }))
    Say(std::string("caught ") + frame.Message().Text());
  if (head.rfind("raise-throw", 0) == 0) {
    // As other code may raise it: an ErrFrame, no type (a rethrow), or a pointer that is no type.
    ULONG_PTR arguments[3] = {0x19930520, 0, action == "raise-throw-garbage" ? 0x10ul : 0ul};
    if (action == "raise-throw-errframe") arguments[2] = reinterpret_cast<ULONG_PTR>(&typeid(ErrFrame));
    RaiseException(kThrowException, 0, 3, arguments);
  }
  // The first error is held by `frame` while its thrown copy lives.
  if (action == "reenter" || action == "errframe-exception" || action == "double-nested") {
    try {
      ErrRaiseText(kRootTemplate, "first error");
    } catch (ErrFrame& thrown) {
      ULONG_PTR carried = reinterpret_cast<ULONG_PTR>(&thrown);
      if (action == "errframe-exception") RaiseException(kErrFrameException, 0, 1, &carried);
      if (action == "double-nested") {
        Say("identity=" + std::to_string(reinterpret_cast<uintptr_t>(kDoubleNestedTemplate)));
        ErrFrame handling;
        ErrRaiseText(kRootTemplate, "second error");
      }
    }
    frame.Enter();  // again, with the error still held
  }
}

// Fails after the guard is installed but before the module handle is recorded, as in a host.
__attribute__((constructor(102))) void FailEarly() {
  if (GetEnvironmentVariableA("PROBE_EARLY_FAULT", nullptr, 0)) RaiseException(0xE0000001, 0, 0, nullptr);
}

// For the bench: each new high of the address space in use, without the guard's reserve.
DWORD WINAPI WatchAddressSpace(LPVOID) {
  for (size_t peak = 0;; Sleep(1)) {
    size_t used = 0;
    MEMORY_BASIC_INFORMATION region;
    for (char* at = nullptr; at < reinterpret_cast<char*>(0xFFFF0000) && VirtualQuery(at, &region, sizeof region);
         at = static_cast<char*>(region.BaseAddress) + region.RegionSize)
      if (region.State != MEM_FREE && region.BaseAddress != guardState.addressReserve) used += region.RegionSize;
    if (used > peak) Say("in-use=" + std::to_string(peak = used));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  AddVectoredExceptionHandler(1, Observe);
  AddVectoredExceptionHandler(0, ProgramHandler);
  std::string action = argv[1];
  for (int i = 2; i < argc; ++i) action += std::string(" ") + argv[i];
  LARGE_INTEGER now;
  if (GetEnvironmentVariableA("PROBE_STAMP", nullptr, 0) && QueryPerformanceCounter(&now))  // for the bench
    Say("fault-at=" + std::to_string(now.QuadPart));
  if (GetEnvironmentVariableA("PROBE_WATCH", nullptr, 0)) {
    CloseHandle(CreateThread(nullptr, 0, WatchAddressSpace, nullptr, 0, nullptr));
    Sleep(50);
  }
  Fail(action);
  Say("returned");
  return 0;
}

// Frames with paths so long that 128 of them cannot all fit in a report.
#line 1 "C:\\builds\\a-checkout-folder-with-a-rather-long-name-0123456789\\and-another-folder-with-a-rather-long-name-0123456789\\and-a-third-folder-with-a-rather-long-name-0123456789\\third-party\\recursion_in_a_long_path.cpp"
namespace {
__attribute__((noinline)) int RecurseInALongPath(int depth) {
  if (depth == 0) *static_cast<volatile int*>(nullptr) = 1;
  return depth == 0 ? 0 : RecurseInALongPath(depth - 1) * 3 + 1;
}
}  // namespace
