#include "archive/QzfGunzip.h"

#include <cstring>

namespace qzf_gunzip {

EntryReader::EntryReader(qfl::File f, uint32_t compressed, uint32_t recorded, uint8_t* in,
                         uint32_t inCapacity)
    : f_(f), left_(compressed), in_(in), inCapacity_(inCapacity), recorded_(recorded) {
    std::memset(&strm_, 0, sizeof strm_);
    strm_.next_in = in_;
}

// All input is there from the start: with nothing left to read, Load is
// never called, so in_ is never written.
EntryReader::EntryReader(const uint8_t* stored, uint32_t n, uint32_t recorded)
    : f_(qfl::InvalidFile()), left_(0), in_(nullptr), inCapacity_(0), recorded_(recorded) {
    std::memset(&strm_, 0, sizeof strm_);
    strm_.next_in = const_cast<uint8_t*>(stored);
    strm_.avail_in = n;
}

EntryReader::~EntryReader() {
    if (inflating_) inflateEnd(&strm_);
}

bool EntryReader::Load() {
    if (strm_.avail_in && strm_.next_in != in_) std::memmove(in_, strm_.next_in, strm_.avail_in);
    strm_.next_in = in_;
    const uint32_t room = inCapacity_ - strm_.avail_in;
    uint32_t want = left_ < room ? left_ : room;
    while (want > 0) {
        uint32_t got = 0;
        // An archive that ends before the entry does is a failed read.
        if (!qfl::Read(f_, in_ + strm_.avail_in, want, &got) || got == 0 || got > want)
            return false;
        strm_.avail_in += got;
        left_ -= got;
        want -= got;
    }
    return true;
}

bool EntryReader::Prime() { return left_ == 0 || Load(); }

Status EntryReader::Fill(uint8_t* out, uint32_t capacity, uint32_t* produced) {
    *produced = 0;
    if (size_ != kSizeAgrees) return kBadData;
    // One byte past the recorded size is enough to know the data is longer.
    const uint64_t room = static_cast<uint64_t>(recorded_) + 1 - given_;
    const Status status =
        Decode(out, capacity < room ? capacity : static_cast<uint32_t>(room), produced);
    given_ += *produced;
    if (given_ > recorded_) {
        size_ = kLonger;
        return kBadData;
    }
    if (status == kEnd && given_ != recorded_) {
        size_ = kShorter;
        return kBadData;
    }
    return status;
}

Status EntryReader::Decode(uint8_t* out, uint32_t capacity, uint32_t* produced) {
    if (cutShort_) return kBadData;
    while (*produced < capacity) {
        if (how_ == kLook) {
            // Two bytes tell a gzip member from plain data or trailing bytes.
            if (strm_.avail_in < 2 && left_ > 0 && !Load()) return kReadFailed;
            if (strm_.avail_in == 0) return kEnd;
            if (strm_.avail_in > 1 && strm_.next_in[0] == 0x1F && strm_.next_in[1] == 0x8B) {
                if (!inflating_) {
                    if (inflateInit2(&strm_, 15 + 16) != Z_OK) return kBadData;
                    inflating_ = true;
                } else if (inflateReset(&strm_) != Z_OK) {
                    return kBadData;
                }
                how_ = kGzip;
                direct_ = false;
            } else if (!direct_) {
                // Bytes after the last member: ignored, as the file reader does.
                trailing_ = strm_.avail_in + left_;
                strm_.avail_in = 0;
                left_ = 0;
                return kEnd;
            } else {
                how_ = kCopy;
            }
            continue;
        }
        if (strm_.avail_in == 0) {
            if (left_ > 0) {
                if (!Load()) return kReadFailed;
            } else if (how_ == kCopy) {
                return kEnd;
            } else {
                // A member cut short: what it gave is handed out, then the failure.
                cutShort_ = true;
                return *produced ? kMore : kBadData;
            }
        }
        if (how_ == kCopy) {
            const uint32_t room = capacity - *produced;
            const uint32_t n = strm_.avail_in < room ? strm_.avail_in : room;
            std::memcpy(out + *produced, strm_.next_in, n);
            strm_.next_in += n;
            strm_.avail_in -= n;
            *produced += n;
            continue;
        }
        strm_.next_out = out + *produced;
        strm_.avail_out = capacity - *produced;
        const int r = inflate(&strm_, Z_NO_FLUSH);
        *produced = capacity - strm_.avail_out;
        if (r == Z_STREAM_END)
            how_ = kLook;
        else if (r != Z_OK && !(r == Z_BUF_ERROR && strm_.avail_in == 0))
            return kBadData;  // a stream that cannot go on with input left is stuck
    }
    return kMore;
}

}  // namespace qzf_gunzip
