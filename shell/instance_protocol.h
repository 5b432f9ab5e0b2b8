#pragma once
// The line protocol spoken over the single-instance socket.
//
// On every accepted connection the running instance writes one greeting line:
//     instance <window class> <0|1 visible> <executable path>\n
// where the class and the path are percent-encoded (every byte outside '!'..'~' and '%'
// itself as %XX), so that any byte string travels on one line. The starting process may then
// send command lines: "activate" (show the hidden window) and "raise" (bring it to the front).
// Anything else is ignored by the receiver.
#include <QByteArray>
#include <QList>
#include <optional>

namespace koravex {

// A line longer than this (terminator excluded) is malformed; the connection is dropped.
inline constexpr qsizetype kMaxProtocolLine = 4096;

struct InstanceGreeting {
    QByteArray windowClass;
    bool visible = false;
    QByteArray executablePath;

    bool operator==(const InstanceGreeting&) const = default;
};

enum class InstanceCommand { Activate, Raise };

QByteArray encodeField(const QByteArray& raw);
// nullopt: an empty field, a raw byte that must have been encoded, or a bad %XX sequence.
std::optional<QByteArray> decodeField(const QByteArray& encoded);

QByteArray formatGreeting(const InstanceGreeting& greeting);            // with the trailing '\n'
std::optional<InstanceGreeting> parseGreeting(const QByteArray& line);  // without '\n'

QByteArray formatCommand(InstanceCommand command);                    // with the trailing '\n'
std::optional<InstanceCommand> parseCommand(const QByteArray& line);  // without '\n'

// Splits a byte stream into lines. Once a line grows past kMaxProtocolLine the buffer is
// marked overflowed and yields nothing more.
class LineBuffer {
  public:
    // Appends the bytes and returns every line completed by them, without the '\n'.
    QList<QByteArray> feed(const QByteArray& bytes);
    bool overflowed() const { return overflowed_; }

  private:
    QByteArray pending_;
    bool overflowed_ = false;
};

}  // namespace koravex
