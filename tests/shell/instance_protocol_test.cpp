// The single-instance line protocol: field encoding, greeting and command parsing, framing.
#include <QTest>

#include "shell/instance_protocol.h"

using namespace koravex;

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
    void lineFraming_data();
    void lineFraming();
    void overlongLineOverflows();
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
}

void InstanceProtocolTest::fieldRoundTrip() {
    QFETCH(QByteArray, raw);
    QFETCH(QByteArray, encoded);
    QCOMPARE(encodeField(raw), encoded);
    const std::optional<QByteArray> decoded = decodeField(encoded);
    QVERIFY(decoded.has_value());
    QCOMPARE(*decoded, raw);
}

void InstanceProtocolTest::decodeRejects_data() {
    QTest::addColumn<QByteArray>("encoded");
    QTest::newRow("empty") << QByteArray();
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
    QVERIFY(!decodeField(encoded).has_value());
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
    QTest::newRow("empty path") << QByteArray("instance TForm1 1 ") << false << QByteArray()
                                << false << QByteArray();
    QTest::newRow("bad escape") << QByteArray("instance TForm1 1 /x%zz") << false << QByteArray()
                                << false << QByteArray();
    QTest::newRow("carriage return")
        << QByteArray("instance TForm1 1 /x\r") << false << QByteArray() << false << QByteArray();
    QTest::newRow("empty") << QByteArray() << false << QByteArray() << false << QByteArray();
}

void InstanceProtocolTest::greetingParse() {
    QFETCH(QByteArray, line);
    QFETCH(bool, valid);
    const std::optional<InstanceGreeting> greeting = parseGreeting(line);
    QCOMPARE(greeting.has_value(), valid);
    if (valid) {
        QFETCH(QByteArray, windowClass);
        QFETCH(bool, visible);
        QFETCH(QByteArray, path);
        QCOMPARE(greeting->windowClass, windowClass);
        QCOMPARE(greeting->visible, visible);
        QCOMPARE(greeting->executablePath, path);
    }
}

void InstanceProtocolTest::greetingRoundTrip() {
    const InstanceGreeting greetings[] = {
        {"TForm1", true, "/usr/bin/koravex"},
        {"tform1", false, QByteArray("/tmp/x\ny z%\x01\xFF", 14)},
    };
    for (const InstanceGreeting& g : greetings) {
        QByteArray line = formatGreeting(g);
        QVERIFY(line.endsWith('\n'));
        QCOMPARE(line.count('\n'), 1);
        line.chop(1);
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
    const std::optional<InstanceCommand> parsed = parseCommand(line);
    QCOMPARE(parsed.has_value() ? int(*parsed) : -1, command);
    if (parsed) {
        QCOMPARE(formatCommand(*parsed), line + '\n');
    }
}

void InstanceProtocolTest::lineFraming_data() {
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QList<QByteArray>>("lines");
    using L = QList<QByteArray>;
    QTest::newRow("one whole") << L{"raise\n"} << L{"raise"};
    QTest::newRow("two in one chunk") << L{"activate\nraise\n"} << L{"activate", "raise"};
    QTest::newRow("split across chunks")
        << L{"acti", "vate\nra", "ise\n"} << L{"activate", "raise"};
    QTest::newRow("unfinished kept back") << L{"raise\nacti"} << L{"raise"};
    QTest::newRow("empty lines") << L{"\n\n"} << L{"", ""};
    QTest::newRow("exactly the limit")
        << L{QByteArray(kMaxProtocolLine, 'a') + '\n'} << L{QByteArray(kMaxProtocolLine, 'a')};
}

void InstanceProtocolTest::lineFraming() {
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QList<QByteArray>, lines);
    LineBuffer buffer;
    QList<QByteArray> got;
    for (const QByteArray& chunk : chunks) {
        got += buffer.feed(chunk);
    }
    QCOMPARE(got, lines);
    QVERIFY(!buffer.overflowed());
}

void InstanceProtocolTest::overlongLineOverflows() {
    // Without a newline, or with one too late, a peer cannot make the buffer grow for ever.
    const QList<QByteArray> cases = {QByteArray(kMaxProtocolLine + 1, 'a'),
                                     QByteArray(kMaxProtocolLine + 1, 'a') + "\nraise\n",
                                     "raise\n" + QByteArray(kMaxProtocolLine + 1, 'b')};
    for (const QByteArray& bytes : cases) {
        LineBuffer buffer;
        buffer.feed(bytes);
        QVERIFY(buffer.overflowed());
        QVERIFY(buffer.feed("activate\n").isEmpty());
    }
    LineBuffer grows;
    for (int i = 0; i < 5 && !grows.overflowed(); ++i) {
        grows.feed(QByteArray(kMaxProtocolLine / 2, 'c'));
    }
    QVERIFY(grows.overflowed());
}

QTEST_GUILESS_MAIN(InstanceProtocolTest)
#include "instance_protocol_test.moc"
