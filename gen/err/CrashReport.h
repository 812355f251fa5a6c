#pragma once
#include <windows.h>

#include <cstdint>

// The crash report: one process-wide 8192-byte text with "\r\n" line ends.
const uint32_t kReportSize = 8192;
extern char reportText[kReportSize];

// Starts the report text with its header: product, version, the exception
// text, the application path and the OS description.
void WriteReportHeader(const char* exceptionText);
// Appends to the report text; a text that does not fit is the caller's
// invalid parameter (the guard's handler is called).
void AppendToReport(const char* text);

// Shows the report and asks whether it may be sent: the in-memory dialog,
// or the console in console mode. True: send.
bool AskToSendReport(const char* report);
INT_PTR ShowReportDialog();
INT_PTR CALLBACK ReportDialogProc(HWND dialog, UINT message, WPARAM first, LPARAM second);

// The in-memory dialog template under construction.
class DialogTemplateBuffer {
 public:
  static const uint32_t kCapacity = 32767;
  void Reset();
  // n bytes from `source`, or n zero bytes for a null source. An empty
  // append, or one past the capacity, does nothing.
  void Append(const void* source, uint32_t count);
  void Align();  // zero bytes up to a multiple of 4
  const unsigned char* Bytes() const { return bytes_; }
  uint32_t Size() const { return position_; }

 private:
  unsigned char bytes_[kCapacity];
  uint32_t position_ = 0;
};

// Builds the consent dialog's template into the process-wide buffer.
const DialogTemplateBuffer& BuildReportDialogTemplate();

extern const char kReportQuestion[];
