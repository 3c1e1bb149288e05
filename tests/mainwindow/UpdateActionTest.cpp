// The update action, the programmer check and closing, against the in-process box.
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>

#include "catalogue/FittedPicture.h"
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

    // An administrator copies a new catalogue into place: 'edit' makes it from the old one.
    void ReplaceCatalogue(const std::function<void(std::string&)>& edit) {
        std::string text;
        {
            std::ifstream in(Location.CatalogueFile, std::ios::binary);
            text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        edit(text);
        const std::string fresh = Location.CatalogueFile + ".new";
        std::ofstream(fresh, std::ios::binary) << text;
        ASSERT_EQ(std::rename(fresh.c_str(), Location.CatalogueFile.c_str()), 0);
    }

    int ItemNumberOf(const QTreeWidgetItem* node) const {
        const auto data = TMainForm::NodeData(node);
        return data ? data->ItemNumber : 0;
    }

    QTimer Poll;
    int ProgrammingWindowsShown = 0;
};

void ReplaceOnce(std::string& text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
}

// Main controller and Display board trade their item numbers.
void SwapItems1And3(std::string& text) {
    ReplaceOnce(text, "[ITEM_1]", "[ITEM_X]");
    ReplaceOnce(text, "[ITEM_3]", "[ITEM_1]");
    ReplaceOnce(text, "[ITEM_X]", "[ITEM_3]");
}
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
    const struct {
        const char* Item;
        QString Detail;  // below the text: the chip that answered, the chips the item lists
    } cases[] = {
        {"Display board", "The connected chip is ATmega644; this item lists ATmega128."},
        {"Keypad", "The connected chip is ATmega644; this item lists no chip."},
    };
    for (const auto& [item, detail] : cases) {
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
        EXPECT_EQ(Boxes.All[0].Detail, detail);
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

// ---- a catalogue replaced under the open window ----------------------------------------

// The numbers changed hands: the node the user chose, Main controller, runs Main controller's
// firmware and entries, now those of item 3. Until the next click the tree stays as it was.
TEST_F(UpdateAction, SwappedItemsRunTheItemTheNodeNames) {
    Show();
    Select("Main controller");
    Form->TreeView->expandItem(Node("Displays"));
    QTreeWidgetItem* const mainBefore = Node("Main controller");
    Select("Display board");  // the file unchanged: the tree stays, node for node
    EXPECT_EQ(Node("Main controller"), mainBefore);
    Select("Main controller");

    ReplaceCatalogue(SwapItems1And3);
    ReplaceCatalogue([](std::string& text) {
        ReplaceOnce(text, "Info_en_1=Controller board of the front unit",
                    "Info_en_1=Controller board, new catalogue");
    });
    EXPECT_EQ(ItemNumberOf(Node("Main controller")), 1);
    AnswerProgrammingWindow([] {});
    ClickUpdate();

    ASSERT_EQ(ProgrammingWindowsShown, 1);
    EXPECT_TRUE(Boxes.All.empty());
    EXPECT_EQ(Prog.Params.FirmwarePath, Sample.Firmware("main.bin"));
    EXPECT_EQ(Prog.Params.FuseLo, "0xD7");
    EXPECT_EQ(Prog.Params.Bootloader, "4096");
    EXPECT_TRUE(Prog.LastOutcome().Success) << Prog.LastOutcome().Message;
    EXPECT_EQ(Current(), "Main controller");
    EXPECT_EQ(ItemNumberOf(Form->SelectedNode()), 3);
    EXPECT_EQ(ItemNumberOf(Node("Display board")), 1);
    EXPECT_TRUE(Node("Displays")->isExpanded());
    // The details shown before the run were the new catalogue's.
    EXPECT_EQ(MemoLines().at(1), "Controller board, new catalogue");
}

// The chosen item is gone from the new catalogue, or has another name there: nothing is
// selected, nothing is asked of the box, and the details area says why.
TEST_F(UpdateAction, RemovedOrRenamedItemIsNeitherRunNorSelected) {
    const struct {
        const char* Change;
        const char* Chosen;
        std::function<void(std::string&)> Edit;
        QString Note;
        const char* Successor;  // what the new tree shows instead; nullptr: nothing
    } cases[] = {
        {"removed", "Keypad", [](std::string& t) { ReplaceOnce(t, "NAME=Keypad\n", ""); },
         "The catalogue was replaced: it no longer lists Keypad under Displays. Choose an item "
         "again.",
         nullptr},
        {"renamed", "Main controller",
         [](std::string& t) { ReplaceOnce(t, "NAME=Main controller", "NAME=Main controller 2"); },
         "The catalogue was replaced: it no longer lists Main controller under Boards. Choose an "
         "item again.",
         "Main controller 2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Change);
        Boxes.All.clear();
        Show();
        Select(c.Chosen);
        EXPECT_TRUE(Form->Image->isVisible() || Form->ImagePanel->text() == "No Image available");
        ReplaceCatalogue(c.Edit);
        const int linksBefore = Factory.LinksMade;
        AnswerProgrammingWindow([] {});
        ClickUpdate();
        Poll.stop();

        EXPECT_EQ(ProgrammingWindowsShown, 0);
        EXPECT_EQ(Factory.LinksMade, linksBefore);
        EXPECT_TRUE(Boxes.All.empty());
        EXPECT_EQ(Current(), "");
        EXPECT_EQ(Form->Memo->toPlainText(), c.Note);
        EXPECT_FALSE(Form->Image->isVisible());
        EXPECT_FALSE(Form->ButtonHomepage->isEnabled());
        EXPECT_EQ(Node(c.Chosen), nullptr);
        if (c.Successor) {
            EXPECT_NE(Node(c.Successor), nullptr);
        }
        EXPECT_TRUE(Form->ButtonUpdate->isEnabled());
        // The note stays until the user chooses again.
        QTest::qWait(TMainForm::ChangeDelayMs * 2);
        EXPECT_EQ(Form->Memo->toPlainText(), c.Note);
    }
}

// Choosing a node shows its details from the catalogue in force: the tree is rebuilt first,
// the choice kept where its namesake is, dropped with the note where it is not.
TEST_F(UpdateAction, ChoosingANodeAfterAReplacementShowsTheNewCatalogue) {
    Show();
    Select("Keypad");
    ReplaceCatalogue([](std::string& t) {
        SwapItems1And3(t);
        ReplaceOnce(t, "Info_en_2=Keep the unit switched on while updating",
                    "Info_en_2=Keep it on");
    });
    Select("Main controller");  // a node of the old tree, number 1
    EXPECT_EQ(Current(), "Main controller");
    EXPECT_EQ(ItemNumberOf(Form->SelectedNode()), 3);
    EXPECT_EQ(MemoLines().at(2), "Keep it on");

    ReplaceCatalogue(
        [](std::string& t) { ReplaceOnce(t, "NAME=Photo board", "NAME=Photo board II"); });
    Select("Photo board");  // still in the tree until the catalogue is next looked at
    EXPECT_EQ(Current(), "");
    EXPECT_EQ(Form->Memo->toPlainText(),
              "The catalogue was replaced: it no longer lists Photo board under Boards. Choose an "
              "item again.");
    EXPECT_EQ(
        Form->TreeView->findItems("Photo board", Qt::MatchExactly | Qt::MatchRecursive).size(), 0);
    EXPECT_NE(Node("Photo board II"), nullptr);
}

// Another program's identifier is looked up in the catalogue in force.
TEST_F(UpdateAction, IdentifierFromAnotherProgramMatchesTheNewCatalogue) {
    Show();
    ReplaceCatalogue([](std::string& t) { ReplaceOnce(t, "VERSION=AB1*5", "VERSION=AB905"); });
    EXPECT_EQ(Form->CopyData(0, "AB905"), 1);
    Settle();
    EXPECT_EQ(Current(), "Keypad");
    EXPECT_EQ(MemoLines().front(), "Application Version: ");
}

// Replaced while the box answers the chip query: the run is the item as the tree showed it,
// firmware and processor entry from one catalogue; the next click sees the new one.
TEST_F(UpdateAction, CatalogueReplacedDuringTheChipQueryDoesNotMixIntoTheRun) {
    Show();
    Select("Main controller");
    bool replaced = false;
    Prog.SetLinkFactory([this, &replaced] {
        if (!replaced) {
            replaced = true;
            ReplaceCatalogue([](std::string& t) {
                SwapItems1And3(t);
                ReplaceOnce(t, "Fuse_Lo_3=0xD7", "Fuse_Lo_3=0xC2");
            });
        }
        return Factory.Factory()();
    });
    AnswerProgrammingWindow([] {});
    ClickUpdate();
    ASSERT_EQ(ProgrammingWindowsShown, 1);
    EXPECT_TRUE(Boxes.All.empty());
    EXPECT_EQ(Prog.Params.FirmwarePath, Sample.Firmware("main.bin"));
    EXPECT_EQ(Prog.Params.FuseLo, "0xD7");
    EXPECT_EQ(ItemNumberOf(Form->SelectedNode()), 1);

    AnswerProgrammingWindow([] {});
    ClickUpdate();
    ASSERT_EQ(ProgrammingWindowsShown, 2);
    EXPECT_EQ(ItemNumberOf(Form->SelectedNode()), 3);
    EXPECT_EQ(Prog.Params.FuseLo, "0xC2");
}
