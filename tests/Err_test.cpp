#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "gen/err/Err.h"
#include "toolkit/Probe.h"
#include "toolkit/Raised.h"

namespace {

const char kFileTemplate[] = "Cannot open '%s'";

void RaiseListed(const char* format, ...) {
  va_list args;
  va_start(args, format);
  ErrRaiseV(kFileTemplate, format, args);
  va_end(args);
}

}  // namespace

TEST(ErrFrame, AnErrorArrivesAtItsCatchOnceAsAFormattedCopy) {
  {
    ErrFrame clean;
    EXPECT_FALSE(clean.Try([] {}));
    EXPECT_EQ(&rootFrame, CurrentFrameSlot());  // a Catch with nothing raised pops
  }
  ErrFrame frame;
  EXPECT_EQ(&frame, CurrentFrameSlot());
  try {
    ErrRaise(kFileTemplate, "a.txt");
    ADD_FAILURE() << "not thrown";
  } catch (ErrFrame& thrown) {
    EXPECT_NE(&frame, &thrown);
    EXPECT_EQ(kFileTemplate, thrown.Code());
    EXPECT_STREQ("Cannot open 'a.txt'", thrown.Message().Text());
  }
  EXPECT_TRUE(frame.Catch());
  EXPECT_FALSE(frame.Catch());
  EXPECT_EQ(0, errorNesting);
  EXPECT_EQ(&rootFrame, CurrentFrameSlot());
}

TEST(ErrFrame, NestedFramesHandTheErrorOutwards) {
  ErrFrame outer;
  EXPECT_TRUE(outer.Try([] {
    ErrFrame inner;
    if (inner.Try([] { ErrRaise(kFileTemplate, "deep.ini"); })) inner.RethrowToEnclosing();
    ADD_FAILURE() << "the error did not leave the inner frame";
  }));
  EXPECT_EQ(kFileTemplate, outer.Code());
  EXPECT_STREQ("Cannot open 'deep.ini'", outer.Message().Text());
  // A frame without a catch of its own leaves its error to the next Try.
  EXPECT_TRUE(outer.Try([] {
    ErrFrame plain;
    ErrRaiseFormat("%d files", 3);
  }));
  EXPECT_STREQ("3 files", outer.Message().Text());
  EXPECT_EQ(0, errorNesting);
  EXPECT_EQ(&rootFrame, CurrentFrameSlot());
}

// A va_list is a char pointer here: a text argument must not be taken for one.
TEST(ErrRaiseV, ATextArgumentGoesToTheVariadicTwinAListToTheListForm) {
  for (auto raise : {+[] { ErrRaiseV(kFileTemplate, "%s failed", "copy"); },
                     +[] { ErrRaiseV(kFileTemplate, "%s failed", Str("copy").Text()); },
                     +[] { RaiseListed("%s failed", "copy"); }}) {
    ErrFrame frame;
    EXPECT_TRUE(frame.Try(raise));
    EXPECT_STREQ("copy failed", frame.Message().Text());
  }
}

TEST(ErrPrint, PrintsOnlyTheProgramsOwnTemplates) {
  testing::internal::CaptureStderr();
  for (ErrTemplate hidden : {kAssertTemplate, kCheckTemplate, kSignalTemplate, kGpfTemplate,
                             kNotImplementedTemplate, kDoubleNestedTemplate, kTripleNestedTemplate,
                             static_cast<ErrTemplate>(nullptr)})
    EXPECT_TRUE(ErrPrint(hidden, "hidden"));
  ErrPrint(kFileTemplate, "shown as is");
  EXPECT_EQ("shown as is", testing::internal::GetCapturedStderr());
}

TEST(TranslateErrFrameException, ThrowsACopyOfTheCarriedFrameOnlyForCode100) {
  ErrFrame frame;
  EXCEPTION_RECORD record = {100, 0, nullptr, nullptr, 1, {reinterpret_cast<ULONG_PTR>(&frame)}};
  EXCEPTION_POINTERS pointers = {&record, nullptr};
  TranslateErrFrameException(101, &pointers);
  EXPECT_THROW(TranslateErrFrameException(100, &pointers), ErrFrame);
}

namespace {

// How a guarded probe ended: its full exit code, its output, then its errors.
std::string Ending(const char* action, const char* input = "") {
  ProbeResult result = RunProbe("guard_probe.exe", action, input);
  char code[16];
  snprintf(code, sizeof code, "%lX ", result.exitCode);
  return (result.ended ? code : "running ") + result.out + "|" + result.err;
}

}  // namespace

// A failed check becomes exception 101 "Asserted" naming its module and
// line, and the operation does not go on.
TEST(ErrAssert, ChecksRaiseAssertedNamingModuleAndLineAndDoNotGoOn) {
  const char kAsserted[] =
      "FFFFFFFF code=00000065 text=Asserted\n"
      "message=Internal error. Trap to the debugger(Y/N)?\nAssertion failed at '";
  for (auto [action, site] : {std::pair{"assert", "..\\gen\\Str.cpp' line 77\n\n|"},
                              std::pair{"null-format", "..\\Gen\\Err.cpp' line 21\n\n|"},
                              std::pair{"reenter", "..\\Gen\\Err.cpp' line 132\n\n|"}})
    EXPECT_EQ(kAsserted + std::string(site),
              Ending(action).substr(0, strlen(kAsserted) + strlen(site)));
}

// An error nobody can catch ends the process with its template's identity,
// which the probe prints first.
TEST(ErrRaise, AnUncatchableErrorExitsWithItsTemplateIdentity) {
  const char kDoubleNested[] =
      "Internal double nested error. Trap to the debugger(Y/N)\r\n"
      "First: { first error\r\n}\r\nNested: { second error\r\n}\r\n?";
  for (auto [action, err] : {std::pair{"root-error", "Cannot delete file"},
                             std::pair{"double-nested", kDoubleNested}}) {
    ProbeResult result = RunProbe("guard_probe.exe", action, "n");
    ASSERT_TRUE(result.ended) << action;
    EXPECT_EQ("identity=" + std::to_string(result.exitCode) + "\n", result.out);
    EXPECT_EQ(err, result.err);
  }
}

TEST(AskTrapToDebugger, NoAnswerOrNoMeansDoNotBreak) {
  for (const char* input : {"", "n", "N"})
    EXPECT_EQ("0 not held\nreturned\n|\r\n?", Ending("ask", input)) << "input '" << input << "'";
}
