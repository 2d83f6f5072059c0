// Command-line parsing of the kova-sql shell: a table of known options, each a flag or an option
// with a value ("--name VALUE" or "--name=VALUE"; an option may be given several times), and
// the positional arguments in order.
#pragma once

#include <charconv>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kova::shell {

struct OptionSpec {
    std::string_view Name;  // with its dashes: "--password", "-c"
    bool TakesValue = false;
};

// A command-line mistake; main prints it as the error text.
class ArgumentError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class ShellArguments {
public:
    // Parses `args` (without the program name). "--" ends the options; everything after it is
    // positional. Raises ArgumentError for an unknown option, a missing value or a value given
    // to a flag.
    [[nodiscard]] static ShellArguments Parse(std::span<const char* const> args, std::span<const OptionSpec> knownOptions) {
        ShellArguments parsed;
        bool optionsEnded = false;
        for (std::size_t i = 0; i < args.size(); ++i) {
            const std::string_view arg = args[i];
            if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
                parsed.positionals_.emplace_back(arg);
                continue;
            }
            if (arg == "--") {
                optionsEnded = true;
                continue;
            }
            std::string_view name = arg;
            std::optional<std::string_view> inlineValue;
            if (const auto equals = arg.find('='); arg.starts_with("--") && equals != std::string_view::npos) {
                name = arg.substr(0, equals);
                inlineValue = arg.substr(equals + 1);
            }
            const OptionSpec* known = Find(knownOptions, name);
            if (known == nullptr) throw ArgumentError("unknown option " + std::string(name));
            if (!known->TakesValue) {
                if (inlineValue) throw ArgumentError("option " + std::string(name) + " takes no value");
                parsed.values_[std::string(name)].emplace_back();
                continue;
            }
            std::vector<std::string>& values = parsed.values_[std::string(name)];
            if (inlineValue) {
                values.emplace_back(*inlineValue);
            } else if (i + 1 < args.size()) {
                values.emplace_back(args[++i]);
            } else {
                throw ArgumentError("option " + std::string(name) + " needs a value");
            }
        }
        return parsed;
    }

    [[nodiscard]] bool Has(std::string_view name) const { return values_.contains(std::string(name)); }

    // The option's value; the last one when it was given several times.
    [[nodiscard]] std::optional<std::string> Value(std::string_view name) const {
        const auto found = values_.find(std::string(name));
        if (found == values_.end()) return std::nullopt;
        return found->second.back();
    }

    // Every value of the option in the order given (none when absent).
    [[nodiscard]] std::vector<std::string> Values(std::string_view name) const {
        const auto found = values_.find(std::string(name));
        if (found == values_.end()) return {};
        return found->second;
    }

    // The option's value as a whole decimal number in [minimum, maximum]; `fallback` when absent.
    [[nodiscard]] std::int64_t Integer(std::string_view name, std::int64_t fallback, std::int64_t minimum,
                                       std::int64_t maximum) const {
        const std::optional<std::string> text = Value(name);
        if (!text) return fallback;
        std::int64_t value = 0;
        const char* end = text->data() + text->size();
        const auto [stop, error] = std::from_chars(text->data(), end, value);
        if (error != std::errc() || stop != end || value < minimum || value > maximum) {
            throw ArgumentError("option " + std::string(name) + " needs a whole number from " +
                                std::to_string(minimum) + " to " + std::to_string(maximum) + ", not '" + *text + "'");
        }
        return value;
    }

    [[nodiscard]] const std::vector<std::string>& Positionals() const noexcept { return positionals_; }

private:
    [[nodiscard]] static const OptionSpec* Find(std::span<const OptionSpec> knownOptions, std::string_view name) {
        for (const OptionSpec& known : knownOptions) {
            if (known.Name == name) return &known;
        }
        return nullptr;
    }

    std::map<std::string, std::vector<std::string>> values_;
    std::vector<std::string> positionals_;
};

} // namespace kova::shell
