// The raised error. Its what() carries the description in UTF-8 so that a
// raised error that escapes to a log or a test failure still reads sensibly.
#include "errors/RaisedError.h"

#include <string>
#include <utility>

#include "base/Unicode.h"

namespace corvane {
RaisedError::RaisedError(std::int32_t number, std::wstring source,
                         std::wstring description)
    : std::runtime_error("error " + std::to_string(number) + ": " +
                         base::WideToUtf8(description)),
      number_(number),
      source_(std::move(source)),
      description_(std::move(description)) {}

}  // namespace corvane
