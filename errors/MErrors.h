// Error services: the conversions between system error codes and raised error
// numbers, the system's message texts, and the raising of failed system calls.
#pragma once

#include <cstdint>
#include <string>

namespace corvane::MErrors {

// Raises ApiRaise(e) when e is not 0.
void ApiRaiseIf(std::int32_t e);
// Raises number ApiToCom(e), description ApiError(e).
[[noreturn]] void ApiRaise(std::int32_t e);
// (e AND 0xFFFF) - 29000.
std::int32_t ComToApi(std::int32_t e);
// (e OR 0x80040000) + 29000.
std::int32_t ApiToCom(std::int32_t e);
// ApiError(ComToApi(e)).
std::wstring ComToApiStr(std::int32_t e);
// The system's message text for e exactly as the system gives it (trailing
// line break included), or "" when it has none or it exceeds 255 characters.
std::wstring ApiError(std::int32_t e);
// ApiError of the last recorded system error code.
std::wstring LastApiError();
// e AND 0xFFFF.
std::int32_t BasicError(std::int32_t e);
// e OR 0x80040000; e is read, never changed.
std::int32_t COMError(const std::int32_t& e);

// Records the calling thread's last-error value; called right after every
// KERNEL32 call the model makes.
void RecordLastError();
// The code RecordLastError last recorded on this thread.
std::int32_t LastRecordedError();

}  // namespace corvane::MErrors
