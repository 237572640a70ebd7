// The codec area's internal result type: a value or the toolbox error that public calls report.
#pragma once
#include <MacTypes.h>

#include <utility>
#include <variant>

namespace vt::codec {

template <class T>
class Result {
 public:
  Result(T value) : v_(std::move(value)) {}  // NOLINT: implicit by design
  static Result failure(OSErr err) { return Result(err, 0); }

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }
  OSErr error() const { return ok() ? (OSErr)0 : std::get<1>(v_); }
  T& value() { return std::get<0>(v_); }
  const T& value() const { return std::get<0>(v_); }
  T& operator*() { return value(); }
  T* operator->() { return &value(); }

 private:
  Result(OSErr err, int) : v_(std::in_place_index<1>, err) {}
  std::variant<T, OSErr> v_;
};

}  // namespace vt::codec
