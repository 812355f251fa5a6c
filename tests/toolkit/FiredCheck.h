#pragma once
#include <cstdlib>
#include <string>

#include "toolkit/Raised.h"

// Where the check that fired in `action` stands, as "<module>:<line>"
// (for example "..\gen\Array.cpp:82"); empty when no check fired. Like
// CatchRaised, it resumes the raise and takes the error that follows.
template <typename Action> std::string FiredCheck(Action action) {
  PVOID handler = raised_detail::Install();
  std::string site;
  {
    ErrFrame frame;
    if (frame.Try(action) && frame.Code() == kAssertTemplate) {
      std::string message = frame.Message().Text();
      size_t start = message.find("at '");
      size_t end = message.find("' line ");
      site = start < end && end != std::string::npos
                 ? message.substr(start + 4, end - start - 4) + ":" +
                       std::to_string(atoi(&message[end + 7]))
                 : message;
    }
  }
  raised_detail::Remove(handler);
  return site;
}
