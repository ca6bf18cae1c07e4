#pragma once

#include <exception>
#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

namespace harkwell {

// The outcome of an operation that completes later: a value or an error.
// By default the error is any exception, held as std::exception_ptr so that the
// channel boundary can still tell a PigeonError from a FlutterError from
// anything else when it builds the error reply.
// Thread affinity: a plain value; may be moved to any thread.
template <class T, class E = std::exception_ptr>
class Result {
 public:
  static Result success(T value) { return Result(std::in_place_index<0>, std::move(value)); }
  static Result failure(E error) { return Result(std::in_place_index<1>, std::move(error)); }

  // Failure carrying `exception` (for example a PigeonError) as the error.
  template <class Exception>
  requires(std::is_same_v<E, std::exception_ptr> &&
           !std::is_same_v<std::decay_t<Exception>, std::exception_ptr>) static Result
      failure(Exception exception) {
    return failure(std::make_exception_ptr(std::move(exception)));
  }

  bool ok() const { return state_.index() == 0; }

  // The value; only when ok().
  const T& value() const& { return std::get<0>(state_); }
  T& value() & { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }

  // The error; only when !ok().
  const E& error() const { return std::get<1>(state_); }

 private:
  template <std::size_t I, class V>
  Result(std::in_place_index_t<I> index, V&& v) : state_(index, std::forward<V>(v)) {}

  std::variant<T, E> state_;
};

// Success without a value, or an error.
template <class E>
class Result<void, E> {
 public:
  static Result success() { return Result(std::nullopt); }
  static Result failure(E error) { return Result(std::move(error)); }

  template <class Exception>
  requires(std::is_same_v<E, std::exception_ptr> &&
           !std::is_same_v<std::decay_t<Exception>, std::exception_ptr>) static Result
      failure(Exception exception) {
    return failure(std::make_exception_ptr(std::move(exception)));
  }

  bool ok() const { return !error_.has_value(); }

  // The error; only when !ok().
  const E& error() const { return *error_; }

 private:
  explicit Result(std::optional<E> error) : error_(std::move(error)) {}

  std::optional<E> error_;
};

}  // namespace harkwell
