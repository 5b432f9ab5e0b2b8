#include "ui/error_box.h"

#include <QCoreApplication>
#include <QMessageBox>

#include "core/convert.h"

namespace koravex {

ErrorBoxHook& errorBoxHook() {
    static ErrorBoxHook hook;
    return hook;
}

QString errorBoxTitle() {
    const std::string path = QCoreApplication::applicationFilePath().toStdString();
    return QString::fromStdString(applicationTitle(path));
}

void showErrorBox(QWidget* parent, std::string_view message) {
    const QString title = errorBoxTitle();
    const QString text = QString::fromStdString(messageBoxText(message));
    if (const ErrorBoxHook& hook = errorBoxHook()) {
        hook(title, text);
        return;
    }
    QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

}  // namespace koravex
