#include "gen/Mail.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "gen/Array.h"
#include "gen/Inet.h"
#include "gen/Ini.h"
#include "gen/Pathw32.h"
#include "gen/SimpleMapi.h"
#include "gen/err/Err.h"

namespace {

const char kMapiLibrary[] = "MAPI32.DLL";
const char kMapiSettingPath[] = "|WIN.INI|MAIL|MAPI";
const char kFormTemplate[] = "form.htm";
const char kFormNotFound[] = "File '%s' not found!";
const char kTextareaMarker[] = "<textarea";
const char kValueMarker[] = "value=\"";
// Room of the temporary folder, of the copy's path and of one piece read
// from the template.
const uint32_t kPathRoom = 256;
const int kPieceRoom = 256;

// Looked up at each sending while the library is loaded; the sending itself
// needs the first three.
const char* const kMapiExports[] = {
    "MAPILogon",     "MAPILogoff",     "MAPISendMail",   "MAPIFindNext",
    "MAPIReadMail",  "MAPISaveMail",   "MAPIDeleteMail", "MAPIFreeBuffer",
    "MAPIAddress",   "MAPIDetails",    "MAPIResolveName", "MAPISendDocuments"};
const int kMapiExportCount = sizeof kMapiExports / sizeof kMapiExports[0];
FARPROC mapiFunctions[kMapiExportCount];

// Frees the client's library, and forgets what was looked up in it, on
// every way out of a sending.
class MapiLibrary {
 public:
  MapiLibrary() : module_(LoadLibraryA(kMapiLibrary)) {
    for (int i = 0; i < kMapiExportCount; ++i)
      mapiFunctions[i] = module_ ? GetProcAddress(module_, kMapiExports[i]) : nullptr;
  }
  ~MapiLibrary() {
    for (FARPROC& function : mapiFunctions) function = nullptr;
    if (module_) FreeLibrary(module_);
  }
  MapiLibrary(const MapiLibrary&) = delete;
  MapiLibrary& operator=(const MapiLibrary&) = delete;

  bool CanSend() const { return mapiFunctions[0] && mapiFunctions[1] && mapiFunctions[2]; }

 private:
  HMODULE module_;
};

// A looked-up export as the function type it is published with.
template <typename Function> Function Export(int index) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(mapiFunctions[index]));
}

const char* OrEmpty(const char* text) { return text ? text : ""; }

void SendByMapi(int32_t flags, const char* recipient, const char* subject, const char* body,
                uint32_t attachmentCount, const char* const* attachments) {
  MapiLibrary library;
  // A client without the three calls a sending needs is no usable client.
  if (!library.CanSend()) return;
  auto logon = Export<MapiLogonFn>(0);
  auto logoff = Export<MapiLogoffFn>(1);
  auto sendMail = Export<MapiSendMailFn>(2);

  Str name(recipient);
  Str address = Str::Format("SMTP:%s", recipient);
  MapiRecipDesc to = {0, kMapiTo, name.Text(), address.Text(), 0, nullptr};
  MapiRecipDesc originator = {};

  TypedArray<MapiFileDesc> files;
  files.Reserve(attachmentCount);
  for (uint32_t i = 0; i < attachmentCount; ++i)
    files.Push(MapiFileDesc{0, 0, kMapiNoPosition, const_cast<LPSTR>(attachments[i]), nullptr,
                            nullptr});

  Str subjectText(subject);
  Str bodyText(body);
  MapiMessage message = {};
  message.lpszSubject = subjectText.Text();
  message.lpszNoteText = bodyText.Text();
  message.lpOriginator = &originator;
  message.nRecipCount = 1;
  message.lpRecips = &to;
  message.nFileCount = files.Count();
  message.lpFiles = files.Count() ? files.begin() : nullptr;

  // With a default logon the client needs no help; without one it may ask
  // the user to log on.
  ULONG sendFlags = kMapiLogonUi;
  MapiSession session = 0;
  if (logon(0, nullptr, nullptr, 0, 0, &session) == 0) {
    logoff(session, 0, 0, 0);
    sendFlags = 0;
  }
  if (flags & MAIL_DIALOG) sendFlags |= kMapiDialog;

  ULONG result = sendMail(0, 0, &message, sendFlags, 0);
  if (result != 0) MessageBoxA(nullptr, MapiErrorText(result), "Error", MB_ICONERROR);
}

void SendByWebForm(const char* recipient, const char* subject, const char* body) {
  Str copy = FillMailForm(kFormTemplate, recipient, subject, body);
  if (copy.IsEmpty()) ErrRaiseFormat(kFormNotFound, kFormTemplate);
  BrowseFile(copy);
}

// Closes a C stream on every way out.
class Stream {
 public:
  Stream(const char* path, const char* mode) : file_(fopen(path, mode)) {}
  ~Stream() {
    if (file_) fclose(file_);
  }
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;
  FILE* Get() const { return file_; }

 private:
  FILE* file_;
};

void Write(FILE* file, const char* start, const char* end) {
  fwrite(start, 1, static_cast<size_t>(end - start), file);
}

}  // namespace

