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
