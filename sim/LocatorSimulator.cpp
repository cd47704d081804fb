#include "LocatorSimulator.h"

#include "SimCommandParser.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
constexpr TimePoint kNever = TimePoint::max();

std::string padRight(std::string s, size_t width, char fill)
{
    s.resize(width, fill);
    return s;
}

std::string padLeft(std::string s, size_t width, char fill)
{
    if (s.size() >= width)
        return s.substr(0, width);
    return std::string(width - s.size(), fill) + s;
}

std::string trimRight(std::string s)
{
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0'))
        s.pop_back();
    return s;
}

std::string trim(std::string s)
{
    s = trimRight(std::move(s));
    s.erase(0, s.find_first_not_of(' '));
    return s;
}

// The adapter's greeting in reply to "MM": exactly 26 characters, then
// "Ver <firmware>" so that "Ver" sits at characters 27-29.
constexpr char kAdapterText[] = "Korvex BT Serial Link  v2 ";
static_assert(sizeof(kAdapterText) - 1 == 26);

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

bool makeRaw(int fd)
{
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return false;
    cfmakeraw(&tio);
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

std::string errnoText(const std::string &what)
{
    return what + ": " + std::strerror(errno);
}

struct Piece
{
    std::string data;
    size_t off = 0;  // bytes already written
    bool whole = false;  // one write(), never split into random chunks
    bool transfer = false;
    bool live = false;
};

}  // namespace

struct LocatorSimulator::Impl
{
    explicit Impl(SimConfig c)
        : cfg(std::move(c))
        , user(cfg.user)
        , model(cfg.model)
        , serial(cfg.serial)
        , throttled(cfg.throttled)
        , chunkRng(cfg.chunkSeed ? cfg.chunkSeed : cfg.seed ^ 0x9e3779b9u)
        , liveRng(cfg.seed ^ 0x85ebca6bu)
        , liveMode(cfg.liveMode)
        , liveFrequency(cfg.liveFrequency)
    {
        LogParams p;
        p.seed = cfg.seed;
        p.months = cfg.months;
        p.endDate = cfg.endDate;
        p.targetRecords = cfg.targetRecords;
        p.ffLines = cfg.ffLines;
        log = generateLog(p);
        cfg.bytesPerSecond = std::max(1, cfg.bytesPerSecond);
        cfg.minChunk = std::max(1, cfg.minChunk);
        cfg.maxChunk = std::max(cfg.minChunk, cfg.maxChunk);
        cfg.liveIntervalMs = std::max(1, cfg.liveIntervalMs);
    }

    SimConfig cfg;
    mutable std::mutex mu;
    mutable std::condition_variable cv;
    std::thread thread;
    bool stopRequested = false;

    // The device.
    int master = -1, ownSlave = -1, wakeRead = -1, wakeWrite = -1, watchFd = -1;
    std::string link, device;
    int openCount = 0;
    bool closeSeen = false;  // until a close is seen, assume someone listens

    // Memory and settings.
    std::vector<LogLine> log;
    std::string user, model, serial;
    std::string dateSet, timeSet;
    bool clockSet = false;
    int64_t clockBase = 0;  // civil seconds at clockAnchor
    TimePoint clockAnchor;
    bool cleared = false, pointerWasReset = false;

    // Output.
    std::deque<Piece> out;
    bool throttled;
    TimePoint paceAnchor;
    uint64_t pacedBytes = 0;
    size_t chunkLeft = 0;
    SimRandom chunkRng;
    bool wantWritable = false;

    // Behaviour.
    bool silent = false;
    bool live = false;
    TimePoint nextLive;
    SimRandom liveRng;
    char liveMode;
    std::string liveFrequency;
    int liveSignal = 15;
    bool transferActive = false;
    bool transferAborted = false;
    std::string lastTransfer;
    int transfers = 0;

    CommandParser parser;
    std::vector<std::string> commands;
    uint64_t received = 0;

    // --- helpers, all called with mu held ---

    void wake() const
    {
        if (wakeWrite >= 0) {
            const char b = 1;
            [[maybe_unused]] ssize_t r = ::write(wakeWrite, &b, 1);
        }
    }

