// The platform's one internal result type: a value, or the toolbox error a public call reports.
#pragma once
#include <MacTypes.h>

#include <string>
#include <utility>
#include <variant>

namespace vt {

// A failure: the code a public call reports plus, for tools and logs, why.
struct Failure {
  OSErr code = -1;
  std::string why{};
};

template <class T>
class Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit by design
  Result(Failure f) : v_(std::in_place_index<1>, std::move(f)) {}    // NOLINT: implicit by design
  static Result failure(OSErr err, std::string why = {}) { return Failure{err, std::move(why)}; }

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }
  OSErr error() const { return ok() ? OSErr(0) : std::get<1>(v_).code; }
  const std::string& why() const {
    static const std::string none;
    return ok() ? none : std::get<1>(v_).why;
  }
  T& value() { return std::get<0>(v_); }
  const T& value() const { return std::get<0>(v_); }
  T& operator*() { return value(); }
  const T& operator*() const { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

 private:
  std::variant<T, Failure> v_;
};

// A result with no value: success, or a failure.
struct Status {
  Status() = default;
  Status(Failure f) : code(f.code), why(std::move(f.why)) {}  // NOLINT: implicit by design
  static Status failure(OSErr err, std::string w = {}) { return Failure{err, std::move(w)}; }
  bool ok() const { return code == 0; }
  explicit operator bool() const { return ok(); }
  OSErr error() const { return code; }
  OSErr code = 0;
  std::string why{};
};

}  // namespace vt
