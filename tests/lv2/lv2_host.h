// A small LV2 host on lilv for the tests: it loads the bundle from the build
// folder as a host finds it, instantiates the stereo or mono plug-in with a
// URID map, a worker whose work runs only when the test says so, and the
// inline display's queue_draw, feeds the control port MIDI and messages, and
// collects what the notify port says.
#pragma once

#include <lilv/lilv.h>
#include <lv2/atom/forge.h>
#include <lv2/atom/util.h>
#include <lv2/midi/midi.h>
#include <lv2/presets/presets.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "InlineDisplay.h"
#include "TolvaneLv2Ports.h"

class UridMap {
public:
    LV2_URID map(const char* uri) {
        for (size_t i = 0; i < uris.size(); ++i)
            if (uris[i] == uri) return static_cast<LV2_URID>(i + 1);
        uris.emplace_back(uri);
        return static_cast<LV2_URID>(uris.size());
    }
    const char* unmap(LV2_URID id) const { return id >= 1 && id <= uris.size() ? uris[id - 1].c_str() : nullptr; }
    LV2_URID_Map mapFeature{this,
                            [](LV2_URID_Map_Handle h, const char* uri) { return static_cast<UridMap*>(h)->map(uri); }};
    LV2_URID_Unmap unmapFeature{
        this, [](LV2_URID_Unmap_Handle h, LV2_URID id) { return static_cast<UridMap*>(h)->unmap(id); }};

private:
    std::vector<std::string> uris;
};

// The world, loaded once per test program from the build folder's bundle alone.
class Lv2World {
public:
    static Lv2World& get() {
        static Lv2World world;
        return world;
    }
    LilvWorld* world() const { return world_; }
    UridMap& urids() { return urids_; }
    const LilvPlugin* plugin(bool mono, bool sideChain = false) const {
        LilvNode* uri = lilv_new_uri(world_, sideChain ? tolvane::lv2::kSideChainUri
                                             : mono    ? tolvane::lv2::kMonoUri
                                                       : tolvane::lv2::kStereoUri);
        const LilvPlugin* p = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world_), uri);
        lilv_node_free(uri);
        return p;
    }
    LilvNode* node(const char* uri) const { return lilv_new_uri(world_, uri); }

    struct Preset {
        std::string name;
        std::map<std::string, float> values;  // by port symbol
    };
    // The plug-in's presets as a host reads them, in the factory order of their names.
    std::vector<Preset> presets(bool mono) {
        std::vector<Preset> found;
        LilvNode* presetClass = node(LV2_PRESETS__Preset);
        LilvNode* label = node("http://www.w3.org/2000/01/rdf-schema#label");
        LilvNodes* related = lilv_plugin_get_related(plugin(mono), presetClass);
        LILV_FOREACH(nodes, i, related) {
            const LilvNode* uri = lilv_nodes_get(related, i);
            lilv_world_load_resource(world_, uri);
            Preset preset;
            if (LilvNode* name = lilv_world_get(world_, uri, label, nullptr)) {
                preset.name = lilv_node_as_string(name);
                lilv_node_free(name);
            }
            LilvState* state = lilv_state_new_from_world(world_, &urids_.mapFeature, uri);
            lilv_state_restore(
                state, nullptr,
                [](const char* symbol, void* user, const void* value, uint32_t size, uint32_t) {
                    if (size == sizeof(float))
                        std::memcpy(&(*static_cast<std::map<std::string, float>*>(user))[symbol], value, size);
                },
                &preset.values, 0, nullptr);
            lilv_state_free(state);
            found.push_back(preset);
        }
        lilv_nodes_free(related);
        lilv_node_free(presetClass);
        lilv_node_free(label);
        return found;
    }

private:
    Lv2World() {
        setenv("LV2_PATH", TOLVANE_LV2_BUNDLES, 1);
        world_ = lilv_world_new();
        lilv_world_load_all(world_);
    }
    LilvWorld* world_;
    UridMap urids_;
};

// One message the notify port carried.
struct Notification {
    std::string type;  // the object's type URI
    int32_t parameter = -1;
    float value = 0.0f;
    bool armed = false;
};

