// Tolvane's six parameters as a host sees them: names, units, curves and texts.
#include "TolvaneParameters.h"
#include "support/float_compare.h"
#include "support/guarded_text.h"

#include <cmath>
#include <string>

namespace {

using namespace tolvane;

std::string display(int32_t index, float normalized, int32_t length = 8) {
    GuardedText text(static_cast<size_t>(length));
    writeDisplay(index, normalized, text.data(), length);
    EXPECT_TRUE(text.guardIntact()) << "index " << index << " at " << normalized << ", length " << length;
    return text.str();
}

std::string hostText(void (*write)(int32_t, char*, int32_t), int32_t index, int32_t length = 8) {
    GuardedText text(static_cast<size_t>(length) + 1);
    write(index, text.data(), length);
    EXPECT_TRUE(text.guardIntact());
    for (size_t i = text.str().size(); i <= static_cast<size_t>(length); ++i)
        EXPECT_EQ(text.data()[i], '\0') << "padded with zeros, as strncpy does";
    return text.str();
}

TEST(TolvaneParameters, NamesAndUnitsAsAHostAsksForThem) {
    const char* shortNames[] = {"Ratio", "Attack", "Release", "Sense", "Makeup", "Active", "Key"};
    const char* longNames[] = {"Ratio", "Attack", "Release", "Sensitivi", "Make-Up G", "Active", "Key"};  // cut at 9
    const char* units[] = {" ", "", "", "dB", "dB", " ", ""};
    for (int32_t i = 0; i < kSideChainParameterCount; ++i) {
        EXPECT_EQ(hostText(writeName, i), shortNames[i]);
        EXPECT_EQ(hostText(writeName, i, 9), longNames[i]);
        EXPECT_EQ(hostText(writeUnit, i), units[i]);
    }
    EXPECT_EQ(hostText(writeName, kSensitivity, 15), "Sensitivity");
    EXPECT_EQ(hostText(writeName, kSensitivity, 4), "Sens") << "cut at the length";
    EXPECT_EQ(hostText(writeName, kSideChainParameterCount), "") << "no such parameter";
    GuardedText untouched(4);
    writeName(0, untouched.data(), -1);
    writeUnit(0, untouched.data(), -1);
    writeDisplay(0, 0.5f, untouched.data(), 0);
    EXPECT_TRUE(untouched.untouched()) << "no room, nothing written";
}

// Worked values: the plain value of a normalised one, the way back, and the text.
TEST(TolvaneParameters, CurvesAndTexts) {
    const struct {
        int32_t index;
        float normalized, plain;
        const char* text;
    } cases[] = {
        // clang-format off
        {kRatio, 0.0f, 1.0f, "   1:1"},
        {kRatio, 0.25f, 1.7834202f, "   2:1"},
        {kRatio, 0.5f, 10.0f, "  10:1"},
        {kRatio, 0.75f, 96.17622f, "  96:1"},
        {kRatio, 1.0f, 1000.0f, "1000:1"},
        {kAttack, 0.00490049f, 0.5f, "1.0"},  // the factory default
        {kAttack, 0.5f, 50.005f, "5.5"},
        {kAttack, 1.0f, 100.0f, "10.0"},
        {kRelease, 0.0f, 10.0f, "1.0"},
        {kRelease, 1.0f, 300.0f, "10.0"},
        {kSensitivity, 0.5f, -30.0f, " -30"},
        {kSensitivity, 1.0f, -60.0f, " -60"},
        {kMakeUpGain, 1.0f, 30.0f, "  30"},
        {kActive, 0.0f, 0.0f, "0%"},
        {kActive, 0.29f, 0.29f, "28%"},  // 0.29 as a float is just below it
        {kActive, 0.999f, 0.999f, "99%"},
        {kActive, 1.0f, 1.0f, "100%"},
        // clang-format on
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(withinUlps(normalizedToPlain(c.index, c.normalized), c.plain, 1))
            << c.index << " at " << c.normalized;
        EXPECT_TRUE(withinUlps(plainToNormalized(c.index, c.plain), c.normalized, 2)) << c.index << " at " << c.plain;
        EXPECT_EQ(display(c.index, c.normalized), c.text) << c.index << " at " << c.normalized;
    }
    EXPECT_EQ(plainToNormalized(kRatio, 1.0f), 0.0f) << "ratio 1 maps back to exactly 0";
    EXPECT_EQ(plainToNormalized(kRatio, 10.0f), 0.5f);
    EXPECT_EQ(normalizedToPlain(kSideChainParameterCount, 0.5f), 0.0f) << "no such parameter";
}

// Linear parameters come back limited to 0..1; the ratio curve's inverse is
// not limited, and below its offset it leaves the real numbers.
TEST(TolvaneParameters, TheWayBackOutsideTheRange) {
    EXPECT_EQ(plainToNormalized(kMakeUpGain, 45.0f), 1.0f);
    EXPECT_EQ(plainToNormalized(kSensitivity, 6.0f), 0.0f) << "min above max";
    EXPECT_EQ(normalizedToPlain(kMakeUpGain, 1.5f), 45.0f) << "the plain value is not limited";
    EXPECT_GT(plainToNormalized(kRatio, 5000.0f), 1.0f);
    EXPECT_LT(plainToNormalized(kRatio, std::nextafter(0.9174311926605536f, 2.0f)), -1.0f);
    EXPECT_TRUE(std::isnan(plainToNormalized(kRatio, 0.5f)));
}

// Hosts may send any value. The texts keep their formats but are cut at the
// host's length instead of running past it.
TEST(TolvaneParameters, OutOfRangeValuesStayInsideTheHostsBuffer) {
    EXPECT_EQ(display(kAttack, 1e30f), "9000000");
    EXPECT_EQ(display(kActive, 1e30f), "2147483");
    EXPECT_EQ(display(kActive, -5.0f), "-500%");
    EXPECT_EQ(display(kActive, NAN), "0%");
    EXPECT_EQ(display(kRatio, 5.0f), "2141622") << "ratio 2.1e19, cut to seven characters";
    EXPECT_EQ(display(kRatio, 1.0f, 5), "1000") << "no room for the suffix";
    EXPECT_EQ(display(kRatio, 1.0f, 2), "1");
    EXPECT_EQ(display(kRatio, 0.0f, 3), "  ");
    EXPECT_EQ(display(kKey, 0.49f, 9), "Internal");
    EXPECT_EQ(display(kKey, 0.5f, 9), "External");
    EXPECT_EQ(display(kKey, 0.5f), "Ext") << "a short form where it would not fit";
    EXPECT_EQ(display(kSideChainParameterCount, 0.5f), "") << "no such parameter";
    for (float v : {1e30f, -1e30f, NAN, INFINITY, 123.456f})
        for (int32_t index = 0; index < kSideChainParameterCount; ++index)
            for (int32_t length = 1; length <= 9; ++length) display(index, v, length);
}

}  // namespace
