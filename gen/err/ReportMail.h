#pragma once
#include <cstdint>

// A failure reported as a mail to the maker's report mailbox. The subjects'
// formats come from the "Report" settings (written back with the built-in
// default when missing). A setting may use all of the entry's arguments or
// a leading part of them; one that converts more or other arguments is not
// used: the default is, and a failed check follows the sending. The bodies
// are fixed.

void MailAssertReport(const char* file, int32_t line, const char* subjectTail,
                      const char* bodyTail);
void MailSignalReport(const char* signal, const char* subjectTail, const char* bodyTail);
void MailGpfReport(const char* faultName, uint32_t address, const char* subjectTail,
                   const char* bodyTail);
// Through the mail client when WIN.INI allows it (recipient "Internet|
// MAutomated", with the client's dialog), else as a mailto: address with
// recipient and subject only ("Internet|MAutomated|").
void SendReportMail(const char* subject, const char* body);

// Whether `format` converts the arguments `kinds` describes, all of them
// or a leading part, in order: 's' for a text, 'i' for a 32-bit number.
// "%%" converts nothing; "%n", '*' widths, characters and 64-bit or wide
// conversions never match.
bool FormatConvertsLeadingArguments(const char* format, const char* kinds);