    std::chrono::nanoseconds lineTime(uint64_t bytes) const
    {
        return std::chrono::nanoseconds(int64_t(bytes * 1'000'000'000ull / uint64_t(cfg.bytesPerSecond)));
    }

    void enqueue(Piece p)
    {
        if (p.data.empty())
            return;
        if (out.empty()) {
            paceAnchor = Clock::now();
            pacedBytes = 0;
        }
        out.push_back(std::move(p));
        wake();
    }

    int64_t clockNow() const
    {
        if (!clockSet)
            return localNowCivilSeconds() + cfg.clockOffsetSeconds;
        const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - clockAnchor);
        return clockBase + elapsed.count();
    }

    void setClock(int64_t civilSeconds)
    {
        clockBase = civilSeconds;
        clockAnchor = Clock::now();
        clockSet = true;
    }

    std::string identity(const std::string &prefix) const
    {
        const std::string filler = padRight("FW" + cfg.firmware + "_HWB2", 16, '_');
        return prefix + padRight(user, 32, '_') + filler + padRight(model, 8, '_') + padLeft(serial, 8, '_');
    }

    std::string recordsBetween(int64_t from, int64_t to) const
    {
        std::string text;
        for (const auto &line : log)
            if (line.day >= 0 && line.day >= from && line.day <= to)
                text += line.text;
        return text;
    }

    std::string allRecords() const
    {
        std::string text;
        for (const auto &line : log)
            text += line.text;
        return text;
    }

    void startTransfer(const std::string &cmd)
    {
        std::string body;
        if (cmd == "#DA") {
            body = allRecords();
        } else {
            Date from, to;
            // A range that is not two real dates selects nothing.
            if (parseDdMmYy(std::string_view(cmd).substr(3, 8), &from)
                && parseDdMmYy(std::string_view(cmd).substr(12, 8), &to))
                body = recordsBetween(daysFromCivil(from), daysFromCivil(to));
        }
        Piece p;
        p.data = identity(cmd.substr(0, 3)) + "\r\n" + body + "\x1a";
        p.transfer = true;
        lastTransfer.clear();
        transferActive = true;
        transferAborted = false;
        ++transfers;
        enqueue(std::move(p));
        cv.notify_all();
    }

    Piece *transferPiece()
    {
        for (auto &p : out)
            if (p.transfer)
                return &p;
        return nullptr;
    }

    // End of the line being sent: cutting there means the program never sees
    // half a record glued to what follows.
    static size_t lineEnd(const Piece &p)
    {
        size_t cut = p.off;
        if (cut > 0 && p.data[cut - 1] != '\n') {
            const size_t eol = p.data.find("\r\n", cut - 1);
            if (eol != std::string::npos)
                cut = eol + 2;
        }
        return cut;
    }

    void abortTransfer()
    {
        Piece *p = transferPiece();
        if (!p || transferAborted)
            return;
        p->data.resize(lineEnd(*p));
        p->data += "ABORT\x1a";
        transferAborted = true;
    }

    void finishTransfer(const Piece &p)
    {
        lastTransfer = p.data.substr(0, p.off);
        transferActive = false;
        nextLive = Clock::now() + std::chrono::milliseconds(cfg.liveIntervalMs);
        cv.notify_all();
    }

    // The unit goes dead: whatever has not left yet never will. With
    // finishLine the line already on its way is completed first.
    void dropOutput(bool finishLine)
    {
        const size_t keep = finishLine && !out.empty() && out.front().off > 0 ? 1 : 0;
        if (keep && out.front().transfer)
            out.front().data.resize(lineEnd(out.front()));
        for (size_t i = keep; i < out.size(); ++i)
            if (out[i].transfer) {
                out[i].data.resize(out[i].off);
                finishTransfer(out[i]);
            }
        out.erase(out.begin() + std::ptrdiff_t(keep), out.end());
        if (!keep)
            chunkLeft = 0;
        live = false;
        cv.notify_all();
    }

    std::string liveLine()
    {
        liveSignal = std::clamp(liveSignal + liveRng.range(-2, 2), 0, 30);
        std::string meas = "S", depth = "0";
        if (liveMode == 'T') {
            meas = "D";
            if (liveSignal < 4) {
                depth = "LO";
            } else {
                const int cm = liveRng.range(20, 350);
                depth = std::to_string(cm / 100) + "." + std::to_string(cm % 100 / 10) + std::to_string(cm % 10);
            }
        }
        const std::string freq = liveMode == 'T' ? liveFrequency : "0";
        return std::string("$") + liveMode + "," + freq + "," + meas + "," + depth + "," + std::to_string(liveSignal)
            + "\r\n";
    }

    void handle(const ParsedCommand &pc)
    {
        if (pc.extendsPrevious && !commands.empty() && commands.back() == "#A")
            commands.back() = pc.text;
        else
            commands.push_back(pc.text);
        cv.notify_all();

        const std::string &cmd = pc.text;
        if (silent)
            return;
        if (cmd == "A" || cmd == "#A") {
            abortTransfer();
            return;
        }
        if (transferActive)
            return;  // the unit is busy sending; only an abort gets through

        if (cmd == "MM") {
            enqueue({std::string(kAdapterText) + "Ver " + padRight(cfg.firmware, 4, ' ') + "\r\n"});
        } else if (cmd == "#X") {
            enqueue({identity("#X") + "\r\n"});
        } else if (cmd == "#FV") {
            if (!live)
                nextLive = Clock::now();
            live = true;
        } else if (cmd == "#DA" || cmd.starts_with("#DD")) {
            startTransfer(cmd);
        } else if (cmd == "#AE") {
            if (!cfg.answersClock)
                return;
            const int64_t now = clockNow();
            enqueue(
                {"#AE " + formatDdMmYy(civilFromDays(now / 86400)) + "   " + formatHhMmSs(int(now % 86400)) + "\r\n"});
        } else if (cmd.starts_with("#DS")) {
            dateSet = cmd.substr(3);
            Date d;
            if (parseDdMmYy(dateSet, &d))
                setClock(daysFromCivil(d) * 86400 + clockNow() % 86400);
        } else if (cmd.starts_with("#TS")) {
            timeSet = cmd.substr(3);
            const int secs = parseHhMmSs(timeSet);
            if (secs >= 0)
                setClock(clockNow() / 86400 * 86400 + secs);
        } else if (cmd.starts_with("#FT")) {
            user = trimRight(cmd.substr(3));
        } else if (cmd.starts_with("#SS")) {
            model = trim(cmd.substr(3, 8));
            serial = trim(cmd.substr(11, 8));
        } else if (cmd == "#CA") {
            log.clear();
            cleared = true;
        } else if (cmd == "#FW0000") {
            pointerWasReset = true;
        }
    }

    void readInput()
    {
        char buf[512];
        for (;;) {
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n <= 0)
                return;  // EAGAIN, or nothing more
            received += uint64_t(n);
            cv.notify_all();
            std::vector<ParsedCommand> cmds;
            parser.feed(std::string_view(buf, size_t(n)), &cmds);
            for (const auto &c : cmds)
                handle(c);
        }
    }

