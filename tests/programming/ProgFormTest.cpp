// The programming window, offscreen, against the in-process box.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <functional>

#include "programming/PendingCopies.h"
#include "programming/ProgForm.h"
#include "tests/support/BoxFactory.h"
#include "tests/support/RecordingBoxes.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestData.h"

namespace {
constexpr int RunTimeoutMs = 20000;

// The status colours as the window must show them, written out here rather than taken from
// the window: black while a phase runs, green 0x008000 when it has finished, red after a
// failure.
const QColor Black(QRgb(0x000000)), Green(QRgb(0x008000)), Red(QRgb(0xFF0000));

struct FormFixture : ::testing::Test {
    FormFixture() {
        std::vector<uint8_t> image(0x2000);
        for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7);
        std::ofstream(Temp.File("fw.bin"), std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()),
                   static_cast<std::streamsize>(image.size()));
        Form.SetLinkFactory(Factory.Factory());
        Form.SetDataFolder(Temp.Path);
        Form.Params.FirmwarePath = Temp.File("fw.bin");
        Form.Params.PortName = "ttySIM0";
    }

    // Shows the window as the main window does and waits for its run to end.
    void RunOnce() {
        Form.show();
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return Form.CloseButton->text() == "Close"; }, RunTimeoutMs));
    }

    // Runs 'action' once, while the flash is being programmed (after the chip erase).
    void DuringFlashProgramming(const std::function<void()>& action) {
        During("Programming/Verifying flash", action);
    }

    // Once the status line shows this phase.
    void During(const QString& phase, const std::function<void()>& action) {
        QObject::disconnect(&Poll, &QTimer::timeout, nullptr, nullptr);  // an earlier case's
        Poll.setInterval(0);
        QObject::connect(&Poll, &QTimer::timeout, [this, phase, action] {
            if (!Form.StatusLabel->text().startsWith(phase)) return;
            Poll.stop();
            action();
        });
        Poll.start();
    }

    // The click waits in the queue until the first progress report pumps messages.
    void AbortAtTheFirstTransfer() {
        Form.SetLinkFactory([this] {
            QMetaObject::invokeMethod(Form.CloseButton, "click", Qt::QueuedConnection);
            return Factory.Factory()();
        });
    }

    QStringList LogLines() const { return Form.Memo->toPlainText().split('\n'); }
    QColor StatusColour() const { return Form.StatusLabel->palette().color(QPalette::WindowText); }
    QColor BarColour() const { return Form.ProgressBar->palette().color(QPalette::Highlight); }

    TempFolder Temp;
    BoxFactory Factory;
    TProgForm Form;
    QTimer Poll;
};
}  // namespace

TEST_F(FormFixture, LayoutAndCaptions) {
    EXPECT_EQ(Form.windowTitle(), "Programming...");
    EXPECT_EQ(Form.size(), QSize(410, 267));
    EXPECT_EQ(Form.CloseButton->text(), "Abort");
    EXPECT_EQ(Form.Label1->text(), "Chip Type: ");
    EXPECT_EQ(Form.StartTimer->interval(), 200);
    EXPECT_TRUE(Form.StartTimer->isSingleShot());
    EXPECT_FALSE(Form.StartTimer->isActive());
    EXPECT_TRUE(Form.StatusLabel->font().bold());
}

TEST_F(FormFixture, SuccessfulRunShowsItsLogAndGreenStatus) {
    Form.Params.FuseHi = "$D9";
    RunOnce();
    const QStringList lines = LogLines();
    EXPECT_EQ(lines.count("setting port time to 100"), 2);
    EXPECT_EQ(lines.count("programming Hi fuse $D9"), 1);
    EXPECT_EQ(lines.at(lines.size() - 2), "disabling programming mode");
    EXPECT_EQ(lines.last(), "done without any problem.");
    EXPECT_EQ(Form.ChipLabel->text(), "ATmega644P");
    EXPECT_EQ(Form.StatusLabel->text(), "Flash programmed ok.");
    EXPECT_EQ(StatusColour(), Green);
    EXPECT_EQ(BarColour(), Green);
    EXPECT_EQ(Form.ProgressBar->value(), Form.ProgressBar->maximum());
    EXPECT_EQ(Factory.Box.Target.FuseHi, 0xD9);
    QTest::mouseClick(Form.CloseButton, Qt::LeftButton);
    EXPECT_FALSE(Form.isVisible());
    EXPECT_EQ(Form.result(), QDialog::Accepted);
}

