#include "qm_paramManager.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

const char* const noteDivisionNames[16] = {"1/32 ", "1/16T", "1/16 ", "1/8 T", "1/16.", "1/8  ", "1/4 T", "1/8. ",
                                           "1/4  ", "1/2 T", "1/4. ", "1/2  ", "1/1 T", "1/2. ", "1/1  ", "1/1  "};

const float noteDivisionBeats[16] = {0.125f, 1.0f / 6.0f, 0.25f, 1.0f / 3.0f, 0.375f,      0.5f, 2.0f / 3.0f, 0.75f,
                                     1.0f,   4.0f / 3.0f, 1.5f,  2.0f,        8.0f / 3.0f, 3.0f, 4.0f,        4.0f};

static const char* const noteDivisionParseTexts[15] = {"1/32", "1/16T", "1/16", "1/8T", "1/16.", "1/8",  "1/4T", "1/8.",
                                                       "1/4",  "1/2T",  "1/4.", "1/2",  "1/1T",  "1/2.", "1/1"};

namespace {

float toFloat(double v) { return static_cast<float>(v); }

// trunc(v) as an index into a table of `size` entries. Values outside the table
// (and NaN) are held at its ends rather than read out of bounds.
int32_t tableIndex(double v, int32_t size) {
    if (!(v >= 0.0)) return 0;
    if (v >= size - 1) return size - 1;
    return static_cast<int32_t>(v);
}

float limitToUnit(float v) {
    if (v > 1.0f) return 1.0f;
    if (v < 0.0f) return 0.0f;
    return v;
}

// strncpy into a caller's buffer of `length` characters plus its terminator:
// at most `length` characters, the rest of them zero.
void copyText(char* text, const char* source, int32_t length) {
    if (length < 0) return;
    int32_t i = 0;
    for (; i < length && source[i] != '\0'; ++i) text[i] = source[i];
    for (; i <= length; ++i) text[i] = '\0';
}

bool isSyncableKind(int32_t kind) { return kind >= kTime && kind <= kRateNormalized; }
bool isCurvedKind(int32_t kind) {
    return kind == kLogarithmic || kind == kFader || kind == kRate || kind == kRateNormalized;
}

double exponentialCurve(double min, double max, double x) {
    return min * std::pow(2.0, x * std::log(max / min) / std::log(2.0));
}
double faderCurve(double max, double x) { return (max - 0.25) + 44.0 * std::log10(x + 0.0131); }

}  // namespace

CurveTable::CurveTable() : samples(new (std::nothrow) float[pointCount + 1]()) {}

void CurveTable::fill(CurveShape shape, float min, float max) {
    if (!samples) return;
    for (int32_t i = 0; i < count; ++i) {
        const double x = i / 1023.0;
        samples[i] = shape == kCurveFader ? (i == 0 ? min : toFloat(faderCurve(max, x)))
                                          : toFloat(exponentialCurve(min, max, x));
    }
    if (shape == kCurveFader) samples[count - 1] = max;
    samples[count] = samples[count - 1];
}

float CurveTable::lookup(float x) const {
    if (!(x >= 0.0f)) x = 0.0f;
    if (x > 1.0f) x = 1.0f;
    const float pos = toFloat(static_cast<double>(count - 1) * x);
    const int32_t i = static_cast<int32_t>(pos);
    const float f = toFloat(static_cast<double>(pos) - i);
    return toFloat((1.0 - f) * samples[i] + static_cast<double>(f) * samples[i + 1]);
}

