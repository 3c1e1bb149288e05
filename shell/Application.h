#pragma once
// The desktop program's application object. An exception that escapes a window's event
// handler cuts short the one action it came from: it is shown in an error box and the
// program goes on. Failures during start-up still end the program (main.cpp).

#include <QApplication>

class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};

// The error box for an exception that escaped an event handler; 'what' is its message. While
// such a box is open a further one goes to stderr only, so that a fault met at every repaint
// cannot stack boxes without end.
void ShowEscapedException(const QString& what);
