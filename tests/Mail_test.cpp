#include "gen/Mail.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "gen/err/Err.h"
#include "toolkit/MailStandIns.h"
#include "toolkit/Probe.h"

namespace {

const char* const kNoFiles[] = {nullptr};

std::string TempPath() {
  char folder[MAX_PATH];
  GetTempPathA(MAX_PATH, folder);
  return folder;
}

}  // namespace

// The mail program gets subject and body unencoded but for line feeds, and
// no attachments; the client is asked only where the mailto: way is not
// chosen; where no way may be used, neither is reached.
TEST(SendMail, DisabledWinsMailtoNeedsNoPermissionTheClientAndFormDo) {
  const struct {
    int32_t flags;
    const char* permission;  // WIN.INI [MAIL] MAPI; null: missing
    bool available;
  } cases[] = {
      {MAIL_DISABLED | MAIL_MAILTO, "1", false}, {MAIL_DISABLED | MAIL_MAPI, "1", false},
      {MAIL_MAILTO, "0", true},                  {MAIL_MAILTO | MAIL_MAPI, nullptr, true},
      {MAIL_MAPI, "1", true},                    {MAIL_MAPI, "0", false},
      {MAIL_MAPI, nullptr, false},               {MAIL_MAPI | MAIL_WEBFORM, "0", false},
      {MAIL_WEBFORM | MAIL_DIALOG, "1", false},  {0, "1", false},
  };
  SchemeStandIn mailProgram("mailto");
  ASSERT_TRUE(mailProgram.Ready());
  for (const auto& c : cases) {
    MapiPermission permission(c.permission);
    MapiDouble client;
    EXPECT_EQ(c.available, MailMethodAvailable(c.flags))
        << c.flags << " with " << (c.permission ? c.permission : "none");
    SendMail(c.flags, "who@x.y", "Sub & #1", "line 1\nline 2", 1, "C:\\a.log");
    bool mailto = c.available && (c.flags & MAIL_MAILTO);
    EXPECT_EQ(c.available && !mailto, !client.Calls().empty()) << c.flags;
    if (!mailto) continue;
    EXPECT_EQ("mailto:who@x.y?subject=Sub & #1&body=line 1%0D%0Aline 2",
              mailProgram.Received().value_or("<nothing>"));
    DeleteFileA((mailProgram.Path() + ".started").c_str());
  }
  EXPECT_FALSE(mailProgram.Received(1500));
  MailTo("who@x.y", "a&b #c");
  EXPECT_EQ("mailto:who@x.y?subject=a&b #c", mailProgram.Received().value_or("<nothing>"));
}

// Every field the client is given, with and without a default logon.
TEST(SendMail, HandsTheClientOneRecipientAndTheAttachmentsInOrder) {
  const struct {
    ULONG logonResult;
    int32_t flags;
    const char* send;  // session, window, flags, reserved
  } cases[] = {
      {0, MAIL_MAPI, "0 0 0 0"}, {0, MAIL_MAPI | MAIL_DIALOG, "0 0 8 0"},
      {3, MAIL_MAPI, "0 0 1 0"}, {3, MAIL_MAPI | MAIL_DIALOG, "0 0 9 0"},
  };
  MapiPermission permission("1");
  for (const auto& c : cases) {
    MapiDouble client(c.logonResult);
    SendMail(c.flags, "who@x.y", "Sub & #1", "line 1\nline 2", 2, "C:\\b.txt", "C:\\a.log");
    // Only a session that was opened is ended.
    std::string expected = std::string("logon 0 null null 0 0\n") +
                           (c.logonResult ? "" : "logoff 77 0 0 0\n") + "send " + c.send + "\n" +
                           "message 0 null null null 0\nsubject 'Sub & #1'\n"
                           "body 'line 1\\nline 2'\nfrom 0 0 null null 0 null\n"
                           "to 0 1 'who@x.y' 'SMTP:who@x.y' 0 null\n"
                           "file 0 0 4294967295 'C:\\b.txt' null null\n"
                           "file 0 0 4294967295 'C:\\a.log' null null\n";
    EXPECT_EQ(expected, client.Calls()) << c.flags << " after logon result " << c.logonResult;
  }
  MapiDouble client;
  SendMail(MAIL_MAPI, "who@x.y", "s", "b", 0, kNoFiles);
  EXPECT_EQ("<none>", client.Call("file"));
}

