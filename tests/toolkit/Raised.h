#pragma once
#include <windows.h>

#include "gen/err/Err.h"

// Runs `action` with a first-in-chain vectored handler that records the
// first structured exception of the listed kind and resumes execution, so
// that a continuable raise (a check, out of memory) can be seen in process.
// A resumed check goes on as a thrown error; an error frame takes it.
struct Raised {
  DWORD code = 0;
  int count = 0;
};

namespace raised_detail {
inline Raised current;
// For its lifetime the handler records into `current` and resumes.
struct Resumed {
  Resumed();
  ~Resumed();
  PVOID handler;
};
}  // namespace raised_detail

template <typename Action> Raised CatchRaised(Action action) {
  raised_detail::current = Raised();
  raised_detail::Resumed resumed;
  ErrFrame frame;
  frame.Try(action);
  return raised_detail::current;
}
