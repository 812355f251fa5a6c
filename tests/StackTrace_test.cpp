#include "gen/err/StackTrace.h"

#include <gtest/gtest.h>

#include <dbghelp.h>

#include <cstring>
#include <string>

#include "gen/err/CrashReport.h"
#include "gen/err/errgpfse.h"
#include "toolkit/Probe.h"
#include "toolkit/WinTest.h"

TEST(StackTrace, ShortPathsKeepTheLastFolderAndTheFile) {
  const struct {
    const char* path;
    const char* shortened;
  } cases[] = {
      {"D:\\src\\gen\\Str.cpp", "gen\\Str.cpp"},
      {"..\\gen\\Str.cpp", "gen\\Str.cpp"},
      {"\\gen\\x.cpp", "\\gen\\x.cpp"},
      {"C:\\x.cpp", "C:\\x.cpp"},
      {"x.cpp", "x.cpp"},
      {"Z:\\a\\b\\c\\mania\\run.cpp", "mania\\run.cpp"},
  };
  for (const auto& c : cases) EXPECT_STREQ(c.shortened, ShortenSourcePath(c.path)) << c.path;
}

TEST(StackTrace, OwnFramesAreTheProductsSourcesButNotTheGuards) {
  EXPECT_TRUE(IsOwnSourceFile("Z:\\w\\gen\\Str.cpp"));
  EXPECT_TRUE(IsOwnSourceFile("Z:\\w\\mania\\run.cpp"));
  EXPECT_TRUE(IsOwnSourceFile("C:\\b\\narv\\x.cpp"));
  EXPECT_FALSE(IsOwnSourceFile("Z:\\w\\gen\\err\\Err.cpp"));
  EXPECT_FALSE(IsOwnSourceFile("Z:\\w\\tests\\Str_test.cpp"));
  EXPECT_FALSE(IsOwnSourceFile("C:\\cwd\\dlls\\kernelbase\\debug.c"));
  EXPECT_FALSE(IsOwnSourceFile("Z:\\w\\GEN\\Str.cpp"));
  EXPECT_FALSE(IsOwnSourceFile("SymGetLineFromAddr64 error: 2"));
}

namespace {

void SetFrame(int index, const char* name, const char* file, uint32_t line) {
  TraceFrame& frame = traceState.frames[index];
  strcpy(frame.functionName, name);
  strcpy(frame.sourceFile, file);
  frame.line = line;
}

EXCEPTION_RECORD Breakpoint() {
  EXCEPTION_RECORD record = {};
  record.ExceptionCode = EXCEPTION_BREAKPOINT;
  record.ExceptionAddress = reinterpret_cast<PVOID>(0x401000);
  return record;
}

std::string Header() {
  return "Product 0.01 exception: Breakpoint\r\nApplication: " +
         std::string(guardState.applicationPath) + "\r\nOS: \r\n" + std::string(66, '-') +
         "\r\n";
}

}  // namespace

TEST(StackTrace, ReportListsOwnFramesShortenedAndNamesTheFirst) {
  SetFrame(0, "ErrAssert", "Z:\\w\\gen\\err\\Assert.cpp", 60);
  SetFrame(1, "", "", 0);
  SetFrame(2, "MemFree", "Z:\\w\\gen\\Memwing.cpp", 34);
  SetFrame(3, "", "SymGetLineFromAddr64 error: 2", 0);
  SetFrame(4, "WinMain", "Z:\\w\\mania\\run.cpp", 99);
  traceState.frameCount = 5;
  EXCEPTION_RECORD record = Breakpoint();
  EXPECT_EQ(Header() + "gen\\Memwing.cpp: (34) [MemFree]\r\nmania\\run.cpp: (99) [WinMain]\r\n",
            FormatOwnFrames(record.ExceptionCode, &record));
  EXPECT_EQ(2, traceState.ownFrameCount);
  EXPECT_STREQ("gen\\Memwing.cpp", traceState.firstOwnFile);
  EXPECT_EQ(34u, traceState.firstOwnLine);
  EXPECT_STREQ("MemFree", traceState.firstOwnFunction);
}

