// koravex-window-shots: opens the main window, shows each of its five tabs in turn and
// writes a picture of the window per tab: tab1.png .. tab5.png in the folder given.
// Usage: koravex-window-shots [--system] OUTPUT_DIR
//   --system  the machine's own figures (Linux backend) instead of the sample machine
#include <QApplication>
#include <QDir>
#include <QTabWidget>
#include <QTextStream>
#include <QTimer>
#include <memory>

#include "tests/support/fake_probes.h"
#include "core/linux/linux_probes.h"
#include "ui/main_window.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QStringList args = QApplication::arguments().mid(1);
    const bool system = args.removeAll(QStringLiteral("--system")) > 0;
    QTextStream err(stderr);
    if (args.size() != 1 || args.front().startsWith(QLatin1Char('-'))) {
        err << "usage: koravex-window-shots [--system] OUTPUT_DIR\n";
        return 2;
    }
    const QDir out(args.front());
    if (!QDir().mkpath(out.path())) {
        err << "cannot create " << out.path() << '\n';
        return 1;
    }
    std::unique_ptr<koravex::Probes> probes;
    if (system)
        probes = koravex::makeLinuxProbes();
    if (!probes)
        probes = std::make_unique<koravex::FakeProbes>(koravex::FakeProbes::sample());

    koravex::TForm1 window(*probes, {});
    window.show();
    auto* pages = window.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
    int failures = 0;
    for (int i = 0; i < pages->count(); ++i) {
        pages->setCurrentIndex(i);
        window.Timer1Timer();  // fresh figures, and the drive letter as the shown tab makes it
        for (int k = 0; k < 5; ++k)
            QApplication::processEvents();
        const QString file = out.filePath(QStringLiteral("tab%1.png").arg(i + 1));
        if (!window.grab().save(file)) {
            err << "cannot write " << file << '\n';
            ++failures;
        } else {
            QTextStream(stdout) << file << '\n';
        }
    }
    return failures == 0 ? 0 : 1;
}
