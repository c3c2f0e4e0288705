#include "RenderFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::string seconds(sf_count_t frames, int rate) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(frames) / std::max(rate, 1));
    return text;
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// What the header of a WAV or AIFF file says, read before libsndfile does: how
// many bytes of audio it gives (libsndfile quietly trusts the file's length
// instead) and, to say what is wrong when libsndfile refuses it, its rate and
// channel count.
struct Declared {
    bool found = false;        // the audio chunk ("data", "SSND") was found
    bool littleEndian = true;  // WAV; AIFF is big-endian
    sf_count_t countAt = 0;    // where its byte count is
    uint32_t bytes = 0;        // that count
    double sampleRate = -1;    // -1: not given
    long channels = -1;
};

Declared readHeader(int fd) {
    Declared d;
    unsigned char b[18];
    auto readAt = [&](sf_count_t at, size_t n) { return pread(fd, b, n, at) == static_cast<ssize_t>(n); };
    if (!readAt(0, 12)) return d;
    const bool wav = std::memcmp(b, "RIFF", 4) == 0 && std::memcmp(b + 8, "WAVE", 4) == 0;
    const bool aiff =
        std::memcmp(b, "FORM", 4) == 0 && (std::memcmp(b + 8, "AIFF", 4) == 0 || std::memcmp(b + 8, "AIFC", 4) == 0);
    if (!wav && !aiff) return d;
    d.littleEndian = wav;
    auto number = [&](int at, int n) {  // WAV is little-endian, AIFF big-endian
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) v |= static_cast<uint32_t>(b[at + i]) << (8 * (wav ? i : n - 1 - i));
        return v;
    };
    sf_count_t at = 12;
    for (int chunk = 0; chunk < 64 && readAt(at, 8); ++chunk) {
        char id[4];
        std::memcpy(id, b, 4);
        const uint32_t size = number(4, 4);
        if (std::memcmp(id, wav ? "data" : "SSND", 4) == 0) {
            d.found = true;
            d.countAt = at + 4;
            d.bytes = size;
            return d;
        }
        if (wav && std::memcmp(id, "fmt ", 4) == 0 && size >= 8 && readAt(at + 8, 8)) {
            d.channels = number(2, 2);
            d.sampleRate = number(4, 4);
        } else if (aiff && std::memcmp(id, "COMM", 4) == 0 && size >= 18 && readAt(at + 8, 18)) {
            d.channels = number(0, 2);
            // An 80-bit float: 15 bits of exponent, then the mantissa (its top 32 bits are enough).
            d.sampleRate = std::ldexp(number(10, 4), static_cast<int>(number(8, 2) & 0x7FFF) - 16383 - 31);
        }
        at += 8 + static_cast<sf_count_t>(size) + (size & 1);
    }
    return d;
}

// Reads through a file descriptor at positions of our own, with the bytes of
// `count` in place of the header's.
sf_count_t patchedLength(void* data) { return static_cast<RenderInput::Patched*>(data)->size; }
sf_count_t patchedSeek(sf_count_t offset, int whence, void* data) {
    auto& p = *static_cast<RenderInput::Patched*>(data);
    p.position = offset + (whence == SEEK_CUR ? p.position : whence == SEEK_END ? p.size : 0);
    return p.position;
}
sf_count_t patchedRead(void* out, sf_count_t count, void* data) {
    auto& p = *static_cast<RenderInput::Patched*>(data);
    const ssize_t got = pread(p.fd, out, static_cast<size_t>(count), p.position);
    if (got <= 0) return 0;
    for (sf_count_t i = std::max(p.position, p.countAt); i < std::min(p.position + got, p.countAt + 4); ++i)
        static_cast<unsigned char*>(out)[i - p.position] = p.count[i - p.countAt];
    p.position += got;
    return got;
}
sf_count_t patchedWrite(const void*, sf_count_t, void*) { return 0; }
sf_count_t patchedTell(void* data) { return static_cast<RenderInput::Patched*>(data)->position; }

// The temporary file of the output, removed when SIGINT, SIGTERM or SIGHUP
// ends the program mid-render. The handler only unlinks a name stored
// beforehand, then lets the signal end the program as it would have.
char pendingTemp[4096];
volatile sig_atomic_t tempPending = 0;

