#pragma once
// What one refresh writes to the window: every text, every gauge, the alerts it raised,
// the interface rows and the error it met. The window applies it as it stands.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace koravex {

struct GaugeSetting {
    std::int32_t max = 0;
    std::int32_t progress = 0;
    bool operator==(const GaugeSetting&) const = default;
};

struct LowSpaceAlert {
    std::string root;  // "X:\"
    std::string text;  // "На диске: X:\ осталось меньше N Mb дискового пространства"
    bool operator==(const LowSpaceAlert&) const = default;
};

// The seven cells of one interface table row, left to right.
using TrafficRow = std::array<std::string, 7>;

struct DisplayModel {
    // Memory gauges, in kilobytes (scaled down together when too large for 32 bits).
    GaugeSetting gauge2, gauge3, gauge4;
    // Memory texts Label2 to Label7: written at every refresh.
    std::string label2, label3, label4, label5, label6, label7;
    std::string label8;             // "Диск: X:\"
    std::string label9, label10;    // free and total space, or the failure text
    GaugeSetting gauge1;            // used space in megabytes; 0/0 when it cannot be read
    std::string label11, label12, label13;  // file system, volume name, serial
    std::vector<LowSpaceAlert> alerts;      // in drive-list order
    // Rows of the interface table; nullopt when the refresh did not get that far (the
    // table keeps its rows). An empty vector empties the table.
    std::optional<std::vector<TrafficRow>> traffic;
    // The conversion error met during the low-space checks, if any (its message).
    std::optional<std::string> error;
};

// The one text shown in place of a disk or volume value that cannot be read.
inline constexpr const char* kCannotDetermine = "Не возможно определить";

}  // namespace koravex
