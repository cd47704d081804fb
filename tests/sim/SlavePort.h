// The program's end of the line, in plain POSIX: open the COM link in raw
// mode, write commands one character per write(), read with deadlines.
#pragma once

#include <cerrno>
#include <chrono>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

class SlavePort
{
public:
    static constexpr int kTimeoutMs = 15000;  // generous: sanitizer builds on a busy box

    explicit SlavePort(const std::string &path)
    {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ >= 0) {
            termios tio{};
            tcgetattr(fd_, &tio);
            cfmakeraw(&tio);
            tcsetattr(fd_, TCSANOW, &tio);
        }
    }
    ~SlavePort() { close(); }
    SlavePort(const SlavePort &) = delete;
    SlavePort &operator=(const SlavePort &) = delete;

    bool isOpen() const { return fd_ >= 0; }
    bool hungUp() const { return hungUp_; }
    void close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

    // One write() per character, the way the program sends commands.
    bool type(std::string_view text)
    {
        for (char c : text) {
            for (;;) {
                const ssize_t n = ::write(fd_, &c, 1);
                if (n == 1)
                    break;
                if (n < 0 && errno != EAGAIN && errno != EINTR)
                    return false;
                pollfd p{fd_, POLLOUT, 0};
                ::poll(&p, 1, 100);
            }
        }
        return true;
    }

    // Reads until done(received()) holds; false on timeout or hang-up.
    template<class Done>
    bool readUntil(Done done, int timeoutMs = kTimeoutMs)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!done(received_)) {
            const auto left
                = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, int(left.count())) <= 0)
                continue;
            char buf[4096];
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n > 0) {
                received_.append(buf, size_t(n));
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                hungUp_ = true;
                return false;
            }
        }
        return true;
    }

    bool readUntilContains(std::string_view needle, int timeoutMs = kTimeoutMs)
    {
        return readUntil([&](const std::string &r) { return r.find(needle) != std::string::npos; }, timeoutMs);
    }

    std::string &received() { return received_; }
    std::string take()
    {
        std::string r;
        r.swap(received_);
        return r;
    }

private:
    int fd_ = -1;
    bool hungUp_ = false;
    std::string received_;
};