TEST_F(FormFixture, FailureIsRedWithTheBarBackAtItsStart) {
    Factory.OpenErrno = ENOENT;
    RunOnce();
    EXPECT_EQ(LogLines(), QStringList({"opening serial port ttySIM0",
                                       "programming interrupted: Error opening serial port. Port "
                                       "not available."}));
    EXPECT_EQ(Form.StatusLabel->text(), "Error opening serial port. Port not available.");
    EXPECT_EQ(StatusColour(), Red);
    EXPECT_EQ(Form.ProgressBar->value(), Form.ProgressBar->minimum());
}

// Below the status line, what the device needs, from what the run sent to it; the status
// text and its colour stay as they are.
TEST_F(FormFixture, DeviceStateLineFollowsWhatTheRunSent) {
    const QString changed =
        "The device was changed and needs another update. Leave the board connected and press "
        "Update Firmware again.";
    const struct {
        const char* Run;
        std::function<void()> Arrange;
        QString Status, State;  // State empty: no line shown
    } cases[] = {
        {"port missing", [this] { Factory.OpenErrno = ENOENT; },
         "Error opening serial port. Port not available.", "The device was not changed."},
        {"aborted at the EEPROM read", [this] { AbortAtTheFirstTransfer(); }, "Aborted.",
         "The device was not changed."},
        // The fuse is written before the EEPROM is read.
        {"a fuse written, then aborted at the EEPROM read",
         [this] {
             Form.Params.FuseHi = "$D9";
             During("Reading EEProm", [this] { Form.CloseButton->click(); });
         },
         "Aborted.", changed},
        {"aborted after the erase",
         [this] { DuringFlashProgramming([this] { Form.CloseButton->click(); }); }, "Aborted.",
         changed},
        {"success", [] {}, "Flash programmed ok.", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Run);
        Factory.OpenErrno = 0;
        Form.Params.FuseHi.clear();
        Form.SetLinkFactory(Factory.Factory());
        c.Arrange();
        RunOnce();
        EXPECT_EQ(Form.StatusLabel->text(), c.Status);
        EXPECT_EQ(StatusColour(), c.State.isEmpty() ? Green : Red);
        EXPECT_EQ(Form.DeviceStateLabel->text(), c.State);
        EXPECT_EQ(Form.DeviceStateLabel->isVisible(), !c.State.isEmpty());
        if (!c.State.isEmpty()) {
            EXPECT_EQ(Form.LastOutcome().DeviceTouched, c.State == changed);
            // Below the status text, inside the status box, above the progress box.
            const QRect status = Form.StatusLabel->geometry(),
                        state = Form.DeviceStateLabel->geometry();
            EXPECT_GT(state.top(), status.bottom());
            EXPECT_LE(state.bottom(), Form.GroupBox1->contentsRect().bottom());
            EXPECT_GE(state.height(), Form.DeviceStateLabel->heightForWidth(state.width()));
            EXPECT_LT(Form.GroupBox1->geometry().bottom(), Form.GroupBox2->geometry().top());
        }
        Form.CloseButton->click();
        // The next showing starts without it.
        Form.show();
        EXPECT_EQ(Form.DeviceStateLabel->text(), "");
        EXPECT_FALSE(Form.DeviceStateLabel->isVisible());
        Form.StartTimer->stop();
        Form.close();
    }
}

