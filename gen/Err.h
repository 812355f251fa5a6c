#pragma once

// A failed check: reports the source module and line and does not return
// while the crash guard handles it.
void ErrAssert(const char* module, int line);
