#include "toolkit/Raised.h"

namespace {

// Only the system's own continuable codes are resumed; faults go on.
LONG CALLBACK RecordRaise(EXCEPTION_POINTERS* pointers) {
  DWORD code = pointers->ExceptionRecord->ExceptionCode;
  if (code != 101 && code != 9998 && code != 0x80000002) return EXCEPTION_CONTINUE_SEARCH;
  if (raised_detail::current.count++ == 0) raised_detail::current.code = code;
  return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

raised_detail::Resumed::Resumed() : handler(AddVectoredExceptionHandler(1, RecordRaise)) {}
raised_detail::Resumed::~Resumed() { RemoveVectoredExceptionHandler(handler); }
