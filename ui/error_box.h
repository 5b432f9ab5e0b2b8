#pragma once
// The error box of the event loop: a modal box with the critical icon and an OK button,
// captioned with the application title; its text takes the full-stop rule.
#include <QString>
#include <functional>
#include <string_view>

class QWidget;

namespace koravex {

// Shown instead of the box when set (tests answer the box through it).
using ErrorBoxHook = std::function<void(const QString& title, const QString& text)>;
ErrorBoxHook& errorBoxHook();

// The caption: the application title of the running executable.
QString errorBoxTitle();

// Reports an error message; returns when the user closed the box.
void showErrorBox(QWidget* parent, std::string_view message);

}  // namespace koravex