int32_t qm_paramManager::truncateToInt(double v) {
    if (!(v == v)) return 0;
    if (v >= 2147483647.0) return INT32_MAX;
    if (v <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(v);
}

qm_paramManager::qm_paramManager() = default;
qm_paramManager::~qm_paramManager() = default;

void qm_paramManager::addParameter(int32_t index, const char* longName, const char* shortName, const char* unit,
                                   float min, float max, float defaultValue, int32_t kind) {
    longNames[index] = longName ? longName : "";
    shortNames[index] = shortName ? shortName : "";
    units[index] = unit ? unit : "";
    minValues[index] = min;
    maxValues[index] = max;
    defaultValues[index] = defaultValue;
    kinds[index] = kind;
    randomizableFlags[index] = true;

    curveTables.erase(index);
    if (isCurvedKind(kind)) {
        CurveTable& table = curveTables[index];
        table.fill(kind == kFader ? kCurveFader : kCurveExponential, min, max);
    }
    if (isSyncableKind(kind)) setTempoSync(index, false);
    setPlain(index, defaultValue);
}

float qm_paramManager::getNormalized(int32_t index) { return normalizedValues[index]; }

void qm_paramManager::setNormalized(int32_t index, float value) {
    normalizedValues[index] = value;
    plainValues[index] = normalizedToPlain(index, value);
}

float qm_paramManager::getPlain(int32_t index) { return plainValues[index]; }

void qm_paramManager::setPlain(int32_t index, float value) {
    plainValues[index] = value;
    normalizedValues[index] = plainToNormalized(index, value);
}

// One plain unit in `direction` (+1 or -1): switches toggle, integers and note
// divisions wrap to the other end, everything else stops at the range.
float qm_paramManager::steppedPlain(int32_t index, int direction) {
    const int32_t kind = kinds[index];
    const float p = plainValues[index], min = minValues[index], max = maxValues[index];
    if (kind == kOnOff) return p == 0.0f ? 1.0f : 0.0f;
    const float next = toFloat(static_cast<double>(p) + direction);
    const bool wraps = kind == kInteger || kind == kNoteDivision;
    if (direction > 0 && next > max) return wraps ? min : max;
    if (direction < 0 && next < min) return wraps ? max : min;
    return next;
}

void qm_paramManager::stepUp(int32_t index) { setPlain(index, steppedPlain(index, +1)); }
void qm_paramManager::stepDown(int32_t index) { setPlain(index, steppedPlain(index, -1)); }

void qm_paramManager::setTempoSyncFlag(int32_t index, int32_t flag) { tempoSyncFlags[index] = flag; }

void qm_paramManager::setTempoSync(int32_t index, bool on) {
    if (!isSyncableKind(kinds[index])) return;
    tempoSyncFlags[index] = on ? 1 : 0;
    setNormalized(index, normalizedValues[index]);
}

void qm_paramManager::setRandomizable(int32_t index, bool flag) { randomizableFlags[index] = flag; }
bool qm_paramManager::isRandomizable(int32_t index) { return randomizableFlags[index]; }

void qm_paramManager::randomize(int32_t index) {
    if (!randomizableFlags[index]) return;
    const int32_t kind = kinds[index];
    if (kind == kOnOff || (kind == kInteger && minValues[index] == 0.0f && maxValues[index] == 1.0f)) {
        setNormalized(index, (std::rand() & 1) ? 1.0f : 0.0f);
    } else {
        // RAND_MAX rather than a literal 32767: on systems whose rand() reaches
        // 2^31 - 1 a fixed divisor would give values far above 1.
        setNormalized(index, toFloat(std::abs(std::rand()) / static_cast<double>(RAND_MAX)));
    }
}

float qm_paramManager::getProcessingValue(int32_t index) { return plainToProcessing(index, plainValues[index]); }

float qm_paramManager::getModulatedValue(int32_t index, float offset) {
    const float n = limitToUnit(toFloat(static_cast<double>(normalizedValues[index]) + offset));
    return plainToProcessing(index, normalizedToPlain(index, n));
}

float qm_paramManager::getDefault(int32_t index) { return defaultValues[index]; }
float qm_paramManager::getMin(int32_t index) { return minValues[index]; }
float qm_paramManager::getMax(int32_t index) { return maxValues[index]; }
int32_t qm_paramManager::getTempoSyncFlag(int32_t index) { return tempoSyncFlags[index]; }

bool qm_paramManager::isTempoSynced(int32_t index) {
    const int32_t kind = kinds[index];
    return isSyncableKind(kind) && tempoSyncFlags[index] != 0;
}

int32_t qm_paramManager::getKind(int32_t index) { return kinds[index]; }
std::string qm_paramManager::getLongName(int32_t index) { return longNames[index]; }

float qm_paramManager::curveAt(int32_t index, float x) {
    const CurveTable& table = curveTables[index];
    if (table.samples) return table.lookup(x);
    // No table (allocation failed, or a kind changed under it): the same curve,
    // evaluated directly at the held position.
    if (!(x >= 0.0f)) x = 0.0f;
    if (x > 1.0f) x = 1.0f;
    const float min = minValues[index], max = maxValues[index];
    if (kinds[index] == kFader) return x == 0.0f ? min : x == 1.0f ? max : toFloat(faderCurve(max, x));
    return toFloat(exponentialCurve(min, max, x));
}

float qm_paramManager::normalizedToPlain(int32_t index, float n) {
    const int32_t kind = kinds[index];
    const double min = minValues[index], max = maxValues[index];
    const bool synced = isTempoSynced(index);
    switch (kind) {
    case kOnOff: return n > 0.5f ? 1.0f : 0.0f;
    case kLogarithmic:
    case kFader: return curveAt(index, n);
    case kInteger: return std::floor(toFloat(min + (max - min) * n + 0.5));
    case kNoteDivision: return std::floor(toFloat(n * static_cast<double>(0.99f) * 15.0));
    case kTime: return synced ? std::floor(toFloat(n * 15.0)) : toFloat(min + (max - min) * n);
    case kRate: return synced ? std::floor(toFloat((1.0 - n) * 15.0)) : curveAt(index, n);
    case kTimeNormalized:
    case kRateNormalized: return n;
    default:  // kLinear, kPercent, kLinearDecimal and unknown kinds
        return toFloat(min + (max - min) * n);
    }
}

float qm_paramManager::plainToNormalized(int32_t index, float p) {
    const int32_t kind = kinds[index];
    const double min = minValues[index], max = maxValues[index];
    const bool synced = isTempoSynced(index);
    double n;
    switch (kind) {
    case kOnOff:
    case kTimeNormalized:
    case kRateNormalized: n = p; break;
    case kLogarithmic: n = std::log(p / min) / std::log(max / min); break;
    case kFader: n = std::pow(10.0, (p - (max - 0.25)) / 44.0) - 0.0131; break;
    case kNoteDivision: n = p / 15.0; break;
    case kTime: n = synced ? p / 15.0 : (p - min) / (max - min); break;
    case kRate: n = synced ? 1.0 - p / 15.0 : std::log(p / min) / std::log(max / min); break;
    default:  // kLinear, kPercent, kLinearDecimal, kInteger and unknown kinds
        n = (p - min) / (max - min);
        break;
    }
    return limitToUnit(toFloat(n));
}

float qm_paramManager::plainToProcessing(int32_t index, float v) {
    const int32_t kind = kinds[index];
    const double min = minValues[index], max = maxValues[index];
    const bool synced = isTempoSynced(index);
    switch (kind) {
    case kNoteDivision: return noteDivisionBeats[tableIndex(v, 16)];
    case kTime: return synced ? noteDivisionBeats[tableIndex(v, 16)] : v;
    case kRate: return synced ? toFloat(1.0 / noteDivisionBeats[tableIndex(v, 16)]) : v;
    case kTimeNormalized: return synced ? noteDivisionBeats[tableIndex(15.0 * v, 16)] : toFloat(min + (max - min) * v);
    case kRateNormalized:
        return synced ? toFloat(1.0 / noteDivisionBeats[tableIndex(15.0 * (1.0 - v), 16)]) : curveAt(index, v);
    default: break;
    }
    // The maximum is tested first.
    if (max < v) v = static_cast<float>(max);
    else if (min > v) v = static_cast<float>(min);
    if (kind == kPercent) return toFloat(v * 0.01);
    if (kind == kFader) return toFloat(std::pow(10.0, v * 0.05));
    return v;
}

int32_t qm_paramManager::getParameterCount() { return static_cast<int32_t>(normalizedValues.size()); }

void qm_paramManager::getName(int32_t index, char* text, int32_t length) {
    copyText(text, (length <= 8 ? shortNames[index] : longNames[index]).c_str(), length);
}

void qm_paramManager::getLabel(int32_t index, char* text, int32_t length) {
    const int32_t kind = kinds[index];
    const bool synced = isTempoSynced(index);
    if (kind == kTime || kind == kTimeNormalized) copyText(text, synced ? "" : length < 5 ? "ms" : "msec", length);
    else if (kind == kRate || kind == kRateNormalized) copyText(text, synced ? "" : "Hz", length);
    else copyText(text, units[index].c_str(), length);
}

void qm_paramManager::getDisplay(int32_t index, char* text, int32_t length) {
    formatValue(index, text, plainValues[index], length);
}

// Decimals chosen by magnitude; negative values take three decimals.
static void formatByMagnitude(char* scratch, size_t size, float v) {
    const char* format = v < 1.0f ? "%3.3f" : v < 10.0f ? "%4.2f" : v < 100.0f ? "%4.1f" : "%4.0f";
    std::snprintf(scratch, size, format, static_cast<double>(v));
}

void qm_paramManager::formatValue(int32_t index, char* text, float v, int32_t length) {
    if (length < 1) return;
    char scratch[60] = {};
    const int32_t kind = kinds[index];
    const bool synced = isTempoSynced(index);
    const double min = minValues[index], max = maxValues[index];
    // Division names are copied with at most `length` characters, like every
    // text, so the final copy below treats them alike.
    auto divisionName = [&](double position) {
        std::strncpy(scratch, noteDivisionNames[tableIndex(position, 16)], sizeof scratch - 1);
    };
    switch (kind) {
    case kOnOff: std::strcpy(scratch, v > 0.5f ? "On" : "Off"); break;
    case kLinearDecimal:
    case kLogarithmic: formatByMagnitude(scratch, sizeof scratch, v); break;
    case kInteger: std::snprintf(scratch, sizeof scratch, "%4d", truncateToInt(v)); break;
    case kNoteDivision: divisionName(15.0 * plainToNormalized(index, v)); break;
    case kTime:
        if (synced) divisionName(v);
        else std::snprintf(scratch, sizeof scratch, "%4.0f", static_cast<double>(v));
        break;
    case kRate:
    case kRateNormalized:
        if (synced) divisionName(15.0 * (1.0 - plainToNormalized(index, v)));
        else formatByMagnitude(scratch, sizeof scratch, v);
        break;
    case kTimeNormalized:
        if (synced) divisionName(15.0 * plainToNormalized(index, v));
        else std::snprintf(scratch, sizeof scratch, "%4.0f", min + (max - min) * v);
        break;
    default:  // kLinear, kPercent, kFader and unknown kinds
        std::snprintf(scratch, sizeof scratch, "%4.0f", static_cast<double>(v));
        break;
    }
    std::strncpy(text, scratch, static_cast<size_t>(length));
    text[length - 1] = '\0';
}

void qm_paramManager::formatNormalized(int32_t index, char* text, float normalized) {
    formatValue(index, text, normalizedToPlain(index, normalized), 8);
}

void qm_paramManager::getNormalizedText(int32_t index, char* text) {
    char scratch[64];
    std::snprintf(scratch, sizeof scratch, "%f", static_cast<double>(normalizedValues[index]));
    copyText(text, scratch, 8);
}

void qm_paramManager::getDisplayCompact(int32_t index, char* text, int32_t length) {
    if (length < 0) return;
    if (length == 0) {
        text[0] = '\0';
        return;
    }
    std::string scratch(static_cast<size_t>(length) + 1, '\0');
    getDisplay(index, scratch.data(), length);
    size_t out = 0;
    for (size_t i = 0; i < scratch.size() && scratch[i] != '\0'; ++i)
        if (scratch[i] != ' ') text[out++] = scratch[i];
    text[out] = '\0';
}

bool qm_paramManager::textToPlain(int32_t index, const char* text, float* out) {
    if (!out) return false;
    const int32_t kind = kinds[index];
    const bool synced = isTempoSynced(index);
    bool understood = false;
    auto scanNumber = [&] {
        float value;
        if (text && std::sscanf(text, "%10f", &value) == 1 && value == value) {
            *out = value;
            return true;
        }
        return false;
    };
    int32_t division = 0;
    switch (kind) {
    case kOnOff: break;
    case kNoteDivision:
        if ((understood = parseNoteDivision(text, &division))) *out = static_cast<float>(division);
        break;
    case kTime:
        if (synced) {
            if ((understood = parseNoteDivision(text, &division))) *out = static_cast<float>(division);
        } else {
            understood = scanNumber();
        }
        break;
    case kRate:
        if (synced) {
            if ((understood = parseNoteDivision(text, &division))) *out = static_cast<float>(14 - division);
        } else {
            understood = scanNumber();
        }
        break;
    default: understood = scanNumber(); break;
    }
    const float min = minValues[index], max = maxValues[index];
    if (max < *out) *out = max;
    else if (min > *out) *out = min;
    return understood;
}

void qm_paramManager::formatMilliseconds(char* text, float milliseconds, int32_t length) {
    if (length < 0) return;
    char scratch[64];
    if (milliseconds > 1000.0f) std::snprintf(scratch, sizeof scratch, "%4.3f", milliseconds * 0.001);
    else std::snprintf(scratch, sizeof scratch, "%3.0f", static_cast<double>(milliseconds));
    // The number is cut at `length` characters rather than written past it.
    const size_t n =
        std::strlen(scratch) < static_cast<size_t>(length) ? std::strlen(scratch) : static_cast<size_t>(length);
    std::memcpy(text, scratch, n);
    text[n] = '\0';
    text[length] = '\0';
}

bool qm_paramManager::parseNoteDivision(const char* text, int32_t* out) {
    if (!text || !out) return false;
    char key[7] = {};
    int32_t k = 0;
    for (int32_t i = 0; i < 6 && text[i] != '\0'; ++i)
        if (text[i] != ' ') key[k++] = text[i];
    for (int32_t i = 0; i < 15; ++i) {
        if (std::strcmp(key, noteDivisionParseTexts[i]) == 0) {
            *out = i;
            return true;
        }
    }
    return false;
}