class Lv2Instance {
public:
    // The side-chain plug-in: stereo, with the Key port (controls[kKey]) and the key's audio in run().
    explicit Lv2Instance(bool isMono, double rate = 44100.0, bool withWorker = true, bool isSideChain = false)
        : mono(isMono),
          sideChain(isSideChain) {
        Lv2World& w = Lv2World::get();
        UridMap& u = w.urids();
        lv2_atom_forge_init(&forge, &u.mapFeature);
        midiEvent = u.map(LV2_MIDI__MidiEvent);
        features.push_back({LV2_URID__map, &u.mapFeature});
        features.push_back({LV2_URID__unmap, &u.unmapFeature});
        if (withWorker) features.push_back({LV2_WORKER__schedule, &scheduleFeature});
        features.push_back({TOLVANE_INLINEDISPLAY__queue_draw, &queueDrawFeature});
        std::vector<const LV2_Feature*> list;
        for (const LV2_Feature& f : features) list.push_back(&f);
        list.push_back(nullptr);
        instance = lilv_plugin_instantiate(w.plugin(mono, sideChain), rate, list.data());
        if (!instance) return;
        worker =
            static_cast<const LV2_Worker_Interface*>(lilv_instance_get_extension_data(instance, LV2_WORKER__interface));
        for (uint32_t i = 0; i < tolvane::kParameterCount; ++i) {
            controls[i] = defaultValue(i);
            lilv_instance_connect_port(instance, i, &controls[i]);
        }
        if (sideChain) lilv_instance_connect_port(instance, tolvane::lv2::kKeyControlPort, &controls[tolvane::kKey]);
        lilv_instance_connect_port(instance, tolvane::lv2::kGainReductionPort, &gainReduction);
        lilv_instance_connect_port(instance, tolvane::lv2::kControlPort, controlBuffer.data());
        lilv_instance_connect_port(instance, tolvane::lv2::kNotifyPort, notifyBuffer.data());
        clearControl();
        lilv_instance_activate(instance);
    }
    ~Lv2Instance() {
        if (!instance) return;
        lilv_instance_deactivate(instance);
        lilv_instance_free(instance);
    }
    Lv2Instance(const Lv2Instance&) = delete;
    Lv2Instance& operator=(const Lv2Instance&) = delete;

    explicit operator bool() const { return instance != nullptr; }
    LilvInstance* lilv() const { return instance; }

    static float defaultValue(uint32_t port) {
        LilvNode *def = nullptr, *min = nullptr, *max = nullptr;
        lilv_port_get_range(Lv2World::get().plugin(false),
                            lilv_plugin_get_port_by_index(Lv2World::get().plugin(false), port), &def, &min, &max);
        const float value = def ? lilv_node_as_float(def) : 0.0f;
        lilv_node_free(def);
        lilv_node_free(min);
        lilv_node_free(max);
        return value;
    }
    void applyPreset(const Lv2World::Preset& preset) {
        for (uint32_t i = 0; i < tolvane::kParameterCount; ++i)
            controls[i] = preset.values.at(tolvane::lv2::kPortSymbols[i]);
    }

    // Events for the next run, in frame order.
    void midi(uint32_t frame, uint8_t status, uint8_t data1, uint8_t data2) {
        const uint8_t bytes[3] = {status, data1, data2};
        lv2_atom_forge_frame_time(&forge, frame);
        lv2_atom_forge_atom(&forge, sizeof bytes, midiEvent);
        lv2_atom_forge_write(&forge, bytes, sizeof bytes);
    }
    void message(uint32_t frame, const char* type, int32_t parameter = -1) {
        UridMap& u = Lv2World::get().urids();
        lv2_atom_forge_frame_time(&forge, frame);
        lv2_atom_forge_object(&forge, &objectFrame, 0, u.map(type));
        if (parameter >= 0) {
            lv2_atom_forge_key(&forge, u.map(tolvane::lv2::kParameterKeyUri));
            lv2_atom_forge_int(&forge, parameter);
        }
        lv2_atom_forge_pop(&forge, &objectFrame);
    }

    // One run over the given buffers (mono uses the left ones); the notify
    // port's messages land in `notifications`.
    void run(const float* inLeft, const float* inRight, float* outLeft, float* outRight, uint32_t frames,
             const float* keyLeft = nullptr, const float* keyRight = nullptr) {
        const uint32_t audio = tolvane::lv2::kFirstAudioPort;
        if (sideChain) {
            lilv_instance_connect_port(instance, tolvane::lv2::kFirstKeyPort, const_cast<float*>(keyLeft));
            lilv_instance_connect_port(instance, tolvane::lv2::kFirstKeyPort + 1, const_cast<float*>(keyRight));
        }
        lilv_instance_connect_port(instance, audio, const_cast<float*>(inLeft));
        if (mono) {
            lilv_instance_connect_port(instance, audio + 1, outLeft);
        } else {
            lilv_instance_connect_port(instance, audio + 1, const_cast<float*>(inRight));
            lilv_instance_connect_port(instance, audio + 2, outLeft);
            lilv_instance_connect_port(instance, audio + 3, outRight);
        }
        lv2_atom_forge_pop(&forge, &sequenceFrame);
        auto* notify = reinterpret_cast<LV2_Atom_Sequence*>(notifyBuffer.data());
        notify->atom.type = 0;
        notify->atom.size = static_cast<uint32_t>(notifyBuffer.size() * sizeof(uint64_t) - sizeof(LV2_Atom));
        if (rawControl) lilv_instance_connect_port(instance, tolvane::lv2::kControlPort, rawControl);
        if (aroundRun) aroundRun(true);
        lilv_instance_run(instance, frames);
        if (aroundRun) aroundRun(false);
        lilv_instance_connect_port(instance, tolvane::lv2::kControlPort, controlBuffer.data());
        rawControl = nullptr;
        collectNotifications(*notify);
        clearControl();
    }