// A status text longer than the line wraps; the box grows with it and the window with the
// box, so the log keeps its room. A wider window gives the text more room per line.
TEST_F(FormFixture, StatusLineShowsItsWholeText) {
    std::ofstream(Temp.File("huge.bin"), std::ios::binary) << std::string(0x10001, '\x5A');
    Form.Params.FirmwarePath = Temp.File("huge.bin");
    RunOnce();
    const QString text = "Firmware does not fit into the chip's flash.";
    ASSERT_EQ(Form.StatusLabel->text(), text);
    EXPECT_EQ(Form.StatusLabel->toolTip(), text);
    const auto wholeTextShows = [this] {
        const QLabel& l = *Form.StatusLabel;
        EXPECT_TRUE(l.wordWrap());
        EXPECT_GE(l.height(), l.heightForWidth(l.width()));
        EXPECT_LE(l.geometry().bottom(), Form.DeviceStateLabel->geometry().top());
        EXPECT_LT(Form.GroupBox1->geometry().bottom(), Form.GroupBox2->geometry().top());
        EXPECT_GE(Form.Memo->height(), 100);
        EXPECT_LE(Form.Memo->geometry().bottom(), Form.height());
    };
    wholeTextShows();
    const int twoLines = Form.StatusLabel->height();
    EXPECT_GT(twoLines, 20);  // the design's line holds only part of it
    Form.resize(Form.width() + 400, Form.height());
    QTest::qWait(0);
    wholeTextShows();
    EXPECT_LT(Form.StatusLabel->height(), twoLines);
    EXPECT_EQ(Form.StatusLabel->width(), 369 + 400);
    Form.CloseButton->click();

    // A text that fits keeps the design's geometry.
    Form.Params.FirmwarePath = Temp.File("fw.bin");
    Form.show();
    Form.resize(410, 267);  // the status box is back to its design: so is the window
    RunOnce();
    EXPECT_EQ(Form.StatusLabel->text(), "Flash programmed ok.");
    EXPECT_EQ(Form.StatusLabel->toolTip(), "Flash programmed ok.");
    EXPECT_EQ(Form.GroupBox1->geometry(), QRect(8, 8, 393, 49));
    EXPECT_EQ(Form.StatusLabel->geometry(), QRect(8, 21, 369, 20));
    EXPECT_EQ(Form.Memo->geometry(), QRect(8, 159, 394, 100));
    EXPECT_EQ(Form.size(), QSize(410, 267));
}

TEST_F(FormFixture, IspLockoutRefusalShowsLikeAnyFailure) {
    Form.Params.FuseHi = "0xFF";
    RunOnce();
    EXPECT_EQ(Form.StatusLabel->text(), "Fuse value would lock out serial programming.");
    EXPECT_TRUE(LogLines().last().startsWith(
        "Hi fuse 0xFF would disable serial programming (SPIEN); to allow it"));
    EXPECT_EQ(StatusColour(), Red);
    EXPECT_EQ(Factory.Box.Target.ChipErases, 0);
    EXPECT_NE(Factory.Box.Target.FuseHi, 0xFF);
}

TEST_F(FormFixture, ClickDuringTheFirstStepsAbortsAtTheEepromRead) {
    Form.SetLinkFactory([this] {
        // The click waits in the queue until the first progress report pumps messages.
        QMetaObject::invokeMethod(Form.CloseButton, "click", Qt::QueuedConnection);
        return Factory.Factory()();
    });
    RunOnce();
    EXPECT_EQ(LogLines().last(), "programming interrupted: Aborted.");
    EXPECT_EQ(LogLines().at(LogLines().size() - 2), "reading eeprom...");
    EXPECT_EQ(Factory.Box.Target.ChipErases, 0);
}

// Between the steps the window still sees the click: no fuse is written after it.
TEST_F(FormFixture, ClickDuringIdentificationWritesNoFuse) {
    Form.Params.FuseHi = "0x99";
    const uint8_t fuseHi = Factory.Box.Target.FuseHi;
    Form.SetLinkFactory([this] {
        QMetaObject::invokeMethod(Form.CloseButton, "click", Qt::QueuedConnection);
        return Factory.Factory()();
    });
    RunOnce();
    EXPECT_EQ(LogLines().last(), "programming interrupted: Aborted.");
    EXPECT_EQ(LogLines().at(LogLines().size() - 2), "setting port time to 100");
    EXPECT_FALSE(LogLines().contains("programming Hi fuse 0x99"));
    EXPECT_FALSE(Form.LastOutcome().DeviceTouched);
    EXPECT_EQ(Factory.Box.Target.FuseHi, fuseHi);
    EXPECT_EQ(Factory.Box.Target.ChipErases, 0);
}

