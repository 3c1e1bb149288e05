#pragma once
// One main window on the sample catalogue, its programming window on the in-process box,
// settings in a temporary folder, and message boxes that answer themselves.

#include <gtest/gtest.h>

#include <QLocale>
#include <QPlainTextEdit>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <memory>
#include <vector>

#include "catalogue/MainForm.h"
#include "programming/ProgForm.h"
#include "tests/mainwindow/SampleCatalogue.h"
#include "tests/support/BoxFactory.h"
#include "tests/support/PrivateSettings.h"
#include "tests/support/RecordingBoxes.h"
#include "tests/support/TempFolder.h"

inline BoxConfig ChipConfig(const char* chip) {
    BoxConfig config;
    config.Chip = chip;
    return config;
}

struct WindowFixture : ::testing::Test {
    static constexpr int WaitMs = 20000;

    WindowFixture() {
        // Group order follows the locale; English puts lower case before upper case.
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        KeepSettingsIn(SettingsFolder.Path);
        Prog.SetDataFolder(DataFolder.Path);
    }

    std::unique_ptr<TMainForm> MakeForm(const std::string& identifier = "",
                                        const QString& word = "YES") {
        MainFormContext context;
        context.Location = Location;
        context.ProgForm = &Prog;
        context.ConfirmationWord = [word] { return word; };
        context.CommandLineIdentifier = identifier;
        context.Links = Factory.Factory();
        context.OpenUrl = [this](const QUrl& url) { Opened.push_back(url); };
        context.Quit = [this] { ++QuitRequests; };
        context.ListPorts = [this] { return SystemPorts; };
        return std::make_unique<TMainForm>(std::move(context));
    }

    // Shows a window made by MakeForm and waits until the selection's details are shown.
    TMainForm& Show(const std::string& identifier = "", const QString& word = "YES",
                    bool productionMode = false) {
        Form = MakeForm(identifier, word);
        Form->ProductionMode = productionMode;
        Form->show();
        Settle();
        return *Form;
    }

    void Settle() {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !Form->ChangeDelay->isActive(); }, WaitMs));
    }

    QTreeWidgetItem* Node(const QString& text) const {
        const auto found = Form->TreeView->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
        return found.size() == 1 ? found.front() : nullptr;
    }

    void Select(const QString& text) {
        QTreeWidgetItem* node = Node(text);
        ASSERT_NE(node, nullptr) << text.toStdString();
        Form->TreeView->setCurrentItem(node);
        Settle();
    }

    QString Current() const {
        const QTreeWidgetItem* node = Form->SelectedNode();
        return node ? node->text(0) : QString();
    }

    QStringList MemoLines() const { return Form->Memo->toPlainText().split('\n'); }

    TempFolder SettingsFolder, DataFolder;
    SampleCatalogue Sample;
    CatalogueLocation Location = Sample.Location();
    BoxFactory Factory{ChipConfig("ATmega644")};
    TProgForm Prog;
    RecordingBoxes Boxes;
    std::vector<QUrl> Opened;
    std::vector<SerialPortInfo> SystemPorts;  // what the port list finds, as the test sets it
    int QuitRequests = 0;
    std::unique_ptr<TMainForm> Form;
};
