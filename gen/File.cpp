#include "gen/File.h"

#include <windows.h>

#include <io.h>
#include <share.h>

#include <cstdarg>
#include <cstring>
#include <exception>

#include "gen/Statbuf.h"

namespace {

const char kModule[] = "..\\gen\\File.cpp";
// The line of each check of this module, as its reports name it.
const int kOpenTwice = 35;
const int kNoStreamMode = 57;
const int kBufferNotSet = 83;
const int kReadIntoNull = 123;
const int kTruncateReadOnly = 172;
const int kRaiseWhileHeld = 253;
const int kClosed = 283;
const int kHoldWhileHeld = 286;
const int kReleaseUnheld = 291;

const char* const kErrorTexts[kFileErrorKindCount] = {
    "File is too short",
    "File is too long",
    "Disk full on file write",
    "File seek error",
    "Can't create file",
    "Bad file name",
    "File not found",
    "File is invalid",
    "File damaged",
    "File is empty",
    "File format is not supported",
    "Cannot delete file",
    "Cannot flush file",
    "Cannot close file",
};

// Held from the start with "X": so deep that no ReleaseErrors reaches 0.
const int32_t kHoldForever = 1073741823;
const size_t kStreamBuffer = 512;
const uint32_t kCopyBuffer = 61440;

// The six stream modes a mode text may lead to, one bit each, lowest
// preferred, with their binary and text-translating forms.
const char* const kStreamModes[6][2] = {
    {"rb", "rt"}, {"wb", "wt"}, {"ab", "at"}, {"r+b", "r+t"}, {"w+b", "w+t"}, {"a+b", "a+t"},
};
enum : unsigned { kR = 1, kW = 2, kA = 4, kRPlus = 8, kWPlus = 16, kAPlus = 32, kAll = 63 };

// Narrows `set` to `allowed` unless that would leave nothing.
unsigned Prefer(unsigned set, unsigned allowed) { return set & allowed ? set & allowed : set; }

// Each letter allows some modes whether it is in effect or not; what all
// of them allow is narrowed by preference: without reading, the plain
// write modes; then the append modes exactly when append is wanted.
unsigned StreamModeSet(const char* mode) {
  bool read = FileModeLetter(mode, 'R');
  unsigned set = read ? kR | kRPlus | kWPlus | kAPlus : kAll;
  set &= FileModeLetter(mode, 'W') ? kAll & ~kR : kR;
  set &= FileModeLetter(mode, 'I') ? kW | kWPlus : kR | kA | kRPlus | kAPlus;
  set &= FileModeLetter(mode, 'C') ? kW | kA | kWPlus | kAPlus : kR | kRPlus;
  if (!set) ErrAssert(kModule, kNoStreamMode);
  if (!read) set = Prefer(set, kW | kA);
  return Prefer(set, FileModeLetter(mode, 'A') ? kA | kAPlus : kR | kW | kRPlus | kWPlus);
}

bool ReadOnly(const char* streamMode) { return streamMode[0] == 'r' && streamMode[1] != '+'; }

unsigned LowestBit(unsigned set) { return set & (0u - set); }

int BitIndex(unsigned bit) {
  int index = 0;
  while (bit > 1) bit >>= 1, ++index;
  return index;
}

}  // namespace

ErrTemplate FileErrorText(FileErrorKind kind) {
  int index = static_cast<int>(kind) - 1;
  if (index < 0 || index >= kFileErrorKindCount) return nullptr;
  return kErrorTexts[index];
}

bool FileModeLetter(const char* mode, char letter) {
  bool upper = letter >= 'A' && letter <= 'Z';
  char partner = static_cast<char>(upper ? letter + ('a' - 'A') : letter - ('a' - 'A'));
  for (const char* at = mode; at && *at; ++at) {
    if (*at == letter) return true;
    if (*at == partner) return false;
  }
  return !upper;
}

const char* FileStreamMode(const char* mode) {
  int chosen = BitIndex(LowestBit(StreamModeSet(mode)));
  return kStreamModes[chosen][FileModeLetter(mode, 't') ? 0 : 1];
}

// --- File -------------------------------------------------------------------

