#pragma once
#include <cstdint>
#include <cstdio>

#include "gen/Array.h"
#include "gen/Crc32.h"
#include "gen/Str.h"
#include "gen/err/Err.h"

// Every failure of a file is one of these kinds, in this fixed order. The
// error raised for a kind carries the kind's text as its template, so a
// catch tells kinds apart by comparing Code() with FileErrorText(kind).
enum class FileErrorKind : int32_t {
  kNone = 0,
  kTooShort,  // a read got fewer bytes than asked; less than the minimum remains
  kTooLong,   // the rest reaches the maximum; a file of 2 GiB or more
  kDiskFull,  // a write put fewer bytes than given
  kSeekError,
  kCantCreate,   // open with "C" in effect failed
  kBadName,      // for callers
  kNotFound,     // open without "C" in effect failed
  kInvalid,      // the file could not be cut
  kDamaged,      // for readers of file formats
  kEmpty,        // for callers
  kUnsupported,  // for callers
  kCannotDelete,
  kCannotFlush,
  kCannotClose,
};
const int kFileErrorKindCount = 14;

// The kind's message text, which is also the template of its errors.
ErrTemplate FileErrorText(FileErrorKind kind);

// Sizes and positions are 32-bit: a file may hold at most this many bytes.
// Longer files are refused ("File is too long") rather than let sizes wrap.
const int64_t kFileSizeLimit = 0x7FFFFFFF;

// Whether a mode letter is in effect: the first of the letter and its
// other-case partner in `mode` decides; with neither, lower case is in
// effect and upper case is not.
bool FileModeLetter(const char* mode, char letter);

// The runtime's stream mode for a mode text ("rb", "a+b", "rt", ...):
// "R" read, "W" write, "C" create when missing, "I" empty on opening,
// "T" text translation. Letters that allow no stream mode fail a check.
const char* FileStreamMode(const char* mode);

// A file over one of the runtime's buffered streams, opened by mode
// letters (see FileStreamMode; also "A" append wanted, "X" hold errors
// from the start, "D" delete on close, "L" line buffering). While it is
// open for reading only others may read it too; open for writing, nobody
// else may open it.
//
// Failures are raised through the error frames with a message naming the
// file and, when set, the line and column being read, unless errors are
// held: then the kind is kept, the operation returns, and the next
// operation (or the destructor) raises it unless TakeHeldError took it.
class File {
 public:
  File() = default;
  File(const char* name, const char* mode) { Open(name, mode); }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  // Closes when open, then raises a held error or a failure to close. While
  // another error unwinds the stack, that error stands and nothing is raised.
  ~File() noexcept(false);

  void Open(const char* name, const char* mode);
  // The object is closed afterwards even when closing fails.
  void Close();
  bool IsOpen() const { return stream_ != nullptr; }

  // Exactly `count` bytes; fewer is "File is too short".
  void Read(void* buffer, uint32_t count);
  ByteBlock Read(uint32_t count);
  void ReadInto(ByteBlock& block);
  // The rest of the file followed by `tail`, allocated once. The rest must
  // be at least `minimum` and below `maximum` bytes. Empty when an error
  // was held instead.
  ByteBlock ReadRest(uint32_t minimum, uint32_t maximum, StrView tail = StrView());

  // All `count` bytes; fewer is "Disk full on file write". A write that
  // would take the file to 2 GiB or beyond writes nothing and is "File is
  // too long".
  void Write(const void* buffer, uint32_t count);
  uint32_t WriteText(StrView text);
  uint32_t Print(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // `origin` is SEEK_SET, SEEK_CUR or SEEK_END. A move outside the 32-bit
  // range is refused as a seek error and leaves the position unchanged.
  void Seek(int32_t offset, int origin);
  int32_t Position();
  // The length the system reports for the open file: bytes still in the
  // stream's buffer are not counted.
  int32_t Size();
  // Size - Position; 0 when the position lies beyond the end.
  uint32_t Remaining();
  bool AtEnd();
  // Writes the buffer out and has the system commit data and length.
  void Flush();
  // Cuts the file at the current position.
  void Truncate();

  void Raise(FileErrorKind kind);
  void HoldErrors();
  void ReleaseErrors();
  // Clears the held error and returns true when it is `kind`.
  bool TakeHeldError(FileErrorKind kind);
  FileErrorKind HeldError() const { return heldError_; }

  // The place being read, for messages only; -1 for none.
  void SetLine(int32_t line) { line_ = line; }
  void SetColumn(int32_t column) { column_ = column; }
  const Str& Name() const { return name_; }
  const Str& Mode() const { return mode_; }

 private:
  friend void FileCopyPart(File& destination, File& source, uint32_t minimum, uint32_t maximum);
  void RaiseHeldError();
  void RaiseNow(FileErrorKind kind);
  void RequireOpen() const;
  bool Has(char letter) const { return FileModeLetter(mode_, letter); }
  // Closes the stream (the field is cleared first) and deletes the file
  // for "D"; returns the first failure.
  FileErrorKind CloseStream();
  int32_t Narrow(int64_t value);
  int64_t EndAfterWrite(uint32_t count);

  FILE* stream_ = nullptr;
  Str name_;
  Str mode_;
  FileErrorKind heldError_ = FileErrorKind::kNone;
  int32_t holdDepth_ = 0;
  int32_t line_ = -1;
  int32_t column_ = -1;
  // Bytes that may still be written before the 2 GiB limit must be asked
  // about again; 0 after anything that moves the position.
  uint32_t writeRoom_ = 0;
};

// --- Whole files ------------------------------------------------------------

// The runtime's access test for reading.
bool FileExists(const char* name);
// Failure raises "Cannot delete file" with the message "<name>: Cannot delete file".
void FileDelete(const char* name);
// Read with "RMlB": the whole file followed by `tail` (see ReadRest).
ByteBlock FileReadAll(const char* name, uint32_t minimum, uint32_t maximum,
                      StrView tail = StrView());
// The whole file followed by `tail`, as text.
Str FileReadText(const char* name, uint32_t minimum, uint32_t maximum, const char* tail = "");
// Written with "CIRWMlB": created or emptied first.
void FileWriteAll(const char* name, const void* buffer, uint32_t count);
// Copies from the source's position: fewer than `minimum` bytes remaining
// is "File is too short" on the source; more than `maximum` are cut to it.
// Goes through one buffer of at most 61440 bytes and stops at the first
// error held by either file.
void FileCopyPart(File& destination, File& source, uint32_t minimum, uint32_t maximum);

// "name (line/column): message" and its shorter forms: a null or empty
// name, or a negative line or column, is left out. Line and column are
// written as given.
Str PositionMessage(const char* message, const char* fileName, int32_t line, int32_t column);
