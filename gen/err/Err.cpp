#include "gen/err/Err.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "gen/InitOrder.h"
#include "gen/Statbuf.h"
#include "gen/err/ExceptionText.h"

ErrFrame rootFrame INIT_ORDER_ROOT_FRAME{ErrFrame::RootTag()};
int32_t errorNesting = 0;

namespace {

const char kModule[] = "..\\Gen\\Err.cpp";
const char kNoFrameText[] = "Internal error\n\nNo valid error frame found at Gen/Err.Cpp";
ErrFrame* currentFrame = nullptr;
char nestedText[100000];
char doubleNestedText[200000];

// Ends the process the normal way (exit handlers and static destructors
// run) with the template's identity as exit status.
[[noreturn]] void ExitWith(ErrTemplate errTemplate) {
  exit(static_cast<int>(reinterpret_cast<intptr_t>(errTemplate)));
}

void DecreaseNesting() {
  if (errorNesting > 0) --errorNesting;
}

const char* FormatMessage(ErrTemplate errTemplate, const char* format, va_list args) {
  return FormatStatic(format ? format : LocalizeText(errTemplate), args);
}

[[noreturn]] void Throw(ErrFrame* frame) {
  if (frame->Enclosing()) throw ErrFrame(*frame);
  ErrPrint(frame->Code(), frame->Message());
  DecreaseNesting();
  ExitWith(frame->Code());
}

void RaiseFirst(ErrTemplate errTemplate, const char* text, const char* format,
                va_list args);
void RaiseDoubleNested(const char* text, const char* format, ErrTemplate errTemplate,
                       va_list args);

}  // namespace

// Grants the raise routine the frame's private fields.
struct ErrFrameAccess {
  static void Raise(ErrFrame* frame, ErrTemplate errTemplate) {
    frame->raised_ = true;
    frame->code_ = errTemplate;
  }
  static void SetMessage(ErrFrame* frame, const char* text) {
    if (text) frame->message_ = text;
    else frame->message_ = Str();
  }
  static void ResetRoot() {
    rootFrame.code_ = nullptr;
    rootFrame.raised_ = false;
    rootFrame.enclosing_ = nullptr;
  }
};

namespace {

void RaiseFirst(ErrTemplate errTemplate, const char* text, const char* format,
                va_list args) {
  ErrFrame* frame = CurrentFrameSlot();
  if (!frame) ErrAssert(kModule, 46);
  ErrFrameAccess::SetMessage(frame, text ? text : FormatMessage(errTemplate, format, args));
  if (ErrDecide(errTemplate, frame->Message())) {
    ErrFrameAccess::Raise(frame, errTemplate);
    Throw(frame);
  }
  DecreaseNesting();
}

void RaiseDoubleNested(const char* text, const char* format, ErrTemplate errTemplate,
                       va_list args) {
  const char* first = kNoFrameText;
  ErrFrame* frame = CurrentFrameSlot();
  if (frame && frame->Enclosing()) {
    const ErrFrame* enclosing = frame->Enclosing();
    first = !enclosing->Message().IsUnset() ? enclosing->Message().Text()
            : enclosing->Code()             ? enclosing->Code()
                                            : "";
  }
  const char* nested = text;
  if (!nested) {
    _vsnprintf_s(nestedText, sizeof nestedText, _TRUNCATE,
                 format ? format : errTemplate, args);
    nested = nestedText;
  }
  _snprintf_s(doubleNestedText, sizeof doubleNestedText, _TRUNCATE,
              kDoubleNestedTemplate, first, nested);
  if (ErrDecide(kDoubleNestedTemplate, doubleNestedText)) ExitWith(kDoubleNestedTemplate);
}

void RaiseCore(ErrTemplate errTemplate, const char* text, const char* format,
               va_list args) {
  int32_t nesting = errorNesting++;
  if (nesting == 0) {
    RaiseFirst(errTemplate, text, format, args);
  } else if (nesting == 1) {
    RaiseDoubleNested(text, format, errTemplate, args);
  } else if (ErrDecide(kTripleNestedTemplate, kTripleNestedTemplate)) {
    ExitWith(kTripleNestedTemplate);
  }
}

}  // namespace

ErrFrame*& CurrentFrameSlot() {
  if (!currentFrame) {
    ErrFrameAccess::ResetRoot();
    currentFrame = &rootFrame;
  }
  return currentFrame;
}

ErrFrame::ErrFrame(RootTag) {}

ErrFrame::ErrFrame(const ErrFrame& other)
    : code_(other.code_), message_(other.message_), raised_(other.raised_),
      enclosing_(other.enclosing_) {}

void ErrFrame::Enter() {
  if (raised_) ErrAssert(kModule, 132);
  code_ = nullptr;
  message_ = Str();
  ErrFrame*& slot = CurrentFrameSlot();
  enclosing_ = slot;
  slot = this;
}

bool ErrFrame::Catch() {
  if (raised_) {
    raised_ = false;
    return true;
  }
  Pop();
  return false;
}

void ErrFrame::Pop() {
  if (code_ && enclosing_) DecreaseNesting();
  if (enclosing_) {
    currentFrame = enclosing_;
    enclosing_ = nullptr;
  }
}

void ErrFrame::Adopt(const ErrFrame& thrown) {
  if (raised_ || !thrown.raised_) return;
  // An error from a nested frame that had no catch of its own.
  code_ = thrown.code_;
  message_ = thrown.message_;
  raised_ = true;
}

void ErrFrame::RethrowToEnclosing() {
  if (!code_) return;
  Str message(message_);
  ErrTemplate errTemplate = code_;
  Pop();
  message_ = Str();
  ErrRaiseText(errTemplate, message);
}

const char* LocalizeText(ErrTemplate errTemplate) { return errTemplate; }

void ErrRaise(ErrTemplate errTemplate, ...) {
  va_list args;
  va_start(args, errTemplate);
  RaiseCore(errTemplate, nullptr, nullptr, args);
  va_end(args);
}

void ErrRaiseV(ErrTemplate errTemplate, const char* format, va_list& args) {
  RaiseCore(errTemplate, nullptr, format, args);
}

void ErrRaiseV(ErrTemplate errTemplate, const char* format, ...) {
  va_list args;
  va_start(args, format);
  RaiseCore(errTemplate, nullptr, format, args);
  va_end(args);
}

void ErrRaiseFormat(const char* format, ...) {
  if (!format) ErrAssert(kModule, 21);
  va_list args;
  va_start(args, format);
  RaiseCore(format, nullptr, format, args);
  va_end(args);
}

void ErrRaiseText(ErrTemplate errTemplate, const char* text) {
  va_list none{};
  RaiseCore(errTemplate, text, nullptr, none);
}

void TranslateErrFrameException(unsigned code, struct _EXCEPTION_POINTERS* pointers) {
  if (code != kErrFrameException) return;
  const ErrFrame* carried =
      reinterpret_cast<const ErrFrame*>(pointers->ExceptionRecord->ExceptionInformation[0]);
  throw ErrFrame(*carried);
}