File::~File() noexcept(false) {
  FileErrorKind failure = heldError_;
  heldError_ = FileErrorKind::kNone;
  if (stream_) {
    FileErrorKind closing = CloseStream();
    if (failure == FileErrorKind::kNone) failure = closing;
  }
  // A second error raised while one is in flight would end the process;
  // the first one is what the program's catch needs to see.
  if (failure != FileErrorKind::kNone && std::uncaught_exceptions() == 0) RaiseNow(failure);
}

void File::Open(const char* name, const char* mode) {
  RaiseHeldError();
  if (stream_) ErrAssert(kModule, kOpenTwice);
  name_ = name;
  mode_ = mode ? mode : "";
  holdDepth_ = Has('X') ? kHoldForever : 0;
  const char* streamMode = FileStreamMode(mode_);
  // Readers share the file; a writer has it alone.
  FILE* stream = _fsopen(name_, streamMode, ReadOnly(streamMode) ? _SH_DENYWR : _SH_DENYRW);
  if (!stream) {
    Raise(Has('C') ? FileErrorKind::kCantCreate : FileErrorKind::kNotFound);
    return;
  }
  stream_ = stream;
  writeRoom_ = 0;
  if (setvbuf(stream_, nullptr, Has('l') ? _IOFBF : _IOLBF, kStreamBuffer) != 0)
    ErrAssert(kModule, kBufferNotSet);
  if (_filelengthi64(_fileno(stream_)) > kFileSizeLimit) {
    // Refused, not closed as usual: "D" must not delete what was never used.
    fclose(stream_);
    stream_ = nullptr;
    Raise(FileErrorKind::kTooLong);
  }
}

void File::Close() {
  RaiseHeldError();
  RequireOpen();
  FileErrorKind failure = CloseStream();
  if (failure != FileErrorKind::kNone) Raise(failure);
}

FileErrorKind File::CloseStream() {
  FILE* stream = stream_;
  stream_ = nullptr;
  // Flushed apart: not every runtime's close reports that writing out the
  // buffered bytes failed, and a lost write must never pass silently.
  bool flushed = fflush(stream) == 0;
  if (fclose(stream) != 0 || !flushed) return FileErrorKind::kCannotClose;
  if (Has('D') && remove(name_) != 0) return FileErrorKind::kCannotDelete;
  return FileErrorKind::kNone;
}

void File::Read(void* buffer, uint32_t count) {
  RaiseHeldError();
  RequireOpen();
  if (!buffer) ErrAssert(kModule, kReadIntoNull);
  writeRoom_ = 0;
  if (fread(buffer, 1, count, stream_) < count) Raise(FileErrorKind::kTooShort);
}

ByteBlock File::Read(uint32_t count) {
  ByteBlock block;
  if (count) block.Allocate(count);
  ReadInto(block);
  return block;
}

void File::ReadInto(ByteBlock& block) {
  if (block.Size()) {
    Read(block.Begin(), block.Size());
  } else {
    RaiseHeldError();
    RequireOpen();
  }
}

ByteBlock File::ReadRest(uint32_t minimum, uint32_t maximum, StrView tail) {
  RaiseHeldError();
  uint32_t rest = Remaining();
  ByteBlock block;
  if (rest < minimum) {
    Raise(FileErrorKind::kTooShort);
  } else if (rest >= maximum) {
    Raise(FileErrorKind::kTooLong);
  } else if (uint64_t total = static_cast<uint64_t>(rest) + tail.Length()) {
    block.Allocate(total > kArrayLimit ? 0xFFFFFFFFu : static_cast<uint32_t>(total));
    if (rest) Read(block.Begin(), rest);
    if (heldError_ != FileErrorKind::kNone) block.Release();
    else if (tail.Length()) memcpy(block.Begin() + rest, tail.text, tail.Length());
  }
  return block;
}

// Where the file would end after writing `count` bytes. An append stream
// writes at the end whatever its position says, after what it still
// buffers.
int64_t File::EndAfterWrite(uint32_t count) {
  int64_t position = _ftelli64(stream_);
  if (strchr(FileStreamMode(mode_), 'a')) {
    int descriptor = _fileno(stream_);
    int64_t buffered = position - _lseeki64(descriptor, 0, SEEK_CUR);
    int64_t end = _filelengthi64(descriptor) + (buffered > 0 ? buffered : 0);
    if (end > position) position = end;
  }
  return position + count;
}

