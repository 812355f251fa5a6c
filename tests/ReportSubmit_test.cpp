#include "gen/err/ReportSubmit.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>

#include "gen/err/StackTrace.h"
#include "gen/err/errgpfse.h"
#include "toolkit/Probe.h"
#include "toolkit/Raised.h"
#include "toolkit/StandIns.h"

TEST(EncodeForUrl, KeepsLettersAndDigitsAndNeverCutsAnEscape) {
  const struct {
    const char* source;
    uint32_t size;
    const char* encoded;
  } cases[] = {
      {"Product 0.01: Breakpoint", 4096, "Product+0%2E01%3A+Breakpoint"},
      {"\xE9\x01-_.~\"\r\n", 4096, "%E9%01%2D%5F%2E%7E%22%0D%0A"},
      {"a b,c", 8, "a+b%2Cc"},   {"abcdefgh", 8, "abcdefg"}, {"abcd,", 8, "abcd%2C"},
      {"abcde,", 8, "abcde"},    {",", 4, "%2C"},            {",", 3, ""},
      {"ab", 2, "a"},            {"a", 1, ""},               {"", 8, ""},
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
  std::string cut = FormatSubject("Breakpoint");
  EXPECT_EQ(1023u, cut.size());
  EXPECT_EQ(0u, cut.find("Product 0.01: Breakpoint - gen\\Str.cpp (214)[fff"));
  EXPECT_EQ("f...", cut.substr(1019));

  EXPECT_EQ(std::string(productInfo.reportAddress) +
                "subject=Product+0%2E01%3A+Breakpoint&text=line+1%0D%0Aline+2%0D%0A",
            BuildReportAddress("Product 0.01: Breakpoint", "line 1\r\nline 2\r\n"));
  // A report too long for its 4095 encoded characters ends at a whole escape.
  std::string address = BuildReportAddress("s", std::string(2000, ',').c_str());
  EXPECT_EQ(4095u, address.size() - address.find("&text=") - strlen("&text="));
  EXPECT_EQ("%2C", address.substr(address.size() - 3));
}

TEST(OpenReportAddress, HandsTheFormattedAddressToTheBrowserAsOneArgument) {
  const struct {
    const char* first;
    const char* second;
    const char* format;
    const char* argument;
    const char* received;
  } cases[] = {
      {"http://r.example/?mode=errorreport&", "subject=a+b", "%s%s&text=%s", "x%2Cy",
       "http://r.example/?mode=errorreport&subject=a+b&text=x%2Cy"},
      {"http://r.example/?text=a\nb\n", "", "%s", "", "http://r.example/?text=a%0D%0Ab%0D%0A"},
      // A quote must not end the address's argument on rundll32's command line.
      {"http://r.example/?q=a\" \"b\"", "", "%s", "", "http://r.example/?q=a%22 %22b%22"},
  };
  for (const auto& c : cases) {
    BrowserStandIn browser;
    ASSERT_TRUE(browser.Ready());
    OpenReportAddress(c.first, c.second, c.format, c.argument);
    EXPECT_EQ(c.received, browser.Received());
  }
  EXPECT_STREQ("http://r.example/?q=a\" \"b\"", LastOpenedAddress());
}

TEST(OpenReportAddress, OpensAtMost2046Characters) {
  const std::string start = "http://r.example/?text=";
  auto filler = [&](uint32_t length) { return start + std::string(length - start.size(), 'x'); };
  const struct {
    std::string first;
    std::string opened;
  } cases[] = {
      {filler(2046), filler(2046)},
      {filler(3000), filler(2046)},
      {filler(2041) + "\nx", filler(2041)},  // a line end that does not fit is left out whole
      {filler(2040) + "\n", filler(2040) + "%0D%0A"},
  };
  UrlModuleStandIn urlModule;
  ASSERT_TRUE(urlModule.Ready());
  for (const auto& c : cases) {
    BrowserStandIn browser;
    ASSERT_TRUE(browser.Ready());
    OpenReportAddress(c.first.c_str(), "", "%s", "");
    EXPECT_EQ(c.opened, browser.Received()) << c.first.size();
    EXPECT_EQ(c.opened, LastOpenedAddress());
  }
}

TEST(OpenReportAddress, RequiresBothTexts) {
  for (bool firstMissing : {true, false}) {
    std::string message;
    Raised raised = CatchRaised([&] {
      ErrFrame frame;
      const char* text = "http://r.example/";
      if (frame.Try([&] {
            OpenReportAddress(firstMissing ? nullptr : text, firstMissing ? text : nullptr, "%s",
                              "");
          }))
        message = frame.Message().Text();
    });
    EXPECT_EQ(101u, raised.code);
    EXPECT_NE(std::string::npos, message.find("'..\\gen\\errgpfse.cpp' line 573")) << message;
  }
}

namespace {

// For its lifetime rundll32 cannot be started: Wine refuses to start a
// program whose load is disabled, as if it were missing.
class Rundll32Disabled {
 public:
  Rundll32Disabled() : overrides_("Software\\Wine\\DllOverrides") {
    ready_ = SetRegValue(HKEY_CURRENT_USER, RegView::k32, "Software\\Wine\\DllOverrides",
                         "rundll32.exe", REG_SZ, RegSz("")) == ERROR_SUCCESS;
  }
  bool Ready() const { return ready_; }

 private:
  RegistryScope overrides_;
  bool ready_ = false;
};

}  // namespace

// rundll32's failure is shown, then the URL module opens the address in
// this process; only a module without the handler leaves it to WinExec.
TEST(OpenReportAddress, FallsBackToTheUrlModuleInProcessThenToWinExec) {
  const std::string address = "http://r.example/?mode=errorreport&subject=probe";
  char systemFolder[MAX_PATH];
  GetSystemDirectoryA(systemFolder, MAX_PATH);
  const std::string command =
      std::string(systemFolder) + "\\rundll32 url.dll,FileProtocolHandler \"" + address + "\"";
  const struct {
    const char* action;
    std::optional<std::string> received;
    std::string said;
  } cases[] = {
      {"open-in-process", address, "released\n"},
      {"open-without-handler", std::nullopt, "WinExec 1 " + command + "\nreleased\n"},
  };
  for (const auto& c : cases) {
    BrowserStandIn browser;
    Rundll32Disabled noRundll32;
    ASSERT_TRUE(browser.Ready() && noRundll32.Ready());
    ProbeRun probe("report_probe.exe", std::string(c.action) + " " + address);
    HWND box = AwaitDialogOf(probe.Id());
    ASSERT_NE(nullptr, box) << c.action;
    EXPECT_NE(std::string::npos, ReadDialog(box).text.find(command));
    PressButton(box, IDOK);
    EXPECT_EQ(c.said, probe.Finish(10000).out) << c.action;
    EXPECT_EQ(c.received, browser.Received(c.received ? 10000 : 500)) << c.action;
  }
}
