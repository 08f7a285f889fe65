// GErrors: the application-wide face of MErrors; every method forwards.
#include "errors/GErrors.h"

#include "errors/MErrors.h"

namespace corvane {

const CGErrors GErrors;

void CGErrors::ApiRaiseIf(std::int32_t e) const { MErrors::ApiRaiseIf(e); }
void CGErrors::ApiRaise(std::int32_t e) const { MErrors::ApiRaise(e); }
std::int32_t CGErrors::ComToApi(std::int32_t e) const {
  return MErrors::ComToApi(e);
}
std::int32_t CGErrors::ApiToCom(std::int32_t e) const {
  return MErrors::ApiToCom(e);
}
std::wstring CGErrors::ComToApiStr(std::int32_t e) const {
  return MErrors::ComToApiStr(e);
}
std::wstring CGErrors::ApiError(std::int32_t e) const {
  return MErrors::ApiError(e);
}
std::wstring CGErrors::LastApiError() const { return MErrors::LastApiError(); }
std::int32_t CGErrors::BasicError(std::int32_t e) const {
  return MErrors::BasicError(e);
}
std::int32_t CGErrors::COMError(const std::int32_t& e) const {
  return MErrors::COMError(e);
}

}  // namespace corvane
