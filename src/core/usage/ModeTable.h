#pragma once

#include <array>
#include <cstdint>
#include <string_view>

// The locator's operating modes, in the order every chart, legend and total
// lists them. Shared by the pie windows and the record viewer.
namespace ModeTable {

struct Rgb
{
    std::uint8_t r, g, b;
};

struct Mode
{
    char letter;  // as it stands in character 19 of a record
    std::string_view name;  // slice label and legend text
    Rgb colour;
};

inline constexpr int Count = 4;

inline constexpr std::array<Mode, Count> Modes = {{
    {'A', "DarAdar", {175, 216, 248}},
    {'T', "Transmitter", {246, 189, 15}},
    {'R', "Radio", {139, 186, 0}},
    {'P', "Power", {255, 142, 70}},
}};

// Position of a mode letter in the table, or -1. Only the four upper-case
// letters count; anything else belongs to no mode.
constexpr int IndexOf(char letter)
{
    for (int i = 0; i < Count; ++i) {
        if (Modes[std::size_t(i)].letter == letter)
            return i;
    }
    return -1;
}

}  // namespace ModeTable
