// Stands in for the mail client's library ("MAPI32.DLL") beside the test programs: appends
// every call as a line to the file MAPI_DOUBLE_RECORD names; MAPILogon and MAPISendMail return
// MAPI_DOUBLE_LOGON and MAPI_DOUBLE_SEND (0 when unset), a logon the session 77.
#include <cstdlib>
#include <fstream>
#include <string>

#include "gen/SimpleMapi.h"

namespace {

std::string Variable(const char* name) {
  char value[MAX_PATH] = "";
  return GetEnvironmentVariableA(name, value, sizeof value) < sizeof value ? value : "";
}

// Texts quoted, with line breaks as "\r" and "\n" so that each call stays on
// its line; pointers the client is not given as "null".
std::string Field(ULONG number) { return std::to_string(number); }
std::string Field(const void* pointer) { return pointer ? "set" : "null"; }
std::string Field(const char* text) {
  std::string shown = "'";
  for (const char* at = text; at && *at; ++at)
    shown += *at == '\r' ? "\\r" : *at == '\n' ? "\\n" : std::string(1, *at);
  return text ? shown + "'" : "null";
}

template <typename... Fields> ULONG Record(const char* word, Fields... fields) {
  std::string line = word;
  for (const std::string& field : {Field(fields)...}) line += " " + field;
  std::ofstream(Variable("MAPI_DOUBLE_RECORD"), std::ios::binary | std::ios::app) << line << "\n";
  return 0;
}

void Record(const char* word, const MapiRecipDesc& r) {
  Record(word, r.ulReserved, r.ulRecipClass, r.lpszName, r.lpszAddress, r.ulEIDSize, r.lpEntryID);
}

}  // namespace

extern "C" __declspec(dllexport) ULONG WINAPI MAPILogon(ULONG_PTR window, LPSTR profile, LPSTR password, ULONG flags,
                                                        ULONG reserved, MapiSession* session) {
  Record("logon", window, profile, password, flags, reserved);
  if (ULONG result = strtoul(Variable("MAPI_DOUBLE_LOGON").c_str(), nullptr, 10)) return result;
  *session = 77;
  return 0;
}

extern "C" __declspec(dllexport) ULONG WINAPI MAPILogoff(MapiSession session, ULONG_PTR window, ULONG flags,
                                                         ULONG reserved) {
  return Record("logoff", session, window, flags, reserved);
}

extern "C" __declspec(dllexport) ULONG WINAPI MAPISendMail(MapiSession session, ULONG_PTR window, MapiMessage* m,
                                                           ULONG flags, ULONG reserved) {
  Record("send", session, window, flags, reserved);
  Record("message", m->ulReserved, m->lpszMessageType, m->lpszDateReceived, m->lpszConversationID, m->flFlags);
  Record("subject", m->lpszSubject);
  Record("body", m->lpszNoteText);
  if (m->lpOriginator) Record("from", *m->lpOriginator);
  for (ULONG i = 0; i < m->nRecipCount; ++i) Record("to", m->lpRecips[i]);
  for (const MapiFileDesc* f = m->lpFiles; f < m->lpFiles + m->nFileCount; ++f)
    Record("file", f->ulReserved, f->flFlags, f->nPosition, f->lpszPathName, f->lpszFileName, f->lpFileType);
  return strtoul(Variable("MAPI_DOUBLE_SEND").c_str(), nullptr, 10);
}