    // Runs the work run() scheduled, then hands the responses back, as a host's worker thread would.
    size_t runWorker() {
        const size_t count = pendingCount;
        for (size_t i = 0; i < count; ++i)
            worker->work(lilv_instance_get_handle(instance), respond, this, pending[i].size, pending[i].data);
        pendingCount = 0;
        for (const auto& r : responses)
            worker->work_response(lilv_instance_get_handle(instance), static_cast<uint32_t>(r.size()), r.data());
        responses.clear();
        return count;
    }
    size_t pendingWorkCount() const { return pendingCount; }
    // Bytes for the worker that no instance of ours would send, as a host may
    // hand them over: a request for work(), or a response for work_response().
    LV2_Worker_Status workBytes(const std::vector<uint8_t>& bytes, bool response) {
        LV2_Handle handle = lilv_instance_get_handle(instance);
        const auto size = static_cast<uint32_t>(bytes.size());
        return response ? worker->work_response(handle, size, bytes.data())
                        : worker->work(handle, respond, this, size, bytes.data());
    }

    const bool mono, sideChain;
    float controls[tolvane::kSideChainParameterCount] = {};
    float gainReduction = -1.0f;
    std::vector<Notification> notifications;
    int drawRequests = 0;
    // Called just before (true) and after (false) the plug-in's run().
    void (*aroundRun)(bool entering) = nullptr;
    // The next run's control port, when set: a whole sequence, header and all.
    void* rawControl = nullptr;

private:
    static LV2_Worker_Status respond(LV2_Worker_Respond_Handle handle, uint32_t size, const void* data) {
        auto* self = static_cast<Lv2Instance*>(handle);
        const auto* bytes = static_cast<const uint8_t*>(data);
        self->responses.emplace_back(bytes, bytes + size);
        return LV2_WORKER_SUCCESS;
    }
    static LV2_Worker_Status schedule(LV2_Worker_Schedule_Handle handle, uint32_t size, const void* data) {
        // Kept in fixed storage, so that scheduling allocates nothing in run().
        auto* self = static_cast<Lv2Instance*>(handle);
        if (self->pendingCount == std::size(self->pending) || size > sizeof self->pending[0].data)
            return LV2_WORKER_ERR_NO_SPACE;
        self->pending[self->pendingCount].size = size;
        std::memcpy(self->pending[self->pendingCount++].data, data, size);
        return LV2_WORKER_SUCCESS;
    }

    void clearControl() {
        lv2_atom_forge_set_buffer(&forge, reinterpret_cast<uint8_t*>(controlBuffer.data()),
                                  controlBuffer.size() * sizeof(uint64_t));
        lv2_atom_forge_sequence_head(&forge, &sequenceFrame, 0);
    }

    void collectNotifications(const LV2_Atom_Sequence& notify) {
        UridMap& u = Lv2World::get().urids();
        LV2_ATOM_SEQUENCE_FOREACH(&notify, event) {
            if (!lv2_atom_forge_is_object_type(&forge, event->body.type)) continue;
            const auto* object = reinterpret_cast<const LV2_Atom_Object*>(&event->body);
            Notification n;
            n.type = u.unmap(object->body.otype);
            LV2_ATOM_OBJECT_FOREACH(object, property) {
                const std::string key = u.unmap(property->key);
                if (key == tolvane::lv2::kParameterKeyUri)
                    n.parameter = reinterpret_cast<const LV2_Atom_Int&>(property->value).body;
                if (key == tolvane::lv2::kValueKeyUri)
                    n.value = reinterpret_cast<const LV2_Atom_Float&>(property->value).body;
                if (key == tolvane::lv2::kArmedKeyUri)
                    n.armed = reinterpret_cast<const LV2_Atom_Bool&>(property->value).body;
            }
            notifications.push_back(n);
        }
    }

    LilvInstance* instance = nullptr;
    const LV2_Worker_Interface* worker = nullptr;
    std::vector<LV2_Feature> features;
    LV2_Worker_Schedule scheduleFeature{this, schedule};
    Lv2InlineDisplay queueDrawFeature{this, [](void* h) { ++static_cast<Lv2Instance*>(h)->drawRequests; }};
    LV2_Atom_Forge forge{};
    // Members, not locals: the forge keeps a pointer to the open frame.
    LV2_Atom_Forge_Frame sequenceFrame{}, objectFrame{};
    LV2_URID midiEvent = 0;
    std::vector<uint64_t> controlBuffer = std::vector<uint64_t>(1024);
    std::vector<uint64_t> notifyBuffer = std::vector<uint64_t>(tolvane::lv2::kNotifyBufferSize / 8);
    struct Request {
        uint32_t size;
        alignas(8) uint8_t data[64];
    };
    Request pending[16] = {};
    size_t pendingCount = 0;
    std::vector<std::vector<uint8_t>> responses;
};