    void readPortEvents()
    {
        alignas(inotify_event) char buf[4096];
        for (;;) {
            const ssize_t n = ::read(watchFd, buf, sizeof buf);
            if (n <= 0)
                return;
            for (ssize_t i = 0; i < n;) {
                const auto *ev = reinterpret_cast<const inotify_event *>(buf + i);
                if (ev->mask & IN_OPEN)
                    ++openCount;
                if (ev->mask & IN_CLOSE) {
                    openCount = std::max(0, openCount - 1);
                    closeSeen = true;
                    if (openCount == 0)
                        tcflush(ownSlave, TCIFLUSH);  // what nobody read is gone, as on a real line
                }
                i += ssize_t(sizeof(inotify_event) + ev->len);
            }
            cv.notify_all();
        }
    }

    bool portClosed() const { return closeSeen && openCount == 0; }

    // Writes what is due; returns when more will be due (kNever when waiting
    // for the pty to drain or for something to send).
    TimePoint pump(TimePoint now)
    {
        wantWritable = false;
        while (!out.empty()) {
            Piece &p = out.front();
            if (p.off >= p.data.size()) {
                if (p.transfer)
                    finishTransfer(p);
                out.pop_front();
                chunkLeft = 0;
                if (out.empty())
                    cv.notify_all();
                continue;
            }
            const size_t remaining = p.data.size() - p.off;
            if (chunkLeft == 0)
                chunkLeft = p.whole ? remaining : size_t(chunkRng.range(cfg.minChunk, cfg.maxChunk));
            const size_t n = std::min(chunkLeft, remaining);
            if (throttled) {
                const TimePoint due = paceAnchor + lineTime(pacedBytes + n);
                if (due > now)
                    return due;
                // Stalled by a full pty: carry on at line rate rather than catch up
                // in one burst.
                if (now - due > std::chrono::milliseconds(100))
                    paceAnchor = now - lineTime(pacedBytes + n);
            }
            ssize_t w = ssize_t(n);
            if (!portClosed()) {
                w = ::write(master, p.data.data() + p.off, n);
                if (w < 0) {
                    if (errno == EAGAIN || errno == EINTR) {
                        wantWritable = true;
                        return kNever;
                    }
                    w = ssize_t(n);  // a line that fails drops bytes; do not spin on it
                }
            }
            p.off += size_t(w);
            chunkLeft -= size_t(w);
            pacedBytes += uint64_t(w);
            if (size_t(w) < n) {
                wantWritable = true;
                return kNever;
            }
        }
        return kNever;
    }

