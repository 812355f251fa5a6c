#pragma once
#include <cstdarg>
#include <cstdint>

#include "gen/Str.h"

// An error kind is its message template, compared by identity.
typedef const char* ErrTemplate;

// Where an error raised by the system's own code lands. A frame placed on
// the stack becomes the innermost one; an error raised in it is formatted
// into it and a copy is thrown to the program's catch. With no frame but
// the root, the message is printed and the process exits.
class ErrFrame {
 public:
  ErrFrame() { Enter(); }
  // Only for the process-wide root frame, which is never entered.
  struct RootTag {};
  explicit ErrFrame(RootTag);
  ErrFrame(const ErrFrame& other);
  ErrFrame& operator=(const ErrFrame&) = delete;
  ~ErrFrame() { Pop(); }

  // Runs `action`; returns true, once, when an error was raised in it (this
  // frame then holds its template and message). The one way programs should
  // combine entering, trying and catching:
  //   ErrFrame frame;
  //   if (frame.Try([&] { ReadEverything(); })) Show(frame.Message());
  template <typename Action> bool Try(Action action) {
    try {
      action();
    } catch (ErrFrame& thrown) {
      Adopt(thrown);
    }
    return Catch();
  }

  void Enter();
  bool Catch();
  // Hands the error held here on to the enclosing frame; does nothing when
  // no error is held.
  void RethrowToEnclosing();

  ErrTemplate Code() const { return code_; }
  const Str& Message() const { return message_; }
  bool Raised() const { return raised_; }
  ErrFrame* Enclosing() const { return enclosing_; }

 private:
  friend struct ErrFrameAccess;
  void Pop();
  void Adopt(const ErrFrame& thrown);

  ErrTemplate code_ = nullptr;
  Str message_;
  bool raised_ = false;
  ErrFrame* enclosing_ = nullptr;
};

// The innermost frame; reading it while empty makes the root frame innermost.
ErrFrame*& CurrentFrameSlot();
extern ErrFrame rootFrame;
extern int32_t errorNesting;

const char* LocalizeText(ErrTemplate errTemplate);

// None of these returns when the error is thrown or the process ends.
void ErrRaise(ErrTemplate errTemplate, ...);
// A va_list is a plain char pointer here, so a by-value list would also
// take a lone text argument meant for the variadic twin and format from
// the literal's bytes. Taken by reference, the list form binds only to a
// named list; a literal, a const text or a computed pointer goes to the
// twin. (A named non-const char* is still taken as a list.)
void ErrRaiseV(ErrTemplate errTemplate, const char* format, va_list& args);
void ErrRaiseV(ErrTemplate errTemplate, const char* format, ...);
void ErrRaiseFormat(const char* format, ...);
void ErrRaiseText(ErrTemplate errTemplate, const char* text);

// Structured exception 100 carries a pointer to an ErrFrame: throws a copy
// of that frame; returns for any other code.
void TranslateErrFrameException(unsigned code, struct _EXCEPTION_POINTERS* pointers);

// Internal message templates (assertions, checks and nested errors).
extern const char kAssertTemplate[];
extern const char kCheckTemplate[];
extern const char kSignalTemplate[];
extern const char kGpfTemplate[];
extern const char kNotImplementedTemplate[];
extern const char kDoubleNestedTemplate[];
extern const char kTripleNestedTemplate[];

// A failed assertion or check: `module` is the source path as the source
// names itself ("..\gen\Str.cpp"). The operation that failed does not go on.
void ErrAssert(const char* module, int line);
void ErrAssertFailed(const char* module, int line);  // the second assertion form
void ErrCheck(const char* module, int line);
void ErrNotImplemented(const char* module, int line);
void ErrGpf(const char* name, uint32_t address);

// True: the caller marks the error raised and throws it; false: go on.
bool ErrDecide(ErrTemplate errTemplate, const char* text);
bool ErrPrint(ErrTemplate errTemplate, const char* text);
bool AskTrapToDebugger();

// Nested internal errors ask on the console whether to break (default on).
extern bool interactiveNestedPrompt;

// States a precondition of the system's own code.
#define ERR_REQUIRE(condition, module, line) \
  do {                                       \
    if (!(condition)) ErrAssert(module, line); \
  } while (0)
