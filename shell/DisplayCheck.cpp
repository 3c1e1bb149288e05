#include "shell/DisplayCheck.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "shell/Application.h"

namespace {
// Messages of the toolkit while the application is made; shown afterwards when it starts.
std::vector<std::string> HeldMessages;

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

[[noreturn]] void EndWithoutDisplay(const std::string& reason) {
    std::fprintf(stderr, "%s\n", NoDisplayLine(reason).c_str());
    std::fflush(stderr);
    _exit(ExitNoDisplay);
}

// The toolkit gives up on a display with a fatal message (and would abort).
std::string ReasonOfFailedStart() {
    for (const std::string& held : HeldMessages)
        if (held.find("could not connect to display") != std::string::npos) {
            const std::string display = Environment("DISPLAY");
            return display.empty() ? "DISPLAY is not set" : "cannot connect to display " + display;
        }
    if (HeldMessages.empty()) return "the window system did not start";
    const std::string& last = HeldMessages.back();
    return "the window system did not start: " + last.substr(0, last.find('\n'));
}

void HoldMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg) EndWithoutDisplay(ReasonOfFailedStart());
    HeldMessages.push_back(qFormatLogMessage(type, context, text).toStdString());
}
}  // namespace

std::string NoDisplayLine(const std::string& reason) {
    return "Q40Prog: no display (" + reason +
           "); the window program needs a desktop session, q40prog-cli works without one";
}

std::string MissingDisplay(int argc, char** argv) {
    if (!Environment("QT_QPA_PLATFORM").empty()) return {};
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "-platform") == 0) return {};
    if (!Environment("DISPLAY").empty() || !Environment("WAYLAND_DISPLAY").empty()) return {};
    return "DISPLAY and WAYLAND_DISPLAY are not set";
}

std::unique_ptr<QApplication> OpenApplication(int& argc, char** argv) {
    if (const std::string missing = MissingDisplay(argc, argv); !missing.empty())
        EndWithoutDisplay(missing);
    const QtMessageHandler previous = qInstallMessageHandler(&HoldMessage);
    auto app = std::make_unique<TApplication>(argc, argv);
    qInstallMessageHandler(previous);
    for (const std::string& held : HeldMessages) std::fprintf(stderr, "%s\n", held.c_str());
    HeldMessages.clear();
    return app;
}
