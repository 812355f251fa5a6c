#include "gen/err/ReportMail.h"

#include <cstring>

#include "gen/Ini.h"
#include "gen/Mail.h"
#include "gen/Str.h"
#include "gen/err/Err.h"

namespace {

const char kModule[] = "..\\gen\\err\\ReportMail.cpp";
// The failed check that reports a subject setting which was not used.
const int kBadSubjectSetting = 40;

const char kAssertSubject[] = "Report|Assert|Asserted at %s %d%s";
const char kSignalSubject[] = "Report|Signal|Signalled %s%s";
const char kGpfSubject[] = "Report|GPF|Gpfed %s 0x%08lX%s";
const char kAssertBody[] = "Assertion failed at '%s' line %d\r\n%s";
const char kSignalBody[] = "Aborted by signal '%s'\r\n%s";
const char kGpfBody[] = "General Protection Fault '%s' occured at 0x%08lX'\r\n%s";
const char kMapiRecipient[] = "Internet|MAutomated";
const char kMailtoRecipient[] = "Internet|MAutomated|";
const uint32_t kSubjectLimit = 127;

const char* OrEmpty(const char* text) { return text ? text : ""; }

// The subject format to use: the setting when it converts the entry's
// arguments or a leading part of them (printf ignores the ones left over),
// else the built-in default (the path's value part).
struct SubjectFormat {
  Str format;
  bool settingRejected = false;
};

SubjectFormat ReadSubjectFormat(const char* path, const char* kinds) {
  SubjectFormat result;
  result.format = ReadSetting(path);
  if (!FormatConvertsLeadingArguments(result.format, kinds)) {
    result.format = strchr(strchr(path, '|') + 1, '|') + 1;
    result.settingRejected = true;
  }
  return result;
}

void SendAndReport(Str subject, const Str& body, bool settingRejected) {
  if (subject.Length() > kSubjectLimit) subject = Left(subject, kSubjectLimit);
  SendReportMail(subject, body);
  // After the sending, so that the report still goes out with the default.
  if (settingRejected) ErrAssert(kModule, kBadSubjectSetting);
}

}  // namespace

bool FormatConvertsLeadingArguments(const char* format, const char* kinds) {
  if (!format) return false;
  for (const char* at = format; *at; ++at) {
    if (*at != '%') continue;
    ++at;
    if (*at == '%') continue;
    while (*at && strchr("-+ #0", *at)) ++at;
    while (*at >= '0' && *at <= '9') ++at;
    if (*at == '.') {
      ++at;
      while (*at >= '0' && *at <= '9') ++at;
    }
    if (*at == 'l' || *at == 'h') ++at;
    char kind;
    if (*at == 's' && at[-1] != 'l' && at[-1] != 'h')
      kind = 's';
    else if (*at && strchr("diuxXo", *at))
      kind = 'i';
    else
      return false;  // '*', 'n', 64-bit, wide, floating or a cut-off conversion
    if (*kinds != kind) return false;
    ++kinds;
  }
  return true;
}

void MailAssertReport(const char* file, int32_t line, const char* subjectTail,
                      const char* bodyTail) {
  file = OrEmpty(file);
  SubjectFormat format = ReadSubjectFormat(kAssertSubject, "sis");
  Str subject = Str::Format(format.format, file, static_cast<int>(line), OrEmpty(subjectTail));
  Str body = Str::Format(kAssertBody, file, static_cast<int>(line), OrEmpty(bodyTail));
  SendAndReport(static_cast<Str&&>(subject), body, format.settingRejected);
}

void MailSignalReport(const char* signal, const char* subjectTail, const char* bodyTail) {
  signal = OrEmpty(signal);
  SubjectFormat format = ReadSubjectFormat(kSignalSubject, "ss");
  Str subject = Str::Format(format.format, signal, OrEmpty(subjectTail));
  Str body = Str::Format(kSignalBody, signal, OrEmpty(bodyTail));
  SendAndReport(static_cast<Str&&>(subject), body, format.settingRejected);
}

void MailGpfReport(const char* faultName, uint32_t address, const char* subjectTail,
                   const char* bodyTail) {
  faultName = OrEmpty(faultName);
  unsigned long value = address;
  SubjectFormat format = ReadSubjectFormat(kGpfSubject, "sis");
  Str subject = Str::Format(format.format, faultName, value, OrEmpty(subjectTail));
  Str body = Str::Format(kGpfBody, faultName, value, OrEmpty(bodyTail));
  SendAndReport(static_cast<Str&&>(subject), body, format.settingRejected);
}

void SendReportMail(const char* subject, const char* body) {
  if (MailMethodAvailable(MAIL_MAPI)) {
    Str recipient = ReadSetting(kMapiRecipient);
    SendMail(MAIL_MAPI | MAIL_DIALOG, recipient, subject, body, 0,
             static_cast<const char* const*>(nullptr));
  } else {
    Str recipient = ReadSetting(kMailtoRecipient);
    MailTo(recipient, subject);
  }
}
