// The main window offscreen: tree, details, pictures, selection by identifier.
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSplitter>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "catalogue/FittedPicture.h"
#include "tests/mainwindow/WindowFixture.h"
#include "tests/support/TextEncodings.h"

namespace {
QStringList TreeDump(const QTreeWidget& tree) {
    QStringList lines;
    for (int g = 0; g < tree.topLevelItemCount(); ++g) {
        const QTreeWidgetItem* group = tree.topLevelItem(g);
        EXPECT_FALSE(TMainForm::NodeData(group)) << group->text(0).toStdString();
        lines << group->text(0);
        for (int i = 0; i < group->childCount(); ++i)
            lines << "  " + group->child(i)->text(0) + " #" +
                         QString::number(TMainForm::NodeData(group->child(i))->ItemNumber);
    }
    return lines;
}

const QStringList CommonGroups = {
    "Alpha",
    "  App only #8",
    "  Missing picture #14",
    "  Unnamed picture #15",
    "  Shouting photo #17",
    "Boards",
    "  Main controller #1",
    "  Photo board #9",
    "  Vector board #10",
    "  Drawing board #11",
    "  Fake photo #12",
    "displays",
    "  Display board #3",
    "Displays",
    "  Keypad #4",
    "File Not Found",
    "  Lost board #7",
};
// A circuit board for the screenshot.
QImage BoardPicture() {
    QImage picture(480, 300, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(0x1F, 0x6E, 0x43));
    p.setPen(QPen(QColor(0x14, 0x4D, 0x2E), 4));
    p.drawRoundedRect(QRectF(30, 30, 420, 240), 16, 16);
    p.setBrush(QColor(0x22, 0x22, 0x22));
    p.setPen(Qt::NoPen);
    p.drawRect(QRectF(170, 100, 140, 100));
    p.setBrush(QColor(0xC8, 0xA0, 0x40));
    for (int i = 0; i < 10; ++i) {
        p.drawRect(QRectF(176 + i * 13.5, 86, 6, 14));
        p.drawRect(QRectF(176 + i * 13.5, 200, 6, 14));
    }
    for (int i = 0; i < 6; ++i) p.drawRect(QRectF(60, 70 + i * 14, 30, 8));
    p.setPen(Qt::white);
    QFont font = p.font();
    font.setPixelSize(20);
    p.setFont(font);
    p.drawText(QRectF(170, 100, 140, 100), Qt::AlignCenter, "Q40");
    return picture;
}
}  // namespace

using MainForm = WindowFixture;

TEST_F(MainForm, LayoutAndCaptions) {
    Show();
    EXPECT_EQ(Form->windowTitle(), "KARDO Q-Series Programmer");
    EXPECT_EQ(Form->minimumSize(), QSize(640, 480));
    EXPECT_EQ(Form->GroupBox2->title(), "Serial Port");
    EXPECT_TRUE(Form->PortBox->isEditable());
    EXPECT_EQ(Form->CheckButton->text(), "Check");
    EXPECT_EQ(Form->ButtonHomepage->text(), "Kardo Support");
    EXPECT_FALSE(Form->ButtonHomepage->isEnabled());
    EXPECT_EQ(Form->ButtonUpdate->text(), "Update Firmware");
    EXPECT_EQ(Form->ExitButton->text(), "Exit");
    EXPECT_EQ(Form->ChangeDelay->interval(), TMainForm::ChangeDelayMs);
    EXPECT_TRUE(Form->ChangeDelay->isSingleShot());
    EXPECT_EQ(Form->ImagePanel->font().pixelSize(), 27);
    EXPECT_EQ(Form->Memo->font().pixelSize(), 13);
    EXPECT_EQ(Form->TreeView->font().pixelSize(), 11);
}

TEST_F(MainForm, RightButtonsKeepTheirDistanceToTheRightEdge) {
    Show();
    const auto gaps = [&] {
        return std::pair(Form->Panel2->width() - Form->ButtonUpdate->x(),
                         Form->Panel2->width() - Form->ExitButton->x());
    };
    const auto before = gaps();
    const int homepageX = Form->ButtonHomepage->x();
    Form->resize(900, 600);
    QTest::qWait(0);
    EXPECT_EQ(gaps(), before);
    EXPECT_EQ(Form->ButtonHomepage->x(), homepageX);
    EXPECT_EQ(Form->Panel2->height(), 63);
}

