// A guarded console program that fails on request, one way per argument,
// for the tests to watch from outside. An observer placed before the guard
// writes down each structured exception the guard is about to see.

#include <windows.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "gen/Memwing.h"
#include "gen/err/Err.h"
#include "gen/err/ExceptionText.h"
#include "gen/err/errgpfse.h"
#include "mania/Bounded.h"

extern "C" const bool crashGuardConsoleMode = true;

namespace {

void Say(const std::string& line) {
  std::string text = line + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), text.size(), &written, nullptr);
}

LONG CALLBACK Observe(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  char line[512];
  snprintf(line, sizeof line, "code=%08lX text=%s", record->ExceptionCode,
           DescribeException(record));
  Say(line);
  if (record->ExceptionCode == kInternalError) Say("message=" + std::string(CurrentFrameSlot()->Message().Text() ? CurrentFrameSlot()->Message().Text() : ""));
  return EXCEPTION_CONTINUE_SEARCH;
}

struct Base {
  Base() { CallPure(); }
  virtual ~Base() = default;
  virtual void Pure() = 0;
  void CallPure() { Pure(); }
};
struct Derived : Base {
  void Pure() override {}
};

DWORD WINAPI FaultOnThread(LPVOID) {
  *static_cast<volatile int*>(nullptr) = 1;
  return 0;
}

const char kRootTemplate[] = "Cannot delete file";

int Run(const std::string& action, int argc, char** argv) {
  if (action == "exit") {
    Say(guardState.privateHeap && guardState.reserveBlock ? "installed" : "not installed");
    return 0;
  }
  if (action == "terminate") std::terminate();
  if (action == "abort") abort();
  if (action == "signal") raise(atoi(argv[2]));
  if (action == "root-error") {
    Say("identity=" + std::to_string(reinterpret_cast<uintptr_t>(kRootTemplate)));
    ErrRaiseText(kRootTemplate, "Cannot delete file");
  }
  if (action == "throw") {
    try {
      throw 42;
    } catch (int) {
      Say("caught");
    }
  }
  if (action == "assert") ErrAssert("..\\gen\\Str.cpp", 77);
  if (action == "null-format") ErrRaiseFormat(nullptr);
  if (action == "reenter") {
    ErrFrame frame;
    try {
      ErrRaiseText(kRootTemplate, "first");
    } catch (ErrFrame&) {
    }
    frame.Enter();
  }
  if (action == "purecall") Derived derived;
  if (action == "invalid-parameter") {
    char small[4] = "abc";
    AppendOrFail(small, sizeof small, "d");
  }
  if (action == "errframe-exception") {
    ErrFrame frame;
    try {
      ErrRaiseText(kRootTemplate, "carried message");
    } catch (ErrFrame& thrown) {
      ULONG_PTR argument = reinterpret_cast<ULONG_PTR>(&thrown);
      RaiseException(kErrFrameException, 0, 1, &argument);
    }
  }
  if (action == "out-of-memory") MemAlloc(0x7FFFFFF0);
  if (action == "thread-fault") {
    HANDLE thread = CreateThread(nullptr, 0, FaultOnThread, nullptr, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
  if (action == "ask") Say(AskTrapToDebugger() ? "held" : "not held");
  if (action == "double-nested") {
    ErrFrame outer;
    try {
      ErrRaiseText(kRootTemplate, "first error");
    } catch (ErrFrame&) {
      Say("identity=" + std::to_string(reinterpret_cast<uintptr_t>(kDoubleNestedTemplate)));
      ErrFrame handling;
      ErrRaiseText(kRootTemplate, "second error");
    }
  }
  (void)argc;
  Say("returned");
  return 0;
}

}  // namespace


int main(int argc, char** argv) {
  if (argc < 2) return 2;
  AddVectoredExceptionHandler(1, Observe);
  return Run(argv[1], argc, argv);
}
