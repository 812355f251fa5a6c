#include "gen/err/FaultFlow.h"

#include <cstdio>
#include <typeinfo>

#include "gen/InitOrder.h"
#include "gen/err/CrashReport.h"
#include "gen/err/Err.h"
#include "gen/err/ExceptionText.h"
#include "gen/err/ReportSubmit.h"
#include "gen/err/StackTrace.h"
#include "gen/err/errgpfse.h"
#include "mania/Winver.h"

namespace {

struct ModuleHandleRecord {
  ModuleHandleRecord() { moduleHandle = GetModuleHandleA(nullptr); }
};

const DWORD kDebuggerOutput = 0x40010006;
const DWORD kSingleStep = 0x80000004;
const DWORD kRpcServerUnavailable = 1722;
const DWORD kRpcFailed = 0x800706BE;
const DWORD kBreakpoint = 0x80000003;
const DWORD kUnwindConsolidate = 0xC0000027;
const DWORD kMutexOpenAccess = 0x1F0001;
const DWORD kStackOverflow = 0xC00000FD;

char reportBuffer[8192];

void ReleaseReserve() {
  if (guardState.reserveBlock && guardState.privateHeap)
    HeapFree(guardState.privateHeap, 0, guardState.reserveBlock);
  guardState.reserveBlock = nullptr;
  ReleaseAddressReserve();
}

// The thread that holds the handler (0: none) and the thread doing work for
// it. A failure on either is a failure of the handling itself; a failure on
// any other thread waits its turn.
volatile LONG handlerOwner;
volatile LONG handlerHelper;
const DWORD kTurnPollMs = 10;

// The faulting thread's stack may be nearly gone: the work runs on a
// fresh thread while this one waits. The thread is known as the helper
// before it runs a single instruction.
void RunOnFreshThread(LPTHREAD_START_ROUTINE routine) {
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, routine, nullptr, CREATE_SUSPENDED, &id);
  if (!thread) {
    routine(nullptr);
    return;
  }
  InterlockedExchange(&handlerHelper, static_cast<LONG>(id));
  ResumeThread(thread);
  WaitForSingleObject(thread, INFINITE);
  InterlockedCompareExchange(&handlerHelper, 0, static_cast<LONG>(id));
  CloseHandle(thread);
}

bool IsHandlingThread(LONG self) { return handlerOwner == self || handlerHelper == self; }

// Several threads often fail at once (a corrupted heap, memory gone): the
// first one is reported and the others wait here until the process ends
// with that report. A handler given back (a code passed on, a foreign host)
// lets the next one in.
void TakeHandler(LONG self) {
  while (InterlockedCompareExchange(&handlerOwner, self, 0) != 0) Sleep(kTurnPollMs);
}

// The console shows the title only where it carries information.
void ShowMessage(const char* title, const char* text, UINT style, bool titleOnConsole) {
  if (guardState.consoleMode) {
    if (titleOnConsole) fputs(title, stderr);
    fputs(text, stderr);
    fflush(stderr);
  } else {
    MessageBoxA(nullptr, text, title, style);
  }
}

// A process that merely hosts the library (its main module is not ours)
// handles only failures of the product's own processes, which are marked
// by a mutex named after their main module.
bool RaisedInForeignHost(DWORD code) {
  HMODULE main = GetModuleHandleA(nullptr);
  if (main == moduleHandle || code == kRecognizerInitTimeout) return false;
  char name[64];
  _snprintf_s(name, sizeof name, _TRUNCATE, "%X_%s",
              static_cast<unsigned>(reinterpret_cast<uintptr_t>(main)), kCaptureMutex);
  HANDLE mutex = OpenMutexA(kMutexOpenAccess, FALSE, name);
  if (mutex) {
    CloseHandle(mutex);
    return false;
  }
  return GetLastError() == ERROR_FILE_NOT_FOUND;
}

// A throw made visible to the guard carries the thrown type as its third
// argument; a record without one (a rethrow) is treated as fatal. The type
// is compared by address only: a record raised by other code may carry
// anything there, and the handler must not fault reading it.
bool IsThrownErrFrame(const EXCEPTION_RECORD* record) {
  if (record->NumberParameters < 3) return false;
  return record->ExceptionInformation[2] == reinterpret_cast<ULONG_PTR>(&typeid(ErrFrame));
}

[[noreturn]] void ShowErrFrameAndEnd(const EXCEPTION_RECORD* record) {
  char title[1024];
  _snprintf_s(title, sizeof title, _TRUNCATE, "%s %s error", productInfo.name,
              productInfo.version);
  const ErrFrame* frame = reinterpret_cast<const ErrFrame*>(record->ExceptionInformation[0]);
  const char* message = frame->Message().Text() ? frame->Message().Text() : "";
  ShowMessage(title, message, MB_ICONERROR, true);
  guardState.inHandler = false;
  TerminateAfterFailure();
}

