// The standalone program's settings file and terminal meter, without JACK:
// what is written reads back exactly, a damaged file costs only its damaged
// lines, and the meter line shows what the engine's meter value means.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "LiveSettings.h"
#include "TerminalMeter.h"
#include "support/temp_folder.h"

namespace {

TEST(LiveSettingsFile, WhatIsWrittenReadsBackExactly) {
    TempFolder folder;
    TolvaneEngine engine("");
    engine.setProgram(4);
    // Values that need all nine digits, and the ends of the range.
    engine.setParameter(tolvane::kRatio, std::nextafter(0.1f, 1.0f));
    engine.setParameter(tolvane::kAttack, 0.0f);
    engine.setParameter(tolvane::kActive, 1.0f);
    const std::string path = folder / "Tolvane Live Settings.txt";
    ASSERT_TRUE(writeLiveSettings(path, engine));

    LiveSettings read;
    ASSERT_TRUE(readLiveSettings(path, read));
    TolvaneEngine restored("");
    restoreLiveSettings(restored, read);
    EXPECT_EQ(restored.getProgram(), 4);
    for (int32_t p = 0; p < TolvaneEngine::kParameterCount; ++p)
        EXPECT_EQ(restored.getParameter(p), engine.getParameter(p)) << tolvane::kParameters[p].name;
    EXPECT_NE(readText(path).find("program 4 NY Compression\n"), std::string::npos);
    EXPECT_NE(readText(path).find("Make-Up Gain 0.575342\n"), std::string::npos);
}

TEST(LiveSettingsFile, DamagedLinesAreSkippedAndTheRestKept) {
    struct Case {
        const char* text;
        int32_t program;
        float ratio;  // -1: not given
        float makeUp;
    };
    const Case cases[] = {
        {"program 2 Full Monty\r\nRatio 0.5\r\nMake-Up Gain 0.25\r\n", 2, 0.5f, 0.25f},     // CR LF line ends
        {"program 7\nRatio 1.5\nMake-Up Gain 0.25\n", -1, -1.0f, 0.25f},                    // out of range
        {"program two\nRatio nan\nMake-Up Gain -0.1\n", -1, -1.0f, -1.0f},                  // no numbers
        {"Ratio 0.5 0.6\nMakeup 0.3\nGain 0.3\nMake-Up Gain 0.75   \n", -1, -1.0f, 0.75f},  // unknown names
        {"Ratio\n\n# Ratio 0.5\nprogram 3x\nRatio 0.125", -1, 0.125f, -1.0f},               // cut short
    };
    for (const Case& c : cases) {
        const LiveSettings s = parseLiveSettings(c.text);
        EXPECT_EQ(s.program, c.program) << c.text;
        EXPECT_EQ(s.hasValue[tolvane::kRatio] ? s.values[tolvane::kRatio] : -1.0f, c.ratio) << c.text;
        EXPECT_EQ(s.hasValue[tolvane::kMakeUpGain] ? s.values[tolvane::kMakeUpGain] : -1.0f, c.makeUp) << c.text;
        EXPECT_FALSE(s.hasValue[tolvane::kAttack]) << c.text;
    }
}

TEST(LiveSettingsFile, AFailedWriteSaysSoAndLeavesNoTemporaryFile) {
    TempFolder folder;
    // A folder where the file should be: the rename over it fails.
    const std::string path = folder / "Tolvane Live Settings.txt";
    std::filesystem::create_directory(path);
    TolvaneEngine engine("");
    EXPECT_FALSE(writeLiveSettings(path, engine));
    EXPECT_TRUE(std::filesystem::is_directory(path));
    size_t entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path())) entries += entry.exists();
    EXPECT_EQ(entries, 1u);
}

TEST(TerminalMeter, OneMarkPerDecibelOfReduction) {
    struct Case {
        float meter;
        int marks;
        const char* decibels;
    };
    const Case cases[] = {{0.0f, 0, "  0.0 dB"},  {0.5f, 10, " 10.0 dB"}, {0.52f, 10, " 10.4 dB"},
                          {1.0f, 20, " 20.0 dB"}, {3.0f, 20, " 20.0 dB"}, {NAN, 0, "  0.0 dB"}};
    for (const Case& c : cases) {
        const std::string line = meterLine("NY Compression", c.meter, 48000, 64);
        EXPECT_EQ(std::count(line.begin(), line.end(), '#'), c.marks) << line;
        EXPECT_NE(line.find(c.decibels), std::string::npos) << line;
        EXPECT_NE(line.find("NY Compression"), std::string::npos);
        EXPECT_NE(line.find("48000 Hz, 64 frames"), std::string::npos);
    }
}

}  // namespace
