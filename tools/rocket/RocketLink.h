// The preview's side of a session with the GNU Rocket editor: one track per float, int and bool
// variable of the script's effects ("Effect:Variable"), the editor's keys standing in for the
// script's, the editor's cursor and pause driving the preview, and saving into the script.
#pragma once

#include "rocket/RocketProtocol.h"
#include "rocket/RocketSocket.h"
#include "rocket/RocketTrack.h"

#include <chrono>
#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace rocket {

// What the editor may do to the preview.
class Transport {
  public:
    virtual ~Transport() = default;
    virtual void jumpTo(int64_t time) = 0; // the preview's exact jump
    virtual void play(bool playing) = 0;
    virtual void redraw() = 0; // the paused frame again, with the new keys
    virtual void reloadScript() = 0;
};

class Link {
  public:
    // `rowMs` 0: a quarter of the script's DEMO_BEAT. `scriptPath` empty: nowhere to save.
    Link(std::string host, uint16_t port, double rowMs, std::string scriptPath);

    // After every script load (a reload, and the load each jump makes): every variable of the new
    // effects follows its track, and tracks the editor has not been asked for yet are.
    void effectsLoaded();
    // The author reloaded: keys kept from an editor that went away are dropped.
    void scriptReloaded();
    // Once a frame: connects, reads the editor, applies its commands. True when the title changes.
    bool poll(Transport& transport, bool playing);
    // A frame of demo time `time` is on screen: while playing the editor hears the row.
    void frameShown(int64_t time, bool playing);
    // Writes the tracks into the script and reloads; false (with the reason on stderr) if not.
    bool save(Transport& transport);

    std::string title() const { return title_; }
    double rowMs() const { return rowMs_; }
    // Latency and frame figures for HOLDFAST_STATS.
    void printStats() const;

  private:
    void connected();
    void drop(std::string why, bool protocolFault); // by value: it may be the decoder's own error
    void request(const std::string& name);
    void say(const std::string& line, const std::string& title);
    std::string address() const;

    std::string host_;
    uint16_t port_;
    double rowOption_;
    double rowMs_ = 25.0;
    std::string scriptPath_;

    Socket socket_;
    Decoder decoder_;
    enum class State { Idle, Connecting, Greeting, Live } state_ = State::Idle;
    std::chrono::steady_clock::time_point nextTry_{};
    std::chrono::steady_clock::time_point greetingSince_{};
    bool everConnected_ = false;
    bool keptFromLostEditor_ = false;

    std::map<std::string, std::unique_ptr<LiveTrack>> tracks_;
    std::vector<std::string> bound_;    // names of the loaded effects' variables, in order
    std::vector<LiveTrack*> requested_; // the editor's track index -> track, this connection
    std::map<std::string, size_t> requestedIndex_;
    int64_t lastRow_ = -1;

    std::string title_, lastSaid_;

    // Figures.
    bool editWaiting_ = false;
    std::chrono::steady_clock::time_point editAt_{};
    long editFrame_ = 0; // frames shown before the edit arrived
    long edits_ = 0, editsLate_ = 0;
    double latencySum_ = 0, latencyMax_ = 0;
    long frames_ = 0;
    std::chrono::steady_clock::time_point firstFrame_{}, lastFrame_{};
    std::clock_t firstFrameCpu_ = 0; // the process's CPU time when the first frame was shown
};

} // namespace rocket
