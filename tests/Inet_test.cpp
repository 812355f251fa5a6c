#include "gen/Inet.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <optional>
#include <string>

#include "gen/err/errgpfse.h"
#include "toolkit/FiredCheck.h"
#include "toolkit/StandIns.h"

namespace {

const char kHostile[] = "http://a.example/?q=x\" -evil \"y z";
const char kHostileOnCommandLine[] = "http://a.example/?q=x%22 -evil %22y z";

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](char c) { return tolower(c); });
  return text;
}

// Blocks in use on the library's heap: a block a call forgets shows here.
int PrivateHeapBlocks() {
  int blocks = 0;
  PROCESS_HEAP_ENTRY entry = {};
  while (HeapWalk(guardState.privateHeap, &entry))
    if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) ++blocks;
  return blocks;
}

}  // namespace

TEST(BuildUrlCommand, TheAddressIsOneQuotedArgumentAndThe95FamilyGetsItsFirst400Characters) {
  const std::string nt = "C:\\windows\\system32\\rundll32 url.dll,FileProtocolHandler \"";
  const std::string start = "start rundll32 url.dll,FileProtocolHandler \"";
  const std::string longAddress = "http://a.example/?t=" + std::string(980, 'x');
  const struct {
    std::string address;
    bool notNT;
    std::string command;
  } cases[] = {
      {kHostile, false, nt + kHostileOnCommandLine + "\""},
      {kHostile, true, start + kHostileOnCommandLine + "\""},
      {longAddress, true, start + longAddress.substr(0, 400) + "\""},
      // The cut comes first: only the quote kept is encoded.
      {std::string(399, 'q') + "\"x\"", true, start + std::string(399, 'q') + "%22\""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.command,
              std::string(BuildUrlCommand(c.address.c_str(), c.notNT, "C:\\windows\\system32\\")));
}

// Wine finds the program whatever the case of its path; the command line
// shows what was run.
TEST(Browse, ARegisteredCommandIsLowerCasedAndItsArgumentsAfterExeGiveWayToTheAddress) {
  auto upperWithArguments = [](const std::string& path) {
    std::string upper = path.substr(0, path.size() - 4);
    std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) { return toupper(c); });
    return upper + ".EXE -nohome %1";
  };
  SchemeStandIn browser("http", upperWithArguments);
  ASSERT_TRUE(browser.Ready());
  Browse(kHostile);
  EXPECT_EQ(Lower(browser.Path()) + " \"" + kHostileOnCommandLine + "\"", browser.CommandLine());
  // The beginning taken first is kept: a browser registered later is not run.
  DeleteFileA((browser.Path() + ".started").c_str());
  SchemeStandIn later("http", upperWithArguments);
  ASSERT_TRUE(later.Ready());
  BrowseWeb("b.example/p");
  EXPECT_EQ(Lower(browser.Path()) + " \"b.example/p\"", browser.CommandLine());
  EXPECT_EQ(std::nullopt, later.CommandLine(500));
}

// A registered browser gets the address behind its whole command: its
// program's name is followed by a quote, not by ".exe ". A started program's
// runtime splits its command line, so the address is one argument and
// backslashes before its closing quote are doubled. The URL handler, called
// in this process where no command line is involved, gets the address as it
// was built, line feeds escaped; a file goes to it even where a browser is
// registered. Neither way leaves a block on the library's heap.
TEST(Browse, TheBrowserGetsTheAddressAsOneArgumentElseTheUrlHandlerGetsItAsBuilt) {
  const struct {
    bool browser;
    void (*action)();
    bool viaBrowser;
    const char* received;
  } cases[] = {
      {true, [] { Browse(kHostile); }, true, kHostileOnCommandLine},
      {true, [] { Browse("file://C:\\a \\b\\\\"); }, true, "file://C:\\a \\b\\\\\\\\"},
      {true, [] { BrowseWeb("www.example.com/p"); }, true, "www.example.com/p"},
      {true, [] { BrowseFile("C:\\scans\\page 1.tif"); }, false, "file://C:\\scans\\page 1.tif"},
      {false, [] { BrowseWeb("www.example.com/p"); }, false, "http://www.example.com/p"},
      {false, [] { Browse(kHostile); }, false, kHostile},
      {false, [] { OpenUrl("%s%s&c=%s", "http://a.example/?a=one\ntwo", "&b=x", "3\n"); }, false,
       "http://a.example/?a=one%0D%0Atwo&b=x&c=3%0D%0A"},
  };
  RegistryScope noBrowser("Software\\Classes\\http");
  UrlModuleStandIn handler;
  ASSERT_TRUE(handler.Ready());
  TempFolder folder;
  const std::string record = folder.Path() + "\\received";
  SetEnvironmentVariableA("URL_STANDIN_RECORD", record.c_str());
  for (const auto& c : cases) {
    std::optional<SchemeStandIn> browser;
    if (c.browser) browser.emplace("http");
    DeleteFileA(record.c_str());
    int blocks = PrivateHeapBlocks();
    c.action();
    EXPECT_EQ(blocks, PrivateHeapBlocks()) << "blocks left on the heap by " << c.received;
    EXPECT_EQ(c.viaBrowser ? "<nothing>" : c.received, ReadFileBytes(record).value_or("<nothing>"));
    if (!browser) continue;
    std::string line = "\"" + Lower(browser->Path()) + "\" \"%1\" \"" + c.received + "\"";
    EXPECT_EQ(c.viaBrowser ? std::optional<std::string>(line) : std::nullopt,
              browser->CommandLine(c.viaBrowser ? 10000 : 500));
  }
  SetEnvironmentVariableA("URL_STANDIN_RECORD", nullptr);
}

TEST(OpenUrl, TheFirstTwoTextsMustBeGiven) {
  EXPECT_EQ("..\\gen\\Inet.cpp:83", FiredCheck([] { OpenUrl("%s", nullptr, "", ""); }));
  EXPECT_EQ("..\\gen\\Inet.cpp:83", FiredCheck([] { OpenUrl("%s", "a", nullptr, ""); }));
}
