#include "shell/Application.h"

#include <cstdio>
#include <exception>

#include "programming/MessageBoxes.h"

namespace {
const QString UnknownException = QStringLiteral("An unexpected error occurred.");
const QString GoesOn = QStringLiteral("The action was cut short; the program goes on.");

bool boxOpen = false;
}  // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

// Every event of the program passes here, so nothing thrown by a handler reaches the event
// loop, which would end the program with it.
bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowEscapedException(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        ShowEscapedException(UnknownException);
    }
    return false;
}

void ShowEscapedException(const QString& what) {
    std::fprintf(stderr, "Q40Prog: %s\n", what.toLocal8Bit().constData());
    if (boxOpen) return;
    boxOpen = true;
    QWidget* owner = QApplication::activeModalWidget();
    if (!owner) owner = QApplication::activeWindow();
    Boxes().Error(owner, what, GoesOn);
    boxOpen = false;
}
