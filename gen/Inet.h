#pragma once
// Shows a web page, a local file or a mailto: address to the user through
// the programs Windows has registered for it. Each call returns at once;
// nothing here speaks a network protocol.
#include "gen/Str.h"

// The address as it is: the registered browser, else the URL handler.
void Browse(const char* address);
// A web address without scheme: the registered browser gets it bare; the
// URL handler, as a fallback, gets it behind "http://".
void BrowseWeb(const char* address);
// A local file, through the URL handler only ("file://" + path).
void BrowseFile(const char* path);
// Starts the registered web browser with the address; false when the
// registry names no browser.
bool OpenBrowser(const char* address);
// Formats `format` with the three texts (the first two must not be null;
// pass "" for texts not used) and hands the address to the URL handler.
void OpenUrl(const char* format, const char* first, const char* second, const char* third);

// The command line that hands `address` to the URL handler through rundll32
// where the handler cannot be called in this process: on the 95/98 family
// (`notNT`) through "start" with the address's first 400 characters, on NT
// from `systemFolder` (which ends in "\"). The address is one quoted
// argument; quotes inside it are encoded as "%22".
Str BuildUrlCommand(const char* address, bool notNT, const char* systemFolder);
