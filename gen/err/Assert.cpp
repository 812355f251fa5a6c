#include <windows.h>

#include <cstdio>
#include <cstring>

#include "gen/err/Err.h"
#include "gen/err/ExceptionText.h"

const char kAssertTemplate[] =
    "Internal error. Trap to the debugger(Y/N)?\nAssertion failed at '%s' line %d\n";
const char kCheckTemplate[] =
    "Internal error. Trap to the debugger(Y/N)\nCheck failed at '%s' line %d";
const char kSignalTemplate[] =
    "Internal error. Trap to the debugger(Y/N)\nAborted by signal '%s'\n";
const char kGpfTemplate[] =
    "Internal error. Trap to the debugger(Y/N)\nGeneral Protection Fault '%s' occured at 0x%08X\n";
const char kNotImplementedTemplate[] =
    "Internal error\nAttempt to use non implemented feature at '%s' line %d";
const char kDoubleNestedTemplate[] =
    "Internal double nested error. Trap to the debugger(Y/N)\nFirst: { %s\n}\nNested: { %s\n}";
const char kTripleNestedTemplate[] = "Internal triple nested error. Cannot refine details";

bool interactiveNestedPrompt = true;

namespace {

const DWORD kDebuggerHoldMs = 170;
char assertedText[1024];

bool IsInternal(ErrTemplate errTemplate) {
  return errTemplate == kAssertTemplate || errTemplate == kCheckTemplate ||
         errTemplate == kSignalTemplate || errTemplate == kGpfTemplate ||
         errTemplate == kNotImplementedTemplate;
}

bool IsNested(ErrTemplate errTemplate) {
  return errTemplate == kDoubleNestedTemplate || errTemplate == kTripleNestedTemplate;
}

}  // namespace

void ErrAssert(const char* module, int line) { ErrRaise(kAssertTemplate, module, line); }

void ErrAssertFailed(const char* module, int line) {
  ErrRaise(kAssertTemplate, module, line);
}

void ErrCheck(const char* module, int line) { ErrRaise(kCheckTemplate, module, line); }

void ErrNotImplemented(const char* module, int line) {
  ErrRaise(kNotImplementedTemplate, module, line);
}

void ErrGpf(const char* name, uint32_t address) {
  ErrRaise(kGpfTemplate, name, static_cast<unsigned>(address));
}

bool ErrDecide(ErrTemplate errTemplate, const char* text) {
  if (IsNested(errTemplate) && interactiveNestedPrompt) {
    fputs(text, stderr);
    return !AskTrapToDebugger();
  }
  if (IsInternal(errTemplate)) {
    strcpy(assertedText, "Asserted");
    ULONG_PTR argument = reinterpret_cast<ULONG_PTR>(assertedText);
    RaiseException(kInternalError, 0, 1, &argument);
  }
  return true;
}

bool ErrPrint(ErrTemplate errTemplate, const char* text) {
  if (errTemplate && !IsInternal(errTemplate) && !IsNested(errTemplate))
    fputs(text, stderr);
  return true;
}

// With nothing to read (no console, end of input) the answer is "do not
// break": a program without a console must not stop at a breakpoint.
bool AskTrapToDebugger() {
  fputs("\n?", stderr);
  fflush(stderr);
  char answer = 'n';
  if (scanf("%c", &answer) != 1) return false;
  if (answer == 'n' || answer == 'N') return false;
  DWORD start = GetTickCount();
  DebugBreak();
  return GetTickCount() - start > kDebuggerHoldMs;
}