// Abort and the close box during the EEPROM write-back: it is finished first, the status
// line says so meanwhile, and the run stops before the flash.
TEST_F(FormFixture, StopDuringTheEepromWriteBackPutsItBackFirst) {
    const struct {
        const char* How;
        std::function<void(TProgForm&)> Stop;
    } ways[] = {
        {"Abort", [](TProgForm& f) { f.CloseButton->click(); }},
        {"close box", [](TProgForm& f) { f.close(); }},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.How);
        const std::vector<uint8_t> eeprom = RandomBytes(Factory.Box.Target.Eeprom.size(), 41);
        Factory.Box.Target.Eeprom = eeprom;
        const int erases = Factory.Box.Target.ChipErases;
        bool stopped = false;
        QStringList statusAfterStop;
        Poll.setInterval(0);
        const auto poll = QObject::connect(&Poll, &QTimer::timeout, [&] {
            const QString status = Form.StatusLabel->text();
            if (stopped) {
                if (statusAfterStop.isEmpty() || statusAfterStop.last() != status)
                    statusAfterStop << status;
            } else if (status == "Programming/Verifying EEProm... 25%") {
                stopped = true;
                way.Stop(Form);
            }
        });
        Poll.start();
        RunOnce();
        Poll.stop();
        QObject::disconnect(poll);
        ASSERT_TRUE(stopped);
        EXPECT_TRUE(Form.isVisible());
        EXPECT_EQ(Form.LastOutcome().Code, errAborted);
        EXPECT_EQ(Form.StatusLabel->text(), "Aborted.");
        EXPECT_EQ(StatusColour(), Red);
        ASSERT_FALSE(statusAfterStop.isEmpty());
        // From the next block on (the stop was seen in the pumping at 25%).
        EXPECT_EQ(statusAfterStop.first().toStdString(), "Stopping once the EEProm is back... 26%");
        EXPECT_TRUE(statusAfterStop.contains("Stopping once the EEProm is back... 96%"))
            << statusAfterStop.join(" | ").toStdString();
        const QStringList lines = LogLines();
        const auto at = lines.indexOf("programming interrupted: Aborted.");
        ASSERT_GT(at, 0);
        EXPECT_EQ(lines.at(at - 1), "programming eeprom...");
        EXPECT_EQ(lines.at(at + 1),
                  "the eeprom was written back and verified before the stop; "
                  "the flash is not programmed");
        EXPECT_FALSE(lines.contains("programming flash..."));
        EXPECT_EQ(Factory.Box.Target.ChipErases, erases + 1);
        EXPECT_EQ(Factory.Box.Target.Eeprom, eeprom);
        EXPECT_EQ(Factory.Box.Target.Flash,
                  std::vector<uint8_t>(Factory.Box.Target.Flash.size(), 0xFF));
        Form.CloseButton->click();  // reads "Close" now
        EXPECT_FALSE(Form.isVisible());
    }
}

TEST_F(FormFixture, FrameCloseDuringARunAbortsAndTheWindowShowsTheOutcome) {
    DuringFlashProgramming([this] { Form.close(); });
    RunOnce();
    // Still open, with the outcome in sight.
    EXPECT_TRUE(Form.isVisible());
    EXPECT_FALSE(Form.RunActive());
    EXPECT_EQ(Form.LastOutcome().Code, errAborted);
    EXPECT_EQ(Form.StatusLabel->text(), "Aborted.");
    EXPECT_EQ(StatusColour(), Red);
    EXPECT_EQ(LogLines().at(LogLines().size() - 2), "programming interrupted: Aborted.");
    EXPECT_TRUE(LogLines().last().startsWith("the device needs another update"));
    EXPECT_EQ(Factory.Box.Target.ChipErases, 1);
    // Now a close takes it away.
    Form.close();
    EXPECT_FALSE(Form.isVisible());
}

TEST_F(FormFixture, EscapeDoesNothingDuringOrAfterARun) {
    DuringFlashProgramming([this] { QTest::keyClick(&Form, Qt::Key_Escape); });
    RunOnce();
    EXPECT_TRUE(Form.LastOutcome().Success) << Form.LastOutcome().Message;
    EXPECT_EQ(LogLines().last(), "done without any problem.");
    QTest::keyClick(Form.CloseButton, Qt::Key_Escape);
    QTest::keyClick(Form.Memo, Qt::Key_Escape);
    EXPECT_TRUE(Form.isVisible());
}

