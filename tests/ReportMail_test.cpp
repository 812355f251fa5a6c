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
  void Put(const char* section, const char* key, const char* value) const {
    WritePrivateProfileStringA(section, key, value, ini_.c_str());
  }

  TempFolder folder_;
  std::string ini_ = folder_.Path() + "\\narv.ini";
  MapiPermission permission_{"1"};
};

const char kBadSubjectCheck[] = "..\\gen\\err\\ReportMail.cpp:40";
const std::string kLongTail(200, 'y');

void Assertion() { MailAssertReport("a.cpp", 12, " x", "more"); }
void Signal() { MailSignalReport("SIGABRT", " x", "more"); }
void Gpf() { MailGpfReport("Access violation", 0xBEEF, " x", "more"); }

}  // namespace

TEST_F(ReportMailTest, EachEntryFormatsItsSubjectAndFixedBodyForTheClientsDialog) {
  const struct {
    void (*send)();
    std::string subject;
    const char* body;
    const char* key;
    const char* written;
  } cases[] = {
      {Assertion, "'Asserted at a.cpp 12 x'", "'Assertion failed at 'a.cpp' line 12\\r\\nmore'",
       "Assert", "Asserted at %s %d%s"},
      {Signal, "'Signalled SIGABRT x'", "'Aborted by signal 'SIGABRT'\\r\\nmore'", "Signal",
       "Signalled %s%s"},
      {Gpf, "'Gpfed Access violation 0x0000BEEF x'",
       "'General Protection Fault 'Access violation' occured at 0x0000BEEF'\\r\\nmore'", "GPF",
       "Gpfed %s 0x%08lX%s"},
      // A long subject goes out as its first 127 characters.
      {[] { MailAssertReport("a.cpp", 12, kLongTail.c_str(), ""); },
       "'" + ("Asserted at a.cpp 12" + kLongTail).substr(0, 127) + "'",
       "'Assertion failed at 'a.cpp' line 12\\r\\n'", "Assert", "Asserted at %s %d%s"},
  };
  for (const auto& c : cases) {
    MapiDouble client;
    EXPECT_EQ("", FiredCheck(c.send));
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

// A setting that converts more or other arguments is left as it is, the
// default goes out, and a check fires after the sending.
TEST_F(ReportMailTest, ASubjectSettingIsUsedWithAllOrALeadingPartOfTheEntrysArguments) {
  const char assertDefault[] = "'Asserted at a.cpp 12 x'";
  const struct {
    void (*send)();
    const char* key;
    const char* setting;
    const char* subject;
    const char* check;
  } cases[] = {
      {Assertion, "Assert", "At %s:%d%s!", "'At a.cpp:12 x!'", ""},
      {Assertion, "Assert", "%-8.3s %5i%% %.20s", "'a.c         12%  x'", ""},
      {Assertion, "Assert", "Crash in %s", "'Crash in a.cpp'", ""},
      {Assertion, "Assert", "Crashed", "'Crashed'", ""},
      {Gpf, "GPF", "%s at %lX", "'Access violation at BEEF'", ""},
      {Assertion, "Assert", "%n", assertDefault, kBadSubjectCheck},
      {Assertion, "Assert", "%d", assertDefault, kBadSubjectCheck},
      {Assertion, "Assert", "%s %*d%s", assertDefault, kBadSubjectCheck},
      {Assertion, "Assert", "%s %d%s %", assertDefault, kBadSubjectCheck},
      {Assertion, "Assert", "%ls", assertDefault, kBadSubjectCheck},
      {Assertion, "Assert", "%hs", assertDefault, kBadSubjectCheck},
      {Assertion, "Assert", "%ws", assertDefault, kBadSubjectCheck},
      {Assertion, "Assert", "%S", assertDefault, kBadSubjectCheck},
      {Assertion, "Assert", "%s %C", assertDefault, kBadSubjectCheck},
      {Signal, "Signal", "%s%s%s", "'Signalled SIGABRT x'", kBadSubjectCheck},
      {Gpf, "GPF", "%s %s", "'Gpfed Access violation 0x0000BEEF x'", kBadSubjectCheck},
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
  SchemeStandIn mailProgram("mailto");
  ASSERT_TRUE(mailProgram.Ready());
  MapiDouble client;
  MailGpfReport("Access violation", 0x1234ABCD, "", "body");
  EXPECT_EQ("mailto:?subject=Gpfed Access violation 0x1234ABCD",
            mailProgram.Received().value_or("<nothing>"));
  EXPECT_EQ("", Setting("Internet", "MAutomated"));
  EXPECT_TRUE(client.Calls().empty());
}
