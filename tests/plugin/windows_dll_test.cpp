// What a Windows host sees of Tolvane.dll beyond the VST interface: its
// exports, the DLLs it needs, its version resource, the record's byte layout
// and the settings folder under %ALLUSERSPROFILE%.
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>

#include "support/plugin_fixture.h"
#include "support/temp_folder.h"

namespace {

HMODULE loadedDll() {
    PluginLibrary& library = tolvaneLibrary();
    EXPECT_TRUE(library.loaded()) << library.error();
    return GetModuleHandleA("Tolvane.dll");
}

template <class T>
const T* at(HMODULE module, DWORD offset) {
    return reinterpret_cast<const T*>(reinterpret_cast<const BYTE*>(module) + offset);
}

const IMAGE_DATA_DIRECTORY& directory(HMODULE module, int entry) {
    const auto* dos = at<IMAGE_DOS_HEADER>(module, 0);
    const auto* nt = at<IMAGE_NT_HEADERS>(module, static_cast<DWORD>(dos->e_lfanew));
    return nt->OptionalHeader.DataDirectory[entry];
}

std::string upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

TEST(WindowsDll, ExportsExactlyTheTwoEntryPointNames) {
    const HMODULE module = loadedDll();
    ASSERT_NE(module, nullptr);
    const IMAGE_DATA_DIRECTORY& exports = directory(module, IMAGE_DIRECTORY_ENTRY_EXPORT);
    ASSERT_NE(exports.VirtualAddress, 0u);
    const auto* table = at<IMAGE_EXPORT_DIRECTORY>(module, exports.VirtualAddress);
    std::set<std::string> names;
    const auto* nameOffsets = at<DWORD>(module, table->AddressOfNames);
    for (DWORD i = 0; i < table->NumberOfNames; ++i) names.insert(at<char>(module, nameOffsets[i]));
    EXPECT_EQ(names, (std::set<std::string>{"VSTPluginMain", "main"})) << "undecorated, nothing else";
    EXPECT_EQ(GetProcAddress(module, "main"), GetProcAddress(module, "VSTPluginMain"));
}

TEST(WindowsDll, NeedsOnlyTheSystemsOwnDlls) {
    const HMODULE module = loadedDll();
    const IMAGE_DATA_DIRECTORY& imports = directory(module, IMAGE_DIRECTORY_ENTRY_IMPORT);
    const std::set<std::string> system = {"KERNEL32.DLL", "MSVCRT.DLL",  "USER32.DLL",  "GDI32.DLL",   "ADVAPI32.DLL",
                                          "OLE32.DLL",    "SHELL32.DLL", "GDIPLUS.DLL", "UCRTBASE.DLL"};
    for (const auto* d = at<IMAGE_IMPORT_DESCRIPTOR>(module, imports.VirtualAddress); d->Name; ++d) {
        const std::string name = upper(at<char>(module, d->Name));
        EXPECT_TRUE(system.count(name) || name.rfind("API-MS-WIN-", 0) == 0) << name << " is not a system DLL";
    }
}

TEST(WindowsDll, VersionResource) {
    char path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(loadedDll(), path, MAX_PATH), 0u);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> data(size);
    ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, data.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
    const std::pair<const char*, const char*> strings[] = {{"FileDescription", "Tolvane Plug-in"},
                                                           {"InternalName", "Tolvane"},
                                                           {"OriginalFilename", "Tolvane.dll"},
                                                           {"ProductName", "Tolvane Dynamic Link Library"}};
    for (const auto& [key, expected] : strings) {
        char* value = nullptr;
        const std::string query = std::string("\\StringFileInfo\\040904b0\\") + key;
        ASSERT_TRUE(VerQueryValueA(data.data(), query.c_str(), reinterpret_cast<void**>(&value), &length)) << key;
        EXPECT_STREQ(value, expected) << key;
    }
}

// The record as raw bytes, at the offsets hosts compiled for the platform use:
// 144 bytes with 4-byte pointers, natural alignment with 8-byte ones.
TEST(WindowsDll, RecordLayoutInBytes) {
    auto plugin = newTolvane();
    const auto* bytes = reinterpret_cast<const unsigned char*>(plugin->effect());
    auto int32At = [&](size_t offset) {
        int32_t v;
        std::memcpy(&v, bytes + offset, 4);
        return v;
    };
    const bool narrow = sizeof(void*) == 4;
    EXPECT_EQ(int32At(0), 0x56737450);
    EXPECT_EQ(int32At(narrow ? 20 : 40), 5) << "numPrograms";
    EXPECT_EQ(int32At(narrow ? 24 : 44), 6) << "numParams";
    EXPECT_EQ(int32At(narrow ? 28 : 48), 2) << "numInputs";
    EXPECT_EQ(int32At(narrow ? 32 : 52), 2) << "numOutputs";
    EXPECT_EQ(int32At(narrow ? 36 : 56), effFlagsCanReplacing | effFlagsHasEditor) << "flags";
    EXPECT_EQ(int32At(narrow ? 72 : 112), 0x514D7476) << "uniqueID";
    EXPECT_EQ(int32At(narrow ? 76 : 116), 1) << "version";
    float ioRatio;
    std::memcpy(&ioRatio, bytes + (narrow ? 60 : 92), 4);
    EXPECT_EQ(ioRatio, 1.0f);
    void* object;
    std::memcpy(&object, bytes + (narrow ? 64 : 96), sizeof object);
    EXPECT_NE(object, nullptr);
    if (narrow) {
        EXPECT_EQ(sizeof(AEffect), 144u);
    }
}

// ALLUSERSPROFILE set in this process reaches the DLL (Wine rebuilds it from its
// own settings, so a value from the Linux side would not).
TEST(WindowsDll, BindingsComeFromTheAllUsersApplicationDataFolder) {
    TempFolder root;
    const std::string folder = useSettingsRoot(root.path());
    std::filesystem::create_directories(folder);
    writeText(folder + "\\Tolvane MIDI Assignments.txt", "5 7\r\n");
    auto plugin = newTolvane();
    struct {
        VstInt32 numEvents = 1;
        VstIntPtr reserved = 0;
        VstEvent* events[2] = {};
    } list;
    VstMidiEvent cc{};
    cc.type = kVstMidiType;
    cc.byteSize = sizeof cc;
    cc.midiData[0] = static_cast<char>(0xB2);
    cc.midiData[1] = 7;
    cc.midiData[2] = 0;
    list.events[0] = reinterpret_cast<VstEvent*>(&cc);
    EXPECT_EQ(plugin->dispatch(effProcessEvents, 0, 0, &list), 1);
    EXPECT_EQ(plugin->getParameter(5), 0.0f) << "controller 7 moved Active";
}

TEST(WindowsDll, MissingLevelsOfTheFolderAreCreated) {
    TempFolder root;
    const std::string folder = useSettingsRoot(root / "ProgramData");
    auto plugin = newTolvane();  // reading the bindings creates the folder
    EXPECT_TRUE(std::filesystem::is_directory(folder)) << folder;
}

}  // namespace
