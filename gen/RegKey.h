#pragma once
#include <windows.h>

// Owns an open registry key: closed on every path, never copied.
class RegKey {
 public:
  RegKey() = default;
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  ~RegKey() {
    if (key_) RegCloseKey(key_);
  }
  HKEY Get() const { return key_; }
  HKEY* Out() { return &key_; }  // for the call that opens it

 private:
  HKEY key_ = nullptr;
};
