#include "TolvaneVst3View.h"

#include <cstring>
#include <utility>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "TolvaneEditor.h"
#include "TolvaneVst3.h"

using namespace vst3;

namespace {

constexpr uint32_t kIdleMilliseconds = 30;

#if defined(_WIN32)
// Thread timers carry no pointer of ours: their ids find their views.
std::vector<std::pair<UINT_PTR, TolvaneVst3View*>>& timers() {
    static std::vector<std::pair<UINT_PTR, TolvaneVst3View*>> all;
    return all;
}

void CALLBACK onTimer(HWND, UINT, UINT_PTR id, DWORD) {
    for (const auto& [timer, view] : timers())
        if (timer == id) {
            view->idle();
            return;
        }
}
#endif

}  // namespace

TolvaneVst3View::TolvaneVst3View(TolvaneVst3& controller) : owner(controller) { owner.addRef(); }

TolvaneVst3View::~TolvaneVst3View() {
    removed();
    if (frame) frame->release();
    owner.viewGone(this);
    owner.release();
}

TolvaneEditor& TolvaneVst3View::editor() { return owner.getEditor(); }

tresult TolvaneVst3View::queryInterface(const char* iid, void** object) {
    if (!object) return kInvalidArgument;
    void* found = nullptr;
    if (FUnknown::iid == iid || IPlugView::iid == iid) found = static_cast<IPlugView*>(this);
    else if (IPlugViewContentScaleSupport::iid == iid) found = static_cast<IPlugViewContentScaleSupport*>(this);
#if !defined(_WIN32)
    else if (IEventHandler::iid == iid) found = static_cast<IEventHandler*>(this);
    else if (ITimerHandler::iid == iid) found = static_cast<ITimerHandler*>(this);
#endif
    *object = found;
    if (!found) return kNoInterface;
    addRef();
    return kResultOk;
}

uint32_t TolvaneVst3View::addRef() { return references.fetch_add(1) + 1; }

uint32_t TolvaneVst3View::release() {
    const uint32_t left = references.fetch_sub(1) - 1;
    if (left == 0) delete this;
    return left;
}

tresult TolvaneVst3View::isPlatformTypeSupported(FIDString type) {
    return type && std::strcmp(type, kPlatformType) == 0 ? kResultTrue : kResultFalse;
}

tresult TolvaneVst3View::attached(void* parent, FIDString type) {
    if (isPlatformTypeSupported(type) != kResultTrue) return kResultFalse;
    owner.catchUp();
    if (!editor().open(parent)) return kResultFalse;
    watch();
    return kResultOk;
}

tresult TolvaneVst3View::removed() {
    unwatch();
    editor().close();
    return kResultOk;
}

tresult TolvaneVst3View::onKeyDown(char16 key, int16_t keyCode, int16_t modifiers) {
    // The virtual key numbers and the Shift, Alt and Ctrl bits are the VST 2.4 ones the panel knows.
    const platform::KeyCode code{key, static_cast<uint8_t>(keyCode), static_cast<uint8_t>(modifiers & 7)};
    return editor().isOpen() && editor().onKeyDown(code) ? kResultTrue : kResultFalse;
}

tresult TolvaneVst3View::onKeyUp(char16 key, int16_t keyCode, int16_t modifiers) {
    const platform::KeyCode code{key, static_cast<uint8_t>(keyCode), static_cast<uint8_t>(modifiers & 7)};
    return editor().isOpen() && editor().onKeyUp(code) ? kResultTrue : kResultFalse;
}

tresult TolvaneVst3View::getSize(ViewRect* size) {
    if (!size) return kInvalidArgument;
    *size = resizing ? wanted : ViewRect{0, 0, editor().getWidth(), editor().getHeight()};
    return kResultOk;
}

tresult TolvaneVst3View::onSize(ViewRect* size) {
    if (!size) return kInvalidArgument;
    const ViewRect now = resizing ? wanted : ViewRect{0, 0, editor().getWidth(), editor().getHeight()};
    // Only the panel's own sizes: the window follows the panel, not the other way round.
    return size->right - size->left == now.right && size->bottom - size->top == now.bottom ? kResultTrue : kResultFalse;
}

tresult TolvaneVst3View::setFrame(IPlugFrame* newFrame) {
    if (newFrame) newFrame->addRef();
    if (frame) frame->release();
    frame = newFrame;
    return kResultOk;
}

tresult TolvaneVst3View::checkSizeConstraint(ViewRect* rect) {
    if (!rect) return kInvalidArgument;
    rect->right = rect->left + editor().getWidth();
    rect->bottom = rect->top + editor().getHeight();
    return kResultTrue;
}

tresult TolvaneVst3View::setContentScaleFactor(float factor) {
    editor().setHostScale(factor);
    return kResultTrue;
}

bool TolvaneVst3View::requestSize(int32_t width, int32_t height) {
    if (!frame || resizing) return false;
    resizing = true;
    wanted = {0, 0, width, height};
    ViewRect size = wanted;
    const bool taken = frame->resizeView(this, &size) == kResultTrue;
    resizing = false;
#if !defined(_WIN32)
    // The panel opens again in a new window, on a new connection.
    rewatch = rewatch || taken;
#endif
    return taken;
}

void TolvaneVst3View::idle() {
    owner.catchUp();
    editor().idle();
#if !defined(_WIN32)
    // A new size opens a new window, which may bring a new connection.
    if (runLoop && (rewatch || editor().eventDescriptor() != watchedDescriptor)) {
        rewatch = false;
        if (watchedDescriptor >= 0) runLoop->unregisterEventHandler(this);
        watchedDescriptor = editor().eventDescriptor();
        if (watchedDescriptor >= 0 && runLoop->registerEventHandler(this, watchedDescriptor) != kResultTrue)
            watchedDescriptor = -1;
    }
#endif
}

#if defined(_WIN32)

void TolvaneVst3View::watch() {
    if (timer) return;
    timer = SetTimer(nullptr, 0, kIdleMilliseconds, onTimer);
    if (timer) timers().emplace_back(timer, this);
}

void TolvaneVst3View::unwatch() {
    if (!timer) return;
    KillTimer(nullptr, timer);
    std::erase_if(timers(), [this](const auto& entry) { return entry.second == this; });
    timer = 0;
}

#else

void TolvaneVst3View::onFDIsSet(int) { editor().idle(); }

void TolvaneVst3View::onTimer() { idle(); }

void TolvaneVst3View::watch() {
    if (!runLoop) {
        void* found = nullptr;
        if (frame && frame->queryInterface(IRunLoop::iid.bytes, &found) == kResultOk && found) {
            runLoop = static_cast<IRunLoop*>(found);
        } else if (FUnknown* context = owner.getHostContext();
                   context && context->queryInterface(IRunLoop::iid.bytes, &found) == kResultOk && found) {
            runLoop = static_cast<IRunLoop*>(found);
        }
    }
    if (!runLoop) return;
    if (!timerRegistered) timerRegistered = runLoop->registerTimer(this, kIdleMilliseconds) == kResultTrue;
    watchedDescriptor = editor().eventDescriptor();
    if (watchedDescriptor >= 0 && runLoop->registerEventHandler(this, watchedDescriptor) != kResultTrue)
        watchedDescriptor = -1;
}

void TolvaneVst3View::unwatch() {
    if (!runLoop) return;
    if (watchedDescriptor >= 0) runLoop->unregisterEventHandler(this);
    if (timerRegistered) runLoop->unregisterTimer(this);
    watchedDescriptor = -1;
    timerRegistered = false;
    rewatch = false;
    runLoop->release();
    runLoop = nullptr;
}

#endif