    void serviceLive(TimePoint now)
    {
        if (!live || silent || transferActive || now < nextLive)
            return;
        // One pending line at most: a reader that does not read must not make
        // the queue grow without bound.
        const bool pending = std::any_of(out.begin(), out.end(), [](const Piece &p) { return p.live; });
        if (!pending) {
            Piece p;
            p.data = liveLine();
            p.live = true;
            enqueue(std::move(p));
        }
        const auto interval = std::chrono::milliseconds(cfg.liveIntervalMs);
        nextLive += interval;
        if (nextLive <= now)
            nextLive = now + interval;
    }

    void run()
    {
        std::unique_lock lk(mu);
        while (!stopRequested) {
            const TimePoint now = Clock::now();
            serviceLive(now);
            TimePoint next = pump(now);
            if (live && !silent && !transferActive)
                next = std::min(next, nextLive);

            timespec ts{};
            timespec *timeout = nullptr;
            if (next != kNever) {
                const auto wait = std::max(Clock::duration::zero(), next - Clock::now());
                const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
                ts.tv_sec = time_t(ns / 1'000'000'000);
                ts.tv_nsec = long(ns % 1'000'000'000);
                timeout = &ts;
            }
            pollfd fds[3] = {
                {master, short(POLLIN | (wantWritable ? POLLOUT : 0)), 0}, {wakeRead, POLLIN, 0}, {watchFd, POLLIN, 0}};
            const nfds_t count = watchFd >= 0 ? 3 : 2;
            lk.unlock();
            const int r = ppoll(fds, count, timeout, nullptr);
            lk.lock();
            if (r <= 0)
                continue;
            if (fds[1].revents & POLLIN) {
                char buf[64];
                while (::read(wakeRead, buf, sizeof buf) > 0) { }
            }
            if (count > 2 && (fds[2].revents & POLLIN))
                readPortEvents();
            if (fds[0].revents & POLLIN)
                readInput();
        }
    }

    bool openDevice(const std::string &linkPath, std::string *error)
    {
        auto fail = [&](const std::string &msg) {
            if (error)
                *error = msg;
            closeDevice();
            return false;
        };
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0)
            return fail(errnoText("posix_openpt"));
        if (grantpt(master) != 0 || unlockpt(master) != 0)
            return fail(errnoText("grantpt/unlockpt"));
        char name[128];
        if (ptsname_r(master, name, sizeof name) != 0)
            return fail(errnoText("ptsname_r"));
        device = name;
        // Our own slave descriptor keeps the line up while the program has the
        // port closed, so the master never sees a hang-up.
        ownSlave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (ownSlave < 0)
            return fail(errnoText("open " + device));
        if (!makeRaw(ownSlave) || !makeRaw(master))
            return fail(errnoText("termios"));
        if (fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK) != 0)
            return fail(errnoText("fcntl"));
        int pipeFds[2];
        if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
            return fail(errnoText("pipe2"));
        wakeRead = pipeFds[0];
        wakeWrite = pipeFds[1];
        // Port open/close tracking is a nicety: without inotify we simply
        // assume someone is always listening.
        watchFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (watchFd >= 0 && inotify_add_watch(watchFd, name, IN_OPEN | IN_CLOSE) < 0)
            closeFd(watchFd);
        openCount = 0;
        closeSeen = false;

        std::error_code ec;
        const std::filesystem::path lp(linkPath);
        if (lp.has_parent_path())
            std::filesystem::create_directories(lp.parent_path(), ec);
        struct stat st
        { };
        if (::lstat(linkPath.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode))
                return fail(linkPath + " exists and is not a symbolic link");
            ::unlink(linkPath.c_str());  // left over from an earlier run
        }
        if (::symlink(name, linkPath.c_str()) != 0)
            return fail(errnoText("symlink " + linkPath));
        link = linkPath;
        return true;
    }

    void closeDevice()
    {
        dropOutput(false);
        parser.reset();
        silent = false;  // a unit plugged back in starts switched on
        if (!link.empty()) {
            char target[256];
            const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
            if (n > 0 && std::string(target, size_t(n)) == device)
                ::unlink(link.c_str());
        }
        closeFd(watchFd);
        closeFd(master);
        closeFd(ownSlave);
        closeFd(wakeRead);
        closeFd(wakeWrite);
        device.clear();
        link.clear();
        openCount = 0;
        cv.notify_all();
    }
};

