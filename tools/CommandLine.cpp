#include "CommandLine.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "TolvaneEngine.h"

namespace cli {
namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameName(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) { return lower(x) == lower(y); });
}

int say(const std::string& message, int status) {
    std::fprintf(stderr, "tolvane: %s\n", message.c_str());
    return status;
}

}  // namespace

std::string Given::refusal() const {
    return std::string(option->name) + " needs " + std::string(option->needs) +
           (value.empty() ? "" : ", not '" + value + "'");
}

bool parse(const std::vector<std::string>& args, std::span<const Option> table, Arguments& parsed, std::string& error,
           std::string_view help, bool optionsFirst) {
    parsed = {};
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool operand = a.size() < 2 || a[0] != '-';
        if (a == "--" || (operand && optionsFirst)) {
            const size_t rest = a == "--" ? i + 1 : i;
            parsed.operands.insert(parsed.operands.end(), args.begin() + static_cast<long>(rest), args.end());
            return true;
        }
        if (operand) {
            parsed.operands.push_back(a);
            continue;
        }
        const size_t equals = a.find('=');
        const std::string name = a.substr(0, equals);
        const auto option = std::ranges::find(table, std::string_view(name), &Option::name);
        if (option == table.end()) {
            error = "unknown option " + name + " (see '" + std::string(help) + "')";
            return false;
        }
        Given given{&*option, {}};
        if (equals != std::string::npos) {
            if (option->takes == Takes::kNothing) {
                error = name + " takes no value";
                return false;
            }
            given.value = a.substr(equals + 1);
        } else if (option->takes == Takes::kValue) {
            if (i + 1 == args.size()) {
                error = given.refusal();
                return false;
            }
            given.value = args[++i];
        } else if (option->takes == Takes::kOptionalValue && i + 1 < args.size() && args[i + 1].rfind('-', 0) != 0) {
            given.value = args[++i];
        }
        parsed.options.push_back(std::move(given));
    }
    return true;
}

bool parseNumber(const std::string& text, double& out) {
    char* end = nullptr;
    errno = 0;
    out = std::strtod(text.c_str(), &end);
    return !text.empty() && errno == 0 && *end == '\0' && std::isfinite(out);
}

bool parseWhole(const std::string& text, long& out) {
    char* end = nullptr;
    errno = 0;
    out = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && errno == 0 && *end == '\0';
}

int32_t findParameter(std::string_view name) {
    for (int32_t p = 0; p < tolvane::kParameterCount; ++p)
        if (sameName(name, tolvane::kParameters[p].name) || sameName(name, tolvane::kParameters[p].shortName)) return p;
    return -1;
}

bool findProgram(const std::string& wanted, const std::vector<std::string>& names, int32_t& program,
                 std::string& error) {
    const long count = static_cast<long>(names.size());
    long number;
    if (parseWhole(wanted, number)) {
        program = static_cast<int32_t>(number);
        if (number >= 0 && number < count) return true;
        error = "no program " + wanted + " (programs are 0 to " + std::to_string(count - 1) + ")";
        return false;
    }
    for (program = 0; program < count; ++program)
        if (sameName(wanted, names[static_cast<size_t>(program)])) return true;
    error = "no program named '" + wanted + "' (see 'tolvane info')";
    return false;
}

bool findProgram(const std::string& wanted, const TolvaneEngine& engine, int32_t& program, std::string& error) {
    std::vector<std::string> names;
    for (int32_t p = 0; p < TolvaneEngine::kProgramCount; ++p) {
        char name[TolvaneProgram::kNameLength] = {};
        engine.getProgramNameIndexed(p, name);
        names.push_back(name);
    }
    return findProgram(wanted, names, program, error);
}

bool parseParameterValue(const std::string& text, ParameterValue& out, std::string& error) {
    const size_t equals = text.find('=');
    if (equals == std::string::npos || equals == 0) {
        error = "--set needs NAME=VALUE, not '" + text + "'";
        return false;
    }
    const std::string name = text.substr(0, equals), value = text.substr(equals + 1);
    out.index = findParameter(name);
    if (out.index < 0) {
        error = "no parameter named '" + name + "' (see 'tolvane info')";
        return false;
    }
    double number;
    if (!parseNumber(value, number) || number < 0.0 || number > 1.0) {
        error = "the value of " + name + " must be a number from 0 to 1, not '" + value + "'";
        return false;
    }
    out.value = static_cast<float>(number);
    return true;
}

int refuse(const std::string& message) { return say(message, 2); }
int fail(const std::string& message) { return say(message, 1); }
void warn(const std::string& message) { say(message, 0); }

}  // namespace cli
