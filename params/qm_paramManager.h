// qm_paramManager: a reusable parameter store. For every parameter it keeps the
// descriptive data (names, unit, range, default, kind) and the current value in
// two forms, converts between three domains and writes the texts a host shows:
//
//   normalised  0..1, what hosts, editors and MIDI exchange
//   plain       the parameter's own unit (ratio, ms, dB, Hz, note-division index)
//   processing  the plain value made ready for signal processing
//               (percent -> fraction, dB -> linear gain, division -> quarter notes)
//
// An effect derives its own manager, adds its parameters in the constructor and
// may override operations. Conversions and texts call one another through the
// virtual table, so an override takes effect everywhere, also inside
// setNormalized, setPlain and addParameter.
//
// Numbers: values are float32. Every conversion computes in double precision and
// rounds each stored or returned result to float32.
//
// Reading any attribute of an index that was never added yields its zero value
// (0, empty text, kLinear, false) and creates that entry, as an ordered map does.
//
// Text buffers, as the caller must size them:
//   getName, getLabel          at most `length` characters, terminator at [length]     -> length + 1 bytes
//   getDisplay, formatValue,   at most length - 1 characters, terminator at [length-1] -> length bytes
//     formatNormalized (8)
//   getNormalizedText          at most 8 characters, terminator at [8]                 -> 9 bytes
//   formatMilliseconds         at most `length` characters, terminator at [length]     -> length + 1 bytes
// Copies pad with zero bytes up to the length, as strncpy does. A negative length
// writes nothing.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

enum ParameterKind : int32_t {
    kLinear = 0,
    kOnOff = 1,
    kPercent = 2,
    kLinearDecimal = 3,
    kLogarithmic = 4,
    kFader = 5,
    kInteger = 6,
    kNoteDivision = 7,
    kTime = 8,
    kRate = 9,
    kTimeNormalized = 10,
    kRateNormalized = 11,
};

enum CurveShape : int32_t {
    kCurveExponential = 800,
    kCurveFader = 812,
};

// A 1024-point lookup table (plus one guard sample) for curved kinds.
struct CurveTable {
    static constexpr int32_t pointCount = 1024;

    int32_t count = pointCount;
    std::unique_ptr<float[]> samples;  // count + 1 entries, or null when allocation failed

    CurveTable();
    // Fills from min to max in the given shape; does nothing without samples.
    void fill(CurveShape shape, float min, float max);
    // Linear interpolation at x. Positions outside 0..1 (and NaN, as 0) are held
    // at the ends. Without samples the caller must not look up.
    float lookup(float x) const;
};

// Note divisions, indexed 0..15 (15 repeats 14 so that a normalised 1.0 times 15 has an entry).
extern const char* const noteDivisionNames[16];  // exactly five characters each, blank-padded
extern const float noteDivisionBeats[16];        // length in quarter notes

class qm_paramManager {
public:
    qm_paramManager();
    virtual ~qm_paramManager();

    // Registers (or replaces) a parameter. Texts are copied; the randomizable
    // flag is set; curved kinds get a fresh table; syncable kinds start unsynced;
    // finally setPlain(defaultValue).
    virtual void addParameter(int32_t index, const char* longName, const char* shortName, const char* unit, float min,
                              float max, float defaultValue, int32_t kind);
    virtual float getNormalized(int32_t index);
    // Stores the value as given (no limiting), then the plain value derived from it.
    virtual void setNormalized(int32_t index, float value);
    virtual float getPlain(int32_t index);
    // Stores the value as given, then the normalised value derived from it (limited to 0..1).
    virtual void setPlain(int32_t index, float value);
    // One plain unit up or down; integers and note divisions wrap, switches toggle,
    // everything else stops at the range.
    virtual void stepUp(int32_t index);
    virtual void stepDown(int32_t index);
    virtual void setTempoSyncFlag(int32_t index, int32_t flag);
    // Switches a syncable kind (kTime, kRate, kTimeNormalized, kRateNormalized) in
    // or out of tempo sync and derives the plain value anew; other kinds ignore it.
    virtual void setTempoSync(int32_t index, bool on);
    virtual void setRandomizable(int32_t index, bool flag);
    virtual bool isRandomizable(int32_t index);
    // A random value: 0 or 1 for switches (and 0..1 integers), otherwise 0..1.
    virtual void randomize(int32_t index);
    virtual float getProcessingValue(int32_t index);
    // Processing value of (normalised + offset), limited to 0..1. Stores nothing.
    virtual float getModulatedValue(int32_t index, float offset);
    virtual float getDefault(int32_t index);
    virtual float getMin(int32_t index);
    virtual float getMax(int32_t index);
    virtual int32_t getTempoSyncFlag(int32_t index);
    virtual bool isTempoSynced(int32_t index);
    virtual int32_t getKind(int32_t index);
    virtual std::string getLongName(int32_t index);

    // Texts (buffer sizes in the file header).
    virtual void getName(int32_t index, char* text, int32_t length);   // short name when length <= 8
    virtual void getLabel(int32_t index, char* text, int32_t length);  // unit text
    virtual void getDisplay(int32_t index, char* text, int32_t length);
    virtual void formatValue(int32_t index, char* text, float plain, int32_t length);
    virtual void formatNormalized(int32_t index, char* text, float normalized);
    virtual void getNormalizedText(int32_t index, char* text);                  // "%f", cut to 8 characters
    virtual void getDisplayCompact(int32_t index, char* text, int32_t length);  // display without blanks

    virtual float plainToNormalized(int32_t index, float plain);
    virtual float normalizedToPlain(int32_t index, float normalized);
    virtual float plainToProcessing(int32_t index, float plain);
    // Parses text into `out` and answers whether it was understood. Either way
    // `out` is then limited to the range, so pass in a defined value.
    // false: a switch, text that is no number (NaN counts as none), an unknown division.
    virtual bool textToPlain(int32_t index, const char* text, float* out);
    virtual int32_t getParameterCount();
    // Milliseconds as a number: seconds with three decimals above 1000 ms.
    virtual void formatMilliseconds(char* text, float milliseconds, int32_t length);
    // "1/4.", "1/8 T", ... -> 0..14. Blanks in the first six characters are
    // dropped. Answers false and leaves `out` alone when nothing matches.
    virtual bool parseNoteDivision(const char* text, int32_t* out);

protected:
    // trunc(v) for "%d" texts, held inside the int32 range (NaN gives 0): a host
    // may send any value.
    static int32_t truncateToInt(double v);
    float steppedPlain(int32_t index, int direction);
    // The curve of a curved parameter at x; computed directly from the formula
    // when its table could not be allocated.
    float curveAt(int32_t index, float x);

    std::map<int32_t, float> normalizedValues;
    std::map<int32_t, float> plainValues;
    std::map<int32_t, float> minValues;
    std::map<int32_t, float> maxValues;
    std::map<int32_t, float> defaultValues;
    std::map<int32_t, std::string> longNames;
    std::map<int32_t, std::string> shortNames;
    std::map<int32_t, std::string> units;
    std::map<int32_t, int32_t> kinds;
    std::map<int32_t, CurveTable> curveTables;
    std::map<int32_t, int32_t> tempoSyncFlags;
    std::map<int32_t, bool> randomizableFlags;
};
