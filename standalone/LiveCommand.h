// tolvane live: Tolvane as a program of its own in a JACK graph (jackd, or
// PipeWire through its JACK library), for live sound without a workstation.
// The engine and the editor are the plug-in's; this adapter adds the JACK
// client, the editor's own top-level window (or, without one, a meter line in
// the terminal) and the settings that carry over to the next start.
//
//   tolvane live [--program N|NAME] [--set NAME=VALUE ...] [--connect [PORT,...]] [--no-editor]
//
// It ends cleanly on Ctrl+C (SIGINT), SIGTERM, SIGHUP and the window's close
// button (status 0), and when the JACK server goes away (status 1), each time
// with the settings saved. Wrong options end it with status 2.
#pragma once

#include <string>
#include <vector>

int liveCommand(const std::vector<std::string>& args);
