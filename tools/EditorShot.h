#pragma once

#include <string>
#include <vector>

// tolvane editor-shot OUT.png [--program N|NAME] [--set NAME=VALUE ...] [--meter V]
//                             [--highlight TAG] [--about]
int editorShotCommand(const std::vector<std::string>& args);
