// The editor as a VST3 view: the plug-in's editor panel in a child window of
// the host's (an X11 window id, or an HWND), its size, the host's content
// scale and keys. A size the user picks while it is open is asked of the host
// (IPlugFrame::resizeView); the host answers with onSize and the panel opens
// again at its new size.
//
// Idle. On Linux the host's run loop, found through the frame (or the host's
// context), calls the view every 30 ms and whenever the window's X connection
// has something to read; on Windows a timer of the host's user-interface
// thread does. No thread of our own.
#pragma once

#include <atomic>
#include <cstdint>

#include "Vst3Interfaces.h"

class TolvaneEditor;
class TolvaneVst3;

class TolvaneVst3View final : public vst3::IPlugView,
                              public vst3::IPlugViewContentScaleSupport
#if !defined(_WIN32)
    ,
                              public vst3::IEventHandler,
                              public vst3::ITimerHandler
#endif
{
public:
    using tresult = vst3::tresult;
    explicit TolvaneVst3View(TolvaneVst3& owner);
    TolvaneVst3View(const TolvaneVst3View&) = delete;
    TolvaneVst3View& operator=(const TolvaneVst3View&) = delete;

    tresult VST3_API queryInterface(const char* iid, void** object) override;
    uint32_t VST3_API addRef() override;
    uint32_t VST3_API release() override;

    tresult VST3_API isPlatformTypeSupported(vst3::FIDString type) override;
    tresult VST3_API attached(void* parent, vst3::FIDString type) override;
    tresult VST3_API removed() override;
    tresult VST3_API onWheel(float) override { return vst3::kResultFalse; }
    tresult VST3_API onKeyDown(vst3::char16 key, int16_t keyCode, int16_t modifiers) override;
    tresult VST3_API onKeyUp(vst3::char16 key, int16_t keyCode, int16_t modifiers) override;
    tresult VST3_API getSize(vst3::ViewRect* size) override;
    tresult VST3_API onSize(vst3::ViewRect* size) override;
    tresult VST3_API onFocus(vst3::TBool) override { return vst3::kResultOk; }
    tresult VST3_API setFrame(vst3::IPlugFrame* frame) override;
    tresult VST3_API canResize() override { return vst3::kResultFalse; }
    tresult VST3_API checkSizeConstraint(vst3::ViewRect* rect) override;

    // 1.0 is 100 %; the panel takes the nearest of its sizes unless the user chose one.
    tresult VST3_API setContentScaleFactor(float factor) override;

#if !defined(_WIN32)
    void VST3_API onFDIsSet(int fd) override;
    void VST3_API onTimer() override;
#endif

    // The panel wants another size: true when the host's window took it.
    bool requestSize(int32_t width, int32_t height);
    // What a timer does: the owner's hand-overs, then the panel's idle.
    void idle();
    TolvaneEditor& editor();

private:
    ~TolvaneVst3View();
    void watch();
    void unwatch();

    std::atomic<uint32_t> references{1};
    TolvaneVst3& owner;
    vst3::IPlugFrame* frame = nullptr;
    bool resizing = false;
    vst3::ViewRect wanted{};
#if defined(_WIN32)
    uintptr_t timer = 0;
#else
    vst3::IRunLoop* runLoop = nullptr;
    int watchedDescriptor = -1;
    bool timerRegistered = false;
    bool rewatch = false;
#endif
};
