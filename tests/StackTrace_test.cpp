#include "gen/err/StackTrace.h"

#include <gtest/gtest.h>

#include <dbghelp.h>

#include <cstring>
#include <string>

#include "gen/err/errgpfse.h"
#include "toolkit/Probe.h"
#include "toolkit/WinTest.h"

TEST(StackTrace, ShortPathsKeepTheLastFolderAndTheFile) {
  const char* const cases[][2] = {
      {"D:\\src\\gen\\Str.cpp", "gen\\Str.cpp"}, {"..\\gen\\Str.cpp", "gen\\Str.cpp"},
      {"\\gen\\x.cpp", "\\gen\\x.cpp"},          {"C:\\x.cpp", "C:\\x.cpp"},
      {"x.cpp", "x.cpp"},                        {"Z:\\a\\b\\c\\mania\\run.cpp", "mania\\run.cpp"},
  };
  for (const auto& c : cases) EXPECT_STREQ(c[1], ShortenSourcePath(c[0])) << c[0];
}

TEST(StackTrace, OwnFramesAreTheProductsSourcesButNotTheGuards) {
  for (const char* folder : {"com", "dia", "gen", "kle", "mania", "sdk", "setup", "tracedtapi",
                             "accessibility", "narv", "helper", "minhook", "tinyxml", "ware"})
    EXPECT_TRUE(IsOwnSourceFile(("C:\\b\\" + std::string(folder) + "\\x.cpp").c_str())) << folder;
  for (const char* path : {"Z:\\w\\gen\\err\\Err.cpp", "Z:\\w\\tests\\Str_test.cpp",
                           "Z:\\w\\GEN\\Str.cpp", "SymGetLineFromAddr64 error: 2"})
    EXPECT_FALSE(IsOwnSourceFile(path)) << path;
}

// Own frames are listed shortened and the first names the failure; with no
// own frame, every frame with a name or a file is listed whole.
TEST(StackTrace, ReportListsOwnFramesOrElseEveryNamedFrame) {
  const TraceFrame frames[] = {
      {"ErrAssert", "Z:\\w\\gen\\err\\Assert.cpp", 60}, {"", "", 0},
      {"MemFree", "Z:\\w\\gen\\Memwing.cpp", 34},      {"", "SymGetLineFromAddr64 error: 2", 0},
      {"WinMain", "Z:\\w\\mania\\run.cpp", 99},        {"Fail", "Z:\\w\\tests\\probe.cpp", 7},
  };
  EXCEPTION_RECORD record = {EXCEPTION_BREAKPOINT, 0, nullptr, reinterpret_cast<PVOID>(0x401000)};
  const std::string header = "Product 0.01 exception: Breakpoint\r\nApplication: " +
                             std::string(guardState.applicationPath) + "\r\nOS: \r\n" +
                             std::string(66, '-') + "\r\n";
  auto trace = [&](std::initializer_list<int> picks) {
    traceState.frameCount = 0;
    for (int i : picks) traceState.frames[traceState.frameCount++] = frames[i];
  };
  trace({0, 1, 2, 3, 4});
  EXPECT_EQ(header + "gen\\Memwing.cpp: (34) [MemFree]\r\nmania\\run.cpp: (99) [WinMain]\r\n",
            FormatOwnFrames(record.ExceptionCode, &record));
  EXPECT_EQ(2, traceState.ownFrameCount);
  EXPECT_EQ("gen\\Memwing.cpp (34) MemFree", std::string(traceState.firstOwnFile) + " (" +
                std::to_string(traceState.firstOwnLine) + ") " + traceState.firstOwnFunction);

  trace({3, 5, 1});
  FormatOwnFrames(record.ExceptionCode, &record);
  EXPECT_EQ(0, traceState.ownFrameCount);
  EXPECT_EQ(header + "SymGetLineFromAddr64 error: 2: (0) []\r\n"
                     "Z:\\w\\tests\\probe.cpp: (7) [Fail]\r\n",
            FormatAllFrames(record.ExceptionCode, &record));
  EXPECT_STREQ(
      "Can't initialize stack tracing. LastError=87(0X00000057)\r\nSearch path: a;b\r\n"
      " Exception code:80000003\r\nException Address: 401000\r\n",
      FormatTraceFailure(87, "a;b", &record));
}

// A product library adds its folder, first, only when the process has it
// loaded; one of that name in the current folder of a failing program
// never runs.
TEST(StackTrace, SearchPathNamesLoadedProductLibrariesButNeverLoadsThem) {
  TempFolder planted;
  std::string library = planted.Path() + "\\NARVCOM.DLL";
  ASSERT_TRUE(CopyFileA((BinFolder() + "planted_dll.dll").c_str(), library.c_str(), FALSE));
  char current[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, current);
  std::string own = BinFolder().substr(0, BinFolder().size() - 1) + ";" + current;
  EXPECT_EQ(own, BuildSymbolSearchPath());
  ASSERT_TRUE(SetCurrentDirectoryA(planted.Path().c_str()));
  ProbeResult result = RunProbe("guard_probe.exe", "write-null", "n");
  SetCurrentDirectoryA(current);
  EXPECT_NE(std::string::npos, result.err.find("[Y/n]? ")) << result.err;
  EXPECT_FALSE(FileExists(planted.Path() + "\\entry.ran"));

  HMODULE loaded = LoadLibraryA(library.c_str());
  ASSERT_NE(nullptr, loaded);
  EXPECT_EQ(planted.Path() + ";" + own, BuildSymbolSearchPath());
  FreeLibrary(loaded);
}

// Without its PDB a program still reports, with the unnamed frames listed.
TEST(StackTrace, WithoutThePdbTheReportListsEveryFrameUnnamed) {
  ProbeResult result = RunProbe("guard_probe_bare.exe", "write-null", "n");
  EXPECT_EQ(0xFFFFFFFFu, result.exitCode);
  std::string err = WithoutCr(result.err);
  EXPECT_EQ(0u, err.find("\nProduct 0.01 exception: Attempt to write at 0x00000000\n"));
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