TEST_F(MainForm, TreeByProductionMode) {
    const struct {
        bool ProductionMode;
        QStringList Extra;
    } cases[] = {
        {false, {}},
        // The parent lookup is case-sensitive: two production groups, lower case first.
        {true, {"production", "  Fixture tool #6", "Production", "  Test fixture #5"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ProductionMode);
        Show("", "YES", c.ProductionMode);
        EXPECT_EQ(TreeDump(*Form->TreeView), CommonGroups + c.Extra);
        EXPECT_EQ(Form->SelectedNode(), nullptr);
    }
}

TEST_F(MainForm, PictureByType) {
    const struct {
        int Item;
        QSize Shown;  // empty: "No Image available"
    } cases[] = {
        {1, SampleCatalogue::PictureSize},   // jpg
        {3, SampleCatalogue::PictureSize},   // bmp
        {4, SampleCatalogue::PictureSize},   // tif
        {5, SampleCatalogue::PictureSize},   // tiff
        {6, SampleCatalogue::IconSize},      // ico
        {9, SampleCatalogue::PictureSize},   // jpeg
        {17, SampleCatalogue::PictureSize},  // JPG
        {8, {}},                             // no Image key
        {10, {}},                            // emf
        {11, {}},                            // wmf
        {12, {}},                            // a PNG named .jpg
        {14, {}},                            // named but absent
        {15, {}},                            // no extension
    };
    Show();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Item);
        Form->ShowItemDetails(c.Item);
        EXPECT_EQ(Form->Image->isVisible(), !c.Shown.isEmpty());
        EXPECT_EQ(Form->ImagePanel->text(), c.Shown.isEmpty() ? "No Image available" : "");
        if (!c.Shown.isEmpty()) {
            EXPECT_EQ(Form->Image->Picture().size(), c.Shown);
        }
    }
}

TEST_F(MainForm, VersionLine) {
    const struct {
        int Item;
        QString Line;
    } cases[] = {
        {1, "Application Version: AB175, Bootloader Version: AB1*5"},
        {8, "Application Version: AB175, Bootloader Version: "},  // no bootloader inside
        {3, "Application Version: AB305"},
        {4, "Application Version: AB1*5"},
        {7, "Application Version: "},   // firmware file missing
        {10, "Application Version: "},  // no VERSION
    };
    Show();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Item);
        Form->ShowItemDetails(c.Item);
        EXPECT_EQ(MemoLines().front(), c.Line);
    }
}

TEST_F(MainForm, DescriptionLanguageFollowsTheConfirmationWord) {
    const QStringList english = {"Controller board of the front unit",
                                 "Keep the unit switched on while updating",
                                 "Line four, after a gap"};
    const QStringList german = {"Steuerplatine der Fronteinheit"};
    const struct {
        QString Word;
        const QStringList& Lines;
    } cases[] = {
        {"YES", english}, {"yes", english}, {"yE\u017F", english},  // long s upper-cases to S
        {"JA", german},   {"", german},     {"YES ", german},      {"YESS", german},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Word.toStdString());
        Show("", c.Word);
        Form->ShowItemDetails(1);
        EXPECT_EQ(MemoLines().mid(1), c.Lines);
        EXPECT_EQ(Form->Memo->textCursor().position(), 0);
    }
}

