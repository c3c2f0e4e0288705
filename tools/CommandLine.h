// How every command of `tolvane` reads its command line: options from a table,
// numbers, parameters and programs by one rule, and refusals in one style
// ("tolvane: ..." on stderr, status 2). The commands in tools/ and `tolvane
// live` in standalone/ share it.
//
// Options are long: "--block 512" or "--block=512". An argument that starts
// with '-' is an option, except "-" alone (standard input or output); "--"
// ends the options. A value is the next argument whatever it looks like
// ("--pre-roll -1"); an optional value only when the next argument is no
// option ("--connect", "--connect a,b").
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class TolvaneEngine;

namespace cli {

enum class Takes { kNothing, kValue, kOptionalValue };

struct Option {
    std::string_view name;  // with its dashes
    Takes takes;
    std::string_view needs;  // what the value must be, for the refusal: "a number of frames from 1 to 65536"
};

struct Given {
    const Option* option;
    std::string value;
    bool is(std::string_view name) const { return option->name == name; }
    // "--block needs a number of frames from 1 to 65536, not '0'"
    std::string refusal() const;
};

struct Arguments {
    std::vector<Given> options;  // in the order given
    std::vector<std::string> operands;
};

// False, with the refusal in `error`, for an option the table lacks, a value
// missing or one given to an option that takes none. With `optionsFirst` the
// options end at the first operand (a command and its own arguments follow).
// `help` is what the refusal of an unknown option points to.
bool parse(const std::vector<std::string>& args, std::span<const Option> table, Arguments& parsed, std::string& error,
           std::string_view help = "tolvane --help", bool optionsFirst = false);

// The whole text as a finite number: no units, no spaces, no "nan".
bool parseNumber(const std::string& text, double& out);
// The whole text as a whole number, in decimal.
bool parseWhole(const std::string& text, long& out);

// A parameter by its full name ("Make-Up Gain") or its short one, the name
// hosts show ("Makeup"), in any case; -1 for none.
int32_t findParameter(std::string_view name);
// A program by its number or, in any case, its name among `names`; false,
// with the refusal in `error`, for none.
bool findProgram(const std::string& wanted, const std::vector<std::string>& names, int32_t& program,
                 std::string& error);
// The same among the engine's programs.
bool findProgram(const std::string& wanted, const TolvaneEngine& engine, int32_t& program, std::string& error);

// NAME=VALUE: a parameter by name and a normalised value from 0 to 1.
struct ParameterValue {
    int32_t index;
    float value;
};
bool parseParameterValue(const std::string& text, ParameterValue& out, std::string& error);

// "tolvane: MESSAGE" on stderr. A refusal of the command line returns 2, any
// other failure 1.
int refuse(const std::string& message);
int fail(const std::string& message);
void warn(const std::string& message);

}  // namespace cli
