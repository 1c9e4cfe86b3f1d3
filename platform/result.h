#pragma once

#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

#include "text/types.h"

namespace qj {

// What kind of failure an Error is: what the layers above decide on.
enum class ErrorKind {
    kFile,              // a file or folder could not be read, written, made, renamed or removed
    kMissing,           // the file or folder is not there
    kNoReply,           // no reply from the server: no connection, a time-out, a transfer broken off
    kCancelled,         // a stop request ended it
    kRefusedHeader,     // a request header line could not be sent (its name in `reason`); nothing was sent
    kProxyUnreachable,  // no connection could be made through the proxy; nothing reached the server
    kStatus,            // the server answered with a failure: its status in `code`
    kBadReply,          // the reply cannot be understood
    kSettings,          // settings that cannot work
};

// One failure, as it travels from the layer that met it up to the one that tells the user: what
// kind it is, where it happened (a file's path, a request's URL) and the system's own words. No
// layer words it anew on the way.
struct Error {
    ErrorKind kind = ErrorKind::kFile;
    Text where{};   // the path or URL (GBK)
    Text reason{};  // the system's text (GBK): an errno's reason, a transfer's error, a service's message
    int code = 0;   // the errno value of a file failure, the HTTP status of a reply; 0 when none
};

// "where：reason", as a log line names a failure.
Text Describe(const Error& error);

// Either the value of an operation or why there is none. Never thrown, never ignored.
template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

    // The value, or `fallback` after a failure.
    T value_or(T fallback) const& { return ok() ? value() : std::move(fallback); }
    T value_or(T fallback) && { return ok() ? std::move(value()) : std::move(fallback); }

    const Error& error() const { return std::get<1>(state_); }

    // Holds a value equal to `other` (as std::optional compares with a value).
    template <class U>
        requires(!std::is_same_v<std::remove_cvref_t<U>, Result>)
    friend bool operator==(const Result& result, const U& other) {
        return result.ok() && result.value() == other;
    }

private:
    std::variant<T, Error> state_;
};

// An operation that gives nothing back but may fail.
template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : error_(std::move(error)) {}

    bool ok() const { return !error_; }
    explicit operator bool() const { return ok(); }
    const Error& error() const { return *error_; }

private:
    std::optional<Error> error_;
};

// The success of an operation that gives nothing back.
inline Result<void> Success() {
    return {};
}

}  // namespace qj