void File::Write(const void* buffer, uint32_t count) {
  RaiseHeldError();
  RequireOpen();
  if (!count) return;
  // Asking where the file ends costs a call to the system; most writes
  // fit in what the last answer left room for.
  if (count > writeRoom_) {
    int64_t end = EndAfterWrite(count);
    if (end > kFileSizeLimit) {
      writeRoom_ = 0;
      Raise(FileErrorKind::kTooLong);
      return;
    }
    writeRoom_ = static_cast<uint32_t>(kFileSizeLimit - end) + count;
  }
  writeRoom_ -= count;
  if (fwrite(buffer, 1, count, stream_) < count) Raise(FileErrorKind::kDiskFull);
}

uint32_t File::WriteText(StrView text) {
  Write(text.text, text.Length());
  return text.Length();
}

uint32_t File::Print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const char* text = FormatStatic(format, args);
  va_end(args);
  return WriteText(text);
}

void File::Seek(int32_t offset, int origin) {
  RaiseHeldError();
  RequireOpen();
  writeRoom_ = 0;
  int64_t before = _ftelli64(stream_);
  if (fseek(stream_, offset, origin) != 0) {
    Raise(FileErrorKind::kSeekError);
    return;
  }
  int64_t after = _ftelli64(stream_);
  if (after > kFileSizeLimit) {
    _fseeki64(stream_, before, SEEK_SET);
    Raise(FileErrorKind::kSeekError);
  } else if (origin == SEEK_SET && after != offset) {
    Raise(FileErrorKind::kSeekError);
  }
}

// A size or position beyond the 32-bit range, which only another process
// can cause, is "File is too long" rather than a wrapped number.
int32_t File::Narrow(int64_t value) {
  if (value <= kFileSizeLimit) return static_cast<int32_t>(value);
  Raise(FileErrorKind::kTooLong);
  return static_cast<int32_t>(kFileSizeLimit);
}

int32_t File::Position() {
  RaiseHeldError();
  RequireOpen();
  return Narrow(_ftelli64(stream_));
}

int32_t File::Size() {
  RaiseHeldError();
  RequireOpen();
  return Narrow(_filelengthi64(_fileno(stream_)));
}

uint32_t File::Remaining() {
  int32_t size = Size();
  int32_t position = Position();
  return position < size ? static_cast<uint32_t>(size - position) : 0;
}

bool File::AtEnd() {
  int32_t size = Size();
  return Position() >= size;
}

void File::Flush() {
  RaiseHeldError();
  RequireOpen();
  if (fflush(stream_) != 0) {
    Raise(FileErrorKind::kCannotFlush);
    return;
  }
  // Closing a duplicate of the handle makes the system take note of the
  // length; committing through it puts data and length on the disk. A
  // handle that may only read has nothing to commit and may not ask.
  HANDLE process = GetCurrentProcess();
  HANDLE duplicate = nullptr;
  if (!DuplicateHandle(process, reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream_))),
                       process, &duplicate, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    Raise(FileErrorKind::kCannotFlush);
    return;
  }
  bool committed = ReadOnly(FileStreamMode(mode_)) || FlushFileBuffers(duplicate);
  bool closed = CloseHandle(duplicate);
  if (!committed || !closed) Raise(FileErrorKind::kCannotFlush);
}

void File::Truncate() {
  RaiseHeldError();
  RequireOpen();
  if (fflush(stream_) != 0) {
    Raise(FileErrorKind::kCannotFlush);
    return;
  }
  int64_t position = _ftelli64(stream_);
  if (position < 0 || _chsize_s(_fileno(stream_), position) != 0) {
    if (!Has('W')) ErrAssert(kModule, kTruncateReadOnly);
    Raise(FileErrorKind::kInvalid);
  }
}

// --- Errors -----------------------------------------------------------------

void File::Raise(FileErrorKind kind) {
  if (heldError_ != FileErrorKind::kNone) ErrAssert(kModule, kRaiseWhileHeld);
  if (holdDepth_ == 0) {
    RaiseNow(kind);
    return;
  }
  heldError_ = kind;
}

