// Tolvane's parameters, in one table: what the host sees (index, names, unit,
// range, curve, text), what the signal path makes of the value, and how the
// editor shows it (control, image, rectangle). Everything else counts from
// here, and the conversions below work from the row alone: they keep no
// state, so any thread may call them at any time.
//
// A new parameter is a row here, and then:
//   - a value for it in each factory preset (engine/TolvanePrograms.cpp; the
//     compiler refuses a preset that lacks one);
//   - a case in TolvaneEngine::applySetting when it drives a new kind of setting
//     (and in lv2/make_ttl.cpp's unit for it);
//   - its artwork: a film strip drawn by tools/make-artwork.py at 100, 150 and
//     200 % and listed in resources/CMakeLists.txt under the row's image id
//     (id + 100 and id + 200 for the larger sizes).
// The checks below and the tests hold the rest together.
#pragma once

#include <cstdint>
#include <string_view>

#include "CGeometry.h"

namespace tolvane {

// What a parameter's plain value becomes in the signal path.
enum class Setting : int32_t {
    kRatio,       // the compressor's ratio, n in n:1
    kAttack,      // the compressor's attack: plain milliseconds, as seconds
    kRelease,     // the compressor's release: plain milliseconds, as seconds
    kThreshold,   // the compressor's threshold, plain decibels
    kOutputGain,  // the compressor's make-up gain, plain decibels
    kWetShare,    // the Active fade's target: the normalised value itself
    kKey,         // the detector's source: the input below 0.5, the key from 0.5
};

// How a normalised value n becomes the plain value p, and back.
enum class Curve : int32_t {
    kLinear,  // p = min + (max - min) n; back, n is limited to 0..1
    kRatio,   // p = 12100^n 9/109 + 100/109: n = 0, 0.5, 1 give 1, 10, 1000:1; back, n is not limited
};

// The value text a host shows.
enum class Display : int32_t {
    kPlain,    // the plain value, "%4.0f"
    kRatio,    // the plain value, "%4.0f", and ":1" when it fits
    kScale,    // n on a 1.0 .. 10.0 scale, "%2.1f", whatever the plain value
    kPercent,  // n in whole percent, truncated: "%d%%"
    kKey,      // "Internal" below 0.5, "External" from 0.5
};

// How the editor shows a parameter.
enum class Control : int32_t {
    kKnob,    // a film-strip knob, one frame per rectangle height
    kSwitch,  // a two-frame switch: off, on
};

struct ParameterInfo {
    std::string_view name;       // the host's name (and the short name's source where it fits 8 characters)
    std::string_view shortName;  // at most 8 characters
    std::string_view unit;
    float min, max;  // plain range; min may lie above max (Sensitivity)
    Curve curve;
    Display display;
    Setting setting;
    Control control;
    int32_t imageId;      // the film strip, among the editor's images
    CRect rect;           // on the 1x panel
    int32_t frameHeight;  // of one film-strip frame at 1x
};

// Index = position: 0 Ratio, 1 Attack, 2 Release, 3 Sensitivity, 4 Make-Up
// Gain, 5 Active, 6 Key. Hosts, programs, MIDI bindings and stored files use
// these numbers, so rows are only ever appended. One row per parameter, read
// across. Key exists only in the forms with a key input: the others keep the
// first kParameterCount rows, so their sessions and presets stay as they were.
// clang-format off
inline constexpr ParameterInfo kParameters[] = {
    {"Ratio", "Ratio", " ", 1.0f, 1000.0f, Curve::kRatio, Display::kRatio, Setting::kRatio, Control::kKnob, 10001, {14, 65, 109, 152}, 87},
    {"Attack", "Attack", "", 0.01f, 100.0f, Curve::kLinear, Display::kScale, Setting::kAttack, Control::kKnob, 10002, {109, 65, 204, 152}, 87},
    {"Release", "Release", "", 10.0f, 300.0f, Curve::kLinear, Display::kScale, Setting::kRelease, Control::kKnob, 10003, {201, 65, 296, 152}, 87},
    {"Sensitivity", "Sense", "dB", 0.0f, -60.0f, Curve::kLinear, Display::kPlain, Setting::kThreshold, Control::kKnob, 10004, {475, 65, 570, 152}, 87},
    {"Make-Up Gain", "Makeup", "dB", 0.0f, 30.0f, Curve::kLinear, Display::kPlain, Setting::kOutputGain, Control::kKnob, 10005, {568, 65, 663, 152}, 87},
    {"Active", "Active", " ", 0.0f, 1.0f, Curve::kLinear, Display::kPercent, Setting::kWetShare, Control::kSwitch, 10007, {668, 54, 750, 143}, 89},
    {"Key", "Key", "", 0.0f, 1.0f, Curve::kLinear, Display::kKey, Setting::kKey, Control::kSwitch, 10010, {190, 166, 300, 198}, 32},
};
// clang-format on
// The forms without a key input have the first six; the side-chain forms all.
inline constexpr int32_t kSideChainParameterCount = static_cast<int32_t>(std::size(kParameters));
inline constexpr int32_t kParameterCount = kSideChainParameterCount - 1;

// Indexes by name, for code that means one parameter in particular.
enum ParameterIndex : int32_t { kRatio, kAttack, kRelease, kSensitivity, kMakeUpGain, kActive, kKey };

// A parameter of the forms without a key input.
constexpr bool isParameter(int32_t index) { return index >= 0 && index < kParameterCount; }
// A parameter of a form with `count` parameters (kParameterCount or kSideChainParameterCount).
constexpr bool isParameter(int32_t index, int32_t count) { return index >= 0 && index < count; }
// A row of the table, whichever form has it: what the conversions and texts take.
constexpr bool isRow(int32_t index) { return isParameter(index, kSideChainParameterCount); }

// Conversions by a parameter's curve. Each computes in double and rounds every
// step it names to float32. A normalised value outside 0..1 gives a plain value
// outside the range; an index that is no parameter gives 0.
float normalizedToPlain(int32_t index, float normalized);
float plainToNormalized(int32_t index, float plain);

// The texts a host asks for, into its buffer; nothing for an index that is no
// parameter. A host may send any normalised value: the text keeps its format
// and is cut at the length.
//   writeName, writeUnit: at most `length` characters, padded with zeros up to
//     a terminator at [length] (length + 1 bytes, as strncpy); the short name
//     when length <= 8. A negative length writes nothing.
//   writeDisplay: at most length - 1 characters and the terminator (length
//     bytes). A length below 1 writes nothing.
void writeName(int32_t index, char* text, int32_t length);
void writeUnit(int32_t index, char* text, int32_t length);
void writeDisplay(int32_t index, float normalized, char* text, int32_t length);

// The panel the controls sit on, and the editor's other pieces.
inline constexpr int32_t kPanelImageId = 10000;
inline constexpr CRect kPanelRect{0, 0, 750, 200};
inline constexpr int32_t kMeterImageId = 10006;
inline constexpr CRect kMeterRect{316, 39, 434, 160};
inline constexpr int32_t kMeterFrames = 33;
inline constexpr int32_t kAboutImageId = 10008;
inline constexpr CRect kAboutRect{501, 171, 694, 200};
// The menu of the editor's sizes: a strip of 128 x 94 frames, frame k with
// row k marked, rows inside a frame as below (all at 100 %).
inline constexpr int32_t kSizeMenuImageId = 10009;
inline constexpr CRect kSizeMenuFrame{0, 0, 128, 94};
inline constexpr CRect kSizeMenuRows[] = {{2, 24, 126, 46}, {2, 46, 126, 68}, {2, 68, 126, 90}};
// Editor controls that are no parameter carry these tags (6 is the Key's, where there is one).
inline constexpr int32_t kAboutTag = 7;
inline constexpr int32_t kMeterTag = 8;
inline constexpr int32_t kSizeMenuTag = 9;

namespace checks {
constexpr bool inside(const CRect& r, const CRect& panel) {
    return r.left >= panel.left && r.top >= panel.top && r.right <= panel.right && r.bottom <= panel.bottom &&
           r.left < r.right && r.top < r.bottom;
}
constexpr bool rowsAreSound() {
    for (const ParameterInfo& p : kParameters) {
        if (p.name.empty() || p.shortName.empty() || p.shortName.size() > 8 || p.unit.size() > 8) return false;
        if (!inside(p.rect, kPanelRect)) return false;
        // A film-strip frame is as tall as its control's rectangle.
        if (p.frameHeight != p.rect.height()) return false;
        if (p.frameHeight <= 0 || p.imageId == kPanelImageId || p.imageId == kMeterImageId ||
            p.imageId == kAboutImageId || p.imageId == kSizeMenuImageId)
            return false;
    }
    for (int32_t i = 0; i < kSideChainParameterCount; ++i)
        for (int32_t j = i + 1; j < kSideChainParameterCount; ++j)
            if (kParameters[i].imageId == kParameters[j].imageId || kParameters[i].name == kParameters[j].name)
                return false;
    return true;
}
}  // namespace checks
static_assert(checks::rowsAreSound(), "every parameter needs its own name, image and a rectangle on the panel");
static_assert(kSideChainParameterCount <= kAboutTag,
              "parameter indexes double as control tags, below the editor's own");
static_assert(kSideChainParameterCount <= 32, "pending changes are kept as one bit per parameter");
static_assert(kParameters[kActive].setting == Setting::kWetShare && kParameters[kRatio].setting == Setting::kRatio &&
                  kParameters[kKey].setting == Setting::kKey && kKey == kParameterCount,
              "the named indexes follow the table");

}  // namespace tolvane