LocatorSimulator::LocatorSimulator(SimConfig cfg)
    : d_(std::make_unique<Impl>(std::move(cfg)))
{ }

LocatorSimulator::~LocatorSimulator()
{
    stop();
}

bool LocatorSimulator::start(const std::string &linkPath, std::string *error)
{
    std::lock_guard lk(d_->mu);
    if (d_->thread.joinable()) {
        if (error)
            *error = "already running";
        return false;
    }
    if (!d_->openDevice(linkPath, error))
        return false;
    d_->stopRequested = false;
    d_->thread = std::thread([impl = d_.get()] { impl->run(); });
    return true;
}

void LocatorSimulator::stop()
{
    std::unique_lock lk(d_->mu);
    if (!d_->thread.joinable())
        return;
    d_->stopRequested = true;
    d_->wake();
    lk.unlock();
    d_->thread.join();
    lk.lock();
    d_->closeDevice();
}

void LocatorSimulator::vanish()
{
    stop();
}

bool LocatorSimulator::running() const
{
    std::lock_guard lk(d_->mu);
    return d_->thread.joinable();
}

std::string LocatorSimulator::linkPath() const
{
    std::lock_guard lk(d_->mu);
    return d_->link;
}

std::string LocatorSimulator::devicePath() const
{
    std::lock_guard lk(d_->mu);
    return d_->device;
}

void LocatorSimulator::powerDown()
{
    std::lock_guard lk(d_->mu);
    if (d_->silent || d_->master < 0)
        return;
    d_->dropOutput(true);
    d_->parser.reset();
    Piece p;
    p.data = "#PD";
    p.whole = true;
    d_->enqueue(std::move(p));
    d_->silent = true;
}

void LocatorSimulator::setSilent(bool off)
{
    std::lock_guard lk(d_->mu);
    if (off && !d_->silent)
        d_->dropOutput(false);
    d_->parser.reset();
    d_->silent = off;
    d_->wake();
}

bool LocatorSimulator::silent() const
{
    std::lock_guard lk(d_->mu);
    return d_->silent;
}

void LocatorSimulator::sendText(const std::string &bytes)
{
    std::lock_guard lk(d_->mu);
    if (d_->master >= 0)
        d_->enqueue({bytes});
}

void LocatorSimulator::setThrottled(bool throttled)
{
    std::lock_guard lk(d_->mu);
    d_->throttled = throttled;
    d_->paceAnchor = Clock::now();
    d_->pacedBytes = 0;
    d_->wake();
}

void LocatorSimulator::setLiveMode(char mode, const std::string &frequency)
{
    std::lock_guard lk(d_->mu);
    d_->liveMode = mode;
    d_->liveFrequency = frequency;
}

bool LocatorSimulator::liveOutput() const
{
    std::lock_guard lk(d_->mu);
    return d_->live;
}

bool LocatorSimulator::transferRunning() const
{
    std::lock_guard lk(d_->mu);
    return d_->transferActive;
}

int LocatorSimulator::transferCount() const
{
    std::lock_guard lk(d_->mu);
    return d_->transfers;
}

std::string LocatorSimulator::lastTransfer() const
{
    std::lock_guard lk(d_->mu);
    if (d_->transferActive)
        for (const auto &p : d_->out)
            if (p.transfer)
                return p.data.substr(0, p.off);
    return d_->lastTransfer;
}

