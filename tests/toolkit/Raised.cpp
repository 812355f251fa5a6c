#include "toolkit/Raised.h"

namespace {

Raised current;

// Only the system's own continuable codes are resumed; faults go on.
LONG CALLBACK RecordRaise(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  if (record->ExceptionCode != 101 && record->ExceptionCode != 9998 &&
      record->ExceptionCode != 0x80000002)
    return EXCEPTION_CONTINUE_SEARCH;
  if (current.count++ == 0) {
    current.code = record->ExceptionCode;
    if (record->ExceptionCode == 101 && record->NumberParameters >= 1)
      current.text = reinterpret_cast<const char*>(record->ExceptionInformation[0]);
  }
  return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

namespace raised_detail {
Raised& Current() { return current; }
PVOID Install() { return AddVectoredExceptionHandler(1, RecordRaise); }
void Remove(PVOID handler) { RemoveVectoredExceptionHandler(handler); }
}  // namespace raised_detail
