// A test whose plug-in instances keep their settings (the MIDI bindings, the
// editor's size) in a fresh folder of its own.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/temp_folder.h"

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directories(settings); }
    std::string bindingsFile() const { return settings + "/Tolvane MIDI Assignments.txt"; }

    TempFolder folder;
    const std::string settings = useSettingsRoot(folder.path());
};
