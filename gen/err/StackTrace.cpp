#include "gen/err/StackTrace.h"

#include <dbghelp.h>
#include <tlhelp32.h>

#include <cstring>

#include "gen/err/CrashReport.h"
#include "gen/err/ExceptionText.h"
#include "mania/Bounded.h"

TraceState traceState;

namespace {

const char* const kOwnFolders[] = {
    "\\com\\",    "\\dia\\",    "\\gen\\",           "\\kle\\",          "\\mania\\",
    "\\sdk\\",    "\\setup\\",  "\\tracedtapi\\",    "\\accessibility\\", "\\narv\\",
    "\\helper\\", "\\minhook\\", "\\tinyxml\\",      "\\ware\\",
};
// The guard's and the error frames' own sources: listing them would name
// the raise routine instead of the code that failed.
const char kGuardFolder[] = "\\gen\\err\\";
const DWORD kLoadLineNumbers = 0x10;
const uint32_t kMaxSymbolName = 2000;
// Room kept at the report's end for the line that counts the frames left
// out, so that a deep stack with long paths still gives a whole report.
const uint32_t kOmittedLineRoom = 32;

// The symbol handler is loaded when a report needs it, from the system's
// folder: a program that never fails does not pay for it at start, and no
// file of its name elsewhere is ever loaded.
struct SymbolHandler {
  HMODULE module;
  decltype(&SymSetOptions) setOptions;
  decltype(&SymInitialize) initialize;
  decltype(&SymCleanup) cleanup;
  decltype(&StackWalk64) stackWalk;
  decltype(&SymFunctionTableAccess64) functionTableAccess;
  decltype(&SymGetModuleBase64) getModuleBase;
  decltype(&SymFromAddr) fromAddress;
  decltype(&SymGetLineFromAddr64) lineFromAddress;
} symbols;

template <typename Function>
bool Resolve(Function* function, const char* name) {
  *function = reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(symbols.module, name)));
  return *function != nullptr;
}

bool LoadSymbolHandler() {
  if (symbols.module) return true;
  char path[MAX_PATH + 16];
  UINT length = GetSystemDirectoryA(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  lstrcatA(path, "\\dbghelp.dll");
  symbols.module = LoadLibraryA(path);
  if (!symbols.module) return false;
  bool complete = Resolve(&symbols.setOptions, "SymSetOptions") &&
                  Resolve(&symbols.initialize, "SymInitialize") &&
                  Resolve(&symbols.cleanup, "SymCleanup") &&
                  Resolve(&symbols.stackWalk, "StackWalk64") &&
                  Resolve(&symbols.functionTableAccess, "SymFunctionTableAccess64") &&
                  Resolve(&symbols.getModuleBase, "SymGetModuleBase64") &&
                  Resolve(&symbols.fromAddress, "SymFromAddr") &&
                  Resolve(&symbols.lineFromAddress, "SymGetLineFromAddr64");
  if (!complete) {
    FreeLibrary(symbols.module);
    symbols.module = nullptr;
    SetLastError(ERROR_PROC_NOT_FOUND);
  }
  return complete;
}

char searchPath[4096];
char lineScratch[8192];

// The folder of a file path: everything before its last backslash.
void CutAtLastBackslash(char* path) {
  char* last = strrchr(path, '\\');
  if (last) *last = 0;
}

// The folder of a product library, only when the process has it loaded:
// its symbols matter only then. Loading it by name here would run whatever
// file of that name lies in the current folder. Loaded modules are matched
// by their file's name, wherever they were loaded from.
void LoadedLibraryFolder(const char* name, char* folder, uint32_t size) {
  folder[0] = 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return;
  MODULEENTRY32 module;
  module.dwSize = sizeof module;
  for (BOOL more = Module32First(snapshot, &module); more; more = Module32Next(snapshot, &module)) {
    if (lstrcmpiA(module.szModule, name) != 0) continue;
    if (BoundedCopy(folder, size, module.szExePath) == kBoundedOk)
      CutAtLastBackslash(folder);
    else
      folder[0] = 0;
    break;
  }
  CloseHandle(snapshot);
}

void AppendFolder(const char* folder, const char* separator) {
  if (!folder[0]) return;
  AppendOrFail(searchPath, sizeof searchPath, folder);
  AppendOrFail(searchPath, sizeof searchPath, separator);
}

// A name or path longer than its field is cut, with a mark that says so:
// a report is never lost to a long name.
void CopyCut(char* dest, uint32_t capacity, const char* source) {
  MarkIfTruncated(BoundedCopy(dest, capacity, source), dest, capacity);
}

void RecordFrame(HANDLE process, DWORD64 address, TraceFrame* frame) {
  memset(frame, 0, sizeof *frame);
  static unsigned char symbolSpace[sizeof(SYMBOL_INFO) + kMaxSymbolName];
  memset(symbolSpace, 0, sizeof symbolSpace);
  SYMBOL_INFO* symbol = reinterpret_cast<SYMBOL_INFO*>(symbolSpace);
  symbol->SizeOfStruct = sizeof(SYMBOL_INFO);
  symbol->MaxNameLen = kMaxSymbolName;
  DWORD64 displacement = 0;
  if (symbols.fromAddress(process, address, &displacement, symbol))
    CopyCut(frame->functionName, sizeof frame->functionName, symbol->Name);
  IMAGEHLP_LINE64 line;
  memset(&line, 0, sizeof line);
  line.SizeOfStruct = sizeof line;
  DWORD lineDisplacement = 0;
  if (symbols.lineFromAddress(process, address, &lineDisplacement, &line)) {
    CopyCut(frame->sourceFile, sizeof frame->sourceFile, line.FileName);
    frame->line = line.LineNumber;
  } else {
    FormatOrFail(frame->sourceFile, sizeof frame->sourceFile,
                 "SymGetLineFromAddr64 error: %d", static_cast<int>(GetLastError()));
  }
}

// False, with nothing appended, when the line would not leave room for the
// closing count of frames left out.
bool AppendFrameLine(const char* file, const TraceFrame& frame) {
  FormatOrFail(lineScratch, sizeof lineScratch, "%s: (%d) [%s]\r\n", file,
               static_cast<int>(frame.line), frame.functionName);
  if (strlen(reportText) + strlen(lineScratch) + kOmittedLineRoom >= kReportSize) return false;
  AppendToReport(lineScratch);
  return true;
}

void AppendOmittedCount(int omitted) {
  if (omitted == 0) return;
  FormatOrFail(lineScratch, sizeof lineScratch, "... %d more frames\r\n", omitted);
  AppendToReport(lineScratch);
}

bool HasNameOrFile(const TraceFrame& frame) {
  return frame.functionName[0] || frame.sourceFile[0];
}

}  // namespace

