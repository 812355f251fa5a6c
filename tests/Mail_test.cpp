#include "gen/Mail.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "gen/err/Err.h"
#include "toolkit/MailStandIns.h"
#include "toolkit/Probe.h"

namespace {

const char* const kNoFiles[] = {nullptr};

// The current folder is `folder` while this object lives.
class InFolder {
 public:
  explicit InFolder(const std::string& folder) {
    GetCurrentDirectoryA(MAX_PATH, saved_);
    SetCurrentDirectoryA(folder.c_str());
  }
  ~InFolder() { SetCurrentDirectoryA(saved_); }

 private:
  char saved_[MAX_PATH];
};

std::string TempPath() {
  char folder[MAX_PATH];
  GetTempPathA(MAX_PATH, folder);
  return folder;
}

}  // namespace

TEST(MailMethodAvailable, DisabledWinsMailtoNeedsNoPermissionTheClientAndFormDo) {
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
  for (const auto& c : cases) {
    MapiPermission permission(c.permission ? std::optional<std::string>(c.permission)
                                           : std::nullopt);
    EXPECT_EQ(c.available, MailMethodAvailable(c.flags))
        << c.flags << " with " << (c.permission ? c.permission : "none");
  }
}

// Every field the client is given, with and without a default logon.
TEST(SendMail, HandsTheClientOneRecipientAndTheAttachmentsInOrder) {
  const struct {
    ULONG logonResult;
    int32_t flags;
    const char* send;  // session, window, flags, reserved
    bool loggedOff;
  } cases[] = {
      {0, MAIL_MAPI, "0 0 0 0", true},
      {0, MAIL_MAPI | MAIL_DIALOG, "0 0 8 0", true},
      {3, MAIL_MAPI, "0 0 1 0", false},
      {3, MAIL_MAPI | MAIL_DIALOG, "0 0 9 0", false},
  };
  MapiPermission permission("1");
  for (const auto& c : cases) {
    MapiDouble client(c.logonResult);
    SendMail(c.flags, "who@x.y", "Sub & #1", "line 1\nline 2", 2, "C:\\b.txt", "C:\\a.log");
    std::vector<std::string> expected = {
        "logon 0 null null 0 0",
        "logoff 77 0 0 0",
        std::string("send ") + c.send,
        "message 0 null null null 0",
        "subject 'Sub & #1'",
        "body 'line 1\\nline 2'",
        "from 0 0 null null 0 null",
        "to 0 1 'who@x.y' 'SMTP:who@x.y' 0 null",
        "file 0 0 4294967295 'C:\\b.txt' null null",
        "file 0 0 4294967295 'C:\\a.log' null null",
    };
    if (!c.loggedOff) expected.erase(expected.begin() + 1);
    EXPECT_EQ(expected, client.Calls()) << c.flags << " after logon result " << c.logonResult;
  }
  // No attachments: no file records at all.
  MapiDouble client;
  SendMail(MAIL_MAPI, "who@x.y", "s", "b", 0, kNoFiles);
  EXPECT_EQ(8u, client.Calls().size());
  EXPECT_EQ("<none>", client.Call("file"));
}

TEST(SendMail, NoPermittedWayReachesNeitherTheClientNorTheMailProgram) {
  MailtoStandIn mailProgram;
  ASSERT_TRUE(mailProgram.Ready());
  MapiPermission permission("0");
  MapiDouble client;
  for (int32_t flags : {MAIL_DISABLED | MAIL_MAILTO, MAIL_MAPI, MAIL_MAPI | MAIL_WEBFORM, 0})
    SendMail(flags, "who@x.y", "s", "b", 0, kNoFiles);
  EXPECT_TRUE(client.Calls().empty());
  EXPECT_FALSE(mailProgram.Received(1500));
}

// Read from the box of a program of its own, which waits for the answer.
TEST(SendMail, ShowsTheClientsFailureInAnErrorBox) {
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
    ProbeRun probe("mail_probe.exe", std::to_string(MAIL_MAPI));
    HWND box = AwaitDialogOf(probe.Id());
    ASSERT_TRUE(box) << c.result;
    DialogView view = ReadDialog(box);
    EXPECT_EQ("Error", view.caption);
    EXPECT_EQ(c.text, view.text) << c.result;
    EXPECT_TRUE(view.icon);
    PressButton(box, IDOK);
    EXPECT_EQ(0u, probe.Finish().exitCode);
  }
  EXPECT_EQ("", std::string(MapiErrorText(0)));
}