void File::RaiseNow(FileErrorKind kind) {
  ErrTemplate text = FileErrorText(kind);
  // Returns only when a debugger took a nested error; the caller then goes
  // on as the error frames do.
  ErrRaiseText(text, PositionMessage(text, name_, line_, column_));
}

void File::RaiseHeldError() {
  if (heldError_ == FileErrorKind::kNone) return;
  FileErrorKind kind = heldError_;
  heldError_ = FileErrorKind::kNone;
  RaiseNow(kind);
}

void File::RequireOpen() const {
  if (!stream_) ErrAssert(kModule, kClosed);
}

void File::HoldErrors() {
  if (heldError_ != FileErrorKind::kNone) ErrAssert(kModule, kHoldWhileHeld);
  ++holdDepth_;
}

void File::ReleaseErrors() {
  if (holdDepth_ < 1) ErrAssert(kModule, kReleaseUnheld);
  if (--holdDepth_ == 0) RaiseHeldError();
}

bool File::TakeHeldError(FileErrorKind kind) {
  if (kind == FileErrorKind::kNone || heldError_ != kind) return false;
  heldError_ = FileErrorKind::kNone;
  return true;
}

// --- Whole files --------------------------------------------------------------

bool FileExists(const char* name) { return _access(name, 4) == 0; }

void FileDelete(const char* name) {
  if (remove(name) == 0) return;
  ErrTemplate text = FileErrorText(FileErrorKind::kCannotDelete);
  ErrRaiseText(text, Str::Format("%s: %s", name, text));
}

ByteBlock FileReadAll(const char* name, uint32_t minimum, uint32_t maximum, StrView tail) {
  File file(name, "RMlB");
  ByteBlock content = file.ReadRest(minimum, maximum, tail);
  file.Close();
  return content;
}

Str FileReadText(const char* name, uint32_t minimum, uint32_t maximum, const char* tail) {
  if (!tail) tail = "";
  ByteBlock content =
      FileReadAll(name, minimum, maximum, StrView(tail, static_cast<uint32_t>(strlen(tail)) + 1));
  return Str(StrView(content.Begin(), content.Size() ? content.Size() - 1 : 0));
}

void FileWriteAll(const char* name, const void* buffer, uint32_t count) {
  File file(name, "CIRWMlB");
  file.Write(buffer, count);
  file.Close();
}

void FileCopyPart(File& destination, File& source, uint32_t minimum, uint32_t maximum) {
  source.RaiseHeldError();
  destination.RaiseHeldError();
  uint32_t left = source.Remaining();
  if (left < minimum) {
    source.Raise(FileErrorKind::kTooShort);
    return;
  }
  if (left > maximum) left = maximum;
  if (!left) return;
  ByteBlock buffer;
  buffer.Allocate(left < kCopyBuffer ? left : kCopyBuffer);
  // With errors held, a failed read must not be followed by writing what
  // the buffer happened to hold.
  while (left > 0 && source.HeldError() == FileErrorKind::kNone &&
         destination.HeldError() == FileErrorKind::kNone) {
    uint32_t chunk = left < buffer.Size() ? left : buffer.Size();
    source.Read(buffer.Begin(), chunk);
    if (source.HeldError() != FileErrorKind::kNone) break;
    destination.Write(buffer.Begin(), chunk);
    left -= chunk;
  }
}

Str PositionMessage(const char* message, const char* fileName, int32_t line, int32_t column) {
  const char* text = LocalizeText(message);
  int form = (fileName && *fileName ? 4 : 0) | (line >= 0 ? 2 : 0) | (column >= 0 ? 1 : 0);
  switch (form) {
    case 1: return Str::Format("Column %d: %s", column, text);
    case 2: return Str::Format("Line %d: %s", line, text);
    case 3: return Str::Format("Line %d/%d: %s", line, column, text);
    case 4: return Str::Format("%s: %s", fileName, text);
    case 5: return Str::Format("%s (column %d): %s", fileName, column, text);
    case 6: return Str::Format("%s (%d): %s", fileName, line, text);
    case 7: return Str::Format("%s (%d/%d): %s", fileName, line, column, text);
    default: return Str(text);
  }
}