void removeTempAndEnd(int signal) {
    if (tempPending) unlink(pendingTemp);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Holds those signals back for its lifetime, so the file and the stored name
// change together.
class SignalsHeld {
public:
    SignalsHeld() {
        sigset_t held;
        sigemptyset(&held);
        for (int s : kEndingSignals) sigaddset(&held, s);
        sigprocmask(SIG_BLOCK, &held, &before);
    }
    ~SignalsHeld() { sigprocmask(SIG_SETMASK, &before, nullptr); }

private:
    sigset_t before;
};

void storePendingTemp(const std::string& temp) {
    static bool installed = false;
    if (!installed) {
        installed = true;
        for (int s : kEndingSignals) {
            struct sigaction action = {};
            struct sigaction before = {};
            action.sa_handler = removeTempAndEnd;
            sigemptyset(&action.sa_mask);
            sigaction(s, &action, &before);
            if (before.sa_handler == SIG_IGN) sigaction(s, &before, nullptr);  // nohup and the like stay
        }
    }
    const size_t n = std::min(temp.size(), sizeof pendingTemp - 1);
    std::memcpy(pendingTemp, temp.c_str(), n);
    pendingTemp[n] = '\0';
    tempPending = temp.size() < sizeof pendingTemp;
}

// The file a path names once symbolic links are followed; it need not exist yet.
bool followLinks(const std::string& path, std::string& target, std::string& error) {
    target = path;
    for (int hops = 0; hops < 40; ++hops) {
        char link[4096];
        const ssize_t n = readlink(target.c_str(), link, sizeof link - 1);
        if (n < 0) {
            if (errno == EINVAL || errno == ENOENT) return true;  // not a link, or nothing there
            error = "cannot write " + path + ": " + std::strerror(errno);
            return false;
        }
        link[n] = '\0';
        target = link[0] == '/' ? std::string(link) : folderOf(target) + "/" + link;
    }
    error = "cannot write " + path + ": too many symbolic links";
    return false;
}

// Copies what is in `from`, from its start, to `to`.
bool copyAll(int from, int to) {
    if (lseek(from, 0, SEEK_SET) != 0) return false;
    char buffer[65536];
    for (;;) {
        ssize_t got = read(from, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return got == 0;
        for (ssize_t put = 0; put < got;) {
            const ssize_t n = write(to, buffer + put, static_cast<size_t>(got - put));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            put += n;
        }
    }
}

}  // namespace

RenderInput::~RenderInput() {
    if (sndfile) sf_close(sndfile);
    if (fd >= 0) close(fd);
}

bool RenderInput::open(const std::string& inPath, std::string& error, std::string& warning) {
    path = inPath;
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat s;
    regular = fstat(fd, &s) == 0 && S_ISREG(s.st_mode);
    const Declared declared = regular ? readHeader(fd) : Declared{};
    const sf_count_t audioStart = declared.countAt + 4;
    const bool unfinished = declared.found && declared.bytes == 0 && s.st_size > audioStart;
    if (unfinished) {
        // The true count in the header's place (at most 4 GB, as the header can say).
        const uint32_t count = static_cast<uint32_t>(std::min<sf_count_t>(s.st_size - audioStart, UINT32_MAX));
        patched = {fd, s.st_size, 0, declared.countAt, {}};
        for (int i = 0; i < 4; ++i)
            patched.count[i] = static_cast<unsigned char>(count >> (8 * (declared.littleEndian ? i : 3 - i)));
        SF_VIRTUAL_IO io{patchedLength, patchedSeek, patchedRead, patchedWrite, patchedTell};
        sndfile = sf_open_virtual(&io, SFM_READ, &info_, &patched);
    } else {
        sndfile = sf_open_fd(fd, SFM_READ, &info_, SF_FALSE);
    }
    if (!sndfile) {
        char rate[32];
        std::snprintf(rate, sizeof rate, "%g", declared.sampleRate);
        if (declared.sampleRate >= 0 && declared.sampleRate < 1)
            error = "cannot read " + path + ": its header gives a sample rate of " + rate + " Hz";
        else if (declared.channels == 0) error = "cannot read " + path + ": its header gives no channels";
        else error = "cannot read " + path + ": " + sf_strerror(nullptr);
        return false;
    }
    if (info_.channels != 1 && info_.channels != 2) {
        error = path + " has " + std::to_string(info_.channels) + " channels; Tolvane takes mono or stereo files";
        return false;
    }
    if (unfinished)
        warning = path + "'s header gives no audio, yet " + std::to_string(s.st_size - audioStart) +
                  " bytes follow it (a recording not yet finished?); rendering the " +
                  seconds(info_.frames, info_.samplerate) + " there are";
    else if (declared.found && declared.bytes != UINT32_MAX && audioStart + declared.bytes > s.st_size)
        warning = path + " is shorter than its header says (" +
                  std::to_string(std::max<sf_count_t>(s.st_size - audioStart, 0)) + " of " +
                  std::to_string(declared.bytes) + " bytes of audio); rendering the " +
                  seconds(info_.frames, info_.samplerate) + " there are";
    return true;
}

std::string RenderInput::shortfall(sf_count_t framesRead) const {
    if (!regular || framesRead >= info_.frames) return "";
    const bool failed = sf_error(sndfile) != SF_ERR_NO_ERROR;
    return path + " ended after " + seconds(framesRead, info_.samplerate) + " of the " +
           seconds(info_.frames, info_.samplerate) + " its header gives" +
           (failed ? std::string(" (") + sf_strerror(sndfile) + ")" : "") + "; the output holds what was there";
}

RenderOutput::~RenderOutput() { abandon(); }

void RenderOutput::abandon() {
    if (sndfile) sf_close(sndfile);
    sndfile = nullptr;
    if (fd >= 0) close(fd);
    if (device >= 0) close(device);
    fd = device = -1;
    if (!temp.empty()) {
        const SignalsHeld held;
        unlink(temp.c_str());
        tempPending = 0;
        temp.clear();
    }
}

bool RenderOutput::open(const std::string& outPath, SF_INFO format, std::string& error) {
    path = outPath;
    struct stat found;
    const bool exists = stat(path.c_str(), &found) == 0;
    if (exists && !S_ISREG(found.st_mode)) {
        if (!openDevice(found, error)) return false;
    } else if (!exists && errno != ENOENT) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    } else {
        if (!followLinks(path, target, error)) return false;
        struct stat before;
        const bool replacing = lstat(target.c_str(), &before) == 0;
        if (replacing && access(target.c_str(), W_OK) != 0) {
            error = "cannot write " + path + ": " + std::strerror(errno);
            return false;
        }
        const size_t slash = target.rfind('/');
        const std::string name = target.substr(slash == std::string::npos ? 0 : slash + 1);
        std::string pattern = folderOf(target) + "/." + name.substr(0, 200) + ".XXXXXX";
        {
            const SignalsHeld held;
            fd = mkstemp(pattern.data());
            if (fd >= 0) {
                temp = pattern;
                storePendingTemp(temp);
            }
        }
        if (fd < 0) {
            error = "cannot write " + path + ": " + std::strerror(errno);
            return false;
        }
        // The mode (and, where allowed, the owner) of the file replaced; else
        // the one any new file gets, not mkstemp's 600.
        mode_t mode;
        if (replacing) {
            mode = before.st_mode & 07777;
            if (fchown(fd, before.st_uid, before.st_gid) != 0) {
            }
        } else {
            const mode_t mask = umask(0);
            umask(mask);
            mode = 0666 & ~mask;
        }
        fchmod(fd, mode);
    }
    sndfile = sf_open_fd(fd, SFM_WRITE, &format, SF_FALSE);
    if (!sndfile) {
        error = "cannot write " + path + ": " + sf_strerror(nullptr);
        abandon();
        return false;
    }
    return true;
}

