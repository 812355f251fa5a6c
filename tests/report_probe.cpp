// A guarded windowed program that runs one step of the crash report on
// request, for the tests to watch from outside:
//   dialog | console        asks about kProbeReport; the exit code answers
//   report-overflow         appends one character past the report's end
//   open-in-process <address>, open-without-handler <address>
//                           opens the address with the URL module loaded, or
//                           with one that lacks the handler
// An observer placed before the guard prints the code of each structured
// exception; WinExec is recorded instead of run.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "gen/err/CrashReport.h"
#include "gen/err/ReportSubmit.h"
#include "gen/err/errgpfse.h"
#include "report_probe.h"

namespace {

void Say(const std::string& line) {
  std::string text = line + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), text.size(), &written, nullptr);
}

LONG CALLBACK Observe(EXCEPTION_POINTERS* pointers) {
  char line[32];
  snprintf(line, sizeof line, "code=%08lX", pointers->ExceptionRecord->ExceptionCode);
  Say(line);
  return EXCEPTION_CONTINUE_SEARCH;
}

UINT WINAPI RecordWinExec(LPCSTR commandLine, UINT show) {
  Say("WinExec " + std::to_string(show) + " " + commandLine);
  return ERROR_FILE_NOT_FOUND;
}

// Points this program's import of `function` at `replacement`.
bool ReplaceImport(const char* function, const void* replacement) {
  BYTE* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
  IMAGE_NT_HEADERS* headers = reinterpret_cast<IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
  IMAGE_IMPORT_DESCRIPTOR* library = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(
      base + headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
  for (; library->Name; ++library) {
    IMAGE_THUNK_DATA* name = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->OriginalFirstThunk);
    IMAGE_THUNK_DATA* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
    for (; name->u1.AddressOfData; ++name, ++slot) {
      if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal) ||
          strcmp(reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData)->Name,
                 function) != 0)
        continue;
      DWORD protection = 0;
      VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection);
      slot->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
      VirtualProtect(slot, sizeof *slot, protection, &protection);
      return true;
    }
  }
  return false;
}

int Open(const char* urlModule, const char* address) {
  if (!ReplaceImport("WinExec", reinterpret_cast<const void*>(RecordWinExec))) return 3;
  // As the guard does when a failure begins.
  guardState.urlModule = LoadLibraryA(urlModule);
  OpenReportAddress(address, "", "%s", "");
  Say(!guardState.urlModule && !GetModuleHandleA(urlModule) ? "released" : "kept");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  AddVectoredExceptionHandler(1, Observe);
  std::string action = argc > 1 ? argv[1] : "";
  guardState.consoleMode = action != "dialog";
  if (action == "dialog" || action == "console")
    return AskToSendReport(kProbeReport) ? kProbeSend : kProbeKeep;
  if (action == "report-overflow") {
    WriteReportHeader("Breakpoint");
    AppendToReport(std::string(kReportSize - strlen(reportText), 'x').c_str());
  }
  if (action == "open-in-process" && argc > 2) return Open("url.dll", argv[2]);
  if (action == "open-without-handler" && argc > 2) return Open("msimg32.dll", argv[2]);
  return 3;
}