TEST_F(FormFixture, LongLogLinesWrapWithoutAHorizontalScrollBar) {
    RunOnce();
    const QTextBlock copyLine = Form.Memo->document()->findBlockByNumber(
        static_cast<int>(LogLines().indexOf(QRegularExpression("^saving eeprom copy to .*"))));
    ASSERT_TRUE(copyLine.isValid());
    EXPECT_GT(copyLine.layout()->lineCount(), 1);
    EXPECT_EQ(Form.Memo->horizontalScrollBar()->maximum(), 0);
    EXPECT_EQ(Form.Memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
}

TEST_F(FormFixture, TheScreenShowsTheNewLogFromTheRunsStart) {
    RunOnce();  // leaves a long log behind
    Form.CloseButton->click();
    QImage onScreen, current;
    Form.SetLinkFactory([&] {
        // The run has cleared its log and now blocks until the port is open.
        QWidget* view = Form.Memo->viewport();
        const QPoint at = view->mapTo(&Form, QPoint(0, 0));
        onScreen = QGuiApplication::primaryScreen()
                       ->grabWindow(Form.winId(), at.x(), at.y(), view->width(), view->height())
                       .toImage();
        current = view->grab().toImage();
        return Factory.Factory()();
    });
    RunOnce();
    ASSERT_FALSE(current.isNull());
    EXPECT_EQ(onScreen.convertToFormat(current.format()), current);
}

TEST_F(FormFixture, AnEnlargedWindowGivesTheRoomToTheLog) {
    Form.show();
    Form.StartTimer->stop();
    const QRect log = Form.Memo->geometry();
    const int buttonGap = Form.width() - Form.CloseButton->geometry().right();
    Form.resize(Form.width() + 100, Form.height() + 200);
    EXPECT_EQ(Form.Memo->geometry(), log.adjusted(0, 0, 100, 200));
    EXPECT_EQ(Form.width() - Form.CloseButton->geometry().right(), buttonGap);
    Form.resize(100, 100);
    EXPECT_EQ(Form.size(), QSize(410, 267));  // never smaller than its design
}

// The window leaves the data folder to the run, as the command line does: both put their
// files in the same place.
TEST_F(FormFixture, WithoutADataFolderTheRunsOwnChoiceHolds) {
    const char* old = std::getenv("XDG_DATA_HOME");
    const std::string saved = old ? old : "";
    setenv("XDG_DATA_HOME", Temp.File("xdg").c_str(), 1);
    Form.SetDataFolder("");
    RunOnce();
    if (old)
        setenv("XDG_DATA_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_DATA_HOME");
    EXPECT_TRUE(Form.LastOutcome().Success);
    EXPECT_EQ(Form.LastOutcome().LogPath.rfind(Temp.File("xdg/KARDO/Q40Prog/logs/run-"), 0), 0u)
        << Form.LastOutcome().LogPath;
}

TEST_F(FormFixture, ShowProgressStatusColoursAndBar) {
    Form.show();
    Form.StartTimer->stop();
    EXPECT_FALSE(Form.ShowProgress(0, 100, phProgramFlash));
    EXPECT_EQ(Form.StatusLabel->text(), "Programming/Verifying flash... 0%");
    EXPECT_EQ(StatusColour(), Black);
    EXPECT_EQ(BarColour(), Black);
    EXPECT_EQ(Form.ProgressBar->value(), 0);
    EXPECT_EQ(Form.ProgressBar->maximum(), 100);

    Form.ShowProgress(1, 3, phReadEeprom);
    EXPECT_EQ(Form.StatusLabel->text(), "Reading EEProm... 33%");

    Form.ShowProgress(1, 1, phEepromRead);
    EXPECT_EQ(Form.StatusLabel->text(), "Reading EEProm ok.");
    EXPECT_EQ(StatusColour(), Green);
    EXPECT_EQ(BarColour(), Green);

    // Unknown phases leave text and colour, but still move the bar.
    Form.ShowProgress(7, 10, 12);
    Form.ShowProgress(8, 10, -1);
    EXPECT_EQ(Form.StatusLabel->text(), "Reading EEProm ok.");
    EXPECT_EQ(StatusColour(), Green);
    EXPECT_EQ(Form.ProgressBar->value(), 8);

    // A total of zero neither divides by it nor turns the bar into a spinner.
    Form.ShowProgress(0, 0, phProgramEeprom);
    EXPECT_EQ(Form.StatusLabel->text(), "Programming/Verifying EEProm... 0%");
    EXPECT_GT(Form.ProgressBar->maximum(), 0);

    Form.CloseButton->click();
    EXPECT_TRUE(Form.ShowProgress(0, 100, phProgramFlash));
}

TEST_F(FormFixture, ErrorTextsByCode) {
    EXPECT_EQ(TProgForm::GetErrorText(EProgError(14)), "Aborted.");
    for (int code : {15, 255, -1})
        EXPECT_EQ(TProgForm::GetErrorText(EProgError(code)), "Unknown Error");
}

TEST_F(FormFixture, SecondShowingResetsTheDisplayButKeepsTheOldLog) {
    RunOnce();
    Form.CloseButton->click();
    const QString oldLog = Form.Memo->toPlainText();
    Form.Params.PortName = "ttyOTHER";
    Form.show();
    EXPECT_EQ(Form.ChipLabel->text(), "Unknown");
    EXPECT_EQ(Form.StatusLabel->text(), "");
    EXPECT_EQ(Form.ProgressBar->value(), Form.ProgressBar->minimum());
    EXPECT_EQ(Form.CloseButton->text(), "Abort");
    EXPECT_EQ(Form.Memo->toPlainText(), oldLog);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Form.CloseButton->text() == "Close"; }, RunTimeoutMs));
    EXPECT_EQ(LogLines().first(), "opening serial port ttyOTHER");
}

