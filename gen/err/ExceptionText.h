#pragma once
#include <windows.h>

// The system's own structured-exception codes.
const DWORD kErrFrameException = 100;   // one argument: the ErrFrame
const DWORD kInternalError = 101;       // one argument: the message text
const DWORD kOutOfMemory = 9998;
const DWORD kRecognizerInitTimeout = 9999;
// What a throw expression raises once it is made visible to the guard.
const DWORD kThrowException = 0xE06D7363;
const DWORD kInvalidParameterException = 0x80000002;
const DWORD kIllegalInstructionException = 0xC000001D;

// One short English text for a failure. The result is a constant, the
// message of code 101, or a process-wide buffer valid until the next call.
const char* DescribeException(const EXCEPTION_RECORD* record);
const char* DescribeSignal(int signal);

// Installed for the runtime's signals: raises 101 with the signal's text.
void OnSignal(int signal);
