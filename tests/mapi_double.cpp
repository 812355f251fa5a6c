// Stands in for the mail client's library ("MAPI32.DLL") beside the test
// programs: appends every call as lines to the file MAPI_DOUBLE_RECORD
// names; MAPILogon and MAPISendMail return MAPI_DOUBLE_LOGON and
// MAPI_DOUBLE_SEND (0 when unset), a logon the session 77.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "gen/SimpleMapi.h"

namespace {

std::string Variable(const char* name) {
  char value[MAX_PATH];
  DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  return length && length < sizeof value ? value : "";
}

// Texts quoted, with line breaks as "\r" and "\n" so that each call stays on
// its line; pointers the client is not given as "null".
std::string Field(ULONG number) { return std::to_string(number); }
std::string Field(const void* pointer) { return pointer ? "set" : "null"; }
std::string Field(const char* text) {
  if (!text) return "null";
  std::string shown = "'";
  for (const char* at = text; *at; ++at)
    shown += *at == '\r' ? "\\r" : *at == '\n' ? "\\n" : std::string(1, *at);
  return shown + "'";
}

template <typename... Fields> ULONG Record(const char* word, Fields... fields) {
  std::string line = word;
  for (const std::string& field : {Field(fields)...}) line += " " + field;
  if (FILE* file = fopen(Variable("MAPI_DOUBLE_RECORD").c_str(), "ab")) {
    fputs((line + "\n").c_str(), file);
    fclose(file);
  }
  return 0;
}

void Record(const char* word, const MapiRecipDesc& r) {
  Record(word, r.ulReserved, r.ulRecipClass, r.lpszName, r.lpszAddress, r.ulEIDSize, r.lpEntryID);
}

ULONG Result(const char* name) { return strtoul(Variable(name).c_str(), nullptr, 10); }

}  // namespace

extern "C" __declspec(dllexport) ULONG WINAPI MAPILogon(ULONG_PTR window, LPSTR profile,
                                                        LPSTR password, ULONG flags,
                                                        ULONG reserved, MapiSession* session) {
  Record("logon", window, profile, password, flags, reserved);
  ULONG result = Result("MAPI_DOUBLE_LOGON");
  if (result == 0) *session = 77;
  return result;
}

extern "C" __declspec(dllexport) ULONG WINAPI MAPILogoff(MapiSession session, ULONG_PTR window,
                                                         ULONG flags, ULONG reserved) {
  return Record("logoff", session, window, flags, reserved);
}

extern "C" __declspec(dllexport) ULONG WINAPI MAPISendMail(MapiSession session, ULONG_PTR window,
                                                           MapiMessage* message, ULONG flags,
                                                           ULONG reserved) {
  const MapiMessage& m = *message;
  Record("send", session, window, flags, reserved);
  Record("message", m.ulReserved, m.lpszMessageType, m.lpszDateReceived, m.lpszConversationID,
         m.flFlags);
  Record("subject", m.lpszSubject);
  Record("body", m.lpszNoteText);
  if (m.lpOriginator) Record("from", *m.lpOriginator);
  for (ULONG i = 0; i < m.nRecipCount; ++i) Record("to", m.lpRecips[i]);
  for (const MapiFileDesc* f = m.lpFiles; f < m.lpFiles + m.nFileCount; ++f)
    Record("file", f->ulReserved, f->flFlags, f->nPosition, f->lpszPathName, f->lpszFileName,
           f->lpFileType);
  return Result("MAPI_DOUBLE_SEND");
}
