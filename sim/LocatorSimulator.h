// A simulated cable locator on a pseudo-terminal. The program under test
// opens "<portsDir>/COM<n>", a symbolic link to the pty's slave side, and
// talks to it exactly as to the real unit. Everything runs on one private
// thread; every public member may be called from any thread.
#pragma once

#include "SimLog.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sim {

struct SimConfig
{
    // Identity as reported by "#X" and the transfer header.
    std::string user = "BOB";
    std::string model = "LOC2000";
    std::string serial = "001234";
    std::string firmware = "1.23";  // 4 characters on the wire

    // Memory contents (see generateLog()).
    uint32_t seed = 1;
    int months = 4;
    Date endDate;  // year 0: today, local time
    int targetRecords = 3500;  // ~10 s for a full transfer at 115200 baud
    int ffLines = 3;

    // Line behaviour.
    bool throttled = true;  // pace output at bytesPerSecond
    int bytesPerSecond = 11520;  // 115200 baud, 8N1
    int minChunk = 1;  // output goes out in write()s of a size
    int maxChunk = 64;  // drawn from [minChunk, maxChunk]
    uint32_t chunkSeed = 0;  // 0: derived from seed
    int liveIntervalMs = 1000;
    char liveMode = 'T';  // what the live lines report
    std::string liveFrequency = "33KHz";

    // The unit's clock, until "#DS"/"#TS" set it: the PC's local time plus
    // this many seconds (negative: behind, as after a battery reset).
    int64_t clockOffsetSeconds = 0;
    bool answersClock = true;  // false: "#AE" is recorded but not answered (older firmware)
};

class LocatorSimulator
{
public:
    explicit LocatorSimulator(SimConfig cfg = {});
    ~LocatorSimulator();  // stop()
    LocatorSimulator(const LocatorSimulator &) = delete;
    LocatorSimulator &operator=(const LocatorSimulator &) = delete;

    // Opens a pty, points linkPath at its slave (creating missing parent
    // folders, replacing a stale link) and starts the thread. After vanish()
    // or stop() it may be started again; memory and settings are kept.
    bool start(const std::string &linkPath, std::string *error = nullptr);
    // Stops the thread, closes the pty and removes the link (if still ours).
    void stop();
    bool running() const;
    std::string linkPath() const;
    std::string devicePath() const;  // /dev/pts/N, empty when not running

    // Device events.
    // Finishes the line in flight, sends "#PD" in one write() and falls
    // silent; a transfer in progress ends there, without 0x1A.
    void powerDown();
    void setSilent(bool off);  // switched off: port exists, nothing answers
    bool silent() const;
    void vanish();  // unplugged: pty closed, link removed
    void sendText(const std::string &bytes);  // raw bytes out, even when silent
    void setThrottled(bool throttled);
    void setLiveMode(char mode, const std::string &frequency);
    bool liveOutput() const;  // "#FV" seen and not since switched off

    // Transfers.
    bool transferRunning() const;
    int transferCount() const;  // transfers started so far
    // Bytes of the current or last transfer written so far: from the "#DA"/
    // "#DD" header up to and including the closing 0x1A once it has ended.
    std::string lastTransfer() const;
    bool waitForTransferEnd(int timeoutMs) const;

    // Commands received, in order, complete and exactly as sent.
    std::vector<std::string> commands() const;
    void clearCommands();
    // True once a command at index >= fromIndex starts with prefix.
    bool waitForCommand(const std::string &prefix, int timeoutMs, size_t fromIndex = 0) const;

    // Bytes received from the program so far (they feed the command parser).
    uint64_t bytesReceived() const;
    bool waitForBytesReceived(uint64_t count, int timeoutMs) const;
    // True once everything queued for sending has been written to the pty.
    bool waitForIdle(int timeoutMs) const;

    // How many file descriptions the program has open on the port (inotify on
    // the slave). While it is known to be closed, output falls on the floor
    // as it would on a real line, so nothing stale waits for the next open.
    int portOpenCount() const;
    bool waitForPortOpenCount(int count, int timeoutMs) const;

    // Memory as a transfer would send it, without header and 0x1A.
    std::string logText() const;
    // Records a "#DD<from>,<to>" transfer would send (dates "dd/mm/yy").
    std::string logTextBetween(const std::string &from, const std::string &to) const;
    int recordCount() const;  // dated records in memory
    // The unit used for `seconds` more: one record per second in `mode`,
    // the last one dated a second before its clock's present time.
    void logUse(int seconds, char mode = 'T');

    // Stored settings.
    std::string user() const;
    std::string model() const;
    std::string serial() const;
    std::string firmware() const;
    std::string date() const;  // last "#DS" value, empty if none
    std::string time() const;  // last "#TS" value, empty if none
    std::string clock() const;  // locator clock now, "dd/mm/yy hh:mm:ss"
    bool memoryCleared() const;
    bool pointerReset() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

}  // namespace sim
