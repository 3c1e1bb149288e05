// Start-up's wiring, offscreen: the windows and the endpoint as the program makes them.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <cstdlib>
#include <functional>
#include <memory>

#include "shell/Desktop.h"
#include "shell/InstanceLock.h"
#include "shell/InstanceProtocol.h"
#include "tests/mainwindow/SampleCatalogue.h"
#include "tests/support/BoxFactory.h"
#include "tests/support/PrivateSettings.h"
#include "tests/support/TempFolder.h"

namespace {
constexpr int WaitMs = 20000;
constexpr int PollMs = 10;

struct DesktopFixture : ::testing::Test {
    DesktopFixture() {
        KeepSettingsIn(Settings.Path);
        // The endpoint where q40prog-cli looks for it, in a folder of this test's own.
        setenv("XDG_RUNTIME_DIR", Runtime.Path.c_str(), 1);
        Endpoint = InstanceEndpointPath();
    }

    TDesktop& Start(const std::string& commandLineIdentifier = "") {
        DesktopOptions options;
        options.Location = Sample.Location();
        options.CommandLineIdentifier = commandLineIdentifier;
        options.EndpointPath = Endpoint;
        options.Main.Links = Box.Factory();
        options.Main.Quit = [this] { ++QuitRequests; };
        Desktop = std::make_unique<TDesktop>(std::move(options));
        Desktop->Start();
        return *Desktop;
    }

    // Once the main window is shown and its selection shown, 'inside' runs; then the main
    // window is closed, as its Exit button does.
    void WhenTheMainWindowShows(const std::function<void(TMainForm&)>& inside) {
        Poll.disconnect();
        Poll.setInterval(PollMs);
        QObject::connect(&Poll, &QTimer::timeout, [this, inside] {
            TMainForm& main = Desktop->Main();
            if (!main.isVisible() || main.ChangeDelay->isActive()) return;
            Poll.stop();
            ++MainWindowsShown;
            inside(main);
            main.ExitButton->click();
        });
        Poll.start();
    }

    void Confirm(const QString& word) {
        Desktop->Warning().Edit->setText(word);
        Desktop->Warning().BtnOk->click();
    }

    static QString Selected(TMainForm& main) {
        const QTreeWidgetItem* node = main.SelectedNode();
        return node ? node->text(0) : QString();
    }

    static QStringList Groups(TMainForm& main) {
        QStringList groups;
        for (int i = 0; i < main.TreeView->topLevelItemCount(); ++i)
            groups << main.TreeView->topLevelItem(i)->text(0);
        return groups;
    }

    // Runs q40prog-cli while this test's event loop turns, so the endpoint can answer.
    struct CliResult {
        int ExitCode;
        QString Out, Err;
    };
    CliResult RunCli(const QStringList& args) {
        QProcess cli;
        cli.start(Q40CLI, args);
        EXPECT_TRUE(cli.waitForStarted());
        EXPECT_TRUE(QTest::qWaitFor([&] { return cli.state() == QProcess::NotRunning; }, WaitMs));
        return {cli.exitCode(), cli.readAllStandardOutput(), cli.readAllStandardError()};
    }

    TempFolder Settings, Runtime;
    SampleCatalogue Sample;
    BoxFactory Box;
    std::string Endpoint;
    std::unique_ptr<TDesktop> Desktop;
    QTimer Poll;
    int MainWindowsShown = 0;
    int QuitRequests = 0;
};
}  // namespace

TEST_F(DesktopFixture, CommandLineIdentifierPreselectsItsItems) {
    Start("AB305");
    QString selected, firstLine;
    WhenTheMainWindowShows([&](TMainForm& main) {
        selected = Selected(main);
        firstLine = main.Memo->toPlainText().section('\n', 0, 0);
    });
    Confirm("yes");
    ASSERT_EQ(MainWindowsShown, 1);
    EXPECT_EQ(selected, "Display board");
    EXPECT_EQ(firstLine, "Application Version: AB305");
    EXPECT_EQ(QuitRequests, 1);
    EXPECT_FALSE(Desktop->Warning().isVisible());
}

TEST_F(DesktopFixture, CliSelectReachesTheRunningCopysTree) {
    const InstanceLock lock(InstanceLockPath(Endpoint));  // held as start-up holds it
    ASSERT_EQ(lock.Result(), InstanceLock::State::Acquired) << lock.Problem();
    Start();
    CliResult select{}, tooLong{};
    QString selected;
    WhenTheMainWindowShows([&](TMainForm& main) {
        select = RunCli({"select", "AB1x5"});
        selected = Selected(main);
        tooLong = RunCli({"select", QString(instance::MaxCopyDataBytes + 1, 'A')});
    });
    Confirm("JA");
    ASSERT_EQ(MainWindowsShown, 1);
    EXPECT_EQ(select.ExitCode, 0) << select.Err.toStdString();
    EXPECT_EQ(select.Out, "1\n");
    EXPECT_EQ(selected, "Keypad");  // AB1+5, AB175 and AB1*5 match; the last in tree order stays
    EXPECT_EQ(tooLong.ExitCode, 2);
    EXPECT_TRUE(tooLong.Err.contains("identifier too long")) << tooLong.Err.toStdString();
}

TEST_F(DesktopFixture, CliSelectWithoutARunningCopySaysSo) {
    const CliResult r = RunCli({"select", "AB305"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_TRUE(r.Err.contains("no running Q40Prog found")) << r.Err.toStdString();
}

TEST_F(DesktopFixture, HiddenGestureTurnsOnProductionMode) {
    const Qt::KeyboardModifiers ctrlAlt = Qt::ControlModifier | Qt::AltModifier;
    const struct {
        const char* Case;
        Qt::MouseButton Button;
        Qt::KeyboardModifiers FirstPress, SecondPress;
        int MainWindows;
        bool Production;
    } cases[] = {
        {"left, Ctrl+Alt held from the first press", Qt::LeftButton, ctrlAlt, ctrlAlt, 1, true},
        {"left, Ctrl+Alt at the first press only", Qt::LeftButton, ctrlAlt, {}, 1, true},
        {"left, Ctrl+Alt at the second press only", Qt::LeftButton, {}, ctrlAlt, 1, false},
        {"left, no keys", Qt::LeftButton, {}, {}, 1, false},
        {"right, Ctrl+Alt", Qt::RightButton, ctrlAlt, ctrlAlt, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Case);
        MainWindowsShown = 0;
        Start();
        QStringList groups;
        WhenTheMainWindowShows([&](TMainForm& main) { groups = Groups(main); });
        QWidget* picture = Desktop->Warning().Image;
        QTest::mousePress(picture, c.Button, c.FirstPress);
        QTest::mouseRelease(picture, c.Button, c.FirstPress);
        QTest::mouseDClick(picture, c.Button, c.SecondPress);
        QTest::mouseRelease(picture, c.Button, c.SecondPress);
        Poll.stop();
        EXPECT_EQ(MainWindowsShown, c.MainWindows);
        EXPECT_EQ(groups.contains("Production"), c.Production) << groups.join(',').toStdString();
        EXPECT_EQ(Desktop->Warning().isVisible(), c.MainWindows == 0);
    }
}
