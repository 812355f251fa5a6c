#pragma once
#include <windows.h>

#include <cstdlib>
#include <string>

#include "gen/err/Err.h"

// Runs `action` with a first-in-chain vectored handler that records the
// first continuable raise (a check, out of memory) and resumes it, so that
// it can be seen in process; a resumed check goes on as a thrown error,
// which an error frame takes.
struct Raised {
  DWORD code = 0;
  int count = 0;
};

namespace raised_detail {
inline Raised current;
inline LONG CALLBACK Record(EXCEPTION_POINTERS* pointers) {
  DWORD code = pointers->ExceptionRecord->ExceptionCode;
  if (code != 101 && code != 9998 && code != 0x80000002) return EXCEPTION_CONTINUE_SEARCH;  // faults go on
  if (current.count++ == 0) current.code = code;
  return EXCEPTION_CONTINUE_EXECUTION;
}
struct Resumed {
  PVOID handler = AddVectoredExceptionHandler(1, Record);
  ~Resumed() { RemoveVectoredExceptionHandler(handler); }
};
}  // namespace raised_detail

template <typename Action> Raised CatchRaised(Action action) {
  raised_detail::current = Raised();
  raised_detail::Resumed resumed;
  ErrFrame frame;
  frame.Try(action);
  return raised_detail::current;
}

// Where the check that fired in `action` stands, as "<module>:<line>"
// (for example "..\gen\Array.cpp:82"); empty when no check fired.
template <typename Action> std::string FiredCheck(Action action) {
  raised_detail::Resumed resumed;
  ErrFrame frame;
  if (!frame.Try(action) || frame.Code() != kAssertTemplate) return std::string();
  std::string message = frame.Message().Text();
  size_t start = message.find("at '"), end = message.find("' line ");
  if (start >= end || end == std::string::npos) return message;
  return message.substr(start + 4, end - start - 4) + ":" + std::to_string(atoi(&message[end + 7]));
}
