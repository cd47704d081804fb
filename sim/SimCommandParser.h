// Assembles the program's commands from the raw byte stream. Commands have no
// terminator and arrive one character at a time, so the parser is a small
// state machine keyed on the first character: '#' starts a named command,
// 'M' may be the "MM" preamble, a bare 'A' is the transfer abort. Anything
// else is dropped until the next of those three.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct ParsedCommand
{
    std::string text;
    // "#A" acts at once (it may have to stop a transfer), but an 'E' right
    // after it turns it into "#AE": such a command replaces the "#A" before it.
    bool extendsPrevious = false;

    friend bool operator==(const ParsedCommand &, const ParsedCommand &) = default;
};

class CommandParser
{
public:
    void feed(std::string_view bytes, std::vector<ParsedCommand> *out);
    void reset();

private:
    enum class State { Idle, AfterM, Name, Param, AfterHashA };
    void feedByte(char c, std::vector<ParsedCommand> *out);

    State state_ = State::Idle;
    std::string buf_;
    const char *pattern_ = nullptr;  // parameter layout of the command in buf_
};

}  // namespace sim
