// The single-instance line protocol: field encoding, greeting and command parsing,
// and what a second start sends for the greeting it got.
#include <QTest>

#include "shell/instance_protocol.h"

using namespace koravex;

namespace {
std::string bytes(const QByteArray& b) {
    return std::string(b.constData(), static_cast<size_t>(b.size()));
}
}  // namespace

class InstanceProtocolTest : public QObject {
    Q_OBJECT
  private slots:
    void fieldRoundTrip_data();
    void fieldRoundTrip();
    void decodeRejects_data();
    void decodeRejects();
    void greetingParse_data();
    void greetingParse();
    void greetingRoundTrip();
    void commandParse_data();
    void commandParse();
    void handOverWordsFor_data();
    void handOverWordsFor();
};

void InstanceProtocolTest::fieldRoundTrip_data() {
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QByteArray>("encoded");
    QTest::newRow("plain") << QByteArray("TForm1") << QByteArray("TForm1");
    QTest::newRow("space") << QByteArray("/opt/my apps/koravex")
                           << QByteArray("/opt/my%20apps/koravex");
    QTest::newRow("percent") << QByteArray("100%") << QByteArray("100%25");
    QTest::newRow("newline") << QByteArray("a\nb") << QByteArray("a%0Ab");
    QTest::newRow("nul") << QByteArray("a\0b", 3) << QByteArray("a%00b");
    QTest::newRow("utf8") << QByteArray("/home/\xD0\xAF") << QByteArray("/home/%D0%AF");
    QTest::newRow("tilde kept") << QByteArray("~!") << QByteArray("~!");
    QTest::newRow("del") << QByteArray("\x7F") << QByteArray("%7F");
    QTest::newRow("empty") << QByteArray() << QByteArray();
}

void InstanceProtocolTest::fieldRoundTrip() {
    QFETCH(QByteArray, raw);
    QFETCH(QByteArray, encoded);
    QCOMPARE(encodeField(bytes(raw)), bytes(encoded));
    const std::optional<std::string> decoded = decodeField(bytes(encoded));
    QVERIFY(decoded.has_value());
    QCOMPARE(*decoded, bytes(raw));
}

void InstanceProtocolTest::decodeRejects_data() {
    QTest::addColumn<QByteArray>("encoded");
    QTest::newRow("lone percent") << QByteArray("%");
    QTest::newRow("one hex digit") << QByteArray("ab%4");
    QTest::newRow("bad hex") << QByteArray("%G0");
    QTest::newRow("raw space") << QByteArray("a b");
    QTest::newRow("raw tab") << QByteArray("a\tb");
    QTest::newRow("raw high byte") << QByteArray("\xD0\xAF");
    QTest::newRow("percent at end") << QByteArray("abc%");
}

void InstanceProtocolTest::decodeRejects() {
    QFETCH(QByteArray, encoded);
    QVERIFY(!decodeField(bytes(encoded)).has_value());
}

void InstanceProtocolTest::greetingParse_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QByteArray>("windowClass");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<QByteArray>("path");
    QTest::newRow("hidden") << QByteArray("instance TForm1 0 /usr/bin/koravex") << true
                            << QByteArray("TForm1") << false << QByteArray("/usr/bin/koravex");
    QTest::newRow("visible") << QByteArray("instance TForm1 1 /a%20b") << true
                             << QByteArray("TForm1") << true << QByteArray("/a b");
    QTest::newRow("wrong word") << QByteArray("Instance TForm1 1 /x") << false << QByteArray()
                                << false << QByteArray();
    QTest::newRow("visibility 2") << QByteArray("instance TForm1 2 /x") << false << QByteArray()
                                  << false << QByteArray();
    QTest::newRow("visibility empty")
        << QByteArray("instance TForm1  /x") << false << QByteArray() << false << QByteArray();
    QTest::newRow("too few") << QByteArray("instance TForm1 1") << false << QByteArray() << false
                             << QByteArray();
    QTest::newRow("too many") << QByteArray("instance TForm1 1 /x y") << false << QByteArray()
                              << false << QByteArray();
    QTest::newRow("trailing space")
        << QByteArray("instance TForm1 1 /x ") << false << QByteArray() << false << QByteArray();
    QTest::newRow("empty path") << QByteArray("instance TForm1 1 ") << true << QByteArray("TForm1")
                                << true << QByteArray();
    QTest::newRow("empty class") << QByteArray("instance  0 /x") << true << QByteArray() << false
                                 << QByteArray("/x");
    QTest::newRow("bad escape") << QByteArray("instance TForm1 1 /x%zz") << false << QByteArray()
                                << false << QByteArray();
    QTest::newRow("carriage return")
        << QByteArray("instance TForm1 1 /x\r") << false << QByteArray() << false << QByteArray();
    QTest::newRow("empty") << QByteArray() << false << QByteArray() << false << QByteArray();
}

