#include "rocket/RocketProtocol.h"

#include <cmath>
#include <cstring>

namespace rocket {

namespace {

void putU32(std::string& out, uint32_t v) {
    out += static_cast<char>(v >> 24);
    out += static_cast<char>(v >> 16);
    out += static_cast<char>(v >> 8);
    out += static_cast<char>(v);
}

uint32_t getU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

// Bytes of each editor-to-demo message, its command byte included; 0: never sent by an editor.
size_t messageSize(uint8_t command) {
    switch (command) {
    case SetKey:
        return 1 + 4 + 4 + 4 + 1;
    case DeleteKey:
        return 1 + 4 + 4;
    case SetRow:
        return 1 + 4;
    case Pause:
        return 1 + 1;
    case SaveTracks:
        return 1;
    default:
        return 0;
    }
}

} // namespace

std::string encodeGetTrack(const std::string& name) {
    std::string out(1, static_cast<char>(GetTrack));
    putU32(out, static_cast<uint32_t>(name.size()));
    return out + name;
}

std::string encodeSetRow(uint32_t row) {
    std::string out(1, static_cast<char>(SetRow));
    putU32(out, row);
    return out;
}

void Decoder::feed(const void* data, size_t size) {
    // Drop what was read before appending, so a long session keeps a small buffer.
    if (pos_ > 0) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(pos_));
        pos_ = 0;
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    buffer_.insert(buffer_.end(), bytes, bytes + size);
}

void Decoder::reset() {
    buffer_.clear();
    pos_ = 0;
    greeted_ = false;
    error_.clear();
}

Decoder::Result Decoder::fail(const std::string& why) {
    error_ = why;
    return Result::Error;
}

Decoder::Result Decoder::next(Message& message) {
    if (!error_.empty()) return Result::Error;
    const size_t available = buffer_.size() - pos_;
    const uint8_t* p = buffer_.data() + pos_;
    if (!greeted_) {
        const size_t n = strlen(kServerGreeting);
        const size_t compare = available < n ? available : n;
        if (memcmp(p, kServerGreeting, compare) != 0)
            return fail("the other side does not greet as a Rocket editor");
        if (available < n) return Result::NeedMore;
        pos_ += n;
        greeted_ = true;
        return next(message);
    }
    if (available == 0) return Result::NeedMore;
    const uint8_t command = p[0];
    if (command == GetTrack) {
        // Only a demo asks for tracks; say what the length would have been if it is absurd.
        if (available < 5) return Result::NeedMore;
        if (getU32(p + 1) > kMaxNameLength)
            return fail("the editor sent a track request with a name of " + std::to_string(getU32(p + 1)) +
                        " bytes");
        return fail("the editor sent a track request (command 2), which only a demo sends");
    }
    const size_t size = messageSize(command);
    if (size == 0) return fail("unknown command byte " + std::to_string(command) + " from the editor");
    if (available < size) return Result::NeedMore;
    message = Message();
    message.command = static_cast<Command>(command);
    switch (command) {
    case SetKey: {
        message.track = getU32(p + 1);
        message.row = getU32(p + 5);
        const uint32_t bits = getU32(p + 9);
        memcpy(&message.value, &bits, sizeof bits);
        if (!std::isfinite(message.value))
            return fail("the editor sent a key whose value is not a number (row " +
                        std::to_string(message.row) + ")");
        if (p[13] > static_cast<uint8_t>(Interpolation::Ramp))
            return fail("unknown interpolation " + std::to_string(p[13]) + " in a key from the editor");
        message.interpolation = static_cast<Interpolation>(p[13]);
        break;
    }
    case DeleteKey:
        message.track = getU32(p + 1);
        message.row = getU32(p + 5);
        break;
    case SetRow:
        message.row = getU32(p + 1);
        break;
    case Pause:
        message.paused = p[1] != 0;
        break;
    default:
        break;
    }
    pos_ += size;
    return Result::Message;
}

} // namespace rocket
