#include <gtest/gtest.h>

#include <windows.h>

#include "gen/err/Err.h"

namespace {

const char kFileTemplate[] = "Cannot open '%s'";

void RaiseListed(const char* format, ...) {
  va_list args;
  va_start(args, format);
  ErrRaiseV(kFileTemplate, format, args);
  va_end(args);
}

}  // namespace

TEST(ErrFrame, AnErrorArrivesOnceAsAFormattedCopyAndTravelsOutwards) {
  ErrFrame outer;
  EXPECT_FALSE(outer.Try([] {}));
  EXPECT_EQ(&rootFrame, CurrentFrameSlot());  // a Catch with nothing raised pops
  outer.Enter();
  try {
    ErrRaise(kFileTemplate, "a.txt");
    ADD_FAILURE() << "not thrown";
  } catch (ErrFrame& thrown) {
    EXPECT_NE(&outer, &thrown);
    EXPECT_EQ(kFileTemplate, thrown.Code());
    EXPECT_STREQ("Cannot open 'a.txt'", thrown.Message().Text());
  }
  EXPECT_TRUE(outer.Catch());
  EXPECT_FALSE(outer.Catch());

  outer.Enter();
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
