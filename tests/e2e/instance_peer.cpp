// koravex-test-instance-peer NAME [LINE...]: connects to the abstract socket NAME as a
// second start would, prints the greeting it gets, then sends each LINE.
// Exit: 0 greeted, 3 connected but dropped without a greeting, 4 no connection.
#include <QCoreApplication>
#include <QLocalSocket>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: %s NAME [LINE...]\n", argv[0]);
        return 2;
    }
    QLocalSocket socket;
    socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    socket.connectToServer(args.at(1));
    if (!socket.waitForConnected(1000)) {
        return 4;
    }
    for (qsizetype i = 2; i < args.size(); ++i) {
        socket.write(args.at(i).toUtf8() + '\n');
    }
    socket.flush();
    while (!socket.canReadLine() && socket.waitForReadyRead(1000)) {
    }
    if (!socket.canReadLine()) {
        return 3;
    }
    std::fputs(socket.readLine().constData(), stdout);
    socket.waitForBytesWritten(1000);
    return 0;
}