// Read from outside, from the boxes of a program of its own, each answered
// with OK as soon as it shows.
TEST(SendMail, ShowsTheClientsFailureInAnErrorBoxAndNothingWithoutItsLibrary) {
  auto run = [](const std::string& folder, const std::string* environment) {
    Process probe = Process::Start("\"" + folder + "mail_probe.exe\" 4", environment, folder);
    return RunToEnd(probe, 20000);
  };
  const struct {
    ULONG result;
    const char* text;
  } cases[] = {
      {1, "The user canceled one of the dialog boxes.\nNo message was sent."},
      {2, "\nOne or more unspecified errors occurred while \nreading the message."},
      {21, "A recipient matched more than one of the \nrecipient descriptor structures and "
           "MAPI_DIALOG \nwas not set. No message was sent. "},
      {6, ""},
  };
  MapiPermission permission("1");
  for (const auto& c : cases) {
    MapiDouble client(0, c.result);
    Outcome outcome = run(BinFolder(), nullptr);
    ASSERT_EQ(1u, outcome.dialogs.size()) << c.result;
    const DialogView& box = outcome.dialogs[0];
    EXPECT_TRUE(outcome.ended && outcome.exitCode == 0 && box.caption == "Error" && box.icon);
    EXPECT_EQ(c.text, box.text) << c.result;
  }
  // Neither the double (not in that folder) nor the platform's own library.
  TempFolder folder;
  ASSERT_TRUE(CopyFileA((BinFolder() + "mail_probe.exe").c_str(),
                        (folder.Path() + "\\mail_probe.exe").c_str(), FALSE));
  MapiDouble client;
  std::string environment = EnvironmentBlock({{"WINEDLLOVERRIDES", "mapi32=d"}});
  Outcome outcome = run(folder.Path() + "\\", &environment);
  EXPECT_TRUE(outcome.ended && outcome.exitCode == 0 && outcome.dialogs.empty());
  EXPECT_TRUE(client.Calls().empty());
}

// A line longer than a piece is read as two; the marker in the second piece
// counts.
TEST(FillMailForm, FillsTwoValueFieldsAndTheFirstTextarea) {
  const std::string name = "mailform_test.htm";
  std::ofstream(name) << "<p>value=\"></p>\n<b>plain</b> line\n<i value=\"> value=\"></i>\n"
                      << "<textarea rows=\"3\" value=\"\">x</textarea>\n<p value=\">\n"
                      << std::string(300, 'a') << "value=\"\n";
  Str copy = FillMailForm(name.c_str(), "who@x.y", "S", "B\nC");
  DeleteFileA(name.c_str());
  ASSERT_EQ(TempPath() + name, copy.Text());
  EXPECT_EQ("<p>value=\"who@x.y\"></p>\n<b>plain</b> line\n<i value=\"S\"> value=\"></i>\n"
            "<textarea rows=\"3\" value=\"\">B\nCx</textarea>\n<p value=\"\">\n" +
                std::string(300, 'a') + "value=\"\"\n",
            WithoutCr(ReadFileBytes(copy.Text()).value_or("<none>")));
  DeleteFileA(copy);
}

// The form shipped beside the programs is filled in and shown as a file;
// where there is none, the sending fails naming it.
TEST(SendMail, TheWebFormIsFilledInAndShownAndNeedsItsTemplate) {
  MapiPermission permission("1");
  UrlModuleStandIn urlModule;
  SchemeStandIn files("file");
  ASSERT_TRUE(urlModule.Ready() && files.Ready());
  SendMail(MAIL_MAPI | MAIL_WEBFORM, "who@x.y", "Sub", "Body text", 0, kNoFiles);
  EXPECT_EQ("file://" + TempPath() + "form.htm", files.Received().value_or("<nothing>"));
  std::string form = ReadFileBytes(TempPath() + "form.htm").value_or("");
  DeleteFileA((TempPath() + "form.htm").c_str());
  for (const char* filled : {"value=\"who@x.y\">", "value=\"Sub\">", ">Body text</textarea>"})
    EXPECT_NE(std::string::npos, form.find(filled)) << filled;

  TempFolder folder;
  SetCurrentDirectoryA(folder.Path().c_str());
  ErrFrame frame;
  EXPECT_TRUE(frame.Try([] { SendMail(MAIL_MAPI | MAIL_WEBFORM, "a", "b", "c", 0, kNoFiles); }));
  EXPECT_STREQ("File 'form.htm' not found!", frame.Message());
  SetCurrentDirectoryA(BinFolder().c_str());
}
