// The files of `tolvane render`: an input opened once, so that a pipe serves
// as well as a file, and an output that never costs a file that was there
// before the command, whatever the path names.
#pragma once

#include <sndfile.h>

#include <string>

class RenderInput {
public:
    RenderInput() = default;
    RenderInput(const RenderInput&) = delete;
    RenderInput& operator=(const RenderInput&) = delete;
    ~RenderInput();

    // False, with `error` set, when `path` cannot be read as audio. `warning`
    // is set when the file holds less audio than its header says, or a header
    // that gives none (a recording not yet finished) has audio behind it;
    // what is there is read either way.
    bool open(const std::string& path, std::string& error, std::string& warning);
    SNDFILE* file() const { return sndfile; }
    const SF_INFO& info() const { return info_; }
    // After `framesRead` frames: a warning when a file ended, or failed to
    // read on, before the frame count its header gives (a cut FLAC file), else empty.
    std::string shortfall(sf_count_t framesRead) const;

    // A WAV or AIFF file whose audio chunk gives 0 bytes, read with the true
    // count in its place.
    struct Patched {
        int fd;
        sf_count_t size, position, countAt;
        unsigned char count[4];
    };

private:
    std::string path;
    int fd = -1;
    bool regular = false;
    Patched patched{};
    SNDFILE* sndfile = nullptr;
    SF_INFO info_{};
};

class RenderOutput {
public:
    RenderOutput() = default;
    RenderOutput(const RenderOutput&) = delete;
    RenderOutput& operator=(const RenderOutput&) = delete;
    ~RenderOutput();  // an output not finished is removed

    // Opens `path` for audio in `format`. A regular file (or a new one, or one
    // a symbolic link names) is written under a temporary name of its own in
    // the same folder and takes the name only in finish(), with the mode of
    // the file it replaces. A pipe or character device (/dev/stdout) is
    // written to, never replaced; anything else is refused.
    bool open(const std::string& path, SF_INFO format, std::string& error);
    SNDFILE* file() const { return sndfile; }
    // Completes the output; false, with nothing left behind, on failure.
    bool finish(std::string& error);

private:
    bool openDevice(const struct stat& found, std::string& error);
    void abandon();

    std::string path;    // as given
    std::string target;  // the file a symbolic link names, else path
    std::string temp;    // renamed to target when done; empty for a device
    int fd = -1;         // what the audio is written to
    int device = -1;     // a pipe that gets the spooled file when done
    SNDFILE* sndfile = nullptr;
};
