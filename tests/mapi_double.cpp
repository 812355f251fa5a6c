// Stands in for the mail client's library ("MAPI32.DLL") beside the test
// programs. Every call is appended as lines to the file named by
// MAPI_DOUBLE_RECORD; MAPILogon and MAPISendMail return the numbers in
// MAPI_DOUBLE_LOGON and MAPI_DOUBLE_SEND (0 when unset).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "gen/SimpleMapi.h"

namespace {

const MapiSession kSession = 77;

std::string Variable(const char* name) {
  char value[MAX_PATH];
  DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  return length && length < sizeof value ? value : "";
}

ULONG Result(const char* name) { return strtoul(Variable(name).c_str(), nullptr, 10); }

// Line breaks as "\r" and "\n", so that each field stays on its line; a null
// text as "null".
std::string Shown(const char* text) {
  if (!text) return "null";
  std::string shown;
  for (const char* at = text; *at; ++at)
    shown += *at == '\r' ? "\\r" : *at == '\n' ? "\\n" : std::string(1, *at);
  return "'" + shown + "'";
}

std::string Recipient(const MapiRecipDesc& recipient) {
  return std::to_string(recipient.ulReserved) + " " + std::to_string(recipient.ulRecipClass) +
         " " + Shown(recipient.lpszName) + " " + Shown(recipient.lpszAddress) + " " +
         std::to_string(recipient.ulEIDSize) + " " + (recipient.lpEntryID ? "entry" : "null");
}

void Record(const std::string& line) {
  std::string path = Variable("MAPI_DOUBLE_RECORD");
  if (path.empty()) return;
  FILE* file = fopen(path.c_str(), "ab");
  if (!file) return;
  fputs((line + "\n").c_str(), file);
  fclose(file);
}

}  // namespace

extern "C" __declspec(dllexport) ULONG WINAPI MAPILogon(ULONG_PTR window, LPSTR profile,
                                                        LPSTR password, ULONG flags,
                                                        ULONG reserved, MapiSession* session) {
  Record("logon " + std::to_string(window) + " " + Shown(profile) + " " + Shown(password) + " " +
         std::to_string(flags) + " " + std::to_string(reserved));
  ULONG result = Result("MAPI_DOUBLE_LOGON");
  if (result == 0) *session = kSession;
  return result;
}

extern "C" __declspec(dllexport) ULONG WINAPI MAPILogoff(MapiSession session, ULONG_PTR window,
                                                         ULONG flags, ULONG reserved) {
  Record("logoff " + std::to_string(session) + " " + std::to_string(window) + " " +
         std::to_string(flags) + " " + std::to_string(reserved));
  return 0;
}

extern "C" __declspec(dllexport) ULONG WINAPI MAPISendMail(MapiSession session, ULONG_PTR window,
                                                           MapiMessage* message, ULONG flags,
                                                           ULONG reserved) {
  Record("send " + std::to_string(session) + " " + std::to_string(window) + " " +
         std::to_string(flags) + " " + std::to_string(reserved));
  const MapiMessage& m = *message;
  Record("message " + std::to_string(m.ulReserved) + " " + Shown(m.lpszMessageType) + " " +
         Shown(m.lpszDateReceived) + " " + Shown(m.lpszConversationID) + " " +
         std::to_string(m.flFlags));
  Record("subject " + Shown(m.lpszSubject));
  Record("body " + Shown(m.lpszNoteText));
  Record("from " + (m.lpOriginator ? Recipient(*m.lpOriginator) : std::string("none")));
  for (ULONG i = 0; i < m.nRecipCount; ++i) Record("to " + Recipient(m.lpRecips[i]));
  for (ULONG i = 0; i < m.nFileCount; ++i) {
    const MapiFileDesc& f = m.lpFiles[i];
    Record("file " + std::to_string(f.ulReserved) + " " + std::to_string(f.flFlags) + " " +
           std::to_string(f.nPosition) + " " + Shown(f.lpszPathName) + " " +
           Shown(f.lpszFileName) + " " + (f.lpFileType ? "type" : "null"));
  }
  return Result("MAPI_DOUBLE_SEND");
}
