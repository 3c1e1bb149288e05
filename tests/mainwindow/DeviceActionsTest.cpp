// The item node's context menu, "Verify Device" and "Read Device", offscreen against the
// in-process box: each runs in the programming window with its phases, log, Abort and
// outcome, and the device ends exactly as it was.
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <cstdlib>
#include <functional>
#include <set>

#include "image/ImageLoader.h"
#include "programming/StampedImage.h"
#include "tests/mainwindow/WindowFixture.h"

namespace {
constexpr int PollMs = 0;
const QColor Green(QRgb(0x008000)), Red(QRgb(0xFF0000));

struct DeviceActions : WindowFixture {
    // The flash as an update of "Main controller" (entry 3: application length 4096) leaves it.
    void InstallMainController() {
        const FlashImageBuffer image;
        LoadStampedImage(Sample.Firmware("main.bin"), "4096", *FindDeviceByName("ATmega644"),
                         image.Data());
        auto& flash = Factory.Box.Target.Flash;
        std::copy(image.Data(), image.Data() + flash.size(), flash.begin());
    }

    // Runs the menu entry of the node; 'during' sees every status text while the window is
    // open and may click in it; the window is closed once its run has ended.
    void Choose(const QString& node, const QString& entry,
                const std::function<void(const QString&)>& during = {}) {
        QMenu* menu = Form->ItemMenu(Node(node));
        ASSERT_NE(menu, nullptr);
        QAction* action = nullptr;
        for (QAction* a : menu->actions())
            if (a->text() == entry) action = a;
        ASSERT_NE(action, nullptr) << entry.toStdString();
        Answer(during);
        action->trigger();
        Poll.stop();
        delete menu;
    }

    // Watches the programming window while it is open and closes it after its run.
    void Answer(const std::function<void(const QString&)>& during) {
        Poll.disconnect();
        Poll.setInterval(PollMs);
        QObject::connect(&Poll, &QTimer::timeout, [this, during] {
            if (!Prog.isVisible()) return;
            Seen.insert(Prog.StatusLabel->text());
            if (during) during(Prog.StatusLabel->text());
            if (Prog.CloseButton->text() != "Close") return;
            Poll.stop();
            ++WindowsShown;
            StatusAtTheEnd = Prog.StatusLabel->text();
            ColourAtTheEnd = Prog.StatusLabel->palette().color(QPalette::WindowText);
            Log = Prog.Memo->toPlainText().split('\n');
            if (!ScreenshotName.isEmpty()) {
                EXPECT_TRUE(Prog.grab().save(ScreenshotName)) << ScreenshotName.toStdString();
            }
            Prog.CloseButton->click();
        });
        Poll.start();
    }

    bool SeenStarting(const QString& start) const {
        for (const QString& s : Seen)
            if (s.startsWith(start)) return true;
        return false;
    }

    QTimer Poll;
    int WindowsShown = 0;
    std::set<QString> Seen;
    QString StatusAtTheEnd, ScreenshotName;
    QColor ColourAtTheEnd;
    QStringList Log;
};
}  // namespace

TEST_F(DeviceActions, ItemNodesOfferVerifyAndReadGroupsNothing) {
    Show();
    EXPECT_EQ(Form->TreeView->contextMenuPolicy(), Qt::CustomContextMenu);
    QMenu* menu = Form->ItemMenu(Node("Main controller"));
    ASSERT_NE(menu, nullptr);
    QStringList entries;
    for (QAction* a : menu->actions()) entries << a->text();
    EXPECT_EQ(entries, QStringList({"Verify Device", "Read Device"}));
    delete menu;
    EXPECT_EQ(Form->ItemMenu(Node("Boards")), nullptr);
    EXPECT_EQ(Form->ItemMenu(nullptr), nullptr);
}

TEST_F(DeviceActions, VerifyDeviceHoldingTheItemsFirmwareEndsGreen) {
    InstallMainController();
    const std::vector<uint8_t> before = Factory.Box.Target.Flash;
    Show();
    Form->PortBox->setEditText("ttyUSB2");
    Choose("Main controller", "Verify Device");
    ASSERT_EQ(WindowsShown, 1);
    EXPECT_EQ(StatusAtTheEnd, "Device holds this item's firmware.");
    EXPECT_EQ(ColourAtTheEnd, Green);
    EXPECT_TRUE(SeenStarting("Verifying flash... ")) << Seen.size();
    EXPECT_EQ(Log.first(), "verifying the device against " +
                               QString::fromStdString(Sample.Firmware("main.bin")) +
                               "; nothing is written to it");
    EXPECT_TRUE(Log.contains("opening serial port ttyUSB2"));
    EXPECT_EQ(Prog.ChipLabel->text(), "ATmega644");
    EXPECT_EQ(Factory.Box.Target.Flash, before);
    EXPECT_EQ(Factory.Box.Target.ChipErases, 0);
    EXPECT_EQ(Prog.LastOutcome().ImageLength, 4096);
    EXPECT_EQ(Factory.LinksMade, 2);  // the chip query, then the verify
    EXPECT_TRUE(Form->ButtonUpdate->isEnabled());
}