// Loads the URL handler, records the application path and runs the
// foreign-host test. After a stack overflow the faulting thread has almost
// no stack left and dies silently in any of these calls, so the work is
// then done on a fresh thread.
char applicationPathScratch[1024];
bool foreignHost;

DWORD WINAPI PrepareHandling(LPVOID) {
  DWORD length = GetModuleFileNameA(nullptr, applicationPathScratch,
                                    sizeof applicationPathScratch);
  lstrcpynA(guardState.applicationPath, applicationPathScratch,
            length < sizeof applicationPathScratch ? length + 1
                                                   : sizeof applicationPathScratch);
  foreignHost = RaisedInForeignHost(guardState.exceptionPointers->ExceptionRecord->ExceptionCode);
  return 0;
}

DWORD WINAPI LoadUrlModule(LPVOID) {
  guardState.urlModule = LoadLibraryA("url.dll");
  return 0;
}

void RunWhereStackIs(DWORD code, LPTHREAD_START_ROUTINE routine) {
  if (code == kStackOverflow)
    RunOnFreshThread(routine);
  else
    routine(nullptr);
}

LONG PassOn() {
  guardState.inHandler = false;
  InterlockedExchange(&handlerOwner, 0);
  return EXCEPTION_CONTINUE_SEARCH;
}

// Codes that are no failure: passed on by any thread without taking the
// handler, so that they never wait behind another thread's report (that
// thread keeps running, as every other thread does during a report).
bool IsPassedOn(const EXCEPTION_RECORD* record) {
  DWORD code = record->ExceptionCode;
  return code == kDebuggerOutput || code == kSingleStep || code == kRpcServerUnavailable ||
         code == kRpcFailed || code == kBreakpoint || code == kUnwindConsolidate ||
         (code == kThrowException && IsThrownErrFrame(record));
}

[[noreturn]] void ReportNestedAndEnd(EXCEPTION_POINTERS* pointers) {
  guardState.exceptionPointers = pointers;
  ReleaseReserve();
  RunOnFreshThread(ReportNestedFailure);
  TerminateAfterFailure();
}

}  // namespace

// Null until recorded: a failure before that counts as a foreign host's.
HMODULE moduleHandle;
ModuleHandleRecord moduleHandleRecord INIT_ORDER_MODULE_HANDLE;

LONG CALLBACK OnStructuredException(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  DWORD code = record->ExceptionCode;
  LONG self = static_cast<LONG>(GetCurrentThreadId());
  if (IsHandlingThread(self)) ReportNestedAndEnd(pointers);
  if (IsPassedOn(record)) return EXCEPTION_CONTINUE_SEARCH;
  TakeHandler(self);
  RunWhereStackIs(code, LoadUrlModule);
  guardState.exceptionPointers = pointers;
  guardState.inHandler = true;
  RunWhereStackIs(code, PrepareHandling);
  if (foreignHost) return PassOn();
  if (code == kErrFrameException) ShowErrFrameAndEnd(record);

  ReleaseReserve();
  RunOnFreshThread(ProduceCrashReport);
  guardState.inHandler = false;
  TerminateAfterFailure();
}

namespace {

void TraceIntoReport(const EXCEPTION_RECORD* record, CONTEXT* context) {
  const char* searchPath = BuildSymbolSearchPath();
  if (!StartSymbols(searchPath)) {
    FormatTraceFailure(GetLastError(), searchPath, record);
    return;
  }
  CaptureStackTrace(GetCurrentProcess(), context);
  FormatOwnFrames(record->ExceptionCode, record);
  if (traceState.ownFrameCount == 0) FormatAllFrames(record->ExceptionCode, record);
}

}  // namespace

DWORD WINAPI ProduceCrashReport(LPVOID) {
  const EXCEPTION_RECORD* record = guardState.exceptionPointers->ExceptionRecord;
  // Asked here, on the fresh thread: the faulting one may have no stack left.
  DescribeWindowsForReport(guardState.osDescription, sizeof guardState.osDescription);
  traceState.firstOwnFile[0] = 0;
  TraceIntoReport(record, guardState.exceptionPointers->ContextRecord);
  const char* subject = FormatSubject(DescribeException(record));
  const char* address = BuildReportAddress(subject, reportText);
  if (AskToSendReport(reportText)) OpenReportAddress(address, "", "%s", "");
  StopSymbols();
  TerminateAfterFailure();
}

DWORD WINAPI ReportNestedFailure(LPVOID) {
  const EXCEPTION_RECORD* record = guardState.exceptionPointers->ExceptionRecord;
  _snprintf_s(reportBuffer, sizeof reportBuffer, _TRUNCATE,
              "Application %s\r\nNested exception occured.\r\n Exception code:%X\r\n"
              "Exception Address: %X\r\n",
              guardState.applicationPath, static_cast<unsigned>(record->ExceptionCode),
              static_cast<unsigned>(reinterpret_cast<uintptr_t>(record->ExceptionAddress)));
  ShowMessage("Unrecoverable Error", reportBuffer, MB_OK, false);
  TerminateAfterFailure();
}
