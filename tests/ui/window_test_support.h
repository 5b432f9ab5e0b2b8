#pragma once
// Shared set-up of the main window tests: the fake machine, the answered seams and a
// window made from them.
#include <QColor>
#include <QColorDialog>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <deque>
#include <memory>
#include <optional>

#include "tests/support/fake_probes.h"
#include "ui/beep.h"
#include "ui/color_choice.h"
#include "ui/error_box.h"
#include "ui/main_window.h"

namespace koravex::test {

// Records what the window did through its seams, in order.
struct Seams {
    QStringList events;  // "beep", "balloon:<title>|<text>", "box:<title>|<text>", "tray", "quit"
    QStringList boxes;   // texts of the error boxes
    bool balloonResult = true;
    std::deque<std::optional<QColor>> colorAnswers;
    QList<QColor> colorStarts;  // the colour the dialog opened on, per opening
    QList<QPoint> colorPlaces;  // where it opened

    Seams() {
        errorBoxHook() = [this](const QString& title, const QString& text) {
            events << QStringLiteral("box:") + title + QLatin1Char('|') + text;
            boxes << text;
        };
        beepHook() = [this] { events << QStringLiteral("beep"); };
        colorDialogHook() = [this](QColorDialog& dialog) -> std::optional<QColor> {
            colorStarts << dialog.currentColor();
            colorPlaces << dialog.pos();
            if (colorAnswers.empty())
                return std::nullopt;
            std::optional<QColor> answer = colorAnswers.front();
            colorAnswers.pop_front();
            return answer;
        };
    }
    ~Seams() {
        errorBoxHook() = nullptr;
        beepHook() = nullptr;
        colorDialogHook() = nullptr;
    }
    Seams(const Seams&) = delete;
    Seams& operator=(const Seams&) = delete;

    WindowHooks hooks() {
        WindowHooks h;
        h.addTrayIcon = [this] { events << QStringLiteral("tray"); };
        h.showBalloon = [this](const QString& title, const QString& text) {
            events << QStringLiteral("balloon:") + title + QLatin1Char('|') + text;
            return balloonResult;
        };
        h.quit = [this] { events << QStringLiteral("quit"); };
        return h;
    }
};

// A window over the sample machine, with every seam answered.
struct WindowFixture {
    FakeProbes probes = FakeProbes::sample();
    Seams seams;
    std::unique_ptr<TForm1> window;

    WindowFixture() = default;
    explicit WindowFixture(FakeProbes machine) : probes(std::move(machine)) {}
    TForm1& make() {
        window = std::make_unique<TForm1>(probes, seams.hooks());
        return *window;
    }
    template <typename T>
    T* child(const char* name) const {
        return window->findChild<T*>(QString::fromLatin1(name));
    }
};

}  // namespace koravex::test
