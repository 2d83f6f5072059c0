#include "engine/core/ABSExcept.h"

#include <cstdio>

namespace kova {

namespace {

// Appends one conversion; returns false when the argument does not fit it.
bool AppendConversion(std::string& out, char conversion, int zeroPad, const FormatArg& arg) {
    char buffer[32];
    switch (conversion) {
    case 'd':
        if (!arg.isNumber()) return false;
        std::snprintf(buffer, sizeof buffer, "%0*lld", zeroPad, static_cast<long long>(arg.number()));
        out += buffer;
        return true;
    case 'x':
        if (!arg.isNumber()) return false;
        std::snprintf(buffer, sizeof buffer, "%0*llX", zeroPad, static_cast<unsigned long long>(arg.number()));
        out += buffer;
        return true;
    case 's':
        if (arg.isNumber()) {
            out += std::to_string(arg.number());
        } else {
            out += arg.text();
        }
        return true;
    default:
        return false;
    }
}

} // namespace

std::string FormatMessage(std::string_view format, std::initializer_list<FormatArg> args) {
    std::string out;
    out.reserve(format.size() + 32);
    auto next = args.begin();
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c != '%') {
            out += c;
            continue;
        }
        if (i + 1 < format.size() && format[i + 1] == '%') {
            out += '%';
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        int zeroPad = 0;
        if (j < format.size() && format[j] == '.') {
            ++j;
            while (j < format.size() && format[j] >= '0' && format[j] <= '9') {
                zeroPad = zeroPad * 10 + (format[j] - '0');
                ++j;
            }
        }
        if (j >= format.size() || next == args.end() || !AppendConversion(out, format[j], zeroPad, *next)) {
            return std::string(format) + " Arguments are invalid!";
        }
        ++next;
        i = j;
    }
    return out;
}

EABSException::EABSException(int nativeError, const std::string& message)
    : EABSError(message + " - Native error: " + FormatMessage("%.5d", {nativeError})),
      nativeError_(nativeError), message_(message) {}

EDatabaseError::EDatabaseError(const std::string& componentName, const std::string& message)
    : EABSError(componentName.empty() ? message : componentName + ": " + message) {}

std::string EABSEngineError::TextOfCode(int errorCode) {
    switch (errorCode) {
    case -1: return "Error adding record";
    case -2: return "Error updating record";
    case -3: return "Error deleting record";
    case -4: return "Error updating record - record was modified by other process";
    case -5: return "Error deleting record - record was modified by other process";
    case -6: return "Error updating record - record was deleted by other process";
    case -7: return "Error deleting record - record was deleted by other process";
    case -9: return "Cannot update record in temporary mode";
    case -10: return "Cannot delete record in temporary mode";
    case -11: return "Cannot cancel operation in temporary mode";
    case -12: return "Record is locked";
    case -13: return "Table is locked";
    default: return {};
    }
}

EABSEngineError::EABSEngineError(int errorCode, const std::string& text)
    : EDatabaseError("Database Engine Error # " + std::to_string(errorCode) + " " +
                     (errorCode == -8 ? text : TextOfCode(errorCode))),
      errorCode_(errorCode) {}

void RaiseError(int nativeError, std::string_view format, std::initializer_list<FormatArg> args) {
    throw EABSException(nativeError, FormatMessage(format, args));
}

} // namespace kova
