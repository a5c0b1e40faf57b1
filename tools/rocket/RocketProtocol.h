// The GNU Rocket sync protocol as bytes: what the demo sends, and a decoder for what the editor
// sends. No sockets here, so every hostile input can be fed to it directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rocket {

constexpr const char* kClientGreeting = "hello, synctracker!";
constexpr const char* kServerGreeting = "hello, demo!";
constexpr uint16_t kDefaultPort = 1338;

enum Command : uint8_t { SetKey = 0, DeleteKey = 1, GetTrack = 2, SetRow = 3, Pause = 4, SaveTracks = 5 };
enum class Interpolation : uint8_t { Step = 0, Linear = 1, Smooth = 2, Ramp = 3 };

// Longest track name either side may name; anything longer is taken for garbage.
constexpr uint32_t kMaxNameLength = 4096;

// Demo to editor.
std::string encodeGetTrack(const std::string& name);
std::string encodeSetRow(uint32_t row);

// One editor-to-demo message.
struct Message {
    Command command = SetKey;
    uint32_t track = 0;
    uint32_t row = 0;
    float value = 0.0f;
    Interpolation interpolation = Interpolation::Step;
    bool paused = false;
};

// Reads the editor's greeting and then its messages from bytes in any chunking. Checks what can
// be checked without knowing the tracks: the greeting, the command byte, the interpolation and
// that values are finite numbers. A failure is final: the connection is to be closed.
class Decoder {
  public:
    void feed(const void* data, size_t size);
    enum class Result { Message, NeedMore, Error };
    Result next(Message& message);
    bool greeted() const { return greeted_; }
    const std::string& error() const { return error_; }
    void reset();

  private:
    Result fail(const std::string& why);
    std::vector<uint8_t> buffer_;
    size_t pos_ = 0;
    bool greeted_ = false;
    std::string error_;
};

} // namespace rocket
