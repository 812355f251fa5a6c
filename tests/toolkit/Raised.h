#pragma once
#include <windows.h>

#include <string>

#include "gen/err/Err.h"

// Runs `action` with a first-in-chain vectored handler that records the
// first structured exception of the listed kind and resumes execution, so
// that a continuable raise (a check, out of memory) can be seen in process.
// A resumed check goes on as a thrown error; an error frame takes it.
struct Raised {
  DWORD code = 0;
  std::string text;  // the message of an internal error (101)
  int count = 0;
};

template <typename Action> Raised CatchRaised(Action action);

namespace raised_detail {
Raised& Current();
PVOID Install();
void Remove(PVOID handler);
}  // namespace raised_detail

template <typename Action> Raised CatchRaised(Action action) {
  raised_detail::Current() = Raised();
  PVOID handler = raised_detail::Install();
  ErrFrame frame;
  frame.Try(action);
  raised_detail::Remove(handler);
  return raised_detail::Current();
}
