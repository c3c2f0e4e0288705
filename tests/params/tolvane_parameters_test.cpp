// Tolvane's six parameters as a host sees them: names, units, curves and texts.
#include "TolvaneParameterManager.h"
#include "support/float_compare.h"
#include "support/guarded_text.h"

#include <cmath>
#include <string>

namespace {

std::string hostDisplay(TolvaneParameterManager& m, int32_t index, float normalized) {
    m.setNormalized(index, normalized);
    GuardedText text(8);
    m.getDisplay(index, text.data(), 8);
    EXPECT_TRUE(text.guardIntact()) << "index " << index << " at " << normalized;
    return text.str();
}

std::string hostText(TolvaneParameterManager& m, void (qm_paramManager::*get)(int32_t, char*, int32_t), int32_t index,
                     int32_t length = 8) {
    GuardedText text(static_cast<size_t>(length) + 1);
    (m.*get)(index, text.data(), length);
    EXPECT_TRUE(text.guardIntact());
    return text.str();
}

TEST(TolvaneParameters, InitialNormalisedValues) {
    TolvaneParameterManager m;
    EXPECT_EQ(m.getParameterCount(), 6);
    EXPECT_EQ(m.getNormalized(0), 0.0f) << "ratio 1 maps back to exactly 0";
    EXPECT_TRUE(matchesDigits(m.getNormalized(1), 0.0049005, 5));
    EXPECT_EQ(m.getNormalized(2), 0.0f);
    EXPECT_EQ(m.getNormalized(3), 0.0f);
    EXPECT_EQ(m.getNormalized(4), 0.0f);
    EXPECT_EQ(m.getNormalized(5), 1.0f);
}

TEST(TolvaneParameters, NamesAndUnitsAsAHostAsksForThem) {
    TolvaneParameterManager m;
    const char* shortNames[] = {"Ratio", "Attack", "Release", "Sense", "Makeup", "Active"};
    const char* longNames[] = {"Ratio", "Attack", "Release", "Sensitivi", "Make-Up G", "Active"};  // cut at 9
    const char* units[] = {" ", "", "", "dB", "dB", " "};
    for (int32_t i = 0; i < 6; ++i) {
        EXPECT_EQ(hostText(m, &qm_paramManager::getName, i), shortNames[i]);
        EXPECT_EQ(hostText(m, &qm_paramManager::getName, i, 9), longNames[i]);
        EXPECT_EQ(hostText(m, &qm_paramManager::getLabel, i), units[i]);
    }
}

TEST(TolvaneParameters, RatioCurve) {
    TolvaneParameterManager m;
    EXPECT_EQ(m.normalizedToPlain(0, 0.0f), 1.0f);
    EXPECT_EQ(m.normalizedToPlain(0, 0.5f), 10.0f);
    EXPECT_EQ(m.normalizedToPlain(0, 1.0f), 1000.0f);
    EXPECT_TRUE(withinUlps(m.normalizedToPlain(0, 0.25f), 1.7834202f, 1));
    EXPECT_TRUE(withinUlps(m.normalizedToPlain(0, 0.75f), 96.17622f, 1));
    EXPECT_EQ(m.plainToNormalized(0, 10.0f), 0.5f);
    EXPECT_EQ(m.plainToNormalized(0, 1000.0f), 1.0f);
    // The inverse is not limited: below the curve's offset it leaves the real numbers.
    EXPECT_TRUE(std::isnan(m.plainToNormalized(0, 0.5f)));
    EXPECT_LT(m.plainToNormalized(0, std::nextafter(0.9174311926605536f, 2.0f)), -1.0f);
    EXPECT_GT(m.plainToNormalized(0, 5000.0f), 1.0f);
}

TEST(TolvaneParameters, OtherParametersAreLinear) {
    TolvaneParameterManager m;
    m.setNormalized(3, 0.5f);
    EXPECT_EQ(m.getPlain(3), -30.0f);
    m.setNormalized(4, 1.0f);
    EXPECT_EQ(m.getPlain(4), 30.0f);
    m.setNormalized(1, 1.0f);
    EXPECT_EQ(m.getPlain(1), 100.0f);
    m.setNormalized(2, 1.0f);
    EXPECT_EQ(m.getPlain(2), 300.0f);
}

TEST(TolvaneParameters, DisplayTexts) {
    TolvaneParameterManager m;
    EXPECT_EQ(hostDisplay(m, 0, 0.0f), "   1:1");
    EXPECT_EQ(hostDisplay(m, 0, 0.25f), "   2:1");
    EXPECT_EQ(hostDisplay(m, 0, 0.5f), "  10:1");
    EXPECT_EQ(hostDisplay(m, 0, 0.75f), "  96:1");
    EXPECT_EQ(hostDisplay(m, 0, 1.0f), "1000:1");

    EXPECT_EQ(hostDisplay(m, 1, m.plainToNormalized(1, 0.5f)), "1.0") << "Attack's default";
    EXPECT_EQ(hostDisplay(m, 1, 0.5f), "5.5");
    EXPECT_EQ(hostDisplay(m, 1, 1.0f), "10.0");
    EXPECT_EQ(hostDisplay(m, 2, 0.0f), "1.0");

    EXPECT_EQ(hostDisplay(m, 3, 0.5f), " -30");
    EXPECT_EQ(hostDisplay(m, 3, 1.0f), " -60");
    EXPECT_EQ(hostDisplay(m, 4, 1.0f), "  30");

    EXPECT_EQ(hostDisplay(m, 5, 0.0f), "0%");
    EXPECT_EQ(hostDisplay(m, 5, 0.29f), "28%") << "0.29 as a float is just below it";
    EXPECT_EQ(hostDisplay(m, 5, 0.999f), "99%");
    EXPECT_EQ(hostDisplay(m, 5, 1.0f), "100%");
}

// Hosts may send any value. The texts keep their formats but are cut at the
// host's length instead of running past it.
TEST(TolvaneParameters, OutOfRangeValuesStayInsideTheHostsBuffer) {
    TolvaneParameterManager m;
    EXPECT_EQ(hostDisplay(m, 1, 1e30f), "9000000");
    EXPECT_EQ(hostDisplay(m, 5, 1e30f), "2147483");
    EXPECT_EQ(hostDisplay(m, 5, -5.0f), "-500%");
    EXPECT_EQ(hostDisplay(m, 5, NAN), "0%");
    EXPECT_EQ(hostDisplay(m, 0, 5.0f), "2141622") << "ratio 2.1e19, cut to seven characters";
    for (float v : {1e30f, -1e30f, NAN, INFINITY, 123.456f})
        for (int32_t index = 0; index < 6; ++index)
            for (int32_t length = 0; length <= 9; ++length) {
                m.setNormalized(index, v);
                GuardedText text(static_cast<size_t>(length));
                m.getDisplay(index, text.data(), length);
                ASSERT_TRUE(text.guardIntact()) << "index " << index << " length " << length << " value " << v;
            }
}

TEST(TolvaneParameters, RatioSuffixOnlyWhenItFits) {
    TolvaneParameterManager m;
    m.setNormalized(0, 1.0f);
    GuardedText five(5), two(2), three(3);
    m.getDisplay(0, five.data(), 5);
    EXPECT_EQ(five.str(), "1000") << "no room for the suffix";
    m.getDisplay(0, two.data(), 2);
    EXPECT_EQ(two.str(), "1");
    m.setNormalized(0, 0.0f);
    m.getDisplay(0, three.data(), 3);
    EXPECT_EQ(three.str(), "  ");
    EXPECT_TRUE(five.guardIntact() && two.guardIntact() && three.guardIntact());
}

}  // namespace
