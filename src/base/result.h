#pragma once
// Errors travel as values: a step returns its result or one complete user message.
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace vantile {

// The message of a failed step, exactly as the user will read it.
struct Failure {
    std::string message;
};

inline Failure fail(std::string message) {
    return Failure{std::move(message)};
}

inline const std::string& no_error() noexcept {
    static const std::string empty;
    return empty;
}

// Both kinds answer error() with an empty message when there is no error.
template <class T>
class [[nodiscard]] Result {
  public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Failure failure) : state_(std::in_place_index<1>, std::move(failure.message)) {}

    bool ok() const noexcept { return state_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }

    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    const std::string& error() const noexcept {
        const std::string* message = std::get_if<1>(&state_);
        return message ? *message : no_error();
    }
    // A failed result's failure, its message moved on: `return std::move(read).failure();`.
    Failure failure() && { return Failure{std::get<1>(std::move(state_))}; }

  private:
    std::variant<T, std::string> state_;
};

template <>
class [[nodiscard]] Result<void> {
  public:
    Result() = default;
    Result(Failure failure) : error_(std::move(failure.message)) {}

    bool ok() const noexcept { return !error_.has_value(); }
    explicit operator bool() const noexcept { return ok(); }
    const std::string& error() const noexcept { return error_ ? *error_ : no_error(); }
    // A failed status's failure, its message moved on: `return std::move(checked).failure();`.
    Failure failure() && { return Failure{std::move(error_).value()}; }

  private:
    std::optional<std::string> error_;
};

using Status = Result<void>;

}  // namespace vantile
