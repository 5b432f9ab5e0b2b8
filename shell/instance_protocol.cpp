#include "shell/instance_protocol.h"

namespace koravex {

namespace {

constexpr char kGreetingWord[] = "instance";
constexpr char kHexDigits[] = "0123456789ABCDEF";

bool needsEncoding(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x21 || u > 0x7E || c == '%';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

}  // namespace

QByteArray encodeField(const QByteArray& raw) {
    QByteArray out;
    out.reserve(raw.size());
    for (const char c : raw) {
        if (needsEncoding(c)) {
            const auto u = static_cast<unsigned char>(c);
            out.append('%');
            out.append(kHexDigits[u >> 4]);
            out.append(kHexDigits[u & 0x0F]);
        } else {
            out.append(c);
        }
    }
    return out;
}

std::optional<QByteArray> decodeField(const QByteArray& encoded) {
    if (encoded.isEmpty()) {
        return std::nullopt;
    }
    QByteArray out;
    out.reserve(encoded.size());
    for (qsizetype i = 0; i < encoded.size(); ++i) {
        const char c = encoded[i];
        if (c == '%') {
            if (i + 2 >= encoded.size()) {
                return std::nullopt;
            }
            const int high = hexValue(encoded[i + 1]);
            const int low = hexValue(encoded[i + 2]);
            if (high < 0 || low < 0) {
                return std::nullopt;
            }
            out.append(static_cast<char>(high * 16 + low));
            i += 2;
        } else if (needsEncoding(c)) {
            return std::nullopt;
        } else {
            out.append(c);
        }
    }
    return out;
}

QByteArray formatGreeting(const InstanceGreeting& greeting) {
    QByteArray line(kGreetingWord);
    line += ' ';
    line += encodeField(greeting.windowClass);
    line += greeting.visible ? " 1 " : " 0 ";
    line += encodeField(greeting.executablePath);
    line += '\n';
    return line;
}

std::optional<InstanceGreeting> parseGreeting(const QByteArray& line) {
    const QList<QByteArray> fields = line.split(' ');
    if (fields.size() != 4 || fields[0] != kGreetingWord) {
        return std::nullopt;
    }
    const std::optional<QByteArray> windowClass = decodeField(fields[1]);
    const std::optional<QByteArray> path = decodeField(fields[3]);
    if (!windowClass || !path || (fields[2] != "0" && fields[2] != "1")) {
        return std::nullopt;
    }
    return InstanceGreeting{*windowClass, fields[2] == "1", *path};
}

QByteArray formatCommand(InstanceCommand command) {
    return command == InstanceCommand::Activate ? QByteArrayLiteral("activate\n")
                                                : QByteArrayLiteral("raise\n");
}

std::optional<InstanceCommand> parseCommand(const QByteArray& line) {
    if (line == "activate") {
        return InstanceCommand::Activate;
    }
    if (line == "raise") {
        return InstanceCommand::Raise;
    }
    return std::nullopt;
}

QList<QByteArray> LineBuffer::feed(const QByteArray& bytes) {
    QList<QByteArray> lines;
    if (overflowed_) {
        return lines;
    }
    pending_ += bytes;
    qsizetype start = 0;
    for (;;) {
        const qsizetype end = pending_.indexOf('\n', start);
        if (end < 0) {
            break;
        }
        if (end - start > kMaxProtocolLine) {
            overflowed_ = true;
            pending_.clear();
            return lines;
        }
        lines.append(pending_.mid(start, end - start));
        start = end + 1;
    }
    pending_.remove(0, start);
    if (pending_.size() > kMaxProtocolLine) {
        overflowed_ = true;
        pending_.clear();
    }
    return lines;
}

}  // namespace koravex
