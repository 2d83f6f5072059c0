// The engine's exception types and the message formatter they share.
//
// Every engine failure is an exception. Three kinds reach the host program, all derived from
// EABSError so that a host can catch them together:
//   EABSException   engine failure with a five-digit native code; what() ends in
//                   " - Native error: NNNNN".
//   EDatabaseError  misuse of a component; "<component>: <text>" when the component has a name.
//   EABSEngineError record-level failure (an EDatabaseError); "Database Engine Error # <code> <text>".
#pragma once

#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>

namespace kova {

// One argument of a message format: "%d" takes a number, "%s" a text.
class FormatArg {
public:
    FormatArg(int v) : value_(static_cast<std::int64_t>(v)) {}
    FormatArg(unsigned v) : value_(static_cast<std::int64_t>(v)) {}
    FormatArg(long v) : value_(static_cast<std::int64_t>(v)) {}
    FormatArg(unsigned long v) : value_(static_cast<std::int64_t>(v)) {}
    FormatArg(long long v) : value_(static_cast<std::int64_t>(v)) {}
    FormatArg(unsigned long long v) : value_(static_cast<std::int64_t>(v)) {}
    FormatArg(const char* v) : value_(std::string(v)) {}
    FormatArg(std::string v) : value_(std::move(v)) {}
    FormatArg(std::string_view v) : value_(std::string(v)) {}

    [[nodiscard]] bool isNumber() const { return std::holds_alternative<std::int64_t>(value_); }
    [[nodiscard]] std::int64_t number() const { return std::get<std::int64_t>(value_); }
    [[nodiscard]] const std::string& text() const { return std::get<std::string>(value_); }

private:
    std::variant<std::int64_t, std::string> value_;
};

// Formats a message with "%s", "%d" (also "%x", "%.Nd" zero padding) and "%%". When the
// arguments do not fit the format (too few, or a text where a number is wanted), the result
// is the format text itself followed by " Arguments are invalid!".
[[nodiscard]] std::string FormatMessage(std::string_view format, std::initializer_list<FormatArg> args);

// Common base of every exception the engine raises.
class EABSError : public std::runtime_error {
public:
    explicit EABSError(const std::string& message) : std::runtime_error(message) {}
};

// Engine failure with a native error code.
class EABSException : public EABSError {
public:
    EABSException(int nativeError, const std::string& message);

    [[nodiscard]] int NativeError() const noexcept { return nativeError_; }
    // The message without the " - Native error: " suffix.
    [[nodiscard]] const std::string& Message() const noexcept { return message_; }

private:
    int nativeError_;
    std::string message_;
};

// Misuse of a component. With a non-empty component name the text reads "<name>: <message>".
class EDatabaseError : public EABSError {
public:
    explicit EDatabaseError(const std::string& message) : EABSError(message) {}
    EDatabaseError(const std::string& componentName, const std::string& message);
};

// Record-level failure with one of the codes -1 … -13.
class EABSEngineError : public EDatabaseError {
public:
    // For code -8 the text is the one given; for the others it is the code's own text.
    explicit EABSEngineError(int errorCode, const std::string& text = {});

    [[nodiscard]] int ErrorCode() const noexcept { return errorCode_; }
    [[nodiscard]] static std::string TextOfCode(int errorCode);

private:
    int errorCode_;
};

// Raises EABSException with a formatted message.
[[noreturn]] void RaiseError(int nativeError, std::string_view format,
                             std::initializer_list<FormatArg> args = {});

} // namespace kova
