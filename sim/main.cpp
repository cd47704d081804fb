// locator-sim: runs the simulated locator as its own process, for trying
// the program by hand. See README.md for the options and control lines.
#include "LocatorSimulator.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char b = 1;
    [[maybe_unused]] ssize_t r = ::write(g_signalPipe[1], &b, 1);
}

void usage()
{
    std::fprintf(stderr,
                 "usage: locator-sim --ports-dir DIR --com N [--seed S] [--records N]\n"
                 "         [--months N] [--end dd/mm/yy] [--unthrottled]\n"
                 "         [--chunk-min A --chunk-max B] [--live-interval MS]\n"
                 "         [--user U] [--model M] [--serial S] [--firmware F]\n"
                 "         [--clock-offset SECONDS] [--no-clock-reply]\n"
                 "control lines on stdin: pd | silent | wake | vanish | appear |\n"
                 "         throttle on|off | send TEXT (\\r \\n \\t \\\\ \\xHH) | commands\n");
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string unescape(const std::string &s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        const char e = s[++i];
        if (e == 'r')
            out += '\r';
        else if (e == 'n')
            out += '\n';
        else if (e == 't')
            out += '\t';
        else if (e == 'x' && i + 2 < s.size() && hexValue(s[i + 1]) >= 0 && hexValue(s[i + 2]) >= 0) {
            out += char(hexValue(s[i + 1]) * 16 + hexValue(s[i + 2]));
            i += 2;
        } else
            out += e;
    }
    return out;
}

bool parseInt(const char *text, int *out)
{
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != 0 || v < 0 || v > 100'000'000)
        return false;
    *out = int(v);
    return true;
}

void control(sim::LocatorSimulator &locator, const std::string &line, const std::string &linkPath)
{
    if (line == "pd") {
        locator.powerDown();
    } else if (line == "silent") {
        locator.setSilent(true);
    } else if (line == "wake") {
        locator.setSilent(false);
    } else if (line == "vanish") {
        locator.vanish();
    } else if (line == "appear") {
        std::string error;
        if (!locator.running() && !locator.start(linkPath, &error))
            std::fprintf(stderr, "locator-sim: %s\n", error.c_str());
    } else if (line == "throttle on" || line == "throttle off") {
        locator.setThrottled(line == "throttle on");
    } else if (line.rfind("send ", 0) == 0) {
        locator.sendText(unescape(line.substr(5)));
    } else if (line == "commands") {
        for (const auto &c : locator.commands())
            std::printf("%s\n", c.c_str());
    } else if (!line.empty()) {
        std::fprintf(stderr, "locator-sim: unknown control line '%s'\n", line.c_str());
        return;
    }
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char **argv)
{
    sim::SimConfig cfg;
    std::string portsDir;
    int com = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char *v = i + 1 < argc ? argv[i + 1] : nullptr;
        auto needInt = [&](int *out) {
            if (!v || !parseInt(v, out)) {
                std::fprintf(stderr, "locator-sim: %s needs a number\n", a.c_str());
                std::exit(2);
            }
            ++i;
        };
        auto needText = [&](std::string *out) {
            if (!v) {
                std::fprintf(stderr, "locator-sim: %s needs a value\n", a.c_str());
                std::exit(2);
            }
            *out = v;
            ++i;
        };
        int n = 0;
        std::string text;
        if (a == "--ports-dir") {
            needText(&portsDir);
        } else if (a == "--com") {
            needInt(&com);
        } else if (a == "--seed") {
            needInt(&n);
            cfg.seed = uint32_t(n);
        } else if (a == "--records") {
            needInt(&cfg.targetRecords);
        } else if (a == "--months") {
            needInt(&cfg.months);
        } else if (a == "--end") {
            needText(&text);
            if (!sim::parseDdMmYy(text, &cfg.endDate)) {
                std::fprintf(stderr, "locator-sim: --end wants dd/mm/yy\n");
                return 2;
            }
        } else if (a == "--unthrottled") {
            cfg.throttled = false;
        } else if (a == "--chunk-min") {
            needInt(&cfg.minChunk);
        } else if (a == "--chunk-max") {
            needInt(&cfg.maxChunk);
        } else if (a == "--live-interval") {
            needInt(&cfg.liveIntervalMs);
        } else if (a == "--user") {
            needText(&cfg.user);
        } else if (a == "--model") {
            needText(&cfg.model);
        } else if (a == "--serial") {
            needText(&cfg.serial);
        } else if (a == "--firmware") {
            needText(&cfg.firmware);
        } else if (a == "--clock-offset") {
            // Negative too: a clock behind the PC's.
            char *end = nullptr;
            errno = 0;
            const long long offset = v ? std::strtoll(v, &end, 10) : 0;
            if (!v || errno != 0 || end == v || *end != 0) {
                std::fprintf(stderr, "locator-sim: --clock-offset needs a number of seconds\n");
                return 2;
            }
            cfg.clockOffsetSeconds = offset;
            ++i;
        } else if (a == "--no-clock-reply") {
            cfg.answersClock = false;
        } else if (a == "-h" || a == "--help") {
            usage();
            return 0;
        } else {
            std::fprintf(stderr, "locator-sim: unknown option %s\n", a.c_str());
            usage();
            return 2;
        }
    }
    if (portsDir.empty() || com < 0) {
        usage();
        return 2;
    }

    if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("locator-sim: pipe2");
        return 1;
    }
    struct sigaction sa
    { };
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    const std::string linkPath = portsDir + "/COM" + std::to_string(com);
    sim::LocatorSimulator locator(cfg);
    std::string error;
    if (!locator.start(linkPath, &error)) {
        std::fprintf(stderr, "locator-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", linkPath.c_str());
    std::fflush(stdout);

    std::string pending;
    bool stdinOpen = true;
    for (;;) {
        pollfd fds[2] = {{g_signalPipe[0], POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        const int r = ::poll(fds, stdinOpen ? 2 : 1, -1);
        if (r < 0 && errno != EINTR)
            break;
        if (fds[0].revents & POLLIN)
            break;
        if (stdinOpen && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            char buf[1024];
            const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
            if (n <= 0) {
                stdinOpen = false;  // keep running until signalled
                continue;
            }
            pending.append(buf, size_t(n));
            size_t eol;
            while ((eol = pending.find('\n')) != std::string::npos) {
                std::string line = pending.substr(0, eol);
                pending.erase(0, eol + 1);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                control(locator, line, linkPath);
            }
        }
    }
    locator.stop();
    return 0;
}
