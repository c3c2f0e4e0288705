// Writes the LV2 bundle's description (manifest.ttl, tolvane.ttl, presets.ttl)
// from the engine's own parameter table, curves and factory presets, so that
// nothing is written twice and every value is exact: a port's default and a
// preset's values are the plain values the VST 2.4 plug-in derives from the
// same normalised values, printed so that they read back as the same floats.
//
//   make_ttl OUTDIR DSP_BINARY UI_BINARY MINOR MICRO
#include <cstdio>
#include <string>
#include <vector>

#include "TolvaneLv2Ports.h"
#include "TolvanePrograms.h"

namespace {

using namespace tolvane;
using namespace tolvane::lv2;

const char* const kPrefixes =
    "@prefix atom: <http://lv2plug.in/ns/ext/atom#> .\n"
    "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
    "@prefix foaf: <http://xmlns.com/foaf/0.1/> .\n"
    "@prefix idpy: <http://harrisonconsoles.com/lv2/inlinedisplay#> .\n"
    "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
    "@prefix midi: <http://lv2plug.in/ns/ext/midi#> .\n"
    "@prefix pg: <http://lv2plug.in/ns/ext/port-groups#> .\n"
    "@prefix pprops: <http://lv2plug.in/ns/ext/port-props#> .\n"
    "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
    "@prefix rdf: <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
    "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
    "@prefix rsz: <http://lv2plug.in/ns/ext/resize-port#> .\n"
    "@prefix ui: <http://lv2plug.in/ns/extensions/ui#> .\n"
    "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n"
    "@prefix urid: <http://lv2plug.in/ns/ext/urid#> .\n"
    "@prefix work: <http://lv2plug.in/ns/ext/worker#> .\n\n";

// A float as Turtle reads it back into the same float: nine significant
// digits, and always a decimal point or an exponent, or hosts read an integer.
std::string number(float v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(v));
    std::string s = text;
    if (s.find_first_of(".e") == std::string::npos) s += ".0";
    return s;
}

std::string uri(const std::string& u) { return "<" + u + ">"; }

std::string presetUri(const char* name) {
    std::string slug;
    for (const char* c = name; *c; ++c) {
        const char l = static_cast<char>(*c >= 'A' && *c <= 'Z' ? *c - 'A' + 'a' : *c);
        if ((l >= 'a' && l <= 'z') || (l >= '0' && l <= '9')) slug += l;
        else if (!slug.empty() && slug.back() != '-') slug += '-';
    }
    return std::string(kPresetPrefix) + slug;
}

std::string unitOf(int32_t index) {
    switch (kParameters[index].setting) {
    case Setting::kRatio:
        return "[ a units:Unit ; rdfs:label \"ratio\" ; units:symbol \":1\" ; units:render \"%.2f:1\" ]";
    case Setting::kAttack:
    case Setting::kRelease: return "units:ms";
    case Setting::kThreshold:
    case Setting::kOutputGain: return "units:db";
    case Setting::kWetShare: return "units:pc";
    case Setting::kKey: return "";
    }
    return "";
}

std::string controlPort(int32_t index) {
    const ParameterInfo& p = kParameters[index];
    const float a = portValueOfPlain(index, p.min), b = portValueOfPlain(index, p.max);
    std::string port = "[\n        a lv2:InputPort, lv2:ControlPort ;\n";
    if (index == kKey) {
        // A choice of two, Internal in every program.
        return port + "        lv2:index " + std::to_string(kKeyControlPort) + " ;\n        lv2:symbol \"" +
               kKeyPortSymbol + "\" ;\n        lv2:name \"" + std::string(p.name) +
               "\" ;\n        lv2:default 0 ;\n        lv2:minimum 0 ;\n        lv2:maximum 1 ;\n"
               "        lv2:portProperty lv2:integer, lv2:enumeration ;\n"
               "        lv2:scalePoint [ rdfs:label \"Internal\" ; rdf:value 0 ] ,\n"
               "            [ rdfs:label \"External\" ; rdf:value 1 ]\n    ]";
    }
    port += "        lv2:index " + std::to_string(index) + " ;\n";
    port += "        lv2:symbol \"" + std::string(kPortSymbols[index]) + "\" ;\n";
    port += "        lv2:name \"" + std::string(p.name) + "\" ;\n";
    port += "        lv2:default " + number(portValueOf(index, tolvaneFactoryPresets[0].values[index])) + " ;\n";
    port += "        lv2:minimum " + number(a < b ? a : b) + " ;\n";
    port += "        lv2:maximum " + number(a < b ? b : a) + " ;\n";
    if (p.setting == Setting::kRatio) port += "        lv2:portProperty pprops:logarithmic ;\n";
    port += "        units:unit " + unitOf(index) + "\n    ]";
    return port;
}

enum class Layout { kStereo, kMono, kSideChain };

