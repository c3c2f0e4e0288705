// What `tolvane render` (the VST 2.4 plug-in) makes of a signal: the oracle
// the other formats are held to. Float WAV files in a test's folder.
#pragma once

#include <sndfile.h>

#include <cstdlib>
#include <string>

#include "support/signal.h"
#include "support/temp_folder.h"

inline bool writeWav(const std::string& path, const Signal& s) {
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = s.channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) return false;
    const bool ok = sf_writef_float(f, s.samples.data(), static_cast<sf_count_t>(s.frames())) ==
                    static_cast<sf_count_t>(s.frames());
    return sf_close(f) == 0 && ok;
}

inline Signal readWav(const std::string& path) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return {};
    Signal s{info.channels, std::vector<float>(static_cast<size_t>(info.frames * info.channels))};
    sf_readf_float(f, s.samples.data(), info.frames);
    sf_close(f);
    return s;
}

// `tolvane render` of the signal with the options given; with a key, `--key` of it too.
inline Signal renderWithCli(const TempFolder& folder, const Signal& in, const std::string& options,
                            const Signal* key = nullptr) {
    const std::string input = folder / "in.wav", output = folder / "out.wav", keyFile = folder / "key.wav";
    if (!writeWav(input, in) || (key && !writeWav(keyFile, *key))) return {};
    const std::string command = std::string(TOLVANE_CLI_PATH) + " render " + input + " " + output + " " + options +
                                (key ? " --key " + keyFile : "");
    if (std::system(command.c_str()) != 0) return {};
    return readWav(output);
}
