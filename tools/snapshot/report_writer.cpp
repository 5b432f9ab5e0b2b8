#include "tools/snapshot/report_writer.h"

#include <algorithm>
#include <string_view>

#include "core/convert.h"

namespace koravex {

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

void appendTable(std::string& out, const std::vector<TrafficRow>& rows) {
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
    appendMemoryRow(out, "Физической", m.label2, m.label3, "Gauge2", m.gauge2);
    appendMemoryRow(out, "Подкачке", m.label4, m.label5, "Gauge3", m.gauge3);
    appendMemoryRow(out, "Виртуальной", m.label6, m.label7, "Gauge4", m.gauge4);

    out += "\nДисководы\n";
    out += "  " + m.label8 + "  " + m.label12 + "\n";
    out += "  " + m.label9 + "\n";
    out += "  " + m.label10 + "  " + gaugeText("Gauge1", m.gauge1) + "\n";
    out += "  " + m.label11 + "\n";
    out += "  " + m.label13 + "\n";

    out += "\nСеть\n";
    appendTable(out, m.traffic.value_or(std::vector<TrafficRow>{}));

    if (!m.alerts.empty()) {
        out += "\nВнимание!\n";
        for (const LowSpaceAlert& alert : m.alerts)
            out += "  " + alert.text + "\n";
    }
    if (m.error)
        out += "\nError: " + messageBoxText(*m.error) + "\n";
    return out;
}

}  // namespace koravex
