// The windows on a real X server of the test's own: titles as the window manager reads them,
// Escape and frame closes as they come through the server. Skipped without Xvfb.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "programming/MessageBoxes.h"
#include "programming/ProgForm.h"
#include "shell/Desktop.h"
#include "shell/InstanceProtocol.h"
#include "tests/mainwindow/SampleCatalogue.h"
#include "tests/support/BoxFactory.h"
#include "tests/support/PrivateSettings.h"
#include "tests/support/TempFolder.h"
#include "tests/support/XServer.h"

namespace {
constexpr int WaitMs = 20000;
constexpr int PollMs = 10;
constexpr int TitleWaitMs = 5000;
Xvfb* Server = nullptr;

// Counts what reaches the windows: Escape presses and close requests.
struct Arrivals : QObject {
    Arrivals() { qApp->installEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!watched->isWidgetType() || !static_cast<QWidget*>(watched)->isWindow()) return false;
        if (event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
            ++Escapes;
        if (event->type() == QEvent::Close && event->spontaneous()) ++Closes;
        return false;
    }
    int Escapes = 0, Closes = 0;
};

struct XFixture : ::testing::Test {
    void SetUp() override {
        if (!Server || Server->Display().empty())
            GTEST_SKIP() << (Server ? Server->Problem() : "no X server");
        X = std::make_unique<XClient>(Server->Display());
        ASSERT_TRUE(X->Connected());
        KeepSettingsIn(Settings.Path);
        setenv("XDG_RUNTIME_DIR", Runtime.Path.c_str(), 1);
    }

    // The title as the window manager reads it, once the window has one: both properties
    // must read the same.
    std::string TitleOf(QWidget& window, const std::string& expected) {
        const uint32_t id = static_cast<uint32_t>(window.winId());
        const bool asExpected = QTest::qWaitFor(
            [&] { return X->NetWmName(id) == expected && X->WmName(id) == expected; }, TitleWaitMs);
        if (asExpected) return expected;
        const std::string net = X->NetWmName(id), plain = X->WmName(id);
        return net == plain ? net : "_NET_WM_NAME '" + net + "', WM_NAME '" + plain + "'";
    }

    bool Mapped(QWidget& window) {
        for (const XClient::Window& w : X->MappedTopLevels())
            if (w.Id == window.winId()) return true;
        return false;
    }

    // Gives the window the keyboard, as a window manager does when it is clicked.
    void Focus(QWidget& window) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return Mapped(window); }, WaitMs));
        X->Focus(static_cast<uint32_t>(window.winId()));
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.isActiveWindow(); }, WaitMs));
    }

    // Presses Escape through the server and waits until the window has it.
    void PressEscape() {
        const int before = Seen.Escapes;
        X->PressKey(keysym::Escape);
        ASSERT_TRUE(QTest::qWaitFor([&] { return Seen.Escapes > before; }, WaitMs));
    }

    // Closes the window through its frame, as the close box and Alt+F4 do.
    void CloseThroughTheFrame(QWidget& window) {
        const int before = Seen.Closes;
        X->RequestClose(static_cast<uint32_t>(window.winId()));
        ASSERT_TRUE(QTest::qWaitFor([&] { return Seen.Closes > before; }, WaitMs));
    }

    // Runs 'inside' once the condition holds, from the event loop (also inside modal ones).
    void When(const std::function<bool()>& condition, const std::function<void()>& inside) {
        Poll.disconnect();
        Poll.setInterval(PollMs);
        QObject::connect(&Poll, &QTimer::timeout, [this, condition, inside] {
            if (!condition()) return;
            Poll.stop();
            inside();
        });
        Poll.start();
    }

    TempFolder Settings, Runtime, Data;
    std::unique_ptr<XClient> X;
    Arrivals Seen;
    QTimer Poll;
};
}  // namespace

