#include "tools/snapshot/json_writer.h"

#include <cstdio>

namespace koravex {

namespace {

bool inRange(unsigned char b, unsigned lo, unsigned hi) {
    return b >= lo && b <= hi;
}

}  // namespace

std::size_t utf8SequenceLength(std::string_view text, std::size_t i) {
    if (i >= text.size())
        return 0;
    const auto at = [&](std::size_t k) -> unsigned char {
        return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0;
    };
    const unsigned char b0 = at(0);
    const auto cont = [&](std::size_t k) { return inRange(at(k), 0x80, 0xBF); };
    if (b0 < 0x80)
        return 1;
    if (inRange(b0, 0xC2, 0xDF))
        return cont(1) ? 2 : 0;
    if (b0 == 0xE0)
        return inRange(at(1), 0xA0, 0xBF) && cont(2) ? 3 : 0;
    if (b0 == 0xED)
        return inRange(at(1), 0x80, 0x9F) && cont(2) ? 3 : 0;  // no surrogates
    if (inRange(b0, 0xE1, 0xEF))
        return cont(1) && cont(2) ? 3 : 0;
    if (b0 == 0xF0)
        return inRange(at(1), 0x90, 0xBF) && cont(2) && cont(3) ? 4 : 0;
    if (b0 == 0xF4)
        return inRange(at(1), 0x80, 0x8F) && cont(2) && cont(3) ? 4 : 0;
    if (inRange(b0, 0xF1, 0xF3))
        return cont(1) && cont(2) && cont(3) ? 4 : 0;
    return 0;
}

namespace {

void appendUnicodeEscape(std::string& out, unsigned code) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\u%04x", code);
    out += buf;
}

void appendGauge(std::string& out, const char* name, const GaugeSetting& g) {
    out += "  \"";
    out += name;
    out += "\": {\"max\": " + std::to_string(g.max) +
           ", \"progress\": " + std::to_string(g.progress) + "},\n";
}

}  // namespace

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t len = utf8SequenceLength(text, i);
        if (len == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        if (len == 1) {
            const char c = text[i];
            switch (c) {
                case '"':
                    out += "\\\"";
                    break;
                case '\\':
                    out += "\\\\";
                    break;
                case '\n':
                    out += "\\n";
                    break;
                case '\r':
                    out += "\\r";
                    break;
                case '\t':
                    out += "\\t";
                    break;
                default:
                    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
                        appendUnicodeEscape(out, static_cast<unsigned char>(c));
                    else
                        out.push_back(c);
            }
        } else if (len == 3 && text.compare(i, 3, "\xE2\x80\xA8") == 0) {
            out += "\\u2028";  // line and paragraph separators break JavaScript readers
        } else if (len == 3 && text.compare(i, 3, "\xE2\x80\xA9") == 0) {
            out += "\\u2029";
        } else {
            out.append(text, i, len);
        }
        i += len;
    }
    out += '"';
    return out;
}

std::string modelToJson(const DisplayModel& m) {
    std::string out = "{\n";
    const std::pair<const char*, const std::string*> labels[] = {
        {"Label2", &m.label2},   {"Label3", &m.label3},   {"Label4", &m.label4},
        {"Label5", &m.label5},   {"Label6", &m.label6},   {"Label7", &m.label7},
        {"Label8", &m.label8},   {"Label9", &m.label9},   {"Label10", &m.label10},
        {"Label11", &m.label11}, {"Label12", &m.label12}, {"Label13", &m.label13}};
    for (const auto& [name, text] : labels) {
        out += "  \"";
        out += name;
        out += "\": " + jsonString(*text) + ",\n";
    }
    appendGauge(out, "Gauge1", m.gauge1);
    appendGauge(out, "Gauge2", m.gauge2);
    appendGauge(out, "Gauge3", m.gauge3);
    appendGauge(out, "Gauge4", m.gauge4);

    out += "  \"lvTraffic\": [";
    bool firstRow = true;
    for (const TrafficRow& row : m.traffic.value_or(std::vector<TrafficRow>{})) {
        out += firstRow ? "\n    [" : ",\n    [";
        firstRow = false;
        for (std::size_t k = 0; k < row.size(); ++k) {
            if (k)
                out += ", ";
            out += jsonString(row[k]);
        }
        out += ']';
    }
    out += firstRow ? "],\n" : "\n  ],\n";

    out += "  \"alerts\": [";
    for (std::size_t k = 0; k < m.alerts.size(); ++k) {
        if (k)
            out += ", ";
        out += jsonString(m.alerts[k].text);
    }
    out += "],\n";
    out += "  \"error\": " + (m.error ? jsonString(*m.error) : std::string("null")) + "\n}\n";
    return out;
}

}  // namespace koravex
