// A TCP connection out to the sync editor that never blocks the frame loop: connecting, sending
// and receiving all return at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace rocket {

class Socket {
  public:
    Socket() = default;
    ~Socket() { close(); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    // Starts connecting; false (with `error`) when it failed at once.
    bool connect(const std::string& host, uint16_t port, std::string& error);
    enum class State { Closed, Connecting, Connected };
    // Connecting turns into Connected or, with `error`, Closed.
    State state(std::string& error);
    // Queues bytes and sends what the connection takes now; false (with `error`) if it broke or
    // the editor has stopped reading.
    bool send(const std::string& bytes, std::string& error);
    // Up to `size` bytes that have arrived: > 0 read, 0 none now, -1 closed or broken (`error`).
    long receive(void* data, size_t size, std::string& error);
    void close();

  private:
    bool flush(std::string& error);
    int fd_ = -1;
    bool connected_ = false;
    std::string pending_;
};

} // namespace rocket
