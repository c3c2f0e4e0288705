// Reading what arrives on the LV2 plug-in's control port (MIDI and the user
// interface's messages) and on the user interface's notify port, trusting no
// size: a host may hand over any bytes. Every read lies within the atom it
// belongs to, every value has its type's exact size, and every parameter index
// names a parameter; anything else reads as no message. No host is needed, so
// the fuzz targets call these directly.
#pragma once

#include <lv2/atom/atom.h>
#include <lv2/midi/midi.h>
#include <lv2/urid/urid.h>

#include <cstdint>
#include <cstring>

#include "TolvaneLv2Ports.h"

namespace tolvane::lv2 {

struct MessageUris {
    LV2_URID object, blank, resource, atomInt, atomFloat, atomBool, midiEvent;
    LV2_URID toggleLearn, stateRequest, parameterValue, learn, parameter, value, armed;

    static MessageUris map(LV2_URID_Map* map) {
        auto id = [map](const char* uri) { return map->map(map->handle, uri); };
        return {id(LV2_ATOM__Object), id(LV2_ATOM__Blank),    id(LV2_ATOM__Resource),  id(LV2_ATOM__Int),
                id(LV2_ATOM__Float),  id(LV2_ATOM__Bool),     id(LV2_MIDI__MidiEvent), id(kToggleLearnUri),
                id(kStateRequestUri), id(kParameterValueUri), id(kLearnUri),           id(kParameterKeyUri),
                id(kValueKeyUri),     id(kArmedKeyUri)};
    }
};

struct Message {
    enum Kind { kNone, kMidi, kStateRequest, kToggleLearn, kParameterValue, kLearn } kind = kNone;
    const uint8_t* midi = nullptr;  // kMidi: the message's bytes
    uint32_t midiSize = 0;
    int32_t parameter = -1;  // kToggleLearn, kParameterValue, kLearn
    float value = 0.0f;      // kParameterValue: normalised, 0 to 1
    bool armed = false;      // kLearn
};

namespace detail {

// Atoms in sequences and objects start on 8-byte boundaries; 64 bits, so that
// no size wraps.
inline uint64_t padded(uint32_t size) { return (uint64_t{size} + 7) & ~uint64_t{7}; }

// The body of a 32-bit value of the given type, or false.
inline bool readWord(const LV2_Atom* atom, LV2_URID type, void* out) {
    if (!atom || atom->type != type || atom->size != 4) return false;
    std::memcpy(out, atom + 1, 4);
    return true;
}

}  // namespace detail

// The message an atom holds, `available` bytes of it (header and body) readable.
inline Message readMessage(const LV2_Atom* atom, uint32_t available, const MessageUris& uris) {
    Message message;
    if (available < sizeof(LV2_Atom) || atom->size > available - sizeof(LV2_Atom)) return message;
    const auto* body = reinterpret_cast<const uint8_t*>(atom + 1);
    if (atom->type == uris.midiEvent) {
        message = {Message::kMidi, body, atom->size};
        return message;
    }
    const bool object = atom->type == uris.object || atom->type == uris.blank || atom->type == uris.resource;
    if (!object || atom->size < sizeof(LV2_Atom_Object_Body)) return message;
    const auto* head = reinterpret_cast<const LV2_Atom_Object_Body*>(body);

    // The properties, as far as each lies wholly within the object.
    const LV2_Atom *parameter = nullptr, *value = nullptr, *armed = nullptr;
    for (uint64_t at = sizeof(LV2_Atom_Object_Body); at + sizeof(LV2_Atom_Property_Body) <= atom->size;) {
        const auto* property = reinterpret_cast<const LV2_Atom_Property_Body*>(body + at);
        if (property->value.size > atom->size - at - sizeof(LV2_Atom_Property_Body)) break;
        if (property->key == uris.parameter) parameter = &property->value;
        else if (property->key == uris.value) value = &property->value;
        else if (property->key == uris.armed) armed = &property->value;
        at += sizeof(LV2_Atom_Property_Body) + detail::padded(property->value.size);
    }

    if (head->otype == uris.stateRequest) {
        message.kind = Message::kStateRequest;
        return message;
    }
    int32_t index = -1;
    if (!detail::readWord(parameter, uris.atomInt, &index) || !isRow(index)) return message;
    message.parameter = index;
    int32_t on = 0;
    if (head->otype == uris.toggleLearn) {
        message.kind = Message::kToggleLearn;
    } else if (head->otype == uris.parameterValue && detail::readWord(value, uris.atomFloat, &message.value) &&
               message.value >= 0.0f && message.value <= 1.0f) {
        message.kind = Message::kParameterValue;
    } else if (head->otype == uris.learn && detail::readWord(armed, uris.atomBool, &on)) {
        message.kind = Message::kLearn;
        message.armed = on != 0;
    }
    return message;
}

// Calls visit(frames, message) for each event of the sequence in its order,
// with Message::kNone for those that hold none; stops at the first event that
// does not lie wholly within the sequence's size.
template <class Visit>
void forEachMessage(const LV2_Atom_Sequence& sequence, const MessageUris& uris, Visit visit) {
    const uint32_t size = sequence.atom.size;
    const auto* body = reinterpret_cast<const uint8_t*>(&sequence.body);
    for (uint64_t at = sizeof(LV2_Atom_Sequence_Body); at + sizeof(LV2_Atom_Event) <= size;) {
        const auto* event = reinterpret_cast<const LV2_Atom_Event*>(body + at);
        if (event->body.size > size - at - sizeof(LV2_Atom_Event)) return;
        visit(event->time.frames,
              readMessage(&event->body, static_cast<uint32_t>(sizeof(LV2_Atom) + event->body.size), uris));
        at += sizeof(LV2_Atom_Event) + detail::padded(event->body.size);
    }
}

}  // namespace tolvane::lv2
