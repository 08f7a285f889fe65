// The raised error: the one exception type of the whole system. It carries a
// number, a source and a description, and ends each operation it passes
// through until a caller with an error trap takes it.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace corvane {

class RaisedError : public std::runtime_error {
 public:
  RaisedError(std::int32_t number, std::wstring source,
              std::wstring description);

  std::int32_t Number() const noexcept { return number_; }
  const std::wstring& Source() const noexcept { return source_; }
  const std::wstring& Description() const noexcept { return description_; }

 private:
  std::int32_t number_;
  std::wstring source_;
  std::wstring description_;
};

}  // namespace corvane
