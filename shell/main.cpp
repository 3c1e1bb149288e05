// Q40Prog: one copy per user desktop; the confirmation window first, then the main window.
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <cstdio>
#include <exception>
#include <memory>

#include "catalogue/CatalogueLocation.h"
#include "catalogue/MainForm.h"
#include "shell/AppIdentity.h"
#include "shell/InstanceProtocol.h"
#include "shell/InstanceServer.h"
#include "shell/WarningForm.h"

namespace {
constexpr int ExitCode = 0;  // the program ends with 0 whatever happened

// The window a user would expect to come forward: a modal one if open, else any shown one.
void BringToFront() {
    QWidget* w = QApplication::activeModalWidget();
    if (!w) {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->isVisible() && top->isWindow()) w = top;
    }
    if (!w) return;
    w->showNormal();
    w->raise();
    w->activateWindow();
}

int Run(QApplication& app, const std::string& commandLineId) {
    const CatalogueLocation where = LocationOfProgram(OwnExecutablePath());
    std::unique_ptr<TMainForm> mainForm;
    TWarningForm warning(where.CatalogueFile, [&](std::optional<bool> production) {
        if (production) mainForm->ProductionMode = *production;
        mainForm->exec();
    });
    MainFormContext context;
    context.Location = where;
    context.ConfirmationWord = [&warning] { return warning.Edit->text(); };
    context.CommandLineIdentifier = commandLineId;
    mainForm = std::make_unique<TMainForm>(context);

    InstanceServer endpoint(
        [&](quint32 kind, const QByteArray& data) { return mainForm->CopyData(kind, data); });
    QObject::connect(&endpoint, &InstanceServer::ActivateRequested, &BringToFront);
    if (!endpoint.Listen(QString::fromStdString(InstanceEndpointPath())))
        std::fprintf(stderr, "Q40Prog: no single-instance endpoint: %s\n",
                     endpoint.ErrorText().toLocal8Bit().constData());

    warning.show();
    app.exec();
    return ExitCode;
}
}  // namespace

int main(int argc, char** argv) {
    // A running copy is brought forward; this start's command line is dropped.
    if (SendInstanceRequest(EncodeActivate())) return ExitCode;

    QApplication app(argc, argv);
    QApplication::setOrganizationName("KARDO");
    QApplication::setApplicationName("Q40Prog");
    QApplication::setApplicationDisplayName(ApplicationTitle);
    QApplication::setApplicationVersion(QString::fromStdString(VersionCaption(ProgramVersion())));
    try {
        return Run(app, argc > 1 ? argv[1] : "");
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, ApplicationTitle, QString::fromLocal8Bit(e.what()));
    }
    return ExitCode;
}