bool IsOwnSourceFile(const char* path) {
  if (strstr(path, kGuardFolder)) return false;
  for (const char* folder : kOwnFolders)
    if (strstr(path, folder)) return true;
  return false;
}

const char* ShortenSourcePath(const char* path) {
  const char* last = strrchr(path, '\\');
  if (!last || last - path < 2) return path;
  for (const char* before = last - 1; before - path >= 1; --before)
    if (*before == '\\') return before + 1;
  return path;
}

const char* BuildSymbolSearchPath() {
  char executableFolder[1024];
  GetModuleFileNameA(nullptr, executableFolder, sizeof executableFolder);
  CutAtLastBackslash(executableFolder);
  char comFolder[1024];
  char sdkFolder[1024];
  LoadedLibraryFolder("NARVCOM.DLL", comFolder, sizeof comFolder);
  LoadedLibraryFolder("NARVSDK.DLL", sdkFolder, sizeof sdkFolder);
  char currentFolder[1024];
  if (!GetCurrentDirectoryA(sizeof currentFolder, currentFolder)) currentFolder[0] = 0;
  searchPath[0] = 0;
  AppendFolder(comFolder, ";");
  AppendFolder(sdkFolder, ";");
  AppendFolder(executableFolder, ";");
  AppendFolder(currentFolder, "");
  return searchPath;
}

bool StartSymbols(const char* path) {
  if (!LoadSymbolHandler()) return false;
  symbols.setOptions(kLoadLineNumbers);
  return symbols.initialize(GetCurrentProcess(), path, TRUE) != FALSE;
}

