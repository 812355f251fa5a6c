#include "gen/err/ReportMail.h"

#include <gtest/gtest.h>

#include <string>

#include "gen/Ini.h"
#include "toolkit/FiredCheck.h"
#include "toolkit/MailStandIns.h"

namespace {

// Relative settings name a fresh INI file of the test's own; the mail
// client is allowed, and its library records what it is given.
class ReportMailTest : public testing::Test {
 protected:
  void SetUp() override { DefaultTemplate = ("|" + ini_ + "|%s").c_str(); }
  void TearDown() override { ResetSettings(); }

  std::string Setting(const char* section, const char* key) const {
    char value[512];
    GetPrivateProfileStringA(section, key, "<missing>", value, sizeof value, ini_.c_str());
    return value;
  }
  void Put(const char* section, const char* key, const std::string& value) const {
    WritePrivateProfileStringA(section, key, value.c_str(), ini_.c_str());
  }

  TempFolder folder_;
  std::string ini_ = folder_.Path() + "\\narv.ini";
  MapiPermission permission_{std::string("1")};
  MapiDouble client_;
};

const char kNoCheck[] = "";
const char kBadSubjectCheck[] = "..\\gen\\err\\ReportMail.cpp:40";

}  // namespace

TEST_F(ReportMailTest, EachEntryFormatsItsSubjectAndFixedBodyForTheClientsDialog) {
  const struct {
    void (*send)();
    const char* subject;
    const char* body;
    const char* key;
    const char* written;
  } cases[] = {
      {[] { MailAssertReport("a.cpp", 12, " x", "more"); }, "'Asserted at a.cpp 12 x'",
       "'Assertion failed at 'a.cpp' line 12\\r\\nmore'", "Assert", "Asserted at %s %d%s"},
      {[] { MailSignalReport("SIGABRT", " x", "more"); }, "'Signalled SIGABRT x'",
       "'Aborted by signal 'SIGABRT'\\r\\nmore'", "Signal", "Signalled %s%s"},
      {[] { MailGpfReport("Access violation", 0xBEEF, " x", "more"); },
       "'Gpfed Access violation 0x0000BEEF x'",
       "'General Protection Fault 'Access violation' occured at 0x0000BEEF'\\r\\nmore'",
       "GPF", "Gpfed %s 0x%08lX%s"},
  };
  for (const auto& c : cases) {
    MapiDouble client;
    EXPECT_EQ(kNoCheck, FiredCheck(c.send));
    EXPECT_EQ(c.subject, client.Call("subject"));
    EXPECT_EQ(c.body, client.Call("body"));
    // The client's dialog, after the probe found a default logon.
    EXPECT_EQ("0 0 8 0", client.Call("send"));
    EXPECT_EQ(c.written, Setting("Report", c.key));
  }
  // No recipient setting: the store's text for a missing one goes out.
  EXPECT_EQ("<missing>", Setting("Internet", "MAutomated"));
  MapiDouble client;
  Put("Internet", "MAutomated", "reports@x.y");
  MailSignalReport("SIGSEGV", "", "");
  EXPECT_EQ("0 1 'reports@x.y' 'SMTP:reports@x.y' 0 null", client.Call("to"));
}

TEST_F(ReportMailTest, ALongSubjectGoesOutAsItsFirst127Characters) {
  std::string tail(200, 'y');
  MailAssertReport("a.cpp", 12, tail.c_str(), "");
  std::string subject = ("Asserted at a.cpp 12" + tail).substr(0, 127);
  EXPECT_EQ("'" + subject + "'", client_.Call("subject"));
}

TEST_F(ReportMailTest, ASubjectSettingIsUsedWithAllOrALeadingPartOfTheEntrysArguments) {
  void (*const assertion)() = [] { MailAssertReport("a.cpp", 12, " x", ""); };
  void (*const signal)() = [] { MailSignalReport("SIGABRT", " x", ""); };
  void (*const gpf)() = [] { MailGpfReport("Access violation", 0xBEEF, " x", ""); };
  const char assertDefault[] = "'Asserted at a.cpp 12 x'";
  const struct {
    void (*send)();
    const char* key;
    const char* setting;
    const char* subject;
    const char* check;
  } cases[] = {
      {assertion, "Assert", "At %s:%d%s!", "'At a.cpp:12 x!'", kNoCheck},
      {assertion, "Assert", "%-8.3s %5i%% %.20s", "'a.c         12%  x'", kNoCheck},
      {assertion, "Assert", "100%% %s %d", "'100% a.cpp 12'", kNoCheck},
      {assertion, "Assert", "Crash in %s", "'Crash in a.cpp'", kNoCheck},
      {assertion, "Assert", "Crashed", "'Crashed'", kNoCheck},
      {signal, "Signal", "Signal %s", "'Signal SIGABRT'", kNoCheck},
      {signal, "Signal", "%%", "'%'", kNoCheck},
      {gpf, "GPF", "%s at %lX", "'Access violation at BEEF'", kNoCheck},
      {gpf, "GPF", "Fault: %s", "'Fault: Access violation'", kNoCheck},
      {assertion, "Assert", "%n", assertDefault, kBadSubjectCheck},
      {assertion, "Assert", "%s%s%s%s", assertDefault, kBadSubjectCheck},
      {assertion, "Assert", "%s %s %s", assertDefault, kBadSubjectCheck},
      {assertion, "Assert", "%d", assertDefault, kBadSubjectCheck},
      {assertion, "Assert", "%s %*d%s", assertDefault, kBadSubjectCheck},
      {assertion, "Assert", "%s %d%s %", assertDefault, kBadSubjectCheck},
      {assertion, "Assert", "%ls", assertDefault, kBadSubjectCheck},
      {assertion, "Assert", "%hs", assertDefault, kBadSubjectCheck},
      {assertion, "Assert", "%ws", assertDefault, kBadSubjectCheck},
      {assertion, "Assert", "%S", assertDefault, kBadSubjectCheck},
      {assertion, "Assert", "%s %C", assertDefault, kBadSubjectCheck},
      {signal, "Signal", "%s%s%s", "'Signalled SIGABRT x'", kBadSubjectCheck},
      {gpf, "GPF", "%s %s", "'Gpfed Access violation 0x0000BEEF x'", kBadSubjectCheck},
  };
  for (const auto& c : cases) {
    Put("Report", c.key, c.setting);
    MapiDouble client;
    EXPECT_EQ(c.check, FiredCheck(c.send)) << c.setting;
    EXPECT_EQ(c.subject, client.Call("subject")) << c.setting;
    EXPECT_EQ(c.setting, Setting("Report", c.key)) << "left as it was";
  }
}

TEST_F(ReportMailTest, WithoutTheClientTheMailProgramGetsRecipientAndSubjectOnly) {
  MapiPermission permission("0");
  MailtoStandIn mailProgram;
  ASSERT_TRUE(mailProgram.Ready());
  MailGpfReport("Access violation", 0x1234ABCD, "", "body");
  EXPECT_EQ("mailto:?subject=Gpfed Access violation 0x1234ABCD",
            mailProgram.Received().value_or("<nothing>"));
  EXPECT_EQ("", Setting("Internet", "MAutomated"));
  EXPECT_TRUE(client_.Calls().empty());
}
