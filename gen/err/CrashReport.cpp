#include "gen/err/CrashReport.h"

#include <cstdio>
#include <cstring>

#include "gen/err/errgpfse.h"
#include "mania/Bounded.h"

char reportText[kReportSize];

const char kReportQuestion[] =
    "Please help us make the software better. We need to see the details of this error to "
    "fix the problem. This report is anonymous, doesn't contain your e-mail address and will "
    "remain strictly confidential. Would you like to send the report to us?";

namespace {

const char kHeaderFormat[] =
    "%s %s exception: %s\r\nApplication: %s\r\nOS: %s\r\n"
    "------------------------------------------------------------------\r\n";
const char kCaptionFormat[] = "%s %s exception";
const char kDialogFailureFormat[] = "Can't create DialogBox, res=%d. error code=%d";
const char kDialogFailureCaption[] = "Exception handler error";

// Dialog units and styles of the consent dialog. The texts are plain ASCII,
// so they are widened byte by byte: the report thread must not allocate.
const uint32_t kDialogStyle = 0x80C808C4;
const int16_t kDialogWidth = 260;
const int16_t kDialogHeight = 219;
const char kDialogTitle[] = "Exception occured";
const uint16_t kFontPoints = 8;
const uint16_t kFontWeight = 75;
const char kFontFace[] = "MS Sans Serif";

const uint16_t kButtonClass = 0x0080;
const uint16_t kEditClass = 0x0081;
const uint16_t kStaticClass = 0x0082;
const uint32_t kNoIdentifier = 0xFFFFFFFF;
const int kReportEditId = 1044;

struct DialogItem {
  uint32_t style;
  int16_t x, y, width, height;
  uint32_t identifier;
  uint16_t itemClass;
  const char* title;
};

const DialogItem kDialogItems[] = {
    {0x50001007, 14, 151, 233, 1, kNoIdentifier, kStaticClass, ""},  // sunken line
    {0x50030001, 138, 199, 50, 14, IDYES, kButtonClass, "&Yes"},
    {0x50030000, 195, 199, 50, 14, IDNO, kButtonClass, "&No"},
    // Read-only, centred, scrolls vertically when the report is long.
    {0x502008C5, 11, 9, 238, 137, kReportEditId, kEditClass, ""},
    {0x50000021, 12, 158, 233, 38, kNoIdentifier, kStaticClass, kReportQuestion},
};

char dialogText[kReportSize];
char dialogCaption[1024];
DialogTemplateBuffer dialogTemplate;

void AppendU8(uint8_t value) { dialogTemplate.Append(&value, sizeof value); }
void AppendU16(uint16_t value) { dialogTemplate.Append(&value, sizeof value); }
void AppendU32(uint32_t value) { dialogTemplate.Append(&value, sizeof value); }
void AppendI16(int16_t value) { dialogTemplate.Append(&value, sizeof value); }

void AppendText(const char* text) {
  do {
    AppendU16(static_cast<unsigned char>(*text));
  } while (*text++);
}

void AppendHeader() {
  AppendU16(1);       // version
  AppendU16(0xFFFF);  // signature of the extended form
  AppendU32(0);       // help identifier
  AppendU32(0);       // extended style
  AppendU32(kDialogStyle);
  AppendU16(sizeof kDialogItems / sizeof kDialogItems[0]);
  AppendI16(0);
  AppendI16(0);
  AppendI16(kDialogWidth);
  AppendI16(kDialogHeight);
  AppendText("");  // no menu
  AppendText("");  // the standard dialog class
  AppendText(kDialogTitle);
  AppendU16(kFontPoints);
  AppendU16(kFontWeight);
  AppendU8(0);  // not italic
  AppendU8(0);  // character set
  AppendText(kFontFace);
}

void AppendItem(const DialogItem& item) {
  dialogTemplate.Align();
  AppendU32(0);  // help identifier
  AppendU32(0);  // extended style
  AppendU32(item.style);
  AppendI16(item.x);
  AppendI16(item.y);
  AppendI16(item.width);
  AppendI16(item.height);
  AppendU32(item.identifier);
  AppendU16(0xFFFF);  // a predefined class follows
  AppendU16(item.itemClass);
  AppendText(item.title);
  AppendU16(0);  // no creation data
}

// With no answer to read (end of input, no console) nothing is sent: the
// user never agreed.
bool AskOnConsole(const char* report) {
  fprintf(stderr, "\n%s", report);
  fprintf(stderr, "\n%s", kReportQuestion);
  fputs(" [Y/n]? ", stderr);
  fflush(stderr);
  char answer = 0;
  if (scanf("%c", &answer) != 1) return false;
  return answer != 'n' && answer != 'N';
}

bool AskInDialog(const char* report) {
  FormatOrFail(dialogCaption, sizeof dialogCaption, kCaptionFormat, productInfo.name,
               productInfo.version);
  CopyOrFail(dialogText, sizeof dialogText, report);
  INT_PTR result = ShowReportDialog();
  if (result == 0 || result == -1) {
    char message[1024];
    FormatOrFail(message, sizeof message, kDialogFailureFormat, static_cast<int>(result),
                 static_cast<int>(GetLastError()));
    MessageBoxA(nullptr, message, kDialogFailureCaption, MB_OK);
    return false;
  }
  return result == IDYES;
}

}  // namespace

void WriteReportHeader(const char* exceptionText) {
  FormatOrFail(reportText, kReportSize, kHeaderFormat, productInfo.name, productInfo.version,
               exceptionText, guardState.applicationPath, guardState.osDescription);
}

void AppendToReport(const char* text) { AppendOrFail(reportText, kReportSize, text); }

const uint32_t DialogTemplateBuffer::kCapacity;

void DialogTemplateBuffer::Reset() {
  position_ = 0;
  bytes_[0] = 0;
}

void DialogTemplateBuffer::Append(const void* source, uint32_t count) {
  if (count == 0 || count > kCapacity - position_) return;
  if (source)
    memcpy(bytes_ + position_, source, count);
  else
    memset(bytes_ + position_, 0, count);
  position_ += count;
}

void DialogTemplateBuffer::Align() { Append(nullptr, (4 - position_ % 4) % 4); }

const DialogTemplateBuffer& BuildReportDialogTemplate() {
  dialogTemplate.Reset();
  AppendHeader();
  for (const DialogItem& item : kDialogItems) AppendItem(item);
  return dialogTemplate;
}

bool AskToSendReport(const char* report) {
  return guardState.consoleMode ? AskOnConsole(report) : AskInDialog(report);
}

INT_PTR ShowReportDialog() {
  const DialogTemplateBuffer& built = BuildReportDialogTemplate();
  return DialogBoxIndirectParamA(nullptr, reinterpret_cast<LPCDLGTEMPLATEA>(built.Bytes()),
                                 nullptr, ReportDialogProc, 0);
}

// Only Yes and No end the dialog: Escape and the close box send IDCANCEL,
// which is left unhandled, so the user has to decide.
INT_PTR CALLBACK ReportDialogProc(HWND dialog, UINT message, WPARAM first, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      SetDlgItemTextA(dialog, kReportEditId, dialogText);
      SetWindowTextA(dialog, dialogCaption);
      return TRUE;
    case WM_COMMAND: {
      WORD command = LOWORD(first);
      if (command != IDYES && command != IDNO) return FALSE;
      EndDialog(dialog, command);
      return TRUE;
    }
    default:
      return FALSE;
  }
}
