#include "rocket/RocketSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace rocket {

namespace {
// More unsent than this and the editor is taken to have stopped reading.
constexpr size_t kMaxPending = 1 << 20;
} // namespace

bool Socket::connect(const std::string& host, uint16_t port, std::string& error) {
    close();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (rc != 0 || !found) {
        error = "cannot resolve " + host + ": " + gai_strerror(rc);
        return false;
    }
    fd_ = ::socket(found->ai_family, found->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        error = strerror(errno);
        freeaddrinfo(found);
        return false;
    }
    const int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one); // rows and keys are tiny and urgent
    const int r = ::connect(fd_, found->ai_addr, found->ai_addrlen);
    freeaddrinfo(found);
    if (r == 0) {
        connected_ = true;
        return true;
    }
    if (errno == EINPROGRESS) return true;
    error = strerror(errno);
    close();
    return false;
}

Socket::State Socket::state(std::string& error) {
    if (fd_ < 0) return State::Closed;
    if (connected_) return State::Connected;
    pollfd p{fd_, POLLOUT, 0};
    if (poll(&p, 1, 0) <= 0) return State::Connecting;
    int soError = 0;
    socklen_t len = sizeof soError;
    if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &soError, &len) != 0) soError = errno;
    if (soError != 0) {
        error = strerror(soError);
        close();
        return State::Closed;
    }
    connected_ = true;
    if (!flush(error)) {
        close();
        return State::Closed;
    }
    return State::Connected;
}

bool Socket::flush(std::string& error) {
    while (!pending_.empty()) {
        const ssize_t n = ::send(fd_, pending_.data(), pending_.size(), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) break;
            if (errno == EINTR) continue;
            error = strerror(errno);
            return false;
        }
        pending_.erase(0, static_cast<size_t>(n));
    }
    if (pending_.size() > kMaxPending) {
        error = "the editor does not read what the demo sends";
        return false;
    }
    return true;
}

bool Socket::send(const std::string& bytes, std::string& error) {
    if (fd_ < 0) {
        error = "not connected";
        return false;
    }
    pending_ += bytes;
    if (!connected_) return true; // goes out once connected
    if (!flush(error)) {
        close();
        return false;
    }
    return true;
}

long Socket::receive(void* data, size_t size, std::string& error) {
    if (fd_ < 0 || !connected_) return 0;
    for (;;) {
        const ssize_t n = ::recv(fd_, data, size, 0);
        if (n > 0) return static_cast<long>(n);
        if (n == 0) {
            error = "the editor closed the connection";
        } else if (errno == EINTR) {
            continue;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return 0;
        } else {
            error = strerror(errno);
        }
        close();
        return -1;
    }
}

void Socket::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    connected_ = false;
    pending_.clear();
}

} // namespace rocket
