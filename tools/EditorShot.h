#pragma once

#include <string>
#include <vector>

// tolvane editor-shot OUT.png [--program N|NAME] [--set NAME=VALUE ...] [--meter V]
//                             [--highlight TAG] [--about] [--size-menu] [--scale 1|1.5|2]
int editorShotCommand(const std::vector<std::string>& args);