std::string plugin(Layout layout, const std::string& minor, const std::string& micro) {
    const bool mono = layout == Layout::kMono, sideChain = layout == Layout::kSideChain;
    const char* const self = mono ? kMonoUri : sideChain ? kSideChainUri : kStereoUri;
    std::string s = uri(self) + "\n    a lv2:Plugin, lv2:CompressorPlugin ;\n";
    s += std::string("    doap:name \"") + (mono ? "Tolvane Mono" : sideChain ? "Tolvane SC" : "Tolvane") + "\" ;\n";
    s += "    lv2:project " + uri(kProjectUri) + " ;\n";
    s += "    lv2:minorVersion " + minor + " ;\n    lv2:microVersion " + micro + " ;\n";
    // Without the URID map the plug-in runs as a plain effect (no MIDI, no
    // messages), so hosts that offer no features at all can load it.
    s += "    lv2:optionalFeature urid:map, lv2:hardRTCapable, work:schedule, idpy:queue_draw ;\n";
    s += "    lv2:extensionData work:interface, idpy:interface ;\n";
    s += "    ui:ui " + uri(kUiUri) + " ;\n";
    // Stereo in and out as groups: hosts that map channels (GStreamer) take
    // each pair as one stereo stream.
    if (!mono)
        s += "    pg:mainInput " + uri(kInputGroupUri) + " ;\n    pg:mainOutput " + uri(kOutputGroupUri) + " ;\n";
    s += "    lv2:port ";
    for (int32_t i = 0; i < (sideChain ? kSideChainParameterCount : kParameterCount); ++i) s += controlPort(i) + " , ";
    s += "[\n        a lv2:OutputPort, lv2:ControlPort ;\n        lv2:index " + std::to_string(kGainReductionPort) +
         " ;\n        lv2:symbol \"gain_reduction\" ;\n        lv2:name \"Gain Reduction\" ;\n"
         "        lv2:minimum 0 ;\n        lv2:maximum 60 ;\n        units:unit units:db\n    ] , ";
    s += "[\n        a lv2:InputPort, atom:AtomPort ;\n        atom:bufferType atom:Sequence ;\n"
         "        atom:supports midi:MidiEvent, atom:Object ;\n        lv2:designation lv2:control ;\n"
         "        lv2:portProperty lv2:connectionOptional ;\n"
         "        lv2:index " +
         std::to_string(kControlPort) +
         " ;\n        lv2:symbol \"control\" ;\n"
         "        lv2:name \"Control\"\n    ] , ";
    s += "[\n        a lv2:OutputPort, atom:AtomPort ;\n        atom:bufferType atom:Sequence ;\n"
         "        atom:supports atom:Object ;\n        lv2:portProperty lv2:connectionOptional ;\n"
         "        rsz:minimumSize " +
         std::to_string(kNotifyBufferSize) + " ;\n        lv2:index " + std::to_string(kNotifyPort) +
         " ;\n        lv2:symbol \"notify\" ;\n"
         "        lv2:name \"Notify\"\n    ]";
    struct Audio {
        const char *direction, *symbol, *name, *group, *side;
        uint32_t index;
    };
    std::vector<Audio> audio =
        mono ? std::vector<Audio>{{"InputPort", "in", "In", nullptr, nullptr, kFirstAudioPort},
                                  {"OutputPort", "out", "Out", nullptr, nullptr, kFirstAudioPort + 1}}
             : std::vector<Audio>{{"InputPort", "in_l", "In Left", kInputGroupUri, "left", kFirstAudioPort},
                                  {"InputPort", "in_r", "In Right", kInputGroupUri, "right", kFirstAudioPort + 1},
                                  {"OutputPort", "out_l", "Out Left", kOutputGroupUri, "left", kFirstAudioPort + 2},
                                  {"OutputPort", "out_r", "Out Right", kOutputGroupUri, "right", kFirstAudioPort + 3}};
    if (sideChain) {
        audio.push_back({"InputPort", "key_l", "Key Left", kKeyGroupUri, "left", kFirstKeyPort});
        audio.push_back({"InputPort", "key_r", "Key Right", kKeyGroupUri, "right", kFirstKeyPort + 1});
    }
    for (const Audio& a : audio) {
        s += std::string(" , [\n        a lv2:AudioPort, lv2:") + a.direction + " ;\n        lv2:index " +
             std::to_string(a.index) + " ;\n        lv2:symbol \"" + a.symbol + "\" ;\n";
        if (a.group) s += "        pg:group " + uri(a.group) + " ;\n        lv2:designation pg:" + a.side + " ;\n";
        // Hosts route a side-chain to such ports (Ardour's side-chain input).
        if (a.group == kKeyGroupUri) s += "        lv2:portProperty lv2:isSideChain, lv2:connectionOptional ;\n";
        s += std::string("        lv2:name \"") + a.name + "\"\n    ]";
    }
    s += " .\n\n";
    if (sideChain) {
        s += uri(kKeyGroupUri) + "\n    a pg:InputGroup, pg:StereoGroup ;\n    lv2:symbol \"key_in\" ;\n" +
             "    rdfs:label \"Key\" ;\n    pg:sideChainOf " + uri(kInputGroupUri) + " .\n\n";
    } else if (!mono) {
        s += uri(kInputGroupUri) +
             "\n    a pg:InputGroup, pg:StereoGroup ;\n    lv2:symbol \"in\" ;\n    rdfs:label \"Input\" .\n\n";
        s += uri(kOutputGroupUri) + "\n    a pg:OutputGroup, pg:StereoGroup ;\n    lv2:symbol \"out\" ;\n" +
             "    rdfs:label \"Output\" ;\n    pg:source " + uri(kInputGroupUri) + " .\n\n";
    }
    return s;
}

