// How every command reads its command line: options and operands, and
// parameters and programs by name.
#include "CommandLine.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

const cli::Option kTable[] = {
    {"--block", cli::Takes::kValue, "a number"},
    {"--connect", cli::Takes::kOptionalValue, "ports"},
    {"--about", cli::Takes::kNothing, ""},
};

// The options as NAME=VALUE, then "|" and the operands; or the refusal.
std::string parsed(const std::vector<std::string>& args, bool optionsFirst = false) {
    cli::Arguments a;
    std::string error;
    if (!cli::parse(args, kTable, a, error, "help", optionsFirst)) return error;
    std::ostringstream out;
    for (const cli::Given& g : a.options) out << g.option->name << "=" << g.value << " ";
    out << "|";
    for (const std::string& o : a.operands) out << " " << o;
    return out.str();
}

TEST(CommandLine, OptionsAndOperands) {
    const struct {
        std::vector<std::string> args;
        bool optionsFirst;
        std::string expected;
    } cases[] = {
        {{"in", "--block", "64", "out"}, false, "--block=64 | in out"},
        {{"--block=64", "--block", "-1"}, false, "--block=64 --block=-1 |"},  // a value may start with '-'
        {{"--connect", "a,b", "--connect", "--about"}, false, "--connect=a,b --connect= --about= |"},
        {{"--connect=", "-", "--", "--about"}, false, "--connect= | - --about"},
        {{"--about", "render", "--block", "1"}, true, "--about= | render --block 1"},
        {{"--block"}, false, "--block needs a number"},
        {{"--about=yes"}, false, "--about takes no value"},
        {{"--fast=1"}, false, "unknown option --fast (see 'help')"},
        {{"-b"}, false, "unknown option -b (see 'help')"},
    };
    for (const auto& c : cases) EXPECT_EQ(parsed(c.args, c.optionsFirst), c.expected) << c.expected;
}

// Full or short name, in any case, and nothing less; a program by number or name.
TEST(CommandLine, NamesFollowOneRule) {
    const struct {
        const char* name;
        int32_t parameter;
    } parameters[] = {
        {"Make-Up Gain", 4}, {"make-up gain", 4}, {"MAKEUP", 4}, {"Sensitivity", 3}, {"sense", 3},
        {"Active", 5},       {"Make-Up", -1},     {"Sens", -1},  {"Ratio ", -1},     {"", -1},
    };
    for (const auto& p : parameters) EXPECT_EQ(cli::findParameter(p.name), p.parameter) << p.name;

    const std::vector<std::string> names = {"Drum Buss Squisher", "Gone Nuclear", "NY Compression"};
    const struct {
        const char* wanted;
        int32_t program;  // -1: refused with this message
        const char* refusal;
    } programs[] = {
        {"2", 2, ""},
        {"ny COMPRESSION", 2, ""},
        {"3", -1, "no program 3 (programs are 0 to 2)"},
        {"-1", -1, "no program -1 (programs are 0 to 2)"},
        {"NY", -1, "no program named 'NY' (see 'tolvane info')"},
        {"", -1, "no program named '' (see 'tolvane info')"},
    };
    for (const auto& p : programs) {
        int32_t program = -1;
        std::string error;
        const bool found = cli::findProgram(p.wanted, names, program, error);
        EXPECT_EQ(found ? program : -1, p.program) << p.wanted;
        EXPECT_EQ(error, p.refusal) << p.wanted;
    }
}

}  // namespace