TEST_F(FormFixture, ProbesShowTheirBoxes) {
    RecordingBoxes boxes;
    Form.CheckProgrammer();
    EXPECT_EQ(Form.QueryChipType(), "ATmega644P");
    Factory.OpenErrno = ENOENT;
    EXPECT_EQ(Form.QueryChipType(), "");
    ASSERT_EQ(boxes.All.size(), 2u);
    EXPECT_EQ(boxes.All[0].Kind, "information");
    EXPECT_EQ(boxes.All[0].Text, "KARDO Programmer \"AVR\"  V2.5");
    EXPECT_EQ(boxes.All[1].Kind, "error");
    EXPECT_EQ(boxes.All[1].Text, "Error opening serial port. Port not available.");
    EXPECT_EQ(boxes.All[1].Detail, "");
}

// A query that read the chip but could not leave programming mode has no chip to offer.
TEST_F(FormFixture, ChipQueryWhoseLeavingFailsReturnsAnEmptyName) {
    RecordingBoxes boxes;
    EXPECT_EQ(Form.QueryChipType(), "ATmega644P");
    BoxConfig silentAtD;
    silentAtD.DropAfter = static_cast<long long>(Factory.Written.size()) - 1;
    BoxFactory dropping(silentAtD);
    Form.SetLinkFactory(dropping.Factory());
    EXPECT_EQ(Form.QueryChipType(), "");
    ASSERT_EQ(boxes.All.size(), 1u);
    EXPECT_EQ(boxes.All[0].Kind, "error");
    EXPECT_EQ(boxes.All[0].Text, "Programmer not connected.");
    EXPECT_EQ(boxes.All[0].Detail, "the box went quiet while leaving programming mode");
    EXPECT_EQ(dropping.Written.back(), 'D');
}

// A box without a chip: the box's informative text says what to check.
TEST_F(FormFixture, ChipQueryWithoutAChipSaysWhatToCheck) {
    RecordingBoxes boxes;
    BoxConfig none;
    none.NoTarget = true;
    BoxFactory noChip(none);
    Form.SetLinkFactory(noChip.Factory());
    EXPECT_EQ(Form.QueryChipType(), "");
    ASSERT_EQ(boxes.All.size(), 1u);
    EXPECT_EQ(boxes.All[0].Text, "Unable to enter programming mode.");
    EXPECT_EQ(boxes.All[0].Detail,
              "the box answers, but no chip does: check the ISP cable and its pin 1, that the "
              "device is powered, and that no fuse has disabled serial programming");
}

// A board taken off during the flash: the status keeps the code's fixed text in red; the log
// says below the dump that no chip answers any more.
TEST_F(FormFixture, BoardTakenOffMidFlashIsSaidInTheLog) {
    BoxConfig off;
    off.TargetOffAfter = 6000;  // the flash runs from some 3000 bytes to some 14000
    BoxFactory taken(off);
    Form.SetLinkFactory(taken.Factory());
    RunOnce();
    const QStringList lines = LogLines();
    const auto end = lines.indexOf("*** data dump end ***");
    ASSERT_GT(end, 0) << Form.Memo->toPlainText().toStdString();
    EXPECT_EQ(lines.at(end + 1),
              "no chip answers on the ISP header any more: the board was taken off or lost "
              "contact");
    EXPECT_EQ(Form.StatusLabel->text(), "Flash programm error!");
    EXPECT_EQ(StatusColour(), Red);
}