void MailTo(const char* recipient, const char* subject) {
  OpenUrl("mailto:%s?subject=%s", OrEmpty(recipient), OrEmpty(subject), "");
}

bool MailMethodAvailable(int32_t flags) {
  if (flags & MAIL_DISABLED) return false;
  if (flags & MAIL_MAILTO) return true;
  if (flags & MAIL_MAPI) return ReadNumber(kMapiSettingPath, 0) != 0;
  return false;
}

void SendMail(int32_t flags, const char* recipient, const char* subject, const char* body,
              uint32_t attachmentCount, const char* const* attachments) {
  if (!MailMethodAvailable(flags)) return;
  recipient = OrEmpty(recipient);
  subject = OrEmpty(subject);
  body = OrEmpty(body);
  if (flags & MAIL_MAILTO)
    OpenUrl("mailto:%s?subject=%s&body=%s", recipient, subject, body);
  else if (flags & MAIL_WEBFORM)
    SendByWebForm(recipient, subject, body);
  else
    SendByMapi(flags, recipient, subject, body, attachmentCount, attachments);
}

void SendMail(int32_t flags, const char* recipient, const char* subject, const char* body,
              uint32_t attachmentCount, ...) {
  TypedArray<const char*> attachments;
  attachments.Reserve(attachmentCount);
  va_list args;
  va_start(args, attachmentCount);
  for (uint32_t i = 0; i < attachmentCount; ++i) attachments.Push(va_arg(args, const char*));
  va_end(args);
  SendMail(flags, recipient, subject, body, attachmentCount, attachments.begin());
}

Str MapiErrorText(uint32_t code) {
  struct Entry {
    uint32_t code;
    const char* text;
  };
  static const Entry kTexts[] = {
      {1, "The user canceled one of the dialog boxes.\nNo message was sent."},
      {2, "\nOne or more unspecified errors occurred while \nreading the message."},
      {3, "There was no default logon, and the user failed\nto log on successfully when the "
          "logon dialog box\nwas displayed. No message was sent."},
      {4, "An attachment could not be written to a temporary file\nbecause there was not enough "
          "space on the disk."},
      {5, "There was insufficient memory to read the message."},
      {8, "The user had too many sessions open simultaneously.\nNo session handle was returned."},
      {9, "There were too many file attachments in the message.\nThe message could not be read."},
      {10, "There were too many recipients of the message.\nThe message could not be read."},
      {11, "The specified attachment was not found. No message \nwas sent."},
      {12, "The specified attachment could not be opened. \nNo message was sent."},
      {13, "An attachment could not be written to a temporary file.\nCheck directory "
           "permissions."},
      {14, "A recipient did not appear in the address list.\nNo message was sent."},
      {15, "The type of a recipient was not MAPI_TO, MAPI_CC, or \nMAPI_BCC. No message was "
           "sent."},
      {17, "An invalid message identifier was passed in the \nlpszMessageID parameter."},
      {18, "The text in the message was too large.\nNo message was sent."},
      {19, "An invalid session handle was passed in the \nlhSession parameter. No message was "
           "retrieved."},
      {21, "A recipient matched more than one of the \nrecipient descriptor structures and "
           "MAPI_DIALOG \nwas not set. No message was sent. "},
      {25, "One or more recipients were invalid or did\nnot resolve to any address."},
  };
  for (const Entry& entry : kTexts)
    if (entry.code == code) return Str(entry.text);
  return Str("");
}

Str FillMailForm(const char* templateName, const char* recipient, const char* subject,
                 const char* body) {
  char copyPath[kPathRoom] = "";
  GetTempPathA(kPathRoom, copyPath);
  strncat(copyPath, templateName, kPathRoom - 1 - strlen(copyPath));

  Stream source(templateName, "rt");
  Stream target(copyPath, "wt");
  if (!source.Get() || !target.Get()) return Str("");

  const char* const fills[] = {OrEmpty(recipient), OrEmpty(subject)};
  uint32_t valueCount = 0;
  char piece[kPieceRoom];
  FILE* out = target.Get();
  while (fgets(piece, kPieceRoom, source.Get())) {
    const char* end = piece + strlen(piece);
    const char* textarea = strstr(piece, kTextareaMarker);
    const char* close = textarea ? strchr(textarea + strlen(kTextareaMarker), '>') : nullptr;
    const char* value = strstr(piece, kValueMarker);
    if (textarea) {
      // A tag whose end lies on a later piece gets no body: nothing in
      // this piece says where the body would belong.
      if (!close) {
        Write(out, piece, end);
        continue;
      }
      Write(out, piece, close + 1);
      fputs(OrEmpty(body), out);
      Write(out, close + 1, end);
    } else if (value) {
      const char* quote = value + strlen(kValueMarker) - 1;
      Write(out, piece, quote + 1);
      if (valueCount < 2) fputs(fills[valueCount], out);
      ++valueCount;
      Write(out, quote, end);
    } else {
      Write(out, piece, end);
    }
  }
  return Str(copyPath);
}
