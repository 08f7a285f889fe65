// Forward<Arg>(target)(arguments...): calls `target`, a function of another
// API whose parameter types differ from the caller's, passing each argument
// through an adapter Arg<To, From> (To the target's parameter type, From the
// caller's). An adapter is made from the caller's argument, hands the target
// what it takes (Get), and afterwards, knowing the status, writes back what
// the target wrote through it (Finish). Each forwarding file defines its own
// adapters for the types it converts; every other argument passes as it is.
// Everything is inline: a forwarder costs what the conversions do.
#pragma once

#include <tuple>

namespace corvane::platform {

// An argument the target takes as it is (or by an implicit conversion).
template <class To, class From>
class PassedAsIs {
 public:
  explicit PassedAsIs(From value) : value_(value) {}
  To Get() const { return value_; }
  template <class Status>
  void Finish(Status) const {}

 private:
  From value_;
};

// A FILETIME the target fills, copied into the caller's only when the call
// succeeds: a failed call leaves the caller's as it was.
template <class To, class From>
class FileTimeOnSuccess {
 public:
  explicit FileTimeOnSuccess(From* target) : target_(target) {}
  FileTimeOnSuccess(const FileTimeOnSuccess&) = delete;
  FileTimeOnSuccess& operator=(const FileTimeOnSuccess&) = delete;
  To* Get() { return target_ != nullptr ? &time_ : nullptr; }
  template <class Status>
  void Finish(Status status) const {
    if (status != 0 || target_ == nullptr) return;
    target_->dwLowDateTime = time_.dwLowDateTime;
    target_->dwHighDateTime = time_.dwHighDateTime;
  }

 private:
  From* target_;
  To time_{};
};

// The caller's SECURITY_ATTRIBUTES (or NULL) in the target's structure.
template <class To, class From>
class AttributesCopied {
 public:
  explicit AttributesCopied(const From* from) : given_(from != nullptr) {
    if (from == nullptr) return;
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = from->lpSecurityDescriptor;
    attributes_.bInheritHandle = from->bInheritHandle;
  }
  AttributesCopied(const AttributesCopied&) = delete;
  AttributesCopied& operator=(const AttributesCopied&) = delete;
  To* Get() { return given_ ? &attributes_ : nullptr; }
  template <class Status>
  void Finish(Status) const {}

 private:
  bool given_;
  To attributes_{};
};

template <template <class To, class From> class Arg, class Status, class... To>
auto Forward(Status (*target)(To...)) {
  return [target](auto... from) {
    static_assert(sizeof...(from) == sizeof...(To));
    std::tuple<Arg<To, decltype(from)>...> args{from...};
    const Status status = std::apply(
        [target](auto&... arg) { return target(arg.Get()...); }, args);
    std::apply([status](auto&... arg) { (arg.Finish(status), ...); }, args);
    return status;
  };
}

}  // namespace corvane::platform