TEST_F(DeviceActions, VerifyDeviceWithOtherFirmwareEndsRedWithTheDump) {
    Show();
    Choose("Main controller", "Verify Device");
    ASSERT_EQ(WindowsShown, 1);
    EXPECT_EQ(StatusAtTheEnd, "Flash verify error!");
    EXPECT_EQ(ColourAtTheEnd, Red);
    EXPECT_TRUE(Log.contains("verify failed: Flash verify error!"));
    EXPECT_TRUE(Log.contains("Written at Address 0x00000020"));
    EXPECT_EQ(Log.last(), "nothing was written to the device");
    EXPECT_EQ(Factory.Box.Target.ChipErases, 0);
}

TEST_F(DeviceActions, VerifyDeviceOnAChipTheItemIsNotForSaysSoWithoutARun) {
    Show();
    Choose("Display board", "Verify Device");  // ATmega128 only
    EXPECT_EQ(WindowsShown, 0);
    ASSERT_EQ(Boxes.All.size(), 1u);
    EXPECT_EQ(Boxes.All[0].Text, "This item cannot be programmed using this selection!");
}

TEST_F(DeviceActions, ReadDeviceShowsTheVerdict) {
    InstallMainController();
    const std::vector<uint8_t> before = Factory.Box.Target.Flash;
    Show();
    Choose("Keypad", "Read Device");  // whichever item: the whole catalogue is looked for
    ASSERT_EQ(WindowsShown, 1);
    const QString verdict =
        "installed: item 1 Main controller, AB175, check value valid, same as its firmware file";
    EXPECT_EQ(StatusAtTheEnd, verdict);
    EXPECT_EQ(Prog.StatusLabel->toolTip(), verdict);
    EXPECT_EQ(ColourAtTheEnd, Green);
    EXPECT_TRUE(SeenStarting("Reading flash..."));
    EXPECT_TRUE(SeenStarting("Reading EEProm... "));
    EXPECT_EQ(Log.first(), "reading the device; nothing is written to it");
    EXPECT_EQ(Log.last(), verdict);
    EXPECT_TRUE(Log.contains("fuse Lo 0x62"));
    EXPECT_EQ(Factory.Box.Target.Flash, before);
    EXPECT_EQ(Factory.LinksMade, 1);
}

TEST_F(DeviceActions, AbortStopsEitherActionAndNothingIsWritten) {
    InstallMainController();
    const std::vector<uint8_t> before = Factory.Box.Target.Flash;
    const struct {
        const char* Entry;
        const char* Phase;
        const char* Stopped;
    } cases[] = {{"Read Device", "Reading flash...", "reading interrupted: Aborted."},
                 {"Verify Device", "Verifying flash... ", "verifying interrupted: Aborted."}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Entry);
        WindowsShown = 0;
        Show();
        bool clicked = false;
        Choose("Main controller", c.Entry, [&](const QString& status) {
            if (clicked || !status.startsWith(c.Phase)) return;
            clicked = true;
            QTest::mouseClick(Prog.CloseButton, Qt::LeftButton);  // reads "Abort"
        });
        ASSERT_EQ(WindowsShown, 1);
        EXPECT_TRUE(clicked);
        EXPECT_EQ(StatusAtTheEnd, "Aborted.");
        EXPECT_EQ(ColourAtTheEnd, Red);
        EXPECT_TRUE(Log.contains(c.Stopped)) << Log.join('\n').toStdString();
        EXPECT_EQ(Log.last(), "nothing was written to the device");
        EXPECT_EQ(Factory.Box.Target.Flash, before);
        EXPECT_EQ(Factory.Box.Target.ChipErases, 0);
        EXPECT_EQ(Prog.ProgressBar->value(), Prog.ProgressBar->minimum());
    }
    // The next showing of the window is an update again.
    Select("Main controller");
    Answer({});
    QTest::mouseClick(Form->ButtonUpdate, Qt::LeftButton);
    Poll.stop();
    EXPECT_EQ(Log.last(), "done without any problem.");
    EXPECT_EQ(Factory.Box.Target.ChipErases, 1);
}

TEST_F(DeviceActions, Screenshot) {
    const char* dir = std::getenv("Q40_SCREENSHOT_DIR");
    if (!dir) GTEST_SKIP() << "Q40_SCREENSHOT_DIR not set";
    InstallMainController();
    Show();
    Form->PortBox->setEditText("ttyUSB0");
    ScreenshotName = QString(dir) + "/device-verified.png";
    Choose("Main controller", "Verify Device");
    EXPECT_EQ(StatusAtTheEnd, "Device holds this item's firmware.");
}
