#include "shell/Desktop.h"

#include <QApplication>
#include <QLineEdit>
#include <cstdio>

#include "shell/AppIdentity.h"

TDesktop::TDesktop(DesktopOptions options)
    : Options(std::move(options)), Endpoint([this](quint32 kind, const QByteArray& data) {
          return MainForm->CopyData(kind, data);
      }) {
    WarningForm = std::make_unique<TWarningForm>(Options.Location.CatalogueFile,
                                                 [this](std::optional<bool> production) {
                                                     if (production)
                                                         MainForm->ProductionMode = *production;
                                                     MainForm->exec();
                                                 });
    MainFormContext context = Options.Main;
    context.Location = Options.Location;
    context.ConfirmationWord = [this] { return WarningForm->Edit->text(); };
    context.CommandLineIdentifier = Options.CommandLineIdentifier;
    MainForm = std::make_unique<TMainForm>(std::move(context));
    QObject::connect(&Endpoint, &InstanceServer::ActivateRequested, &BringToFront);
}

TDesktop::~TDesktop() = default;

void TDesktop::Start() {
    if (!Endpoint.Listen(QString::fromStdString(Options.EndpointPath)))
        std::fprintf(stderr, "Q40Prog: no single-instance endpoint at %s: %s\n",
                     Options.EndpointPath.c_str(), Endpoint.ErrorText().toLocal8Bit().constData());
    WarningForm->show();
}

void SetUpApplicationIdentity() {
    QApplication::setOrganizationName("KARDO");
    QApplication::setApplicationName("Q40Prog");
    QApplication::setApplicationVersion(QString::fromStdString(VersionCaption(ProgramVersion())));
}

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
