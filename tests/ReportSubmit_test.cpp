#include "gen/err/ReportSubmit.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>

#include "gen/err/StackTrace.h"
#include "gen/err/errgpfse.h"
#include "toolkit/Probe.h"
#include "toolkit/FiredCheck.h"
#include "toolkit/StandIns.h"

TEST(EncodeForUrl, KeepsLettersAndDigitsAndNeverCutsAnEscape) {
  const struct { const char* source; uint32_t size; const char* encoded; } cases[] = {
      {"Product 0.01: Breakpoint", 4096, "Product+0%2E01%3A+Breakpoint"},
      {"\xE9\x01-_.~\"\r\n", 4096, "%E9%01%2D%5F%2E%7E%22%0D%0A"},
      {"a b,c", 8, "a+b%2Cc"}, {"abcdefgh", 8, "abcdefg"}, {"abcd,", 8, "abcd%2C"},
      {"abcde,", 8, "abcde"},  {",", 4, "%2C"},            {",", 3, ""},
      {"ab", 2, "a"},          {"a", 1, ""},               {"", 8, ""},
  };
  for (const auto& c : cases) {
    std::string buffer(c.size + 1, '#');
    EXPECT_EQ(&buffer[0], EncodeForUrl(c.source, &buffer[0], c.size));
    EXPECT_EQ(std::string(c.encoded) + '\0', buffer.substr(0, strlen(c.encoded) + 1))
        << c.source << " in " << c.size;
    EXPECT_EQ('#', buffer[c.size]) << "written past the end";
  }
}

TEST(ReportAddress, SubjectNamesTheFirstOwnFrameAndBothAreEncoded) {
  EXPECT_STREQ("Product 0.01: Breakpoint", FormatSubject("Breakpoint"));
  strcpy(traceState.firstOwnFile, "gen\\Str.cpp");
  traceState.firstOwnLine = 214;
  strcpy(traceState.firstOwnFunction, "Str::Append");
  EXPECT_STREQ("Product 0.01: Breakpoint - gen\\Str.cpp (214)[Str::Append]",
               FormatSubject("Breakpoint"));
  // A subject longer than its buffer is cut, with a mark, never lost.
  memset(traceState.firstOwnFunction, 'f', 1023);
  std::string cut = "Product 0.01: Breakpoint - gen\\Str.cpp (214)[";
  EXPECT_EQ(cut + std::string(1023 - cut.size() - 4, 'f') + "f...", FormatSubject("Breakpoint"));

  EXPECT_EQ(std::string(productInfo.reportAddress) +
                "subject=Product+0%2E01%3A+Breakpoint&text=line+1%0D%0Aline+2%0D%0A",
            BuildReportAddress("Product 0.01: Breakpoint", "line 1\r\nline 2\r\n"));
  // A report too long for its 4095 encoded characters ends at a whole escape.
  std::string text = BuildReportAddress("s", std::string(2000, ',').c_str());
  text = text.substr(text.find("&text=") + 6);
  EXPECT_EQ(4095u, text.size());
  EXPECT_EQ("%2C", text.substr(text.size() - 3));
}

// Line ends are escaped, and the address is cut to 2046 characters at a
// whole character or escape. A quote must not end the address's argument
// on rundll32's command line.
TEST(OpenReportAddress, OpensTheFormattedAddressAsOneArgumentOfAtMost2046Characters) {
  const std::string start = "http://r.example/?text=";
  auto filler = [&](size_t length) { return start + std::string(length - start.size(), 'x'); };
  const struct {
    std::string first, second, argument, opened, received;  // received: "" when as opened
  } cases[] = {
      {"http://r.example/?m=e&", "subject=a+b", "&text=x%2Cy",
       "http://r.example/?m=e&subject=a+b&text=x%2Cy"},
      {"http://r.example/?text=a\nb\n", "", "", "http://r.example/?text=a%0D%0Ab%0D%0A"},
      {"http://r.example/?q=a\" \"b\"", "", "", "http://r.example/?q=a\" \"b\"",
       "http://r.example/?q=a%22 %22b%22"},
      {filler(2046), "", "", filler(2046)},
      {filler(3000), "", "", filler(2046)},
      {filler(2041) + "\nx", "", "", filler(2041)},
      {filler(2040) + "\n", "", "", filler(2040) + "%0D%0A"},
  };
  UrlModuleStandIn urlModule;
  ASSERT_TRUE(urlModule.Ready());
  for (const auto& c : cases) {
    BrowserStandIn browser;
    ASSERT_TRUE(browser.Ready());
    OpenReportAddress(c.first.c_str(), c.second.c_str(), "%s%s%s", c.argument.c_str());
    EXPECT_EQ(c.opened, LastOpenedAddress());
    EXPECT_EQ(c.received.empty() ? c.opened : c.received, browser.Received()) << c.first.size();
  }
}

TEST(OpenReportAddress, RequiresBothTexts) {
  const char* text = "http://r.example/";
  for (const char* first : {static_cast<const char*>(nullptr), text})
    EXPECT_EQ("..\\gen\\errgpfse.cpp:573",
              FiredCheck([&] { OpenReportAddress(first, first ? nullptr : text, "%s", ""); }));
}

// rundll32's failure is shown, then the URL module opens the address in
// this process; only a module without the handler leaves it to WinExec.
// Either way the module is released.
TEST(OpenReportAddress, FallsBackToTheUrlModuleInProcessThenToWinExec) {
  const std::string address = "http://r.example/?mode=errorreport&subject=probe";
  char systemFolder[MAX_PATH];
  GetSystemDirectoryA(systemFolder, MAX_PATH);
  const std::string command =
      std::string(systemFolder) + "\\rundll32 url.dll,FileProtocolHandler \"" + address + "\"";
  // For its lifetime Wine refuses to start rundll32, as if it were missing.
  RegistryScope overrides("Software\\Wine\\DllOverrides");
  ASSERT_EQ(ERROR_SUCCESS, SetRegValue(HKEY_CURRENT_USER, RegView::k32,
                                       "Software\\Wine\\DllOverrides", "rundll32.exe", REG_SZ,
                                       RegSz("")));
  for (bool inProcess : {true, false}) {
    BrowserStandIn browser;
    ASSERT_TRUE(browser.Ready());
    ProbeRun probe("guard_probe_gui.exe",
                   (inProcess ? "open-in-process " : "open-without-handler ") + address);
    HWND box = AwaitDialogOf(probe.Id());
    ASSERT_NE(nullptr, box) << inProcess;
    EXPECT_NE(std::string::npos, ReadDialog(box).text.find(command));
    PressButton(box, IDOK);
    EXPECT_EQ((inProcess ? "" : "WinExec 1 " + command + "\n") + "released\nreturned\n",
              probe.Finish(10000).out);
    EXPECT_EQ(inProcess ? std::optional<std::string>(address) : std::nullopt,
              browser.Received(inProcess ? 10000 : 500));
  }
}
