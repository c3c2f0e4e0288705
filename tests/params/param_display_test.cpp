// qm_paramManager texts: names, units, value texts, parsing, and that no text
// operation writes past the length it is given.
#include "qm_paramManager.h"
#include "support/guarded_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

namespace {

std::string display(qm_paramManager& m, int32_t index, float plain, int32_t length = 8) {
    char text[64];
    std::memset(text, '#', sizeof text);
    m.formatValue(index, text, plain, length);
    return text;
}

TEST(ParamNames, ShortUpToEightCharactersLongBeyond) {
    qm_paramManager m;
    m.addParameter(0, "Sensitivity", "Sense", "dB", 0.0f, -60.0f, 0.0f, kLinear);
    char text[16];
    m.getName(0, text, 8);
    EXPECT_STREQ(text, "Sense");
    m.getName(0, text, 9);
    EXPECT_STREQ(text, "Sensitivi") << "the long name, cut at the length";
    m.getName(0, text, 15);
    EXPECT_STREQ(text, "Sensitivity");
    m.getName(0, text, 4);
    EXPECT_STREQ(text, "Sens") << "cut at the length";
}

TEST(ParamNames, StrncpyPadsWithZeros) {
    qm_paramManager m;
    m.addParameter(0, "Gain", "Gain", "dB", 0.0f, 30.0f, 0.0f, kLinear);
    GuardedText text(9);
    m.getLabel(0, text.data(), 8);
    EXPECT_EQ(text.str(), "dB");
    for (int i = 2; i <= 8; ++i) EXPECT_EQ(text.data()[i], '\0') << "byte " << i;
    EXPECT_TRUE(text.guardIntact());
}

TEST(ParamLabels, TimeAndRateUnits) {
    qm_paramManager m;
    m.addParameter(0, "Delay", "Delay", "", 0.0f, 1000.0f, 100.0f, kTime);
    m.addParameter(1, "Rate", "Rate", "", 0.1f, 10.0f, 1.0f, kRate);
    char text[16];
    m.getLabel(0, text, 4);
    EXPECT_STREQ(text, "ms");
    m.getLabel(0, text, 5);
    EXPECT_STREQ(text, "msec");
    m.getLabel(1, text, 8);
    EXPECT_STREQ(text, "Hz");
    m.setTempoSync(0, true);
    m.setTempoSync(1, true);
    m.getLabel(0, text, 8);
    EXPECT_STREQ(text, "");
    m.getLabel(1, text, 8);
    EXPECT_STREQ(text, "");
}

TEST(ParamValues, DecimalsByMagnitude) {
    qm_paramManager m;
    m.addParameter(0, "Amount", "Amount", "", -10.0f, 1000.0f, 0.0f, kLinearDecimal);
    EXPECT_EQ(display(m, 0, 0.5f), "0.500");
    EXPECT_EQ(display(m, 0, 5.0f), "5.00");
    EXPECT_EQ(display(m, 0, 50.0f), "50.0");
    EXPECT_EQ(display(m, 0, 500.0f), " 500");
    EXPECT_EQ(display(m, 0, -2.5f), "-2.500") << "negative values take three decimals";
}

TEST(ParamValues, KindTexts) {
    qm_paramManager m;
    m.addParameter(0, "Switch", "Sw", "", 0.0f, 1.0f, 0.0f, kOnOff);
    m.addParameter(1, "Level", "Level", "", 0.0f, 1e9f, 0.0f, kLinear);
    m.addParameter(2, "Steps", "Steps", "", 0.0f, 10.0f, 0.0f, kInteger);
    m.addParameter(3, "Delay", "Delay", "", 0.0f, 1000.0f, 100.0f, kTime);
    m.addParameter(4, "Division", "Div", "", 0.0f, 14.0f, 8.0f, kNoteDivision);
    EXPECT_EQ(display(m, 0, 0.5f), "Off");
    EXPECT_EQ(display(m, 0, 0.51f), "On");
    EXPECT_EQ(display(m, 1, 12345678.0f), "1234567") << "seven characters and the terminator";
    EXPECT_EQ(display(m, 2, 7.9f), "   7");
    EXPECT_EQ(display(m, 3, 20.0f), "  20");
    EXPECT_EQ(display(m, 4, 8.0f), "1/4  ");
    m.setTempoSync(3, true);
    EXPECT_EQ(display(m, 3, 15.0f), "1/1  ");
    EXPECT_EQ(display(m, 99, 3.0f), "   3") << "an index never added formats as linear";
}

TEST(ParamValues, NormalizedAndCompactTexts) {
    qm_paramManager m;
    m.addParameter(0, "Level", "Level", "", 0.0f, 100.0f, 50.0f, kLinear);
    GuardedText text(9);
    m.getNormalizedText(0, text.data());
    EXPECT_EQ(text.str(), "0.500000");
    EXPECT_TRUE(text.guardIntact());
    char buffer[16];
    m.formatNormalized(0, buffer, 0.25f);
    EXPECT_STREQ(buffer, "  25");
    m.getDisplayCompact(0, buffer, 8);
    EXPECT_STREQ(buffer, "50");
    m.getDisplayCompact(0, buffer, 0);
    EXPECT_STREQ(buffer, "");
}

TEST(ParamValues, Milliseconds) {
    qm_paramManager m;
    char text[16];
    m.formatMilliseconds(text, 1500.0f, 8);
    EXPECT_STREQ(text, "1.500");
    m.formatMilliseconds(text, 1000.0f, 8);
    EXPECT_STREQ(text, "1000");
    m.formatMilliseconds(text, 20.0f, 8);
    EXPECT_STREQ(text, " 20");
    GuardedText small(4);
    m.formatMilliseconds(small.data(), 123456.0f, 3);
    EXPECT_EQ(small.str(), "123") << "cut at the length, not written whole";
    EXPECT_TRUE(small.guardIntact());
}

TEST(ParamParsing, NoteDivisions) {
    qm_paramManager m;
    int32_t index = -1;
    EXPECT_TRUE(m.parseNoteDivision(" 1/4 .", &index));
    EXPECT_EQ(index, 10);
    EXPECT_TRUE(m.parseNoteDivision("1/4T", &index));
    EXPECT_EQ(index, 6);
    index = 99;
    EXPECT_FALSE(m.parseNoteDivision("1/64", &index));
    EXPECT_EQ(index, 99) << "unchanged on failure";
    EXPECT_TRUE(m.parseNoteDivision("1/4   T", &index));
    EXPECT_EQ(index, 8) << "only the first six characters count";
    for (int32_t i = 0; i < 15; ++i) {
        ASSERT_TRUE(m.parseNoteDivision(noteDivisionNames[i], &index));
        EXPECT_EQ(index, i) << "display text " << noteDivisionNames[i] << " parses back";
    }
}

TEST(ParamParsing, TextToPlainLimitsEvenOnFailure) {
    qm_paramManager m;
    m.addParameter(0, "Level", "Level", "", 0.0f, 10.0f, 0.0f, kLinear);
    m.addParameter(1, "Switch", "Sw", "", 0.0f, 1.0f, 0.0f, kOnOff);
    m.addParameter(2, "Rate", "Rate", "", 0.0f, 14.0f, 1.0f, kRate);
    float out = 0.0f;
    EXPECT_TRUE(m.textToPlain(0, "12", &out));
    EXPECT_EQ(out, 10.0f);
    out = -4.0f;
    EXPECT_FALSE(m.textToPlain(0, "loud", &out));
    EXPECT_EQ(out, 0.0f) << "the caller's value, limited";
    out = 5.0f;
    EXPECT_FALSE(m.textToPlain(0, "nan", &out)) << "not a number is no number";
    EXPECT_EQ(out, 5.0f);
    EXPECT_TRUE(m.textToPlain(0, "inf", &out));
    EXPECT_EQ(out, 10.0f);
    EXPECT_FALSE(m.textToPlain(1, "1", &out)) << "switches are not parsed";
    m.setTempoSync(2, true);
    EXPECT_TRUE(m.textToPlain(2, "1/4", &out));
    EXPECT_EQ(out, 6.0f) << "rates count divisions from the other end";
    EXPECT_TRUE(m.textToPlain(0, "3.25000000007", &out)) << "ten characters form the number";
    EXPECT_EQ(out, 3.25f);
}

// Every length from -1 to 12 into every text operation, for every kind, with
// hostile values: nothing may be written past the buffer the length implies.
TEST(ParamSafety, NoTextOperationWritesPastItsLength) {
    qm_paramManager m;
    for (int32_t kind = kLinear; kind <= kRateNormalized; ++kind)
        m.addParameter(kind, "A rather long parameter name", "Short", "unit text", 0.5f, 5000.0f, 1.0f, kind);
    for (int32_t kind = kTime; kind <= kRateNormalized; ++kind) m.setTempoSync(kind + 20, true);
    const float values[] = {0.0f, 1.0f, -1e30f, 1e30f, NAN, INFINITY, -INFINITY, 12345678.0f, 0.25f};
    for (int32_t index = 0; index <= kRateNormalized; ++index) {
        for (int32_t length = -1; length <= 12; ++length) {
            const size_t after = length < 0 ? 0 : static_cast<size_t>(length);
            for (float v : values) {
                m.setNormalized(index, v);
                GuardedText a(after + 1), b(after), c(after), d(after + 1), e(after + 1);
                m.getName(index, a.data(), length);
                m.getDisplay(index, b.data(), length);
                m.formatValue(index, c.data(), v, length);
                m.getLabel(index, d.data(), length);
                m.getDisplayCompact(index, e.data(), length);
                ASSERT_TRUE(a.guardIntact() && b.guardIntact() && c.guardIntact() && d.guardIntact() && e.guardIntact())
                    << "index " << index << " length " << length << " value " << v;
                if (length < 0) {
                    ASSERT_TRUE(a.untouched() && b.untouched());
                }
            }
        }
        GuardedText n(9), f(8);
        m.getNormalizedText(index, n.data());
        m.formatNormalized(index, f.data(), 1e30f);
        ASSERT_TRUE(n.guardIntact() && f.guardIntact()) << "index " << index;
    }
}

// Random and hostile text into the parsers. Under the sanitizers this also
// proves that no parse reads or writes out of bounds.
TEST(ParamSafety, ParsersSurviveRandomText) {
    qm_paramManager m;
    for (int32_t kind = kLinear; kind <= kRateNormalized; ++kind)
        m.addParameter(kind, "Name", "Name", "", -100.0f, 100.0f, 0.0f, kind);
    m.setTempoSync(kTime, true);
    m.setTempoSync(kRate, true);
    std::mt19937 random(20261207);
    const std::string alphabet = "0123456789/.T -+eEinfaINFx\t\n%s";
    const char* hostile[] = {"",
                             " ",
                             "1e999999",
                             "-1e999999",
                             "%s%s%s%n",
                             "1/",
                             "      1/4",
                             "1/4.....",
                             "nan(0x123)",
                             "0x1p-200",
                             "99999999999999999999999999999999",
                             "1/1T\xff\xfe"};
    for (int i = 0; i < 20000; ++i) {
        std::string text;
        if (i < static_cast<int>(std::size(hostile))) {
            text = hostile[i];
        } else {
            const size_t length = random() % 24;
            for (size_t k = 0; k < length; ++k)
                text += random() % 4 ? alphabet[random() % alphabet.size()] : static_cast<char>(random() % 256);
        }
        for (int32_t kind = kLinear; kind <= kRateNormalized; ++kind) {
            float out = 0.0f;
            m.textToPlain(kind, text.c_str(), &out);
            ASSERT_TRUE(out >= -100.0f && out <= 100.0f) << "kind " << kind << " text '" << text << "' gave " << out;
        }
        int32_t index = -7;
        if (m.parseNoteDivision(text.c_str(), &index)) ASSERT_TRUE(index >= 0 && index <= 14);
        else ASSERT_EQ(index, -7);
    }
}

}  // namespace
