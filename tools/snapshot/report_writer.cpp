#include "tools/snapshot/report_writer.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "core/convert.h"
#include "tools/snapshot/json_writer.h"

namespace koravex {

std::string reportText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    char escape[8];
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t len = utf8SequenceLength(text, i);
        const auto b0 = static_cast<unsigned char>(text[i]);
        if (len == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        if (len == 1 && (b0 < 0x20 || b0 == 0x7F)) {
            std::snprintf(escape, sizeof escape, "\\x%02x", b0);
            out += escape;
        } else if (len == 2 && b0 == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
            // U+0080..U+009F: some terminals take these as control sequences too.
            std::snprintf(escape, sizeof escape, "\\u%04x",
                          static_cast<unsigned char>(text[i + 1]));
            out += escape;
        } else {
            out.append(text, i, len);
        }
        i += len;
    }
    return out;
}

namespace {

// Characters on screen, counting each UTF-8 sequence once.
std::size_t displayWidth(std::string_view text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0u) != 0x80u;
    }));
}

std::string padded(std::string_view text, std::size_t width) {
    std::string out(text);
    const std::size_t w = displayWidth(text);
    if (w < width)
        out.append(width - w, ' ');
    return out;
}

std::string gaugeText(const char* name, const GaugeSetting& g) {
    return std::string("[") + name + " " + std::to_string(g.progress) + "/" +
           std::to_string(g.max) + "]";
}

void appendMemoryRow(std::string& out, const char* heading, const std::string& total,
                     const std::string& avail, const char* gaugeName, const GaugeSetting& g) {
    out += "  " + padded(heading, 12) + padded(total, 28) + padded(avail, 32) +
           gaugeText(gaugeName, g) + "\n";
}

void appendTable(std::string& out, std::vector<TrafficRow> rows) {
    for (TrafficRow& row : rows)
        for (std::string& cell : row)
            cell = reportText(cell);
    const TrafficRow heading{"Индекс",     "Описание", "Тип",   "Принято",
                             "Отправлено", "Скорость", "Статус"};
    std::array<std::size_t, 7> widths{};
    for (std::size_t k = 0; k < widths.size(); ++k)
        widths[k] = displayWidth(heading[k]);
    for (const TrafficRow& row : rows)
        for (std::size_t k = 0; k < widths.size(); ++k)
            widths[k] = std::max(widths[k], displayWidth(row[k]));
    const auto line = [&](const TrafficRow& row) {
        std::string text = " ";
        for (std::size_t k = 0; k < row.size(); ++k) {
            // Figures are right-aligned, as the masks right-align their digits.
            const bool figure = k >= 3 && k <= 5;
            const std::size_t pad = widths[k] - displayWidth(row[k]);
            text += " ";
            if (figure)
                text.append(pad, ' ');
            text += row[k];
            if (!figure && k + 1 < row.size())
                text.append(pad, ' ');
        }
        out += text + "\n";
    };
    line(heading);
    for (const TrafficRow& row : rows)
        line(row);
}

}  // namespace

std::string modelToReport(const DisplayModel& m) {
    std::string out = "Память\n";
    const auto safe = [](const std::string& text) { return reportText(text); };
    appendMemoryRow(out, "Физической", safe(m.label2), safe(m.label3), "Gauge2", m.gauge2);
    appendMemoryRow(out, "Подкачке", safe(m.label4), safe(m.label5), "Gauge3", m.gauge3);
    appendMemoryRow(out, "Виртуальной", safe(m.label6), safe(m.label7), "Gauge4", m.gauge4);

    // The volume name and the file system come from the medium: anyone can write them.
    out += "\nДисководы\n";
    out += "  " + safe(m.label8) + "  " + safe(m.label12) + "\n";
    out += "  " + safe(m.label9) + "\n";
    out += "  " + safe(m.label10) + "  " + gaugeText("Gauge1", m.gauge1) + "\n";
    out += "  " + safe(m.label11) + "\n";
    out += "  " + safe(m.label13) + "\n";

    out += "\nСеть\n";
    appendTable(out, m.traffic.value_or(std::vector<TrafficRow>{}));

    if (!m.alerts.empty()) {
        out += "\nВнимание!\n";
        for (const LowSpaceAlert& alert : m.alerts)
            out += "  " + safe(alert.text) + "\n";
    }
    if (m.error)
        out += "\nError: " + safe(messageBoxText(*m.error)) + "\n";
    return out;
}

}  // namespace koravex
