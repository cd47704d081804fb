#include "SimCommandParser.h"

namespace sim {

namespace {

// Parameter layouts: 'd' a digit, 'h' a hex digit, '*' any byte, anything
// else must match literally. Strict layouts let a broken command give way to
// the next one instead of swallowing it.
struct NamedCommand
{
    std::string_view name;
    const char *pattern;
};

constexpr NamedCommand kCommands[] = {
    {"#X", ""},
    {"#FV", ""},
    {"#DA", ""},
    {"#DD", "dd/dd/dd,dd/dd/dd"},
    {"#A", ""},
    {"#AE", ""},
    {"#DS", "dd/dd/dd"},
    {"#TS", "dd:dd:dd"},
    {"#FT", "********************************"},
    {"#SS", "****************"},
    {"#CA", ""},
    {"#FW", "hhhh"},
};

bool fits(char c, char layout)
{
    switch (layout) {
    case '*':
        return true;
    case 'd':
        return c >= '0' && c <= '9';
    case 'h':
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    default:
        return c == layout;
    }
}

}  // namespace

void CommandParser::reset()
{
    state_ = State::Idle;
    buf_.clear();
    pattern_ = nullptr;
}

void CommandParser::feed(std::string_view bytes, std::vector<ParsedCommand> *out)
{
    for (char c : bytes)
        feedByte(c, out);
}

void CommandParser::feedByte(char c, std::vector<ParsedCommand> *out)
{
    switch (state_) {
    case State::Idle:
        break;
    case State::AfterM:
        state_ = State::Idle;
        if (c == 'M') {
            out->push_back({"MM"});
            return;
        }
        break;  // a lone 'M': look at c afresh
    case State::AfterHashA:
        state_ = State::Idle;
        if (c == 'E') {
            out->push_back({"#AE", true});
            return;
        }
        break;
    case State::Name: {
        buf_ += c;
        bool prefixOfSomething = false;
        for (const auto &cmd : kCommands) {
            if (cmd.name == buf_) {
                if (buf_ == "#A") {
                    out->push_back({buf_});
                    state_ = State::AfterHashA;
                } else if (*cmd.pattern == 0) {
                    out->push_back({buf_});
                    state_ = State::Idle;
                } else {
                    pattern_ = cmd.pattern;
                    state_ = State::Param;
                }
                return;
            }
            if (cmd.name.size() > buf_.size() && cmd.name.substr(0, buf_.size()) == buf_)
                prefixOfSomething = true;
        }
        if (prefixOfSomething)
            return;
        reset();
        break;
    }
    case State::Param:
        if (fits(c, *pattern_)) {
            buf_ += c;
            if (*++pattern_ == 0) {
                out->push_back({buf_});
                reset();
            }
            return;
        }
        reset();
        break;
    }

    // Idle, or the byte that broke the command before it: may start a new one.
    if (c == '#') {
        buf_.assign(1, '#');
        state_ = State::Name;
    } else if (c == 'M') {
        state_ = State::AfterM;
    } else if (c == 'A') {
        out->push_back({"A"});
    }
}

}  // namespace sim
