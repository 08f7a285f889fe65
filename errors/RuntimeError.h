// The run-time errors the model raises itself (as opposed to failed system
// calls): plain small numbers with fixed descriptions.
#pragma once

#include <cstdint>
#include <string>

namespace corvane {

inline constexpr std::int32_t kInvalidProcedureCall = 5;
inline constexpr std::int32_t kOverflow = 6;
inline constexpr std::int32_t kSubscriptOutOfRange = 9;
inline constexpr std::int32_t kTypeMismatch = 13;
inline constexpr std::int32_t kObjectNotSet = 91;
inline constexpr std::int32_t kInvalidUseOfNull = 94;

// Source string of every error the model raises on its own behalf.
inline constexpr const wchar_t* kRuntimeErrorSource = L"Corvane";

// "Overflow" for 6, and so on; "Application-defined or object-defined error"
// for a number without a text of its own.
std::wstring RuntimeErrorText(std::int32_t number);

// Raises `number` with kRuntimeErrorSource and RuntimeErrorText(number).
[[noreturn]] void RaiseRuntimeError(std::int32_t number);

}  // namespace corvane
