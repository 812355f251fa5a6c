#pragma once
#include <windows.h>

#include <cstdint>

// One captured frame of the faulting thread.
struct TraceFrame {
  char functionName[1024];
  char sourceFile[1024];  // or the line-lookup error text
  uint32_t line;
};

const int kMaxTraceFrames = 128;

// The last walk's frames and the first frame of the product's own sources,
// which names the failure in the report's subject. Process-wide, used by
// the report thread only.
struct TraceState {
  TraceFrame frames[kMaxTraceFrames];
  int frameCount;
  int ownFrameCount;
  char firstOwnFile[1024];  // shortened, as gen\Str.cpp; empty when none
  uint32_t firstOwnLine;
  char firstOwnFunction[1024];
};

extern TraceState traceState;

// The folders where the symbol handler looks: the product's libraries'
// folders, the executable's and the current one, joined by ";".
const char* BuildSymbolSearchPath();
// Loads and starts the symbol handler; false when it would not start.
bool StartSymbols(const char* searchPath);
// Closes and unloads the symbol handler, if it was loaded.
void StopSymbols();
void CaptureStackTrace(HANDLE process, CONTEXT* context);
// Write the report header and the frame lines into the report text.
const char* FormatOwnFrames(DWORD code, const EXCEPTION_RECORD* record);
const char* FormatAllFrames(DWORD code, const EXCEPTION_RECORD* record);
// The report text when the symbol handler would not start.
const char* FormatTraceFailure(DWORD lastError, const char* searchPath,
                               const EXCEPTION_RECORD* record);

bool IsOwnSourceFile(const char* path);
// "D:\src\gen\Str.cpp" -> "gen\Str.cpp"; a path without two usable
// backslashes stays whole. Returns a pointer into `path`.
const char* ShortenSourcePath(const char* path);