TEST_F(XFixture, ConfirmationAndMainWindowTitlesAndKeys) {
    SampleCatalogue sample;
    BoxFactory box;
    int quits = 0;
    DesktopOptions options;
    options.Location = sample.Location();
    options.EndpointPath = InstanceEndpointPath();
    options.Main.Links = box.Factory();
    options.Main.Quit = [&] { ++quits; };
    TDesktop desktop(std::move(options));
    desktop.Start();
    TWarningForm& warning = desktop.Warning();
    EXPECT_EQ(TitleOf(warning, VersionCaption(ProgramVersion())), VersionCaption(ProgramVersion()));

    Focus(warning);
    PressEscape();
    EXPECT_TRUE(warning.isVisible());
    EXPECT_TRUE(Mapped(warning));

    std::string mainTitle;
    bool openAfterEscape = false;
    TMainForm& main = desktop.Main();
    When([&] { return main.isVisible(); },
         [&] {
             mainTitle = TitleOf(main, ApplicationTitle);
             Focus(main);
             PressEscape();
             openAfterEscape = main.isVisible() && Mapped(main) && quits == 0;
             CloseThroughTheFrame(main);
         });
    X->TypeText("yes");
    X->PressKey(keysym::Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return quits > 0; }, WaitMs));
    EXPECT_EQ(mainTitle, ApplicationTitle);
    EXPECT_TRUE(openAfterEscape);
    EXPECT_FALSE(main.isVisible());
    EXPECT_EQ(quits, 1);
}

TEST_F(XFixture, MessageBoxTitles) {
    QWidget owner;
    owner.show();
    const struct {
        const char* Title;
        std::function<void()> Show;
    } cases[] = {
        {"Information", [&] { Boxes().Information(&owner, "KARDO Programmer \"AVR\"  V2.5"); }},
        {"Error", [&] { Boxes().Error(&owner, "Unknown chip type."); }},
        {ApplicationTitle,
         [&] {
             Boxes().Plain(&owner, ApplicationTitle,
                           "This item cannot be programmed using this selection!");
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Title);
        std::string title;
        When([] { return QApplication::activeModalWidget() != nullptr; },
             [&] {
                 QWidget* box = QApplication::activeModalWidget();
                 title = TitleOf(*box, c.Title);
                 box->close();
             });
        c.Show();
        EXPECT_EQ(title, c.Title);
    }
}

TEST_F(XFixture, ProgrammingWindowKeepsARunInSight) {
    std::vector<uint8_t> image(0x2000, 0x5A);
    std::ofstream(Data.File("fw.bin"), std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
    BoxFactory box;
    TProgForm form;
    form.SetLinkFactory(box.Factory());
    form.SetDataFolder(Data.Path);
    form.Params.FirmwarePath = Data.File("fw.bin");
    form.Params.PortName = "ttySIM0";
    const auto flashing = [&] {
        return form.StatusLabel->text().startsWith("Programming/Verifying flash");
    };
    const auto ended = [&] { return form.CloseButton->text() == "Close"; };

    // Escape during the run: nothing happens, the run ends well.
    form.show();
    EXPECT_EQ(TitleOf(form, "Programming..."), "Programming...");
    Focus(form);
    bool escapeDuringRun = false;
    When(flashing, [&] {
        PressEscape();
        escapeDuringRun = form.RunActive();
    });
    ASSERT_TRUE(QTest::qWaitFor(ended, WaitMs));
    EXPECT_TRUE(escapeDuringRun);
    EXPECT_TRUE(form.LastOutcome().Success) << form.LastOutcome().Message;
    EXPECT_TRUE(Mapped(form));
    form.CloseButton->click();

    // A frame close during the run: the run stops, the window stays with its outcome.
    form.show();
    Focus(form);
    bool closeDuringRun = false;
    When(flashing, [&] {
        CloseThroughTheFrame(form);
        closeDuringRun = form.RunActive();
    });
    ASSERT_TRUE(QTest::qWaitFor(ended, WaitMs));
    EXPECT_TRUE(closeDuringRun);
    EXPECT_EQ(form.LastOutcome().Code, errAborted);
    EXPECT_EQ(form.StatusLabel->text(), "Aborted.");
    EXPECT_TRUE(form.Memo->toPlainText().contains("the device needs another update"));
    QTest::qWait(100);
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(Mapped(form));
    // Then a frame close takes it away.
    CloseThroughTheFrame(form);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !Mapped(form); }, WaitMs));
    EXPECT_FALSE(form.isVisible());
}

// On X the toolkit opens a session bus connection whose buffers libdbus keeps to the end;
// that is not this program's leak.
// NOLINTNEXTLINE(bugprone-reserved-identifier): the name the leak sanitizer looks up.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libdbus-1.so\n";
}

// The window tests on the test's own X server, set up as the program sets itself up.
int main(int argc, char** argv) {
    const bool listing = argc > 1 && std::string(argv[1]) == "--gtest_list_tests";
    std::unique_ptr<Xvfb> server = listing ? nullptr : std::make_unique<Xvfb>();
    Server = server.get();
    if (!server || server->Display().empty()) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    } else {
        setenv("DISPLAY", server->Display().c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
    }
    QApplication app(argc, argv);
    SetUpApplicationIdentity();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
