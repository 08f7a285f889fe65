// The text a user sees when the repair fails, the same on both systems.
#pragma once

#include <string>

#include "errors/RaisedError.h"

namespace corvane::app {

// "Run-time error '-2147220480 (80040400)':", an empty line, then the
// description.
std::wstring FailureText(const RaisedError& error);

}  // namespace corvane::app
