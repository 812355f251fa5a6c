#pragma once
#include <cstdint>

#include "gen/Str.h"

// Puts a mail in front of the user: as a mailto: address for the
// registered mail program, through the mail client's programming interface
// ("MAPI32.DLL"), or as a local HTML form shown in the browser. The user
// always sends it from the other program.

// Mail flags, combined as bits.
const int32_t MAIL_DISABLED = 1;  // no way may be used; wins over all others
const int32_t MAIL_MAILTO = 2;    // a mailto: address; wins over MAIL_MAPI
const int32_t MAIL_MAPI = 4;      // the client, when WIN.INI's [MAIL] MAPI allows it
const int32_t MAIL_WEBFORM = 8;   // with MAIL_MAPI: the filled-in form instead
const int32_t MAIL_DIALOG = 16;   // with MAIL_MAPI: the client's dialog before sending

// "mailto:<recipient>?subject=<subject>", opened at once.
void MailTo(const char* recipient, const char* subject);
// Whether `flags` name a way that may be used here.
bool MailMethodAvailable(int32_t flags);
// Does nothing when no way is available. Attachments go only through the
// mail client, in the order given. A result of the client other than
// success is shown in an error box; a form template that cannot be used
// raises "File '%s' not found!".
void SendMail(int32_t flags, const char* recipient, const char* subject, const char* body,
              uint32_t attachmentCount, const char* const* attachments);
void SendMail(int32_t flags, const char* recipient, const char* subject, const char* body,
              uint32_t attachmentCount, ...);
// The client's explanation of its result code; empty for codes it does not
// describe (success among them).
Str MapiErrorText(uint32_t code);
// A copy of the template in the temporary folder, the recipient and the
// subject in its first two value=" fields and the body in its first
// <textarea>. Its path, or the empty text when either file cannot be opened.
Str FillMailForm(const char* templateName, const char* recipient, const char* subject,
                 const char* body);
