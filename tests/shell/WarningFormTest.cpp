// The confirmation window, offscreen.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "shell/WarningForm.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TextEncodings.h"

namespace {
struct WarningFixture : ::testing::Test {
    WarningFixture() {
        std::ofstream(Temp.File("Q40Prog.INI")) << "[ITEM_1]\nNAME=x\n[Version]\nInfo_0=zero\n"
                                                   "Info_1=first\nInfo_3=third\nInfo_99=last\n"
                                                   "Info_100=never\n";
    }
    // A real double-click: the first press and release, then the second press.
    static void DoubleClick(QWidget* w, Qt::KeyboardModifiers mods = {}) {
        QTest::mousePress(w, Qt::LeftButton, mods);
        QTest::mouseRelease(w, Qt::LeftButton, mods);
        QTest::mouseDClick(w, Qt::LeftButton, mods);
    }
    TWarningForm& Form() {
        if (!Window)
            Window = std::make_unique<TWarningForm>(
                Temp.File("Q40Prog.INI"),
                [this](std::optional<bool> production) {
                    Opened.push_back(production);
                    EditTextWhenOpened = Window->Edit->text();
                },
                FileVersion{2, 6, 1, 1});
        return *Window;
    }

    TempFolder Temp;
    std::unique_ptr<TWarningForm> Window;
    std::vector<std::optional<bool>> Opened;
    QString EditTextWhenOpened;
};
}  // namespace

TEST_F(WarningFixture, ShowsNotesAndVersionCaption) {
    TWarningForm& f = Form();
    EXPECT_EQ(f.windowTitle(), "KARDO Q-Series Firmware Programmer");
    f.show();
    EXPECT_EQ(f.windowTitle(), "Version 2.6.1, Build 1");
    EXPECT_EQ(f.Memo->toPlainText(), "first\nthird\nlast");
    EXPECT_TRUE(f.Memo->isReadOnly());
    EXPECT_EQ(f.Label2->text(), "Enter YES if all precautions have been taken :");
    EXPECT_TRUE(f.BtnOk->isDefault());
    EXPECT_EQ(f.size(), QSize(691, 296));
}

TEST_F(WarningFixture, NotesOfAUtf16CatalogueWithUmlauts) {
    std::ofstream(Temp.File("Q40Prog.INI"), std::ios::binary | std::ios::trunc)
        << textenc::Utf16("[VERSION]\r\nInfo_1=Katalog vom März\r\nInfo_2=Größe prüfen\r\n", true);
    Form().show();
    EXPECT_EQ(Form().Memo->toPlainText(), "Katalog vom März\nGröße prüfen");
}

TEST_F(WarningFixture, ConfirmationWords) {
    const struct {
        const char* text;
        bool confirms;
    } cases[] = {{"ja", true}, {"Yes", true},  {"YES", true}, {"jA", true},   {" YES", false},
                 {"Y", false}, {"JA.", false}, {"", false},   {"yes ", false}};
    for (const auto& c : cases) {
        Window.reset();
        Opened.clear();
        TWarningForm& f = Form();
        f.show();
        f.Edit->setText(c.text);
        f.BtnOk->click();
        EXPECT_EQ(Opened.size(), c.confirms ? 1u : 0u) << c.text;
        if (c.confirms) {
            EXPECT_EQ(Opened[0], std::optional<bool>(false)) << c.text;
        }
        EXPECT_FALSE(f.isVisible()) << c.text;  // closed either way: the program ends
    }
}

TEST_F(WarningFixture, EnterPressesOk) {
    TWarningForm& f = Form();
    f.show();
    QTest::keyClicks(f.Edit, "yes");
    QTest::keyClick(f.Edit, Qt::Key_Return);
    ASSERT_EQ(Opened.size(), 1u);
}

TEST_F(WarningFixture, DoubleClickOpensTheMainWindowWithoutTheWord) {
    TWarningForm& f = Form();
    f.show();
    f.Edit->setText("Yes");
    DoubleClick(f.Image);
    ASSERT_EQ(Opened.size(), 1u);
    EXPECT_EQ(Opened[0], std::nullopt);  // production mode left as it was
    EXPECT_EQ(EditTextWhenOpened, "Yes");
    EXPECT_FALSE(f.isVisible());

    Opened.clear();
    f.show();
    DoubleClick(f.Image, Qt::ControlModifier | Qt::AltModifier);
    ASSERT_EQ(Opened.size(), 1u);
    EXPECT_EQ(Opened[0], std::optional<bool>(true));
}

TEST_F(WarningFixture, OnlyTheLeftButtonsDoubleClickOpensTheMainWindow) {
    TWarningForm& f = Form();
    f.show();
    for (const Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton}) {
        QTest::mousePress(f.Image, button, Qt::ControlModifier | Qt::AltModifier);
        QTest::mouseRelease(f.Image, button, Qt::ControlModifier | Qt::AltModifier);
        QTest::mouseDClick(f.Image, button, Qt::ControlModifier | Qt::AltModifier);
        QTest::mouseRelease(f.Image, button);
    }
    EXPECT_TRUE(Opened.empty());
    EXPECT_TRUE(f.isVisible());
}

TEST_F(WarningFixture, EscapeDoesNotCloseTheWindow) {
    TWarningForm& f = Form();
    f.show();
    QTest::keyClick(f.Edit, Qt::Key_Escape);
    QTest::keyClick(&f, Qt::Key_Escape);
    EXPECT_TRUE(f.isVisible());
    EXPECT_TRUE(Opened.empty());
}

TEST_F(WarningFixture, WithoutACatalogueTheNotesSayWhatToDo) {
    std::filesystem::remove(Temp.File("Q40Prog.INI"));
    TWarningForm& f = Form();
    f.show();
    const QString notes = f.Memo->toPlainText();
    const QString file = QString::fromStdString(Temp.File("Q40Prog.INI"));
    EXPECT_TRUE(notes.startsWith("No catalogue: catalogue " + file + " not found."))
        << notes.toStdString();
    EXPECT_TRUE(notes.contains("sudo cp Q40Prog.INI " + file));
    EXPECT_TRUE(notes.contains(QString::fromStdString(Temp.File("Firmware/"))));
    EXPECT_TRUE(notes.contains(QString::fromStdString(Temp.File("Images/"))));
    EXPECT_EQ(f.windowTitle(), "Version 2.6.1, Build 1");
}

TEST_F(WarningFixture, StoredShiftKeepsThePressState) {
    TWarningForm& f = Form();
    f.show();
    QTest::mousePress(f.Image, Qt::LeftButton, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(f.StoredShift, ssCtrl | ssAlt | ssLeft);
    QTest::mouseRelease(f.Image, Qt::LeftButton);
    // Ctrl and Alt held only at the second press of a double-click do not count.
    f.StoredShift = ssLeft;
    f.ImageDblClick();
    EXPECT_EQ(Opened.back(), std::nullopt);
    EXPECT_EQ(ShiftOf(Qt::ShiftModifier, Qt::RightButton | Qt::MiddleButton, true),
              ssShift | ssRight | ssMiddle | ssDouble);
}