std::string userInterface() {
    std::string s = uri(kUiUri) + "\n    a ui:X11UI ;\n";
    s += "    lv2:requiredFeature urid:map, ui:parent, ui:idleInterface ;\n";
    // The editor keeps its size while open (hosts then do not stretch its window).
    s += "    lv2:optionalFeature ui:resize, ui:touch, ui:noUserResize ;\n";
    s += "    lv2:extensionData ui:idleInterface ;\n";
    s += "    ui:portNotification ";
    bool first = true;
    for (const char* plugin : {kStereoUri, kMonoUri, kSideChainUri}) {
        if (!first) s += " , ";
        first = false;
        s += "[\n        ui:plugin " + uri(plugin) +
             " ;\n        lv2:symbol \"notify\" ;\n"
             "        ui:notifyType atom:Object\n    ] , [\n        ui:plugin " +
             uri(plugin) + " ;\n        lv2:symbol \"gain_reduction\" ;\n        ui:protocol ui:floatProtocol\n    ]";
    }
    return s + " .\n";
}

bool write(const std::string& path, const std::string& text) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f) return false;
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: make_ttl OUTDIR DSP_BINARY UI_BINARY MINOR MICRO\n");
        return 2;
    }
    const std::string folder = argv[1], dsp = argv[2], ui = argv[3], minor = argv[4], micro = argv[5];

    std::string manifest = std::string(kPrefixes);
    for (const char* plugin : {kStereoUri, kMonoUri, kSideChainUri})
        manifest +=
            uri(plugin) + "\n    a lv2:Plugin ;\n    lv2:binary <" + dsp + "> ;\n    rdfs:seeAlso <tolvane.ttl> .\n\n";
    manifest += uri(kUiUri) + "\n    a ui:X11UI ;\n    ui:binary <" + ui + "> ;\n    rdfs:seeAlso <tolvane.ttl> .\n";
    for (const TolvanePreset& preset : tolvaneFactoryPresets)
        manifest += "\n" + uri(presetUri(preset.name)) + "\n    a pset:Preset ;\n    lv2:appliesTo " + uri(kStereoUri) +
                    ", " + uri(kMonoUri) + ", " + uri(kSideChainUri) + " ;\n    rdfs:seeAlso <presets.ttl> .\n";

    std::string description = std::string(kPrefixes);
    // The inline display is Ardour's extension; its two terms are declared here
    // so that validators know what they are.
    description += "idpy:interface a lv2:ExtensionData .\nidpy:queue_draw a lv2:Feature .\n\n";
    description += uri(kProjectUri) +
                   "\n    a doap:Project ;\n    doap:name \"Tolvane\" ;\n"
                   "    doap:maintainer [ a foaf:Organization ; foaf:name \"Quenmark, Inc.\" ; "
                   "foaf:homepage <https://quenmark.com/> ] .\n\n";
    description += plugin(Layout::kStereo, minor, micro) + plugin(Layout::kMono, minor, micro) +
                   plugin(Layout::kSideChain, minor, micro) + userInterface();

    std::string presets = std::string(kPrefixes);
    for (const TolvanePreset& preset : tolvaneFactoryPresets) {
        presets += uri(presetUri(preset.name)) + "\n    a pset:Preset ;\n    lv2:appliesTo " + uri(kStereoUri) + ", " +
                   uri(kMonoUri) + ", " + uri(kSideChainUri) + " ;\n    rdfs:label \"" + preset.name +
                   "\" ;\n    lv2:port ";
        for (int32_t i = 0; i < kParameterCount; ++i)
            presets += std::string(i ? " , " : "") + "[\n        lv2:symbol \"" + kPortSymbols[i] +
                       "\" ;\n        pset:value " + number(portValueOf(i, preset.values[i])) + "\n    ]";
        presets += " .\n\n";
    }

    if (!write(folder + "/manifest.ttl", manifest) || !write(folder + "/tolvane.ttl", description) ||
        !write(folder + "/presets.ttl", presets)) {
        std::fprintf(stderr, "make_ttl: cannot write into %s\n", folder.c_str());
        return 1;
    }
    return 0;
}