// The box's text is the code's fixed text; the cure is its informative text, below.
TEST_F(FormFixture, ProbeErrorBoxCarriesTheDetailBelowTheText) {
    RecordingBoxes boxes;
    Factory.OpenErrno = EACCES;
    Factory.Cure =
        "/dev/ttySIM0 belongs to the group dialout and you are not in it: sudo "
        "usermod -aG dialout alice, then log out and in again.";
    Form.CheckProgrammer();
    EXPECT_EQ(Form.QueryChipType(), "");
    ASSERT_EQ(boxes.All.size(), 2u);
    for (const auto& box : boxes.All) {
        EXPECT_EQ(box.Kind, "error");
        EXPECT_EQ(box.Text, "Error opening serial port. Port already in use?");
        EXPECT_TRUE(box.Detail.contains("Permission denied")) << box.Detail.toStdString();
        EXPECT_TRUE(box.Detail.contains("usermod -aG")) << box.Detail.toStdString();
    }
}

TEST_F(FormFixture, FailureDetailIsALogLineOfItsOwnNotInTheStatus) {
    Form.Params.FirmwarePath = Temp.File("missing.hex");
    RunOnce();
    const QStringList lines = LogLines();
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(lines.at(lines.size() - 3), "loading flash file...");
    EXPECT_EQ(lines.at(lines.size() - 2), "programming interrupted: Error opening firmware file.");
    EXPECT_EQ(lines.last(), QString::fromStdString("File: " + Temp.File("missing.hex") +
                                                   ": No such file or directory"));
    EXPECT_EQ(Form.StatusLabel->text(), "Error opening firmware file.");
}

// A blank EEPROM and an update of this chip that was interrupted after its erase: the
// window asks, one box per copy; Yes writes that copy back, Cancel stops before the erase.
TEST_F(FormFixture, BlankEepromWithAPendingCopyAsks) {
    std::vector<uint8_t> original(0x800);
    for (std::size_t i = 0; i < original.size(); ++i) original[i] = static_cast<uint8_t>(i * 13);
    const std::string copy = Temp.File("eeprom-ATmega644P-ttyUSB3-1.bin");
    std::ofstream(copy, std::ios::binary)
        .write(reinterpret_cast<const char*>(original.data()),
               static_cast<std::streamsize>(original.size()));
    const auto when = std::chrono::system_clock::now() - std::chrono::hours(2);
    ASSERT_EQ(MarkPending(Temp.Path, {copy, "ATmega644P", "ttyUSB3", when}), 0);
    Factory.Box.Target.Eeprom.assign(0x800, 0xFF);
    const QString question = QString::fromStdString(
        "This device's EEPROM is empty. An update of an ATmega644P was "
        "interrupted after its erase on " +
        QuestionDate(when) + "; its EEPROM is in " + copy +
        ". Is this that device?\n\n"
        "Yes: write this copy into the device\n"
        "No: keep what the device holds\n"
        "Cancel: stop before anything is erased");

    RecordingBoxes boxes;
    boxes.Answers = {MessageBoxes::Cancel};
    RunOnce();
    ASSERT_EQ(boxes.All.size(), 1u);
    EXPECT_EQ(boxes.All[0].Kind, "question");
    EXPECT_EQ(boxes.All[0].Text, question);
    EXPECT_EQ(Form.StatusLabel->text(),
              "Stopped before the erase: an EEPROM copy may belong to this device.");
    EXPECT_EQ(StatusColour(), Red);
    EXPECT_EQ(Factory.Box.Target.ChipErases, 0);
    Form.CloseButton->click();

    boxes.Answers = {MessageBoxes::Yes};
    RunOnce();
    EXPECT_EQ(LogLines().last(), "done without any problem.");
    EXPECT_TRUE(LogLines().contains(QString::fromStdString("restoring eeprom from " + copy +
                                                           " left by an interrupted update")));
    EXPECT_EQ(Factory.Box.Target.Eeprom, original);
    Form.CloseButton->click();

    // A board that holds only the copy's first block, as a header: asked too; No keeps it.
    ASSERT_EQ(MarkPending(Temp.Path, {copy, "ATmega644P", "ttyUSB3", when}), 0);
    Factory.Box.Target.Eeprom.assign(0x800, 0xFF);
    std::copy(original.begin(), original.begin() + 32, Factory.Box.Target.Eeprom.begin());
    const std::vector<uint8_t> header = Factory.Box.Target.Eeprom;
    boxes.All.clear();
    boxes.Answers = {MessageBoxes::No};
    RunOnce();
    ASSERT_EQ(boxes.All.size(), 1u);
    EXPECT_TRUE(
        boxes.All[0].Text.contains("A board that never had that EEPROM could hold the "
                                   "same bytes"))
        << boxes.All[0].Text.toStdString();
    EXPECT_TRUE(
        boxes.All[0].Text.endsWith("No: keep what the device holds\n"
                                   "Cancel: stop before anything is erased"));
    EXPECT_EQ(LogLines().last(), "done without any problem.");
    EXPECT_EQ(Factory.Box.Target.Eeprom, header);
}

