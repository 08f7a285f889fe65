// The run-time errors the model raises on its own behalf, with the
// descriptions a caller handling them expects to see.
#include "errors/RuntimeError.h"

#include "errors/RaisedError.h"

namespace corvane {

std::wstring RuntimeErrorText(std::int32_t number) {
  switch (number) {
    case kInvalidProcedureCall:
      return L"Invalid procedure call or argument";
    case kOverflow:
      return L"Overflow";
    case kSubscriptOutOfRange:
      return L"Subscript out of range";
    case kTypeMismatch:
      return L"Type mismatch";
    case kObjectNotSet:
      return L"Object variable or With block variable not set";
    case kInvalidUseOfNull:
      return L"Invalid use of Null";
    default:
      return L"Application-defined or object-defined error";
  }
}

void RaiseRuntimeError(std::int32_t number) {
  throw RaisedError(number, kRuntimeErrorSource, RuntimeErrorText(number));
}

}  // namespace corvane
