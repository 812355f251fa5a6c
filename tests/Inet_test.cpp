#include "gen/Inet.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "toolkit/FiredCheck.h"
#include "toolkit/StandIns.h"
#include "toolkit/WinTest.h"

namespace {

const char kHostile[] = "http://a.example/?q=x\" -evil \"y z";
const char kHostileOnCommandLine[] = "http://a.example/?q=x%22 -evil %22y z";

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](char c) { return tolower(c); });
  return text;
}

// The arguments behind the program name, split as a started program's
// runtime splits them.
std::vector<std::string> Arguments(const std::string& commandLine) {
  std::wstring wide(commandLine.begin(), commandLine.end());
  int count = 0;
  LPWSTR* list = CommandLineToArgvW(wide.c_str(), &count);
  std::vector<std::string> arguments;
  for (int i = 1; i < count; ++i) {
    std::wstring argument = list[i];
    arguments.push_back(std::string(argument.begin(), argument.end()));
  }
  LocalFree(list);
  return arguments;
}


// For its lifetime the system's URL module is one that records the address
// its handler gets; the platform's module waits aside.
class UrlRecorder {
 public:
  UrlRecorder() {
    char folder[MAX_PATH];
    if (!GetSystemWow64DirectoryA(folder, MAX_PATH)) GetSystemDirectoryA(folder, MAX_PATH);
    installed_ = std::string(folder) + "\\url.dll";
    if (FileExists(aside())) CopyFileA(aside().c_str(), installed_.c_str(), FALSE);
    DeleteFileA(received().c_str());
    ready_ = CopyFileA(installed_.c_str(), aside().c_str(), FALSE) &&
             CopyFileA((BinFolder() + "url_recorder.dll").c_str(), installed_.c_str(), FALSE);
  }
  ~UrlRecorder() {
    DeleteFileA(received().c_str());
    if (CopyFileA(aside().c_str(), installed_.c_str(), FALSE)) DeleteFileA(aside().c_str());
  }
  bool Ready() const { return ready_; }
  // Called in this process, so the address is there once the call returns.
  std::optional<std::string> Received() const { return ReadFileBytes(received()); }

 private:
  std::string aside() const { return installed_ + ".original"; }
  std::string received() const { return installed_ + ".received"; }
  std::string installed_;
  bool ready_ = false;
};


}  // namespace

TEST(BuildUrlCommand, TheAddressIsOneArgumentAndThe95FamilyGetsItsFirst400Characters) {
  const std::string longAddress = "http://a.example/?t=" + std::string(980, 'x');
  const std::string cutQuote = std::string(399, 'q') + "\"x\"";
  const struct {
    std::string address;
    bool notNT;
    std::string command;
  } cases[] = {
      {"http://a.example/p", false,
       "C:\\windows\\system32\\rundll32 url.dll,FileProtocolHandler \"http://a.example/p\""},
      {kHostile, false,
       std::string("C:\\windows\\system32\\rundll32 url.dll,FileProtocolHandler \"") +
           kHostileOnCommandLine + "\""},
      {"http://a.example/p", true, "start rundll32 url.dll,FileProtocolHandler \"http://a.example/p\""},
      {kHostile, true,
       std::string("start rundll32 url.dll,FileProtocolHandler \"") + kHostileOnCommandLine + "\""},
      {longAddress, true,
       "start rundll32 url.dll,FileProtocolHandler \"" + longAddress.substr(0, 400) + "\""},
      // The cut comes first: only the quote kept is encoded.
      {cutQuote, true,
       "start rundll32 url.dll,FileProtocolHandler \"" + std::string(399, 'q') + "%22\""},
  };
  for (const auto& c : cases) {
    std::string command(BuildUrlCommand(c.address.c_str(), c.notNT, "C:\\windows\\system32\\"));
    EXPECT_EQ(c.command, command);
    std::vector<std::string> arguments = Arguments(command);
    EXPECT_EQ(c.notNT ? 3u : 2u, arguments.size()) << command;
  }
}

TEST(Browse, TheRegisteredBrowserGetsTheAddressAsOneArgumentBehindTheWholeCommand) {
  // The program's name is followed by a quote, not by ".exe ": nothing is cut.
  const struct {
    std::function<void()> action;
    const char* received;
  } cases[] = {
      {[] { Browse("http://a.example/x"); }, "http://a.example/x"},
      {[] { Browse(kHostile); }, kHostileOnCommandLine},
      {[] { Browse("file://C:\\a \\b\\\\"); }, "file://C:\\a \\b\\\\"},
      {[] { BrowseWeb("www.example.com/p"); }, "www.example.com/p"},
  };
  for (const auto& c : cases) {
    SchemeStandIn browser("http", QuotedCommand);
    ASSERT_TRUE(browser.Ready());
    c.action();
    std::optional<std::string> line = browser.CommandLine();
    ASSERT_TRUE(line) << c.received;
    EXPECT_EQ(0u, line->find("\"" + Lower(browser.Path()) + "\" \"%1\" \"")) << *line;
    EXPECT_EQ((std::vector<std::string>{"%1", c.received}), Arguments(*line));
  }
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

// No registered browser: the URL handler, called in process where no
// command line is involved, gets the address exactly as it was built, line
// feeds escaped.
TEST(Browse, WithoutABrowserTheUrlHandlerGetsTheAddressUnchanged) {
  const struct {
    std::function<void()> action;
    const char* received;
  } cases[] = {
      {[] { BrowseWeb("www.example.com/p"); }, "http://www.example.com/p"},
      {[] { Browse(kHostile); }, kHostile},
      {[] { OpenUrl("%s%s&c=%s", "http://a.example/?a=one\ntwo", "&b=x", "3\n"); },
       "http://a.example/?a=one%0D%0Atwo&b=x&c=3%0D%0A"},
  };
  RegistryScope noBrowser("Software\\Classes\\http");
  for (const auto& c : cases) {
    UrlRecorder handler;
    ASSERT_TRUE(handler.Ready());
    c.action();
    EXPECT_EQ(c.received, handler.Received());
  }
}

TEST(BrowseFile, TheUrlHandlerGetsAFileAddressAndTheBrowserNothing) {
  UrlModuleStandIn urlModule;
  SchemeStandIn browser("http", QuotedCommand);
  SchemeStandIn files("file", QuotedCommand);
  ASSERT_TRUE(urlModule.Ready() && browser.Ready() && files.Ready());
  BrowseFile("C:\\scans\\page 1.tif");
  std::optional<std::string> line = files.CommandLine();
  ASSERT_TRUE(line);
  EXPECT_EQ((std::vector<std::string>{"file://C:\\scans\\page 1.tif"}), Arguments(*line));
  EXPECT_EQ(std::nullopt, browser.CommandLine(500));
}

TEST(OpenUrl, TheFirstTwoTextsMustBeGiven) {
  EXPECT_EQ("..\\gen\\Inet.cpp:83", FiredCheck([] { OpenUrl("%s", nullptr, "", ""); }));
  EXPECT_EQ("..\\gen\\Inet.cpp:83", FiredCheck([] { OpenUrl("%s", "a", nullptr, ""); }));
}
