// GErrors: the application-wide object that offers the error services to
// code that handles raised errors. Each method forwards to MErrors.
#pragma once

#include <cstdint>
#include <string>

namespace corvane {

class CGErrors {
 public:
  void ApiRaiseIf(std::int32_t e) const;
  [[noreturn]] void ApiRaise(std::int32_t e) const;
  std::int32_t ComToApi(std::int32_t e) const;
  std::int32_t ApiToCom(std::int32_t e) const;
  std::wstring ComToApiStr(std::int32_t e) const;
  std::wstring ApiError(std::int32_t e) const;
  std::wstring LastApiError() const;
  std::int32_t BasicError(std::int32_t e) const;
  std::int32_t COMError(const std::int32_t& e) const;
};

// The one instance; users never create another.
extern const CGErrors GErrors;

}  // namespace corvane