namespace {

// One step up the frame-pointer chain from `frame`: the saved frame pointer
// and the return address sit at the frame pointer. False when they do not
// lead upwards, which ends the walk.
bool StepByFramePointer(HANDLE process, STACKFRAME64* frame, CONTEXT* context) {
  DWORD saved[2];  // the caller's frame pointer, then the return address
  SIZE_T read = 0;
  DWORD framePointer = static_cast<DWORD>(frame->AddrFrame.Offset);
  if (!framePointer ||
      !ReadProcessMemory(process, reinterpret_cast<const void*>(framePointer), saved,
                         sizeof saved, &read) ||
      read != sizeof saved || saved[0] <= framePointer || !saved[1])
    return false;
  frame->AddrPC.Offset = saved[1];
  frame->AddrFrame.Offset = saved[0];
  frame->AddrStack.Offset = framePointer + 2 * sizeof(DWORD);
  context->Eip = saved[1];
  context->Ebp = saved[0];
  context->Esp = framePointer + 2 * sizeof(DWORD);
  return true;
}

bool SameFrame(const STACKFRAME64& a, const STACKFRAME64& b) {
  return a.AddrPC.Offset == b.AddrPC.Offset && a.AddrFrame.Offset == b.AddrFrame.Offset;
}

}  // namespace

void StopSymbols() {
  if (!symbols.module) return;
  symbols.cleanup(GetCurrentProcess());
  FreeLibrary(symbols.module);
  symbols.module = nullptr;
}

void CaptureStackTrace(HANDLE process, CONTEXT* context) {
  STACKFRAME64 frame;
  memset(&frame, 0, sizeof frame);
  frame.AddrPC.Offset = context->Eip;
  frame.AddrPC.Mode = AddrModeFlat;
  frame.AddrStack.Offset = context->Esp;
  frame.AddrStack.Mode = AddrModeFlat;
  frame.AddrFrame.Offset = context->Ebp;
  frame.AddrFrame.Mode = AddrModeFlat;
  traceState.frameCount = 0;
  HANDLE thread = GetCurrentThread();
  STACKFRAME64 previous;
  while (traceState.frameCount < kMaxTraceFrames &&
         symbols.stackWalk(IMAGE_FILE_MACHINE_I386, process, thread, &frame, context, nullptr,
                           symbols.functionTableAccess, symbols.getModuleBase, nullptr)) {
    // For a module whose symbols carry no frame data the walker can hand
    // back the frame it started from; the frame pointers still lead on.
    if (traceState.frameCount > 0 && SameFrame(frame, previous)) {
      frame = previous;
      if (!StepByFramePointer(process, &frame, context)) break;
    }
    RecordFrame(process, frame.AddrPC.Offset, &traceState.frames[traceState.frameCount]);
    ++traceState.frameCount;
    previous = frame;
  }
}

const char* FormatOwnFrames(DWORD, const EXCEPTION_RECORD* record) {
  WriteReportHeader(DescribeException(record));
  traceState.ownFrameCount = 0;
  traceState.firstOwnFile[0] = 0;
  traceState.firstOwnFunction[0] = 0;
  traceState.firstOwnLine = 0;
  int omitted = 0;
  for (int i = 0; i < traceState.frameCount; ++i) {
    const TraceFrame& frame = traceState.frames[i];
    if (!HasNameOrFile(frame) || !IsOwnSourceFile(frame.sourceFile)) continue;
    const char* shortPath = ShortenSourcePath(frame.sourceFile);
    if (traceState.ownFrameCount++ == 0) {
      CopyOrFail(traceState.firstOwnFile, sizeof traceState.firstOwnFile, shortPath);
      CopyOrFail(traceState.firstOwnFunction, sizeof traceState.firstOwnFunction,
                 frame.functionName);
      traceState.firstOwnLine = frame.line;
    }
    if (omitted || !AppendFrameLine(shortPath, frame)) ++omitted;
  }
  AppendOmittedCount(omitted);
  return reportText;
}

const char* FormatAllFrames(DWORD, const EXCEPTION_RECORD* record) {
  WriteReportHeader(DescribeException(record));
  int omitted = 0;
  for (int i = 0; i < traceState.frameCount; ++i) {
    const TraceFrame& frame = traceState.frames[i];
    if (!HasNameOrFile(frame)) continue;
    if (omitted || !AppendFrameLine(frame.sourceFile, frame)) ++omitted;
  }
  AppendOmittedCount(omitted);
  return reportText;
}

const char* FormatTraceFailure(DWORD lastError, const char* path,
                               const EXCEPTION_RECORD* record) {
  FormatOrFail(reportText, kReportSize,
               "Can't initialize stack tracing. LastError=%d(0X%08X)\r\nSearch path: %s\r\n"
               " Exception code:%X\r\nException Address: %X\r\n",
               static_cast<int>(lastError), static_cast<unsigned>(lastError), path,
               static_cast<unsigned>(record->ExceptionCode),
               static_cast<unsigned>(reinterpret_cast<uintptr_t>(record->ExceptionAddress)));
  return reportText;
}
