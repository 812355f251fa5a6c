#include "gen/err/ExceptionText.h"

#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

struct CodeText {
  DWORD code;
  const char* text;
};

const CodeText kCodeTexts[] = {
    {kOutOfMemory, "Not enough memory"},
    {kRecognizerInitTimeout, "NARVSDK Init Timeout"},
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
    {kThrowException, "Unhandled structured exception (throw)"},
};

struct SignalText {
  int signal;
  const char* text;
};

const SignalText kSignalTexts[] = {
    {2, "CTRL+C signal (SIGINT)"},
    {4, "Illegal instruction (SIGILL)"},
    {8, "FPU error (SIGFPE)"},
    {11, "Illegal storage access (SIGSEGV)"},
    {15, "Termination request (SIGTERM)"},
    {21, "Ctrl-Break sequence (SIGBREAK)"},
    {22, "Abnormal termination (SIGABRT)"},
};

const DWORD kAccessViolation = 0xC0000005;
char formattedText[1024];
char signalText[1024];

const char* DescribeAccessViolation(const EXCEPTION_RECORD* record) {
  if (record->NumberParameters >= 2) {
    ULONG_PTR kind = record->ExceptionInformation[0];
    unsigned address = static_cast<unsigned>(record->ExceptionInformation[1]);
    if (kind == 1) {
      _snprintf_s(formattedText, sizeof formattedText, _TRUNCATE,
                  "Attempt to write at 0x%08X", address);
      return formattedText;
    }
    if (kind == 0) {
      _snprintf_s(formattedText, sizeof formattedText, _TRUNCATE,
                  "Attempt to read at 0x%08X", address);
      return formattedText;
    }
  }
  return "Access violation";
}

}  // namespace

const char* DescribeException(const EXCEPTION_RECORD* record) {
  DWORD code = record->ExceptionCode;
  if (code == kInternalError)
    return reinterpret_cast<const char*>(record->ExceptionInformation[0]);
  if (code == kAccessViolation) return DescribeAccessViolation(record);
  for (const CodeText& entry : kCodeTexts)
    if (entry.code == code) return entry.text;
  _snprintf_s(formattedText, sizeof formattedText, _TRUNCATE, "unknown 0x%08X",
              static_cast<unsigned>(code));
  return formattedText;
}

const char* DescribeSignal(int signal) {
  for (const SignalText& entry : kSignalTexts)
    if (entry.signal == signal) return entry.text;
  return "Unknown signal";
}

void OnSignal(int signal) {
  strncpy(signalText, DescribeSignal(signal), sizeof signalText - 1);
  ULONG_PTR argument = reinterpret_cast<ULONG_PTR>(signalText);
  RaiseException(kInternalError, 0, 1, &argument);
}
