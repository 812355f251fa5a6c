#pragma once
#include <cstdlib>
#include <string>

#include "toolkit/Raised.h"

// Where the check that fired in `action` stands, as "<module>:<line>"
// (for example "..\gen\Array.cpp:82"); empty when no check fired. Like
// CatchRaised, it resumes the raise and takes the error that follows.
template <typename Action> std::string FiredCheck(Action action) {
  raised_detail::Resumed resumed;
  ErrFrame frame;
  if (!frame.Try(action) || frame.Code() != kAssertTemplate) return std::string();
  std::string message = frame.Message().Text();
  size_t start = message.find("at '"), end = message.find("' line ");
  if (start >= end || end == std::string::npos) return message;
  return message.substr(start + 4, end - start - 4) + ":" +
         std::to_string(atoi(&message[end + 7]));
}