// Renders the window in its four states into $Q40_SCREENSHOT_DIR (scripts/screenshots), each
// from a real run against the simulated box, so that every picture shows what a run writes.
TEST_F(FormFixture, Screenshots) {
    const char* dir = std::getenv("Q40_SCREENSHOT_DIR");
    if (!dir) GTEST_SKIP() << "Q40_SCREENSHOT_DIR not set";
    // A whole 64 KB image: the running picture catches the bar on its way through the flash.
    std::vector<uint8_t> image(0x10000);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + 1);
    std::ofstream(Temp.File("fw64.bin"), std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
    Form.Params.FirmwarePath = Temp.File("fw64.bin");
    Form.Params.PortName = "ttyUSB0";
    Form.Params.FuseHi = "$D9";

    QStringList logWhileRunning;
    Poll.setInterval(0);
    const auto whileRunning = QObject::connect(&Poll, &QTimer::timeout, [&] {
        if (!Form.StatusLabel->text().startsWith("Programming/Verifying flash") ||
            Form.ProgressBar->value() < 0x6A00)
            return;
        Poll.stop();
        logWhileRunning = LogLines();
        EXPECT_TRUE(Form.grab().save(QString(dir) + "/programming-running.png"));
    });
    Poll.start();
    RunOnce();
    QObject::disconnect(whileRunning);
    // What the running window showed is the finished run's log up to the flash programming.
    ASSERT_FALSE(logWhileRunning.isEmpty());
    EXPECT_EQ(logWhileRunning.last(), "programming flash...");
    EXPECT_EQ(LogLines().mid(0, logWhileRunning.size()), logWhileRunning);
    EXPECT_EQ(LogLines().last(), "done without any problem.");
    EXPECT_TRUE(Form.grab().save(QString(dir) + "/programming-success.png"));
    Form.CloseButton->click();

    // Refused before anything is written: the image is larger than the chip's flash.
    std::ofstream(Temp.File("huge.bin"), std::ios::binary) << std::string(0x10001, '\x5A');
    Form.Params.FirmwarePath = Temp.File("huge.bin");
    RunOnce();
    EXPECT_EQ(Form.StatusLabel->text(), "Firmware does not fit into the chip's flash.");
    EXPECT_EQ(Form.DeviceStateLabel->text(), "The device was not changed.");
    EXPECT_TRUE(Form.grab().save(QString(dir) + "/programming-failed.png"));
    Form.CloseButton->click();

    // Aborted after the chip erase, the window enlarged until the whole log shows.
    Form.Params.FirmwarePath = Temp.File("fw64.bin");
    DuringFlashProgramming([this] { Form.CloseButton->click(); });
    RunOnce();
    EXPECT_TRUE(Form.DeviceStateLabel->text().startsWith("The device was changed"));
    while (Form.Memo->verticalScrollBar()->maximum() > 0 && Form.height() < 2000)
        Form.resize(Form.width(), Form.height() + 4);
    EXPECT_EQ(Form.Memo->verticalScrollBar()->maximum(), 0);
    EXPECT_TRUE(Form.grab().save(QString(dir) + "/programming-aborted.png"));
}
