// Writes the application icon as PNG files.
//   koravex-make-icons DIR          DIR/<N>x<N>/apps/koravex.png for every theme size
//   koravex-make-icons --png SIZE FILE   one PNG of SIZE x SIZE pixels
//   koravex-make-icons --ico FILE        the Windows icon file of the executable
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <QFile>

#include "tools/make_icons/ico_file.h"
#include "ui/app_icons.h"

namespace {

constexpr int kThemeSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

int usage() {
    std::fputs(
        "usage: koravex-make-icons DIR\n"
        "       koravex-make-icons --png SIZE FILE\n"
        "       koravex-make-icons --ico FILE\n"
        "Writes the application icon: into DIR/<N>x<N>/apps/koravex.png for the sizes\n"
        "16, 22, 24, 32, 48, 64, 128 and 256, as one SIZE x SIZE PNG file (1..1024), or\n"
        "as a Windows icon file (16, 32 in 256 colours, 32, 48 and 256 pixels).\n",
        stderr);
    return 2;
}

bool writePng(int size, const QString& path) {
    const QImage image = koravex::drawApplicationIcon(size);
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "koravex-make-icons: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

bool writeIco(const QString& path) {
    using koravex::IcoFormat;
    const QByteArray bytes = koravex::encodeIco({
        {koravex::drawApplicationIcon(16), IcoFormat::Argb32},
        {koravex::drawApplicationIcon(32), IcoFormat::Indexed8},
        {koravex::drawApplicationIcon(32), IcoFormat::Argb32},
        {koravex::drawApplicationIcon(48), IcoFormat::Argb32},
        {koravex::drawApplicationIcon(256), IcoFormat::Png},
    });
    QFile file(path);
    if (bytes.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() ||
        !file.flush()) {
        std::fprintf(stderr, "koravex-make-icons: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

// A whole decimal number from 1 to 1024, nothing else.
bool parseSize(const char* text, int& size) {
    if (text == nullptr || *text == '\0' || std::strlen(text) > 4) {
        return false;
    }
    int value = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') {
            return false;
        }
        value = value * 10 + (*c - '0');
    }
    if (value < 1 || value > 1024) {
        return false;
    }
    size = value;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // Painting needs no screen; the offscreen platform is enough wherever this runs.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // Keep our own arguments away from Qt's option parser.
    int qtArgc = 1;
    QGuiApplication app(qtArgc, argv);

    if (argc == 4 && std::strcmp(argv[1], "--png") == 0) {
        int size = 0;
        if (!parseSize(argv[2], size)) {
            return usage();
        }
        return writePng(size, QString::fromLocal8Bit(argv[3])) ? 0 : 1;
    }
    if (argc == 3 && std::strcmp(argv[1], "--ico") == 0) {
        return writeIco(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
    }
    if (argc != 2 || argv[1][0] == '-') {
        return usage();
    }
    const QDir root(QString::fromLocal8Bit(argv[1]));
    for (int size : kThemeSizes) {
        const QString sub = QStringLiteral("%1x%1/apps").arg(size);
        if (!root.mkpath(sub)) {
            std::fprintf(stderr, "koravex-make-icons: cannot create %s\n",
                         qPrintable(root.filePath(sub)));
            return 1;
        }
        if (!writePng(size, root.filePath(sub + QStringLiteral("/koravex.png")))) {
            return 1;
        }
    }
    return 0;
}
