#include <gtest/gtest.h>

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

void RaiseIn(const char* name) {
  ErrFrame inner;
  if (inner.Try([&] { ErrRaise(kFileTemplate, name); })) inner.RethrowToEnclosing();
}

}  // namespace

TEST(ErrFrame, ErrorArrivesAtItsCatchOnceAsAFormattedCopy) {
  ErrFrame frame;
  ErrFrame* innermost = CurrentFrameSlot();
  EXPECT_EQ(&frame, innermost);
  bool caught = false;
  try {
    ErrRaise(kFileTemplate, "a.txt");
  } catch (ErrFrame& thrown) {
    caught = true;
    EXPECT_EQ(kFileTemplate, thrown.Code());
    EXPECT_STREQ("Cannot open 'a.txt'", thrown.Message().Text());
    EXPECT_NE(&frame, &thrown);
  }
  EXPECT_TRUE(caught);
  EXPECT_TRUE(frame.Catch());
  EXPECT_EQ(kFileTemplate, frame.Code());
  EXPECT_FALSE(frame.Catch());
  EXPECT_EQ(0, errorNesting);
  EXPECT_EQ(&rootFrame, CurrentFrameSlot());
}

TEST(ErrFrame, ThreeNestedFramesHandTheErrorOutwards) {
  ErrFrame outer;
  bool caught = outer.Try([] {
    ErrFrame middle;
    if (middle.Try([&] { RaiseIn("deep.ini"); })) middle.RethrowToEnclosing();
    ADD_FAILURE() << "the error did not leave the middle frame";
  });
  EXPECT_TRUE(caught);
  EXPECT_EQ(kFileTemplate, outer.Code());
  EXPECT_STREQ("Cannot open 'deep.ini'", outer.Message().Text());
  EXPECT_EQ(0, errorNesting);
  EXPECT_EQ(&rootFrame, CurrentFrameSlot());
  EXPECT_FALSE(outer.Catch());
}

TEST(ErrFrame, AnErrorFromAFrameWithoutCatchIsTakenByTheNextTry) {
  ErrFrame outer;
  EXPECT_TRUE(outer.Try([] {
    ErrFrame plain;
    ErrRaiseFormat("%d files", 3);
  }));
  EXPECT_STREQ("3 files", outer.Message().Text());
  EXPECT_EQ(0, errorNesting);
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

TEST(ErrFrame, NoErrorLeavesTheFrameClean) {
  ErrFrame frame;
  EXPECT_FALSE(frame.Try([] {}));
  EXPECT_EQ(nullptr, frame.Code());
  EXPECT_TRUE(frame.Message().IsUnset());
  EXPECT_EQ(&rootFrame, CurrentFrameSlot());
}

TEST(ErrPrint, PrintsOnlyTheProgramsOwnTemplates) {
  for (ErrTemplate internal : {kAssertTemplate, kCheckTemplate, kSignalTemplate, kGpfTemplate,
                               kNotImplementedTemplate, kDoubleNestedTemplate,
                               kTripleNestedTemplate}) {
    testing::internal::CaptureStderr();
    EXPECT_TRUE(ErrPrint(internal, "hidden"));
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
  }
  testing::internal::CaptureStderr();
  ErrPrint(kFileTemplate, "shown as is");
  ErrPrint(nullptr, "never");
  EXPECT_EQ("shown as is", testing::internal::GetCapturedStderr());
}

TEST(ErrDecide, InternalTemplatesRaiseAssertedOthersAreThrown) {
  Raised raised = CatchRaised([] { EXPECT_TRUE(ErrDecide(kCheckTemplate, "x")); });
  EXPECT_EQ(101u, raised.code);
  EXPECT_EQ("Asserted", raised.text);
  raised = CatchRaised([] { EXPECT_TRUE(ErrDecide(kFileTemplate, "x")); });
  EXPECT_EQ(0, raised.count);
}

TEST(TranslateErrFrameException, ThrowsACopyOfTheCarriedFrameOnlyForCode100) {
  ErrFrame frame;
  ErrFrame carried(frame);
  EXCEPTION_RECORD record = {};
  record.ExceptionCode = 100;
  record.NumberParameters = 1;
  record.ExceptionInformation[0] = reinterpret_cast<ULONG_PTR>(&frame);
  EXCEPTION_POINTERS pointers = {&record, nullptr};
  bool thrown = false;
  try {
    TranslateErrFrameException(100, &pointers);
  } catch (ErrFrame&) {
    thrown = true;
  }
  EXPECT_TRUE(thrown);
  TranslateErrFrameException(101, &pointers);
}

// In a real process: the root frame, checks and the nested-error prompt.
TEST(ErrRaise, WithOnlyTheRootFramePrintsAndExitsWithTheTemplateIdentity) {
  ProbeResult result = RunProbe("guard_probe.exe", "root-error");
  ASSERT_TRUE(result.ended);
  EXPECT_EQ("Cannot delete file", result.err);
  std::string identity = result.out.substr(result.out.find('=') + 1);
  EXPECT_EQ(std::stoul(identity), result.exitCode);
}

TEST(ErrAssert, ChecksRaiseAssertedNamingModuleAndLineAndDoNotGoOn) {
  struct Case {
    const char* action;
    const char* message;
  } cases[] = {
      {"assert", "Assertion failed at '..\\gen\\Str.cpp' line 77\n"},
      {"null-format", "Assertion failed at '..\\Gen\\Err.cpp' line 21\n"},
      {"reenter", "Assertion failed at '..\\Gen\\Err.cpp' line 132\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.action);
    ProbeResult result = RunProbe("guard_probe.exe", c.action);
    ASSERT_TRUE(result.ended);
    EXPECT_EQ(0xFFFFFFFFu, result.exitCode);
    EXPECT_NE(std::string::npos, result.out.find("code=00000065 text=Asserted\n"));
    EXPECT_NE(std::string::npos, result.out.find(c.message));
    EXPECT_EQ(std::string::npos, result.out.find("returned"));
  }
}

TEST(ErrRaise, ASecondErrorInFlightAsksAndEndsWithTheDoubleNestedIdentity) {
  ProbeResult result = RunProbe("guard_probe.exe", "double-nested", "n");
  ASSERT_TRUE(result.ended);
  EXPECT_NE(std::string::npos,
            result.err.find("First: { first error\r\n}\r\nNested: { second error\r\n}\r\n?"));
  std::string identity = result.out.substr(result.out.find('=') + 1);
  EXPECT_EQ(std::stoul(identity), result.exitCode);
}

TEST(AskTrapToDebugger, NoAnswerOrNoMeansDoNotBreak) {
  for (const char* input : {"", "n", "N"}) {
    ProbeResult result = RunProbe("guard_probe.exe", "ask", input);
    ASSERT_TRUE(result.ended);
    EXPECT_EQ("\r\n?", result.err);
    EXPECT_EQ("not held\nreturned\n", result.out) << "input '" << input << "'";
  }
}