TEST(SendMail, WithoutTheClientsLibraryNothingHappens) {
  TempFolder folder;
  ASSERT_TRUE(CopyFileA((BinFolder() + "mail_probe.exe").c_str(),
                        (folder.Path() + "\\mail_probe.exe").c_str(), FALSE));
  MapiPermission permission("1");
  MapiDouble client;
  // Not the double (not in that folder), nor the platform's own library.
  std::string environment = EnvironmentBlock({{"WINEDLLOVERRIDES", "mapi32=d"}});
  Process probe = Process::Start("\"" + folder.Path() + "\\mail_probe.exe\" 20", &environment,
                                 folder.Path());
  Outcome outcome = RunToEnd(probe, 20000);
  EXPECT_TRUE(outcome.ended);
  EXPECT_EQ(0u, outcome.exitCode);
  EXPECT_TRUE(outcome.dialogs.empty());
  EXPECT_TRUE(client.Calls().empty());
}

TEST(MailTo, TheMailProgramReceivesTheAddressWithoutAttachmentsOrEncoding) {
  const struct {
    int32_t flags;  // 0: MailTo
    const char* subject;
    const char* received;
  } cases[] = {
      {MAIL_MAILTO | MAIL_MAPI, "Sub & #1",
       "mailto:who@x.y?subject=Sub & #1&body=line 1%0D%0Aline 2"},
      {0, "a&b #c", "mailto:who@x.y?subject=a&b #c"},
  };
  MapiPermission permission("1");
  for (const auto& c : cases) {
    MailtoStandIn mailProgram;
    ASSERT_TRUE(mailProgram.Ready());
    MapiDouble client;
    if (c.flags)
      SendMail(c.flags, "who@x.y", c.subject, "line 1\nline 2", 1, "C:\\a.log");
    else
      MailTo("who@x.y", c.subject);
    EXPECT_EQ(c.received, mailProgram.Received().value_or("<nothing>"));
    EXPECT_TRUE(client.Calls().empty());
  }
}

TEST(FillMailForm, FillsTwoValueFieldsAndTheFirstTextarea) {
  TempFolder folder;
  InFolder current(folder.Path());
  std::ofstream("mailform_test.htm")
      << "<p>value=\"></p>\n"
      << "<b>plain</b> line\n"
      << "<i value=\"> value=\"></i>\n"
      << "<textarea rows=\"3\" value=\"\">x</textarea>\n"
      << "<p value=\">\n"
      << std::string(300, 'a') << "value=\"" << "\n";
  Str copy = FillMailForm("mailform_test.htm", "who@x.y", "S", "B\nC");
  ASSERT_EQ(TempPath() + "mailform_test.htm", copy.Text());
  // A line longer than a piece is read as two; the marker in the second
  // piece counts.
  EXPECT_EQ(std::string("<p>value=\"who@x.y\"></p>\n") + "<b>plain</b> line\n" +
                "<i value=\"S\"> value=\"></i>\n" +
                "<textarea rows=\"3\" value=\"\">B\nCx</textarea>\n" + "<p value=\"\">\n" +
                std::string(300, 'a') + "value=\"\"\n",
            WithoutCr(ReadFileBytes(copy.Text()).value_or("<none>")));
  DeleteFileA(copy);
  EXPECT_STREQ("", FillMailForm("missing.htm", "a", "b", "c"));
}

TEST(FillMailForm, TheShippedTemplateTakesRecipientSubjectAndBody) {
  Str copy = FillMailForm("form.htm", "who@x.y", "Sub", "Body text");
  std::string form = ReadFileBytes(copy.Text()).value_or("");
  DeleteFileA(copy);
  EXPECT_NE(std::string::npos, form.find("value=\"who@x.y\">"));
  EXPECT_NE(std::string::npos, form.find("value=\"Sub\">"));
  EXPECT_NE(std::string::npos, form.find(">Body text</textarea>"));
}

TEST(SendMail, TheWebFormNeedsItsTemplate) {
  TempFolder folder;
  InFolder current(folder.Path());
  MapiPermission permission("1");
  ErrFrame frame;
  EXPECT_TRUE(frame.Try([] { SendMail(MAIL_MAPI | MAIL_WEBFORM, "a", "b", "c", 0, kNoFiles); }));
  EXPECT_STREQ("File 'form.htm' not found!", frame.Message());
}