TEST(StackTrace, WithNoOwnFrameEveryNamedFrameIsListedWhole) {
  SetFrame(0, "Fail", "Z:\\w\\tests\\probe.cpp", 7);
  SetFrame(1, "", "", 0);
  SetFrame(2, "", "SymGetLineFromAddr64 error: 2", 0);
  traceState.frameCount = 3;
  EXCEPTION_RECORD record = Breakpoint();
  FormatOwnFrames(record.ExceptionCode, &record);
  EXPECT_EQ(0, traceState.ownFrameCount);
  EXPECT_EQ(Header() + "Z:\\w\\tests\\probe.cpp: (7) [Fail]\r\n"
                       "SymGetLineFromAddr64 error: 2: (0) []\r\n",
            FormatAllFrames(record.ExceptionCode, &record));
}

TEST(StackTrace, FailureToStartTheSymbolHandlerIsTheReport) {
  EXCEPTION_RECORD record = Breakpoint();
  EXPECT_STREQ(
      "Can't initialize stack tracing. LastError=87(0X00000057)\r\nSearch path: a;b\r\n"
      " Exception code:80000003\r\nException Address: 401000\r\n",
      FormatTraceFailure(87, "a;b", &record));
}

TEST(StackTrace, SearchPathListsTheExecutablesFolderThenTheCurrentOne) {
  std::string folder = BinFolder().substr(0, BinFolder().size() - 1);
  char current[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, current);
  EXPECT_EQ(folder + ";" + current, BuildSymbolSearchPath());
}

// A product library adds its folder only when the process has loaded it;
// one of that name in the current folder of a failing program never runs.
TEST(StackTrace, ProductLibrariesAreNeverLoadedForTheSearchPath) {
  TempFolder planted;
  std::string library = planted.Path() + "\\NARVCOM.DLL";
  ASSERT_TRUE(CopyFileA((BinFolder() + "planted_dll.dll").c_str(), library.c_str(), FALSE));
  char current[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, current);
  ASSERT_TRUE(SetCurrentDirectoryA(planted.Path().c_str()));
  ProbeResult result = RunProbe("guard_probe.exe", "write-null", "n");
  SetCurrentDirectoryA(current);
  EXPECT_NE(std::string::npos, result.err.find("[Y/n]? ")) << result.err;
  EXPECT_FALSE(FileExists(planted.Path() + "\\entry.ran"));

  HMODULE loaded = LoadLibraryA(library.c_str());
  ASSERT_NE(nullptr, loaded);
  EXPECT_EQ(0u, std::string(BuildSymbolSearchPath()).find(planted.Path() + ";"))
      << BuildSymbolSearchPath();
  FreeLibrary(loaded);
}

// Without its PDB a program still reports, with the unnamed frames listed.
TEST(StackTrace, WithoutThePdbTheReportListsEveryFrameUnnamed) {
  ProbeResult result = RunProbe("guard_probe_bare.exe", "write-null", "n");
  EXPECT_EQ(0xFFFFFFFFu, result.exitCode);
  std::string err = WithoutCr(result.err);
  EXPECT_NE(std::string::npos, err.find("Product 0.01 exception: Attempt to write at 0x00000000\n"));
  EXPECT_EQ(0u, FirstFrameLine(err).find("SymGetLineFromAddr64 error: ")) << err;
  EXPECT_EQ(std::string::npos, err.find("guard_probe.cpp")) << err;
  EXPECT_NE(std::string::npos, err.find("[Y/n]? "));
}

namespace {

// Walks while the deep stack still exists.
__attribute__((noinline)) int CaptureAtDepth(int depth) {
  if (depth == 0) {
    CONTEXT context;
    RtlCaptureContext(&context);
    CaptureStackTrace(GetCurrentProcess(), &context);
    return 0;
  }
  return CaptureAtDepth(depth - 1) * 3 + 1;  // no loop can replace this recursion
}

}  // namespace

TEST(StackTrace, WalksAtMost128FramesNamingFunctionsFilesAndLines) {
  ASSERT_TRUE(StartSymbols(BuildSymbolSearchPath()));
  CaptureAtDepth(200);
  SymCleanup(GetCurrentProcess());
  EXPECT_EQ(128, traceState.frameCount);
  const TraceFrame& innermost = traceState.frames[0];
  EXPECT_NE(nullptr, strstr(innermost.functionName, "CaptureAtDepth"));
  EXPECT_NE(nullptr, strstr(innermost.sourceFile, "\\tests\\StackTrace_test.cpp"));
  EXPECT_GT(innermost.line, 0u);
}