void InstanceProtocolTest::greetingParse() {
    QFETCH(QByteArray, line);
    QFETCH(bool, valid);
    const std::optional<InstanceGreeting> greeting = parseGreeting(bytes(line));
    QCOMPARE(greeting.has_value(), valid);
    if (valid) {
        QFETCH(QByteArray, windowClass);
        QFETCH(bool, visible);
        QFETCH(QByteArray, path);
        QCOMPARE(greeting->windowClass, bytes(windowClass));
        QCOMPARE(greeting->visible, visible);
        QCOMPARE(greeting->executablePath, bytes(path));
    }
}

void InstanceProtocolTest::greetingRoundTrip() {
    const InstanceGreeting greetings[] = {
        {"TForm1", true, "/usr/bin/koravex"},
        {"tform1", false, std::string("/tmp/x\ny z%\x01\xFF\0", 15)},
        {"TForm1", false, ""},  // an instance that could not read its own path
        {"", true, ""},
    };
    for (const InstanceGreeting& g : greetings) {
        std::string line = formatGreeting(g);
        QVERIFY(line.ends_with('\n'));
        QCOMPARE(std::count(line.begin(), line.end(), '\n'), 1);
        line.pop_back();
        QCOMPARE(parseGreeting(line), std::optional<InstanceGreeting>(g));
    }
}

void InstanceProtocolTest::commandParse_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("command");  // -1: rejected
    QTest::newRow("activate") << QByteArray("activate") << int(InstanceCommand::Activate);
    QTest::newRow("raise") << QByteArray("raise") << int(InstanceCommand::Raise);
    QTest::newRow("upper case") << QByteArray("ACTIVATE") << -1;
    QTest::newRow("trailing space") << QByteArray("raise ") << -1;
    QTest::newRow("carriage return") << QByteArray("raise\r") << -1;
    QTest::newRow("unknown") << QByteArray("quit") << -1;
    QTest::newRow("empty") << QByteArray() << -1;
}

void InstanceProtocolTest::commandParse() {
    QFETCH(QByteArray, line);
    QFETCH(int, command);
    const std::optional<InstanceCommand> parsed = parseCommand(bytes(line));
    QCOMPARE(parsed.has_value() ? int(*parsed) : -1, command);
    if (parsed) {
        QCOMPARE(formatCommand(*parsed), bytes(line + '\n'));
    }
}

void InstanceProtocolTest::handOverWordsFor_data() {
    QTest::addColumn<QByteArray>("foundClass");
    QTest::addColumn<QByteArray>("foundPath");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<QByteArray>("ownPath");
    QTest::addColumn<QByteArray>("words");
    const QByteArray path = "/opt/koravex/bin/koravex";
    const QByteArray none;
    QTest::newRow("hidden: activate, raise")
        << QByteArray("TForm1") << path << false << path << QByteArray("activate\nraise\n");
    QTest::newRow("visible: raise only")
        << QByteArray("TForm1") << path << true << path << QByteArray("raise\n");
    QTest::newRow("class differs in case") << QByteArray("tform1") << path << false << path << none;
    QTest::newRow("class longer") << QByteArray("TForm12") << path << false << path << none;
    QTest::newRow("other executable")
        << QByteArray("TForm1") << path + "-old" << false << path << none;
    QTest::newRow("path differs in case")
        << QByteArray("TForm1") << path.toUpper() << true << path << none;
    QTest::newRow("instance without its path")
        << QByteArray("TForm1") << QByteArray() << false << path << none;
    QTest::newRow("start without its path")
        << QByteArray("TForm1") << path << false << QByteArray() << none;
}

void InstanceProtocolTest::handOverWordsFor() {
    QFETCH(QByteArray, foundClass);
    QFETCH(QByteArray, foundPath);
    QFETCH(bool, visible);
    QFETCH(QByteArray, ownPath);
    QFETCH(QByteArray, words);
    const InstanceGreeting found{bytes(foundClass), visible, bytes(foundPath)};
    QCOMPARE(handOverWords(found, {kInstanceWindowClass, bytes(ownPath)}), bytes(words));
}

QTEST_GUILESS_MAIN(InstanceProtocolTest)
#include "instance_protocol_test.moc"
