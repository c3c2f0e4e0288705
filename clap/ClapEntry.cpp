// The library's plug-ins (stereo and mono) and the preset provider that
// offers the five factory programs to a host's browser.
#include <cstring>
#include <new>

#include "TolvaneClap.h"

namespace tolvane_clap {

namespace {

const char* const kStereoFeatures[] = {"audio-effect", "compressor", "stereo", nullptr};
const char* const kMonoFeatures[] = {"audio-effect", "compressor", "mono", nullptr};
constexpr char kVendor[] = "Quenmark, Inc.";
constexpr char kUrl[] = "https://quenmark.com/plugins/tolvane";

const clap::PluginDescriptor descriptors[] = {
    {clap::kVersion, kStereoId, "Tolvane", kVendor, kUrl, "", "", TOLVANE_VERSION,
     "Peak compressor with linked stereo detection, make-up gain and a dry blend", kStereoFeatures},
    {clap::kVersion, kMonoId, "Tolvane Mono", kVendor, kUrl, "", "", TOLVANE_VERSION,
     "Peak compressor with make-up gain and a dry blend, one channel", kMonoFeatures},
};
constexpr uint32_t kPluginCount = sizeof descriptors / sizeof descriptors[0];

const clap::PluginFactory pluginFactory{
    [](const clap::PluginFactory*) { return kPluginCount; },
    [](const clap::PluginFactory*, uint32_t index) { return index < kPluginCount ? &descriptors[index] : nullptr; },
    [](const clap::PluginFactory*, const clap::Host* host, const char* id) -> const clap::Plugin* {
        if (!host || !id) return nullptr;
        for (uint32_t i = 0; i < kPluginCount; ++i) {
            if (std::strcmp(id, descriptors[i].id) != 0) continue;
            try {
                return (new TolvaneClap(host, &descriptors[i], i == 1))->plugin();
            } catch (...) {
                return nullptr;  // out of memory
            }
        }
        return nullptr;
    }};

// --- presets -----------------------------------------------------------------------------------

const clap::PresetProviderDescriptor providerDescriptor{clap::kVersion, "com.quenmark.tolvane.presets",
                                                        "Tolvane factory programs", kVendor};
const char* const kPresetKeys[kTolvaneProgramCount] = {"0", "1", "2", "3", "4"};
static_assert(kTolvaneProgramCount == 5, "one key per factory program");

struct Provider {
    clap::PresetProvider provider;
    const clap::PresetIndexer* indexer;
};

bool providerInit(const clap::PresetProvider* p) {
    const auto* indexer = static_cast<const Provider*>(p->providerData)->indexer;
    // The programs are inside the library: a location without a path.
    const clap::PresetLocation location{clap::kPresetIsFactoryContent, "Tolvane", clap::kPresetLocationPlugin, nullptr};
    return indexer->declareLocation(indexer, &location);
}

bool providerMetadata(const clap::PresetProvider*, uint32_t kind, const char*,
                      const clap::PresetMetadataReceiver* receiver) {
    if (kind != clap::kPresetLocationPlugin || !receiver) return false;
    for (int32_t p = 0; p < kTolvaneProgramCount; ++p) {
        if (!receiver->beginPreset(receiver, tolvaneFactoryPresets[p].name, kPresetKeys[p])) break;
        for (const char* id : {kStereoId, kMonoId}) {
            const clap::UniversalPluginId plugin{"clap", id};
            receiver->addPluginId(receiver, &plugin);
        }
        receiver->setFlags(receiver, clap::kPresetIsFactoryContent);
        receiver->addCreator(receiver, kVendor);
    }
    return true;
}

const clap::PresetDiscoveryFactory presetFactory{
    [](const clap::PresetDiscoveryFactory*) { return 1u; },
    [](const clap::PresetDiscoveryFactory*, uint32_t index) { return index == 0 ? &providerDescriptor : nullptr; },
    [](const clap::PresetDiscoveryFactory*, const clap::PresetIndexer* indexer,
       const char* id) -> const clap::PresetProvider* {
        if (!indexer || !id || std::strcmp(id, providerDescriptor.id) != 0) return nullptr;
        auto* p = new (std::nothrow) Provider{};
        if (!p) return nullptr;
        p->indexer = indexer;
        p->provider = {&providerDescriptor,
                       p,
                       providerInit,
                       [](const clap::PresetProvider* self) { delete static_cast<Provider*>(self->providerData); },
                       providerMetadata,
                       [](const clap::PresetProvider*, const char*) -> const void* { return nullptr; }};
        return &p->provider;
    }};

}  // namespace

bool CLAP_CALL entryInit(const char*) { return true; }

void CLAP_CALL entryDeinit() {}

const void* CLAP_CALL entryFactory(const char* id) {
    if (!id) return nullptr;
    if (std::strcmp(id, clap::kPluginFactoryId) == 0) return &pluginFactory;
    if (std::strcmp(id, clap::kPresetDiscoveryFactoryId) == 0 ||
        std::strcmp(id, clap::kPresetDiscoveryFactoryDraftId) == 0)
        return &presetFactory;
    return nullptr;
}

}  // namespace tolvane_clap
