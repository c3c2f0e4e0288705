#include "AEffGUIEditor.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

uint32_t tickCount() {
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

platform::KeyCode toKeyCode(const VstKeyCode& key) {
    return {key.character, key.virt, key.modifier};
}

}  // namespace

AEffGUIEditor::AEffGUIEditor(AudioEffect* effect) : AEffEditor(effect), lastTicks(tickCount()) {
    CDrawingRuntime::acquire();
}

AEffGUIEditor::~AEffGUIEditor() { CDrawingRuntime::release(); }

bool AEffGUIEditor::getRect(ERect** r) {
    *r = &rect;
    return true;
}

bool AEffGUIEditor::open(void* parentWindow) {
    systemWindow = parentWindow;
    return true;
}

void AEffGUIEditor::idle() {
    if (frame && !inIdleStuff) frame->idle();
}

bool AEffGUIEditor::setKnobMode(VstInt32 mode) {
    knobMode = mode;
    return true;
}

bool AEffGUIEditor::onKeyDown(VstKeyCode& key) { return frame && frame->keyDown(toKeyCode(key)) > 0; }

bool AEffGUIEditor::onKeyUp(VstKeyCode& key) { return frame && frame->keyUp(toKeyCode(key)) > 0; }

void AEffGUIEditor::draw(ERect* r) {
    if (!frame) return;
    CRect area = frame->getViewSize();
    if (r) {
        area = {std::min<int32_t>(r->left, r->right), std::min<int32_t>(r->top, r->bottom),
                std::max<int32_t>(r->left, r->right), std::max<int32_t>(r->top, r->bottom)};
    }
    frame->invalidRect(area);
    if (frame->getPlatformWindow()) frame->getPlatformWindow()->repaint();
}

void AEffGUIEditor::doIdleStuff() {
    uint32_t now = tickCount();
    if (now < lastTicks) {
        std::this_thread::sleep_for(std::chrono::milliseconds(4));
        now += 4;
        if (now < lastTicks - 50) return;
    }
    idle();
    if (frame && frame->getPlatformWindow()) frame->getPlatformWindow()->repaint();
    lastTicks = now + 100;
    inIdleStuff = true;
    callMasterIdle();
    inIdleStuff = false;
}
