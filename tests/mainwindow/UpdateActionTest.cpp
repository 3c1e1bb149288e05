// The update action, the programmer check and closing, against the in-process box.
#include <QComboBox>
#include <QPushButton>
#include <cerrno>
#include <fstream>
#include <functional>

#include "tests/mainwindow/WindowFixture.h"

namespace {
constexpr int PollMs = 10;
const QString NoMatch = "This item cannot be programmed using this selection!";

struct UpdateAction : WindowFixture {
    // Closes the modal programming window once its run has ended; 'whileOpen' runs just
    // before, with the window still open.
    void AnswerProgrammingWindow(const std::function<void()>& whileOpen) {
        Poll.setInterval(PollMs);
        QObject::connect(&Poll, &QTimer::timeout, [this, whileOpen] {
            if (!Prog.isVisible() || Prog.CloseButton->text() != "Close") return;
            Poll.stop();
            ++ProgrammingWindowsShown;
            whileOpen();
            Prog.CloseButton->click();
        });
        Poll.start();
    }

    void ClickUpdate() { QTest::mouseClick(Form->ButtonUpdate, Qt::LeftButton); }

    QTimer Poll;
    int ProgrammingWindowsShown = 0;
};
}  // namespace

TEST_F(UpdateAction, LastMatchingEntryIsHandedOverAndProgrammed) {
    Show();
    Select("Main controller");
    Form->PortBox->setEditText("ttyUSB3");
    bool disabledWhileOpen = false;
    QString selectedWhileOpen;
    AnswerProgrammingWindow([&] {
        disabledWhileOpen = !Form->ButtonUpdate->isEnabled();
        // Another program's request reaches the window behind the programming window.
        EXPECT_EQ(Form->CopyData(0, "AB305"), 1);
        selectedWhileOpen = Current();
    });
    ClickUpdate();

    ASSERT_EQ(ProgrammingWindowsShown, 1);
    const RunParams& p = Prog.Params;
    EXPECT_EQ(p.FirmwarePath, Sample.Firmware("main.bin"));
    EXPECT_EQ(p.FuseLo, "0xD7");
    EXPECT_EQ(p.FuseHi, "0xD9");
    EXPECT_EQ(p.FuseEx, "0xFD");
    EXPECT_EQ(p.Speed, "20");
    EXPECT_EQ(p.Bootloader, "4096");
    EXPECT_EQ(p.PortName, "ttyUSB3");
    EXPECT_TRUE(Prog.LastOutcome().Success) << Prog.LastOutcome().Message;
    EXPECT_EQ(Prog.LastOutcome().ImageLength, 4096);
    EXPECT_EQ(Factory.Box.Target.FuseLo, 0xD7);
    EXPECT_EQ(Factory.Box.Target.FuseEx, 0xFD);
    EXPECT_TRUE(Boxes.All.empty());
    EXPECT_TRUE(disabledWhileOpen);
    EXPECT_TRUE(Form->ButtonUpdate->isEnabled());
    EXPECT_EQ(selectedWhileOpen, "Display board");
}

TEST_F(UpdateAction, ChipNamedByNoEntryGivesThePlainBoxOnly) {
    const char* items[] = {"Display board", "Keypad"};  // ATmega128 only; no entries at all
    for (const char* item : items) {
        SCOPED_TRACE(item);
        Boxes.All.clear();
        Prog.Params = RunParams{"before", "before", "before", "before", "before", "before", ""};
        Show();
        Select(item);
        Form->PortBox->setEditText("ttyUSB4");
        AnswerProgrammingWindow([] {});
        ClickUpdate();
        Poll.stop();

        EXPECT_EQ(ProgrammingWindowsShown, 0);
        ASSERT_EQ(Boxes.All.size(), 1u);
        EXPECT_EQ(Boxes.All[0].Kind, "plain");
        EXPECT_EQ(Boxes.All[0].Title, "KARDO Q-Series Programmer");
        EXPECT_EQ(Boxes.All[0].Text, NoMatch);
        EXPECT_EQ(Prog.Params.FuseLo, "before");
        EXPECT_EQ(Prog.Params.FirmwarePath, "before");
        EXPECT_EQ(Prog.Params.PortName, "ttyUSB4");
        EXPECT_TRUE(Form->ButtonUpdate->isEnabled());
    }
}

TEST_F(UpdateAction, WithoutABoxOnlyTheChipQueryReports) {
    Factory.OpenErrno = ENOENT;
    Show();
    Select("Main controller");
    ClickUpdate();
    ASSERT_EQ(Boxes.All.size(), 1u);
    EXPECT_EQ(Boxes.All[0].Kind, "error");
    EXPECT_EQ(Boxes.All[0].Text, "Error opening serial port. Port not available.");
    EXPECT_EQ(Factory.LinksMade, 1);
    EXPECT_TRUE(Form->ButtonUpdate->isEnabled());
}

TEST_F(UpdateAction, NothingHappensWithoutAnItemNode) {
    Show();
    ClickUpdate();  // no selection
    Select("Boards");
    ClickUpdate();
    EXPECT_EQ(Factory.LinksMade, 0);
    EXPECT_TRUE(Boxes.All.empty());
    EXPECT_TRUE(Form->ButtonUpdate->isEnabled());
}

TEST_F(UpdateAction, CheckUsesThePortAsTyped) {
    Show();
    Form->PortBox->setEditText("ttyUSB9");
    QTest::mouseClick(Form->CheckButton, Qt::LeftButton);
    EXPECT_EQ(Prog.Params.PortName, "ttyUSB9");
    ASSERT_EQ(Boxes.All.size(), 1u);
    EXPECT_EQ(Boxes.All[0].Kind, "information");
    EXPECT_EQ(Boxes.All[0].Text, "KARDO Programmer \"AVR\"  V2.5");
}

TEST_F(UpdateAction, EveryWayOfClosingStoresThePortAndEndsTheProgram) {
    const struct {
        const char* Way;
        std::function<void(TMainForm&)> Close;
    } cases[] = {
        {"Exit", [](TMainForm& f) { QTest::mouseClick(f.ExitButton, Qt::LeftButton); }},
        {"close box", [](TMainForm& f) { f.close(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Way);
        QuitRequests = 0;
        Show();
        Form->PortBox->setEditText(QString("ttyUSB_") + c.Way);
        c.Close(*Form);
        EXPECT_FALSE(Form->isVisible());
        EXPECT_EQ(QuitRequests, 1);
        EXPECT_EQ(QSettings("KARDO", "Q40-Programmer").value("ComPort").toString(),
                  QString("ttyUSB_") + c.Way);
    }
}

TEST_F(UpdateAction, RememberedPortIsRestoredWhenShown) {
    const std::string remembered = DataFolder.File("ttyREMEMBERED");
    std::ofstream(remembered).put('\n');  // an existing device path no enumeration lists
    const struct {
        QString Stored, Shown;
    } cases[] = {
        {QString::fromStdString(remembered), QString::fromStdString(remembered)},
        {"ttyNOWHERE", "ttyS0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Stored.toStdString());
        QSettings("KARDO", "Q40-Programmer").setValue("ComPort", c.Stored);
        Show();
        EXPECT_EQ(Form->PortBox->currentText(), c.Shown);
    }
}

TEST_F(UpdateAction, EscapeNeitherClosesNorEndsTheProgram) {
    Show();
    Select("Main controller");
    QTest::keyClick(Form->TreeView, Qt::Key_Escape);
    QTest::keyClick(Form.get(), Qt::Key_Escape);
    EXPECT_TRUE(Form->isVisible());
    EXPECT_EQ(QuitRequests, 0);
}