// A catalogue saved as "Unicode" (UTF-16 with a byte-order mark) shows as its UTF-8 twin.
TEST_F(MainForm, Utf16CatalogueShowsTheSameTreeAndDetails) {
    std::string text;
    {
        std::ifstream in(Location.CatalogueFile, std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const std::string before = "Info_ge_1=Steuerplatine der Fronteinheit";
    ASSERT_NE(text.find(before), std::string::npos);
    text.replace(text.find(before), before.size(), "Info_ge_1=Steuerplatine der Türeinheit");
    for (const bool bigEndian : {false, true}) {
        SCOPED_TRACE(bigEndian ? "big-endian" : "little-endian");
        std::ofstream(Location.CatalogueFile, std::ios::binary | std::ios::trunc)
            << textenc::Utf16(text, bigEndian);
        Show("", "JA");
        EXPECT_EQ(TreeDump(*Form->TreeView), CommonGroups);
        Form->ShowItemDetails(1);
        EXPECT_EQ(MemoLines().mid(1), QStringList{"Steuerplatine der Türeinheit"});
    }
}

TEST_F(MainForm, SelectionByIdentifier) {
    const struct {
        const char* Identifier;
        QString Selected;  // empty: nothing
    } cases[] = {
        // AB1+5, AB175 and AB1*5 all match; the last in tree order stays selected.
        {"AB1x5", "Keypad"},
        {"AB3057", "Display board"},  // only characters 1 to 5 count
        {"AB305", "Display board"},
        {"ab305", ""},
        {"AB1+", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Identifier);
        Show(c.Identifier);
        EXPECT_EQ(Current(), c.Selected);
        EXPECT_EQ(Form->focusWidget(), Form->TreeView);
    }
}

TEST_F(MainForm, LaterMatchInTreeOrderShowsItsDetails) {
    Show("AB1x5");
    ASSERT_EQ(Current(), "Keypad");
    EXPECT_EQ(MemoLines().front(), "Application Version: AB1*5");
    EXPECT_EQ(Form->ImagePanel->text(), "");
}

TEST_F(MainForm, GroupNodeAfterAnItemKeepsTheSupportButton) {
    Show();
    Select("Main controller");
    EXPECT_TRUE(Form->ButtonHomepage->isEnabled());
    Select("Boards");
    EXPECT_FALSE(Form->Image->isVisible());
    EXPECT_EQ(Form->Memo->toPlainText(), "");
    EXPECT_TRUE(Form->ButtonHomepage->isEnabled());
    QTest::mouseClick(Form->ButtonHomepage, Qt::LeftButton);
    ASSERT_EQ(Opened.size(), 1u);
    EXPECT_EQ(Opened.front(), QUrl("https://www.example.com/support/main"));

    Select("Display board");
    EXPECT_FALSE(Form->ButtonHomepage->isEnabled());
    EXPECT_TRUE(Form->HomepageUrl.empty());
}

TEST_F(MainForm, OnlyTheLastOfQuickChangesIsShown) {
    Show();
    Form->TreeView->setCurrentItem(Node("Main controller"));
    Form->TreeView->setCurrentItem(Node("Display board"));
    EXPECT_EQ(Form->Memo->toPlainText(), "");
    Settle();
    EXPECT_EQ(MemoLines().front(), "Application Version: AB305");
}

TEST_F(MainForm, CopyDataSelectsByIdentifierForKindZeroOnly) {
    Form = MakeForm();
    // Hidden: the tree is still empty and the window not shown.
    EXPECT_EQ(Form->CopyData(0, QByteArray("AB305", 6)), 1);
    EXPECT_EQ(Form->TreeView->topLevelItemCount(), 0);
    EXPECT_FALSE(Form->isVisible());

    Form->show();
    EXPECT_EQ(Form->CopyData(1, QByteArray("AB305", 6)), 1);
    EXPECT_EQ(Current(), "");
    EXPECT_EQ(Form->CopyData(0, QByteArray("AB305\0AB1x5", 11)), 1);
    EXPECT_EQ(Current(), "Display board");
    EXPECT_EQ(Form->CopyData(0, QByteArray("AB1x5")), 1);  // without a terminating zero
    EXPECT_EQ(Current(), "Keypad");
    EXPECT_EQ(Form->CopyData(7, QByteArray()), 1);
    EXPECT_EQ(Current(), "Keypad");
}

TEST(FittedRect, KeepsProportionsAndCentres) {
    const struct {
        QSize Picture, Area;
        QRect Expected;
    } cases[] = {
        {{40, 20}, {100, 100}, {0, 25, 100, 50}},    // wide picture, grown
        {{20, 40}, {100, 100}, {25, 0, 50, 100}},    // tall picture
        {{400, 100}, {200, 100}, {0, 25, 200, 50}},  // shrunk
        {{50, 50}, {50, 50}, {0, 0, 50, 50}},       {{0, 0}, {50, 50}, {}}, {{40, 20}, {0, 0}, {}},
    };
    for (const auto& c : cases) EXPECT_EQ(FittedRect(c.Picture, c.Area), c.Expected);
}

TEST_F(MainForm, PictureFollowsTheSplitters) {
    Show();
    Select("Main controller");
    const QRect before = Form->Image->PictureRect();
    Form->Splitter2->setSizes({340, 300});  // a wider tree leaves the picture less room
    QTest::qWait(0);
    const QRect after = Form->Image->PictureRect();
    EXPECT_LT(after.width(), before.width());
    EXPECT_NEAR(after.width(), 2 * after.height(), 1);
    EXPECT_NEAR(after.center().x(), Form->Image->rect().center().x(), 1);
    EXPECT_NEAR(after.center().y(), Form->Image->rect().center().y(), 1);
}

// Renders the window with the example catalogue into $Q40_SCREENSHOT_DIR (scripts/screenshots).
TEST_F(MainForm, Screenshot) {
    const char* dir = std::getenv("Q40_SCREENSHOT_DIR");
    if (!dir) GTEST_SKIP() << "Q40_SCREENSHOT_DIR not set";
    TempFolder example;
    std::filesystem::copy(Q40_EXAMPLE_FOLDER, example.Path,
                          std::filesystem::copy_options::recursive);
    std::filesystem::create_directories(example.File("Images"));
    ASSERT_TRUE(BoardPicture().save(QString::fromStdString(example.File("Images/main_ctrl.jpg"))));
    Location = {example.File("Q40Prog.INI"), example.Path};
    Show("AB175");
    ASSERT_EQ(Current(), "Main controller");
    Form->PortBox->setEditText("ttyUSB0");
    EXPECT_TRUE(Form->grab().save(QString(dir) + "/main-window.png"));
}