bool LocatorSimulator::waitForTransferEnd(int timeoutMs) const
{
    std::unique_lock lk(d_->mu);
    return d_->cv.wait_for(lk, std::chrono::milliseconds(timeoutMs), [this] { return !d_->transferActive; });
}

std::vector<std::string> LocatorSimulator::commands() const
{
    std::lock_guard lk(d_->mu);
    return d_->commands;
}

void LocatorSimulator::clearCommands()
{
    std::lock_guard lk(d_->mu);
    d_->commands.clear();
}

bool LocatorSimulator::waitForCommand(const std::string &prefix, int timeoutMs, size_t fromIndex) const
{
    std::unique_lock lk(d_->mu);
    return d_->cv.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] {
        const auto &c = d_->commands;
        return std::any_of(c.begin() + std::ptrdiff_t(std::min(fromIndex, c.size())), c.end(),
                           [&](const std::string &s) { return s.starts_with(prefix); });
    });
}

uint64_t LocatorSimulator::bytesReceived() const
{
    std::lock_guard lk(d_->mu);
    return d_->received;
}

bool LocatorSimulator::waitForBytesReceived(uint64_t count, int timeoutMs) const
{
    std::unique_lock lk(d_->mu);
    return d_->cv.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return d_->received >= count; });
}

bool LocatorSimulator::waitForIdle(int timeoutMs) const
{
    std::unique_lock lk(d_->mu);
    return d_->cv.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return d_->out.empty(); });
}

int LocatorSimulator::portOpenCount() const
{
    std::lock_guard lk(d_->mu);
    return d_->openCount;
}

bool LocatorSimulator::waitForPortOpenCount(int count, int timeoutMs) const
{
    std::unique_lock lk(d_->mu);
    return d_->cv.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return d_->openCount == count; });
}

std::string LocatorSimulator::logText() const
{
    std::lock_guard lk(d_->mu);
    return d_->allRecords();
}

std::string LocatorSimulator::logTextBetween(const std::string &from, const std::string &to) const
{
    Date a, b;
    if (!parseDdMmYy(from, &a) || !parseDdMmYy(to, &b))
        return {};
    std::lock_guard lk(d_->mu);
    return d_->recordsBetween(daysFromCivil(a), daysFromCivil(b));
}

int LocatorSimulator::recordCount() const
{
    std::lock_guard lk(d_->mu);
    return int(std::count_if(d_->log.begin(), d_->log.end(), [](const LogLine &l) { return l.day >= 0; }));
}

void LocatorSimulator::logUse(int seconds, char mode)
{
    std::lock_guard lk(d_->mu);
    const int64_t end = d_->clockNow();
    for (int64_t second = end - seconds; second < end; ++second) {
        LogLine line;
        line.day = second / 86400;
        line.text = formatDdMmYy(civilFromDays(line.day)) + "," + formatHhMmSs(int(second % 86400)) + "," + mode + ","
            + (mode == 'T' ? "33KHz" : "0") + ",0,0,17\r\n";
        d_->log.push_back(std::move(line));
    }
}

std::string LocatorSimulator::user() const
{
    std::lock_guard lk(d_->mu);
    return d_->user;
}

std::string LocatorSimulator::model() const
{
    std::lock_guard lk(d_->mu);
    return d_->model;
}

std::string LocatorSimulator::serial() const
{
    std::lock_guard lk(d_->mu);
    return d_->serial;
}

std::string LocatorSimulator::firmware() const
{
    std::lock_guard lk(d_->mu);
    return d_->cfg.firmware;
}

std::string LocatorSimulator::date() const
{
    std::lock_guard lk(d_->mu);
    return d_->dateSet;
}

std::string LocatorSimulator::time() const
{
    std::lock_guard lk(d_->mu);
    return d_->timeSet;
}

std::string LocatorSimulator::clock() const
{
    std::lock_guard lk(d_->mu);
    const int64_t now = d_->clockNow();
    return formatDdMmYy(civilFromDays(now / 86400)) + " " + formatHhMmSs(int(now % 86400));
}

bool LocatorSimulator::memoryCleared() const
{
    std::lock_guard lk(d_->mu);
    return d_->cleared;
}

bool LocatorSimulator::pointerReset() const
{
    std::lock_guard lk(d_->mu);
    return d_->pointerWasReset;
}

}  // namespace sim
