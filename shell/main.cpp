// Q40Prog: one copy per user desktop; the confirmation window first, then the main window.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <exception>

#include "catalogue/CatalogueLocation.h"
#include "link/StandardDescriptors.h"
#include "shell/AppIdentity.h"
#include "shell/Desktop.h"
#include "shell/DisplayCheck.h"
#include "shell/InstanceLock.h"
#include "shell/InstanceProtocol.h"

namespace {
// The program ends with 0 whatever happened, except when it has no display (ExitNoDisplay).
constexpr int ExitCode = 0;

void AskRunningCopyToComeForward(const std::string& endpoint) {
    SendInstanceRequest(EncodeActivate(), endpoint, instance::AnswerWaitMs,
                        /*retryConnect=*/true);
}
}  // namespace

int main(int argc, char** argv) {
    // Before any file is opened: a serial port must never become stdout or stderr.
    if (!OpenClosedStandardDescriptors()) return 1;
    // The lock decides whether a copy runs: one that is busy or stopped still holds it. That
    // copy is asked to come forward; this start's command line is dropped.
    const std::string endpoint = InstanceEndpointPath();
    const InstanceLock lock(InstanceLockPath(endpoint));
    if (lock.Result() == InstanceLock::State::HeldByAnother) {
        AskRunningCopyToComeForward(endpoint);
        return ExitCode;
    }
    if (lock.Result() == InstanceLock::State::Unavailable) {
        std::fprintf(stderr, "Q40Prog: %s; one copy per desktop is not guaranteed\n",
                     lock.Problem().c_str());
        if (SendInstanceRequest(EncodeActivate(), endpoint)) return ExitCode;
    }

    const std::unique_ptr<QApplication> app = OpenApplication(argc, argv);
    SetUpApplicationIdentity();
    try {
        DesktopOptions options;
        options.Location = LocationOfProgram(OwnExecutablePath());
        options.CommandLineIdentifier = argc > 1 ? argv[1] : "";
        options.EndpointPath = endpoint;
        TDesktop desktop(std::move(options));
        desktop.Start();
        app->exec();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, ApplicationTitle, QString::fromLocal8Bit(e.what()));
    }
    return ExitCode;
}
