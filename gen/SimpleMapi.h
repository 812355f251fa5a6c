#pragma once
#include <windows.h>

// The records, flags and entry points of the mail client's published
// programming interface, as far as composing a mail needs them. Shared by
// the mail module and the test double that stands in for the client.

struct MapiRecipDesc {
  ULONG ulReserved;
  ULONG ulRecipClass;
  LPSTR lpszName;
  LPSTR lpszAddress;
  ULONG ulEIDSize;
  LPVOID lpEntryID;
};

struct MapiFileDesc {
  ULONG ulReserved;
  ULONG flFlags;
  ULONG nPosition;
  LPSTR lpszPathName;
  LPSTR lpszFileName;
  LPVOID lpFileType;
};

struct MapiMessage {
  ULONG ulReserved;
  LPSTR lpszSubject;
  LPSTR lpszNoteText;
  LPSTR lpszMessageType;
  LPSTR lpszDateReceived;
  LPSTR lpszConversationID;
  ULONG flFlags;
  MapiRecipDesc* lpOriginator;
  ULONG nRecipCount;
  MapiRecipDesc* lpRecips;
  ULONG nFileCount;
  MapiFileDesc* lpFiles;
};

typedef ULONG_PTR MapiSession;

const ULONG kMapiTo = 1;
const ULONG kMapiLogonUi = 0x1;
const ULONG kMapiDialog = 0x8;
// The attachment is not placed anywhere in the text.
const ULONG kMapiNoPosition = 0xFFFFFFFF;

typedef ULONG(WINAPI* MapiLogonFn)(ULONG_PTR window, LPSTR profile, LPSTR password, ULONG flags,
                                   ULONG reserved, MapiSession* session);
typedef ULONG(WINAPI* MapiLogoffFn)(MapiSession session, ULONG_PTR window, ULONG flags,
                                    ULONG reserved);
typedef ULONG(WINAPI* MapiSendMailFn)(MapiSession session, ULONG_PTR window, MapiMessage* message,
                                      ULONG flags, ULONG reserved);
