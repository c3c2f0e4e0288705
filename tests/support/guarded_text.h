// A text buffer of a given size followed by guard bytes, to prove that a text
// operation never writes past the length it was given.
#pragma once

#include <string>
#include <vector>

class GuardedText {
public:
    explicit GuardedText(size_t size, char fill = '#') : size_(size), bytes_(size + guardSize, fill), fill_(fill) {}

    char* data() { return bytes_.data(); }
    std::string str() const { return std::string(bytes_.data()); }
    bool guardIntact() const { return intactFrom(size_); }
    // Nothing written at `offset` or after it, inside the buffer or past it.
    bool intactFrom(size_t offset) const {
        for (size_t i = offset; i < bytes_.size(); ++i)
            if (bytes_[i] != fill_) return false;
        return true;
    }
    bool untouched() const {
        for (char c : bytes_)
            if (c != fill_) return false;
        return true;
    }

private:
    static constexpr size_t guardSize = 32;
    size_t size_;
    std::vector<char> bytes_;
    char fill_;
};