bool RenderOutput::openDevice(const struct stat& found, std::string& error) {
    const char* what = S_ISDIR(found.st_mode)    ? "a folder"
                       : S_ISBLK(found.st_mode)  ? "a block device (a disk)"
                       : S_ISSOCK(found.st_mode) ? "a socket"
                                                 : nullptr;
    if (what) {
        error = "will not write " + path + ": it is " + what + "; name a file, a pipe or a character device";
        return false;
    }
    device = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    struct stat opened;
    if (device < 0 || fstat(device, &opened) != 0 || S_ISREG(opened.st_mode)) {
        error = "cannot write " + path + ": " + (device < 0 ? std::strerror(errno) : "it changed while opening");
        abandon();
        return false;
    }
    if (lseek(device, 0, SEEK_CUR) >= 0) {  // /dev/null and the like take the file as written
        fd = device;
        device = -1;
        return true;
    }
    // A pipe or a terminal. WAV and AIFF headers are completed last, which a
    // stream cannot take back, so the file is spooled and sent when done.
    const char* folder = std::getenv("TMPDIR");
    std::string pattern = std::string(folder && *folder ? folder : "/tmp") + "/tolvane-XXXXXX";
    fd = mkstemp(pattern.data());
    if (fd < 0) {
        error = "cannot write " + path + ": no room to spool it (" + pattern + ": " + std::strerror(errno) + ")";
        abandon();
        return false;
    }
    unlink(pattern.c_str());
    return true;
}

bool RenderOutput::finish(std::string& error) {
    bool ok = sf_close(sndfile) == 0;
    sndfile = nullptr;
    if (!ok) error = "cannot finish " + path;
    if (ok && device >= 0 && !copyAll(fd, device)) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        ok = false;
    }
    if (ok && !temp.empty()) {
        // On the disk before it takes the name, so a power cut never leaves an empty file there.
        const bool synced = fsync(fd) == 0;
        if (!synced || close(fd) != 0) {
            error = "cannot write " + path + ": " + std::strerror(errno);
            ok = false;
        }
        if (synced) fd = -1;
        const SignalsHeld held;
        if (ok && std::rename(temp.c_str(), target.c_str()) != 0) {
            error = "cannot write " + path + ": " + std::strerror(errno);
            ok = false;
        }
        if (ok) {
            tempPending = 0;
            temp.clear();
        }
    }
    abandon();
    return ok;
}
