// Renders the confirmation window and a whole update (all three windows) with the sample
// catalogue into $Q40_SCREENSHOT_DIR; skipped otherwise (scripts/screenshots sets it).
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <cstdlib>

#include "catalogue/MainForm.h"
#include "programming/ProgForm.h"
#include "shell/WarningForm.h"
#include "tests/support/BoxFactory.h"
#include "tests/support/PrivateSettings.h"
#include "tests/support/TempFolder.h"

namespace {
constexpr int WaitMs = 30000;
constexpr int Margin = 24;

QImage Collage(const QPixmap& warning, const QPixmap& main, const QPixmap& prog) {
    QImage canvas(Margin * 3 + main.width() + warning.width() / 3,
                  Margin * 3 + warning.height() + main.height() / 2, QImage::Format_RGB32);
    canvas.fill(QColor(58, 110, 165));
    QPainter p(&canvas);
    p.drawPixmap(Margin, Margin, warning);
    const QPoint mainAt(canvas.width() - main.width() - Margin,
                        canvas.height() - main.height() - Margin);
    p.drawPixmap(mainAt, main);
    p.drawPixmap(
        mainAt + QPoint((main.width() - prog.width()) / 2, (main.height() - prog.height()) / 2),
        prog);
    return canvas;
}
}  // namespace

TEST(Screenshots, ConfirmationAndWholeUpdate) {
    const char* dir = std::getenv("Q40_SCREENSHOT_DIR");
    if (!dir) GTEST_SKIP() << "Q40_SCREENSHOT_DIR not set";
    TempFolder sample, settings, data;
    ASSERT_EQ(
        std::system((std::string(Q40SAMPLE) + " " + sample.Path + " >/dev/null 2>&1").c_str()), 0);
    KeepSettingsIn(settings.Path);

    TWarningForm warning(
        sample.File("Q40Prog.INI"), [](std::optional<bool>) {}, ProgramVersion());
    warning.show();
    warning.Edit->setText("YES");
    const QPixmap warningShot = warning.grab();
    EXPECT_TRUE(warningShot.save(QString(dir) + "/confirmation-window.png"));

    BoxFactory box;
    TProgForm prog;
    prog.SetDataFolder(data.Path);
    MainFormContext context;
    context.Location = {sample.File("Q40Prog.INI"), sample.Path};
    context.ProgForm = &prog;
    context.ConfirmationWord = [] { return QString("YES"); };
    context.CommandLineIdentifier = "KQ4+0";
    context.Links = box.Factory();
    context.Quit = [] {};
    TMainForm mainForm(context);
    mainForm.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !mainForm.ChangeDelay->isActive(); }, WaitMs));
    mainForm.PortBox->setEditText("ttyUSB0");

    QPixmap mainShot, progShot;
    // The programming window is modal: take the pictures once its run has ended.
    QTimer::singleShot(0, [&] {
        ASSERT_TRUE(QTest::qWaitFor([&] { return prog.CloseButton->text() == "Close"; }, WaitMs));
        mainShot = mainForm.grab();
        progShot = prog.grab();
        prog.CloseButton->click();
    });
    mainForm.ButtonUpdate->click();
    ASSERT_FALSE(progShot.isNull());
    EXPECT_TRUE(Collage(warningShot, mainShot, progShot).save(QString(dir) + "/whole-update.png"));
}
