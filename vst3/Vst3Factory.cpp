// The module's factory: one class, Tolvane, an audio effect that is its own
// controller.
#include <cstring>
#include <new>

#include "TolvaneVst3.h"
#include "Vst3Text.h"

#ifndef TOLVANE_VERSION
#define TOLVANE_VERSION "0"
#endif

using namespace vst3;
using tolvane::vst3text::copyAscii;
using tolvane::vst3text::toUtf16;

namespace {

// Tolvane's class identifier. Hosts file every project, preset and automation
// lane that uses the plug-in under it and find the plug-in again by it: another
// identifier would be another plug-in, which no saved project knows. Chosen
// once, at random. Never change it.
constexpr Uid kClassId = makeUid(0x568D85F8, 0xBB0A4413, 0x98AD66C4, 0xD49AEE37);

constexpr const char* kVendor = "Quenmark, Inc.";
constexpr const char* kName = "Tolvane";
constexpr const char* kCategory = "Audio Module Class";
constexpr const char* kSubCategories = "Fx|Dynamics";
// The interface version these declarations follow.
constexpr const char* kInterfaceVersion = "VST 3.7.14";

class Factory final : public IPluginFactory3 {
public:
    tresult VST3_API queryInterface(const char* iid, void** object) override {
        if (!object) return kInvalidArgument;
        const bool known = FUnknown::iid == iid || IPluginFactory::iid == iid || IPluginFactory2::iid == iid ||
                           IPluginFactory3::iid == iid;
        *object = known ? this : nullptr;
        return known ? kResultOk : kNoInterface;
    }
    // It lives as long as the module.
    uint32_t VST3_API addRef() override { return 1; }
    uint32_t VST3_API release() override { return 1; }

    tresult VST3_API getFactoryInfo(PFactoryInfo* info) override {
        if (!info) return kInvalidArgument;
        std::memset(info, 0, sizeof *info);
        copyAscii(info->vendor, kVendor, sizeof info->vendor);
        copyAscii(info->url, "https://quenmark.com/plugins/tolvane", sizeof info->url);
        info->flags = PFactoryInfo::kUnicode;
        return kResultOk;
    }
    int32_t VST3_API countClasses() override { return 1; }
    tresult VST3_API getClassInfo(int32_t index, PClassInfo* info) override {
        if (index != 0 || !info) return kInvalidArgument;
        std::memset(info, 0, sizeof *info);
        std::memcpy(info->cid, kClassId.bytes, sizeof info->cid);
        info->cardinality = PClassInfo::kManyInstances;
        copyAscii(info->category, kCategory, sizeof info->category);
        copyAscii(info->name, kName, sizeof info->name);
        return kResultOk;
    }
    tresult VST3_API createInstance(FIDString cid, FIDString iid, void** object) override {
        if (!object) return kInvalidArgument;
        *object = nullptr;
        if (!(kClassId == cid)) return kNoInterface;
        auto* instance = new (std::nothrow) TolvaneVst3;
        if (!instance) return kOutOfMemory;
        const tresult result = instance->queryInterface(iid, object);
        instance->release();
        return result;
    }
    tresult VST3_API getClassInfo2(int32_t index, PClassInfo2* info) override {
        if (index != 0 || !info) return kInvalidArgument;
        std::memset(info, 0, sizeof *info);
        std::memcpy(info->cid, kClassId.bytes, sizeof info->cid);
        info->cardinality = PClassInfo::kManyInstances;
        copyAscii(info->category, kCategory, sizeof info->category);
        copyAscii(info->name, kName, sizeof info->name);
        copyAscii(info->subCategories, kSubCategories, sizeof info->subCategories);
        copyAscii(info->vendor, kVendor, sizeof info->vendor);
        copyAscii(info->version, TOLVANE_VERSION, sizeof info->version);
        copyAscii(info->sdkVersion, kInterfaceVersion, sizeof info->sdkVersion);
        return kResultOk;
    }
    tresult VST3_API getClassInfoUnicode(int32_t index, PClassInfoW* info) override {
        if (index != 0 || !info) return kInvalidArgument;
        std::memset(info, 0, sizeof *info);
        std::memcpy(info->cid, kClassId.bytes, sizeof info->cid);
        info->cardinality = PClassInfo::kManyInstances;
        copyAscii(info->category, kCategory, sizeof info->category);
        toUtf16(kName, info->name, 64);
        copyAscii(info->subCategories, kSubCategories, sizeof info->subCategories);
        toUtf16(kVendor, info->vendor, 64);
        toUtf16(TOLVANE_VERSION, info->version, 64);
        toUtf16(kInterfaceVersion, info->sdkVersion, 64);
        return kResultOk;
    }
    tresult VST3_API setHostContext(FUnknown*) override { return kResultOk; }
};

}  // namespace

IPluginFactory* tolvaneVst3Factory() {
    // Constant-initialised: no guarded first use, whichever thread asks first.
    static constinit Factory factory;
    return &factory;
}
