// qm_paramManager: conversions of every kind, stepping, sync, and the tables'
// ordered-map behaviour.
#include "qm_paramManager.h"
#include "support/float_compare.h"

#include <cmath>

namespace {

// A manager with one parameter of each kind worth testing.
struct Manager : qm_paramManager {
    // Simulates a curve table whose allocation failed.
    void dropCurveSamples(int32_t index) { curveTables[index].samples.reset(); }
};

TEST(ParamKinds, OnOffIsAboveHalf) {
    Manager m;
    m.addParameter(0, "Switch", "Sw", "", 0.0f, 1.0f, 0.0f, kOnOff);
    EXPECT_EQ(m.normalizedToPlain(0, 0.5f), 0.0f);
    EXPECT_EQ(m.normalizedToPlain(0, 0.51f), 1.0f);
    EXPECT_EQ(m.plainToNormalized(0, 3.0f), 1.0f) << "limited to 0..1";
    EXPECT_EQ(m.plainToNormalized(0, -2.0f), 0.0f);
}

TEST(ParamKinds, IntegerRoundsTheFloatResult) {
    Manager m;
    m.addParameter(0, "Steps", "Steps", "", 0.0f, 10.0f, 0.0f, kInteger);
    EXPECT_EQ(m.normalizedToPlain(0, 0.5f), 5.0f);
    // 0.35f is just below 0.35, but 3.4999999 + 0.5 rounds to the float 4.0 before floor.
    EXPECT_EQ(m.normalizedToPlain(0, 0.35f), 4.0f);
    EXPECT_EQ(m.normalizedToPlain(0, 0.349f), 3.0f);
}

TEST(ParamKinds, NoteDivisionIndexes) {
    Manager m;
    m.addParameter(0, "Division", "Div", "", 0.0f, 14.0f, 8.0f, kNoteDivision);
    EXPECT_EQ(m.normalizedToPlain(0, 1.0f), 14.0f) << "0.99 keeps 1.0 off entry 15";
    EXPECT_EQ(m.normalizedToPlain(0, 0.5f), 7.0f);
    EXPECT_EQ(m.plainToNormalized(0, 14.0f), 14.0f / 15.0f);
    EXPECT_EQ(m.plainToProcessing(0, 8.0f), 1.0f) << "a quarter note";
    EXPECT_EQ(m.plainToProcessing(0, 3.0f), 1.0f / 3.0f);
}

TEST(ParamKinds, TimeSyncedAndUnsynced) {
    Manager m;
    m.addParameter(0, "Delay", "Delay", "", 1.0f, 2001.0f, 501.0f, kTime);
    EXPECT_FALSE(m.isTempoSynced(0));
    EXPECT_EQ(m.getNormalized(0), 0.25f);
    EXPECT_EQ(m.normalizedToPlain(0, 0.5f), 1001.0f);
    EXPECT_EQ(m.plainToProcessing(0, 1001.0f), 1001.0f) << "unsynced times pass unlimited";

    m.setTempoSync(0, true);
    EXPECT_TRUE(m.isTempoSynced(0));
    EXPECT_EQ(m.getPlain(0), 3.0f) << "the stored normalised 0.25 read again as a division";
    EXPECT_EQ(m.normalizedToPlain(0, 1.0f), 15.0f);
    EXPECT_EQ(m.plainToProcessing(0, 15.0f), 4.0f) << "entry 15 repeats the whole note";
    EXPECT_EQ(m.plainToNormalized(0, 3.0f), 0.2f);
}

TEST(ParamKinds, RateIsGeometricOrReversedDivisions) {
    Manager m;
    m.addParameter(0, "Rate", "Rate", "", 0.1f, 10.0f, 1.0f, kRate);
    EXPECT_NEAR(m.getNormalized(0), 0.5, 1e-6) << "1 Hz is the geometric middle of 0.1..10";
    EXPECT_NEAR(m.normalizedToPlain(0, 0.5f), 1.0, 1e-4) << "the curve table agrees with the closed form";
    EXPECT_EQ(m.normalizedToPlain(0, 0.0f), 0.1f);
    EXPECT_EQ(m.normalizedToPlain(0, 1.0f), 10.0f);
    m.setTempoSync(0, true);
    EXPECT_EQ(m.normalizedToPlain(0, 0.0f), 15.0f);
    EXPECT_EQ(m.normalizedToPlain(0, 1.0f), 0.0f);
    EXPECT_EQ(m.plainToProcessing(0, 8.0f), 1.0f);
    EXPECT_EQ(m.plainToProcessing(0, 11.0f), 0.5f) << "a half note is half a cycle per beat";
}

TEST(ParamKinds, NormalizedKindsKeepTheValue) {
    Manager m;
    m.addParameter(0, "Time", "Time", "", 10.0f, 110.0f, 0.5f, kTimeNormalized);
    m.addParameter(1, "Rate", "Rate", "", 1.0f, 100.0f, 0.5f, kRateNormalized);
    EXPECT_EQ(m.normalizedToPlain(0, 0.3f), 0.3f);
    EXPECT_EQ(m.plainToProcessing(0, 0.5f), 60.0f);
    EXPECT_NEAR(m.plainToProcessing(1, 0.5f), 10.0, 1e-4);
    m.setTempoSync(0, true);
    EXPECT_EQ(m.plainToProcessing(0, 1.0f), 4.0f);
}

TEST(ParamKinds, LinearLimitsConversionsButStoresWhatItIsGiven) {
    Manager m;
    m.addParameter(0, "Level", "Level", "", 0.0f, 10.0f, 0.0f, kLinear);
    EXPECT_EQ(m.plainToNormalized(0, 12.0f), 1.0f);
    EXPECT_EQ(m.plainToNormalized(0, -1.0f), 0.0f);
    m.setNormalized(0, 1.5f);
    EXPECT_EQ(m.getNormalized(0), 1.5f);
    EXPECT_EQ(m.getPlain(0), 15.0f);
    EXPECT_EQ(m.getProcessingValue(0), 10.0f) << "processing values are limited";
}

TEST(ParamKinds, FaderLawAndPercent) {
    Manager m;
    m.addParameter(0, "Volume", "Vol", "dB", -96.0f, 6.0f, 0.0f, kFader);
    m.addParameter(1, "Mix", "Mix", "%", 0.0f, 100.0f, 50.0f, kPercent);
    // 10^(0.25/44) - 0.0131 is 1.0000688, limited to 1.
    EXPECT_EQ(m.plainToNormalized(0, 6.0f), 1.0f);
    EXPECT_EQ(m.normalizedToPlain(0, 1.0f), 6.0f);
    EXPECT_EQ(m.normalizedToPlain(0, 0.0f), -96.0f);
    EXPECT_NEAR(m.getProcessingValue(0), 1.0, 1e-6) << "0 dB is unity gain";
    EXPECT_NEAR(m.plainToProcessing(0, -6.0f), 0.501187, 1e-6);
    EXPECT_EQ(m.getProcessingValue(1), 0.5f);
    EXPECT_EQ(m.plainToProcessing(1, 250.0f), 1.0f) << "limited to the maximum first";
}

TEST(ParamKinds, ModulationStoresNothing) {
    Manager m;
    m.addParameter(0, "Level", "Level", "", 0.0f, 10.0f, 5.0f, kLinear);
    EXPECT_EQ(m.getModulatedValue(0, 0.25f), 7.5f);
    EXPECT_EQ(m.getModulatedValue(0, 2.0f), 10.0f) << "offset limited to 0..1";
    EXPECT_EQ(m.getNormalized(0), 0.5f);
}

TEST(ParamStepping, IntegersWrapOthersStop) {
    Manager m;
    m.addParameter(0, "Steps", "Steps", "", 0.0f, 4.0f, 4.0f, kInteger);
    m.addParameter(1, "Level", "Level", "", 0.0f, 10.0f, 9.5f, kLinear);
    m.addParameter(2, "Switch", "Sw", "", 0.0f, 1.0f, 0.0f, kOnOff);
    m.stepUp(0);
    EXPECT_EQ(m.getPlain(0), 0.0f);
    m.stepDown(0);
    EXPECT_EQ(m.getPlain(0), 4.0f);
    m.stepUp(1);
    EXPECT_EQ(m.getPlain(1), 10.0f);
    m.setPlain(1, 0.5f);
    m.stepDown(1);
    EXPECT_EQ(m.getPlain(1), 0.0f);
    m.stepUp(2);
    EXPECT_EQ(m.getPlain(2), 1.0f);
    m.stepDown(2);
    EXPECT_EQ(m.getPlain(2), 0.0f);
}

TEST(ParamSync, OnlySyncableKindsSwitch) {
    Manager m;
    m.addParameter(0, "Level", "Level", "", 0.0f, 10.0f, 2.0f, kLinear);
    m.setTempoSync(0, true);
    EXPECT_EQ(m.getTempoSyncFlag(0), 0);
    EXPECT_EQ(m.getPlain(0), 2.0f);
    m.setTempoSyncFlag(0, 1);
    EXPECT_FALSE(m.isTempoSynced(0)) << "the flag counts only for time and rate kinds";
}

TEST(ParamRandomize, StaysInRangeAndHonoursTheFlag) {
    Manager m;
    m.addParameter(0, "Level", "Level", "", 0.0f, 10.0f, 2.0f, kLinear);
    m.addParameter(1, "Switch", "Sw", "", 0.0f, 1.0f, 0.0f, kOnOff);
    std::srand(5);
    for (int i = 0; i < 200; ++i) {
        m.randomize(0);
        m.randomize(1);
        ASSERT_GE(m.getNormalized(0), 0.0f);
        ASSERT_LE(m.getNormalized(0), 1.0f);
        ASSERT_TRUE(m.getNormalized(1) == 0.0f || m.getNormalized(1) == 1.0f);
    }
    m.setRandomizable(0, false);
    const float kept = m.getNormalized(0);
    m.randomize(0);
    EXPECT_EQ(m.getNormalized(0), kept);
}

TEST(ParamTables, ReadingAnUnknownIndexCreatesIt) {
    Manager m;
    m.addParameter(0, "Level", "Level", "", 0.0f, 10.0f, 2.0f, kLinear);
    EXPECT_EQ(m.getParameterCount(), 1);
    EXPECT_EQ(m.getMax(9), 0.0f) << "max is another table";
    EXPECT_EQ(m.getParameterCount(), 1);
    EXPECT_EQ(m.getNormalized(9), 0.0f);
    EXPECT_EQ(m.getKind(9), kLinear);
    EXPECT_EQ(m.getLongName(9), "");
    EXPECT_EQ(m.getParameterCount(), 2);
}

TEST(ParamTables, AddingAgainReplaces) {
    Manager m;
    m.addParameter(0, "Rate", "Rate", "", 0.1f, 10.0f, 1.0f, kRate);
    m.addParameter(0, "Level", "Level", "", 0.0f, 10.0f, 4.0f, kLinear);
    EXPECT_EQ(m.getLongName(0), "Level");
    EXPECT_EQ(m.getNormalized(0), 0.4f);
    EXPECT_EQ(m.getParameterCount(), 1);
}

TEST(ParamCurves, HeldAtTheEndsAndComputedWithoutATable) {
    Manager m;
    m.addParameter(0, "Freq", "Freq", "Hz", 20.0f, 20000.0f, 1000.0f, kLogarithmic);
    EXPECT_EQ(m.normalizedToPlain(0, 0.0f), 20.0f);
    EXPECT_EQ(m.normalizedToPlain(0, 1.0f), 20000.0f);
    EXPECT_EQ(m.normalizedToPlain(0, 1.5f), 20000.0f) << "above the table";
    EXPECT_EQ(m.normalizedToPlain(0, -3.0f), 20.0f) << "below the table";
    EXPECT_EQ(m.normalizedToPlain(0, NAN), 20.0f);
    const float fromTable = m.normalizedToPlain(0, 0.37f);
    m.dropCurveSamples(0);
    EXPECT_NEAR(m.normalizedToPlain(0, 0.37f), fromTable, fromTable * 1e-4) << "closed form without a table";
    EXPECT_EQ(m.normalizedToPlain(0, 2.0f), 20000.0f);
}

TEST(ParamCurves, DivisionLookupsStayInTheTable) {
    Manager m;
    m.addParameter(0, "Division", "Div", "", 0.0f, 14.0f, 8.0f, kNoteDivision);
    EXPECT_EQ(m.plainToProcessing(0, 100.0f), 4.0f);
    EXPECT_EQ(m.plainToProcessing(0, -5.0f), 0.125f);
    EXPECT_EQ(m.plainToProcessing(0, NAN), 0.125f);
    EXPECT_EQ(m.plainToProcessing(0, 1e30f), 4.0f);
}

}  // namespace
