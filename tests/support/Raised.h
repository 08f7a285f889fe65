// Assertion helpers for raised errors: the number a call raised (0 when it
// returned), and the number a failed system call is raised with.
#pragma once

#include <cstdint>
#include <functional>

#include "errors/MErrors.h"
#include "errors/RaisedError.h"

namespace corvane::testing {

inline std::int32_t RaisedBy(const std::function<void()>& call) {
  try {
    call();
  } catch (const RaisedError& error) {
    return error.Number();
  }
  return 0;
}

inline std::int32_t Api(std::int32_t status) {
  return MErrors::ApiToCom(status);
}

}  // namespace corvane::testing
