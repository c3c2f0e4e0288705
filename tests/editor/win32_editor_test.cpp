// The editor in a real Win32 window, as a Windows host shows it: the DLL is
// loaded through its record only, its editor opened in a top-level window of
// this test, driven with mouse messages, and what the window shows compared
// with the headless picture. Runs under Wine (with an X server).
#include <windows.h>

#include <gtest/gtest.h>

#include "CHighlightFrame.h"
#include "EditorWindow.h"
#include "PluginHost.h"

#include "TolvaneEditor.h"
#include "support/headless_editor.h"

namespace {

void pump() {
    for (int round = 0; round < 3; ++round) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        Sleep(5);
    }
}

class Win32Editor : public ::testing::Test {
protected:
    void SetUp() override {
        WNDCLASSA hostClass{};
        hostClass.lpfnWndProc = DefWindowProcA;
        hostClass.hInstance = GetModuleHandleA(nullptr);
        hostClass.lpszClassName = "TolvaneTestHost";
        RegisterClassA(&hostClass);
        host = CreateWindowA("TolvaneTestHost", "host", WS_POPUP | WS_VISIBLE, 0, 0, 750, 200, nullptr, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(host, nullptr);
        library = std::make_unique<PluginLibrary>(TOLVANE_PLUGIN_PATH);
        plugin = library->createInstance();
        ASSERT_TRUE(plugin) << library->error();
        ASSERT_EQ(plugin->dispatch(effEditOpen, 0, 0, host), 1);
        settle();
        editorWindow = GetWindow(host, GW_CHILD);
        ASSERT_NE(editorWindow, nullptr);
        plugin->calls.clear();
    }
    void TearDown() override {
        if (plugin) plugin->dispatch(effEditClose);
        plugin.reset();
        if (host) DestroyWindow(host);
    }
    void settle() {
        for (int i = 0; i < 4; ++i) {
            pump();
            plugin->dispatch(effEditIdle);
        }
        pump();
    }
    void send(UINT message, WPARAM keys, int x, int y) {
        PostMessageA(editorWindow, message, keys, MAKELPARAM(x, y));
        settle();
    }
    std::vector<uint32_t> capture() {
        settle();
        HDC window = GetDC(editorWindow);
        HDC memory = CreateCompatibleDC(window);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = 750;
        info.bmiHeader.biHeight = -200;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, 750, 200, window, 0, 0, SRCCOPY);
        GdiFlush();
        std::vector<uint32_t> pixels(static_cast<const uint32_t*>(bits),
                                     static_cast<const uint32_t*>(bits) + 750 * 200);
        for (uint32_t& p : pixels) p |= 0xFF000000u;
        SelectObject(memory, old);
        DeleteObject(bitmap);
        DeleteDC(memory);
        ReleaseDC(editorWindow, window);
        return pixels;
    }

    HWND host = nullptr, editorWindow = nullptr;
    std::unique_ptr<PluginLibrary> library;
    std::unique_ptr<PluginInstance> plugin;
};

TEST_F(Win32Editor, MouseMessagesDriveTheControlsAndTheWindowShowsTheHeadlessPicture) {
    const float ratio = plugin->getParameter(0);
    send(WM_LBUTTONDOWN, MK_LBUTTON, 60, 110);
    send(WM_MOUSEMOVE, MK_LBUTTON, 60, 90);
    send(WM_MOUSEMOVE, MK_LBUTTON, 60, 70);
    send(WM_LBUTTONUP, 0, 60, 70);
    EXPECT_NEAR(plugin->getParameter(0), ratio + 0.2f, 1e-4f);
    std::vector<VstInt32> opcodes;
    for (const HostCall& c : plugin->calls) opcodes.push_back(c.opcode);
    EXPECT_EQ(opcodes, (std::vector<VstInt32>{audioMasterBeginEdit, audioMasterAutomate, audioMasterAutomate,
                                              audioMasterEndEdit}));

    const float attack = plugin->getParameter(1);
    send(WM_LBUTTONDOWN, MK_LBUTTON | MK_SHIFT, 155, 110);
    send(WM_MOUSEMOVE, MK_LBUTTON | MK_SHIFT, 185, 110);
    send(WM_LBUTTONUP, MK_SHIFT, 185, 110);
    EXPECT_NEAR(plugin->getParameter(1), attack + 0.1f, 1e-4f);

    send(WM_LBUTTONDOWN, MK_LBUTTON | MK_CONTROL, 250, 110);
    send(WM_LBUTTONUP, MK_CONTROL, 250, 110);
    EXPECT_EQ(plugin->getParameter(2), 0.5f);

    const float active = plugin->getParameter(5);
    send(WM_LBUTTONDOWN, MK_LBUTTON, 708, 100);
    send(WM_LBUTTONUP, 0, 708, 100);
    EXPECT_EQ(plugin->getParameter(5), active == 0.0f ? 1.0f : 0.0f);

    EXPECT_EQ(capture(), headlessPicture(*plugin));

    send(WM_LBUTTONDOWN, MK_LBUTTON, 600, 186);  // the about screen
    send(WM_LBUTTONUP, 0, 600, 186);
    EXPECT_NE(capture(), headlessPicture(*plugin));
    send(WM_LBUTTONDOWN, MK_LBUTTON, 100, 100);
    send(WM_LBUTTONUP, 0, 100, 100);
    EXPECT_EQ(capture(), headlessPicture(*plugin));
}

TEST_F(Win32Editor, OpeningAndClosingLeavesNoWindowBehind) {
    for (int i = 0; i < 50; ++i) {
        plugin->dispatch(effEditClose);
        ASSERT_EQ(plugin->dispatch(effEditOpen, 0, 0, host), 1);
        plugin->dispatch(effEditIdle);
    }
    plugin->dispatch(effEditClose);
    pump();
    EXPECT_EQ(GetWindow(host, GW_CHILD), nullptr);
    DestroyWindow(host);  // the host's window goes first, then the editor is closed
    host = nullptr;
    ASSERT_EQ(plugin->dispatch(effEditOpen, 0, 0, nullptr), 1);
    plugin->dispatch(effEditClose);
}

}  // namespace
