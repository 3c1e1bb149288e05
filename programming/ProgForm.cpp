#include "programming/ProgForm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "programming/MessageBoxes.h"
#include "programming/PixelFont.h"
#include "programming/Probes.h"
#include "programming/ProgrammingRun.h"
#include "programming/ProgressText.h"

const QColor TProgForm::RunningColour = QColor(0, 0, 0);
const QColor TProgForm::FinishedColour = QColor(0, 128, 0);
const QColor TProgForm::FailedColour = QColor(255, 0, 0);

namespace {
// Window geometry in pixels at 96 dpi; Qt scales it on denser screens.
constexpr int ClientWidth = 410, ClientHeight = 267;
constexpr QRect StatusBoxRect{8, 8, 393, 49}, StatusRect{8, 21, 369, 20};
constexpr QRect ProgressBoxRect{8, 64, 393, 49}, BarRect{8, 24, 377, 17};
constexpr QRect ButtonRect{288, 120, 105, 33}, LogRect{8, 159, 394, 100};
constexpr int BaseFontPx = 11, StatusFontPx = 16, ChipFontPx = 13;

QString Text(const std::string& s) {
    return QString::fromStdString(s);
}
}  // namespace

TProgForm::TProgForm(QWidget* parent) : QDialog(parent), MakeLink(SystemLinkFactory()) {
    BuildLayout();
    StartTimer = new QTimer(this);
    StartTimer->setInterval(StartDelayMs);
    StartTimer->setSingleShot(true);
    connect(StartTimer, &QTimer::timeout, this, &TProgForm::StartTimerTimer);
    connect(CloseButton, &QPushButton::clicked, this, &TProgForm::CloseButtonClick);
}

void TProgForm::BuildLayout() {
    setWindowTitle(QStringLiteral("Programming..."));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    // Opens at its design size; a technician may enlarge it to read a long log at once.
    setMinimumSize(ClientWidth, ClientHeight);
    resize(ClientWidth, ClientHeight);
    setFont(PixelFont(BaseFontPx));

    GroupBox1 = new QGroupBox(QStringLiteral("Status"), this);
    GroupBox1->setGeometry(StatusBoxRect);
    StatusLabel = new QLabel(GroupBox1);
    StatusLabel->setGeometry(StatusRect);
    StatusLabel->setFont(PixelFont(StatusFontPx, true));

    GroupBox2 = new QGroupBox(QStringLiteral("Progress"), this);
    GroupBox2->setGeometry(ProgressBoxRect);
    ProgressBar = new QProgressBar(GroupBox2);
    ProgressBar->setGeometry(BarRect);
    ProgressBar->setTextVisible(false);

    Label1 = new QLabel(QStringLiteral("Chip Type: "), this);
    Label1->setGeometry(16, 128, 68, 16);
    Label1->setFont(PixelFont(ChipFontPx));
    // The caption's width depends on the fonts installed: the chip name starts after it.
    Label1->adjustSize();
    Label1->move(16, 128);
    ChipLabel = new QLabel(this);
    ChipLabel->setGeometry(std::max(84, Label1->geometry().right() + 1), 128, 180, 16);
    ChipLabel->setFont(PixelFont(ChipFontPx));

    CloseButton = new QPushButton(QStringLiteral("Abort"), this);
    CloseButton->setGeometry(ButtonRect);
    CloseButton->setAutoDefault(false);

    Memo = new QPlainTextEdit(this);
    Memo->setGeometry(LogRect);
    Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);  // long paths too

    setTabOrder(CloseButton, Memo);
    CloseButton->setFocus();
}

void TProgForm::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    // Extra room widens the status and progress boxes and goes to the log.
    const int wider = width() - ClientWidth, taller = height() - ClientHeight;
    GroupBox1->setGeometry(StatusBoxRect.adjusted(0, 0, wider, 0));
    StatusLabel->setGeometry(StatusRect.adjusted(0, 0, wider, 0));
    GroupBox2->setGeometry(ProgressBoxRect.adjusted(0, 0, wider, 0));
    ProgressBar->setGeometry(BarRect.adjusted(0, 0, wider, 0));
    CloseButton->setGeometry(ButtonRect.translated(wider, 0));
    Memo->setGeometry(LogRect.adjusted(0, 0, wider, taller));
}

void TProgForm::keyPressEvent(QKeyEvent* event) {
    // No cancel button here: Escape neither aborts nor closes.
    if (event->matches(QKeySequence::Cancel)) return;
    QDialog::keyPressEvent(event);
}

void TProgForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

void TProgForm::FormShow() {
    ChipLabel->setText(QStringLiteral("Unknown"));
    StatusLabel->setText(QString());
    StatusLabel->setToolTip(QString());
    ProgressBar->setValue(ProgressBar->minimum());
    CloseButton->setText(QStringLiteral("Abort"));
    CloseButton->setFocus();
    StartTimer->start();
}

void TProgForm::CloseButtonClick() {
    if (CloseButton->text() == QLatin1String("Close")) {
        accept();
        return;
    }
    AbortRequested = true;
}

bool TProgForm::KeepOpenWhileRunning() {
    if (!Running) return false;
    AbortRequested = true;
    return true;
}

void TProgForm::closeEvent(QCloseEvent* event) {
    if (KeepOpenWhileRunning()) {
        event->ignore();
        return;
    }
    StartTimer->stop();  // closed before the run began: no run for this showing
    QDialog::closeEvent(event);
}

void TProgForm::reject() {
    if (KeepOpenWhileRunning()) return;
    StartTimer->stop();
    QDialog::reject();
}

int TProgForm::ExecDeviceRead(DeviceReadRequest request) {
    PendingRead = std::move(request);
    const int result = exec();
    PendingRead.reset();  // also when the window closed before its run began
    return result;
}

void TProgForm::StartTimerTimer() {
    StartTimer->stop();
    AbortRequested = false;
    Running = true;
    if (PendingRead) {
        DeviceReadRequest request = std::move(*PendingRead);
        PendingRead.reset();
        request.DataFolder = DataFolder;
        DeviceReadRun(std::move(request), *this, MakeLink).Execute();
        return;
    }
    // An empty data folder leaves the choice to the run, which makes it for every front end.
    ProgrammingRun run(Params, *this, MakeLink, RunOptions{DataFolder, FirmwareIdText});
    run.Execute();
}

void TProgForm::SetStatusColour(const QColor& colour) {
    QPalette p = StatusLabel->palette();
    p.setColor(QPalette::WindowText, colour);
    StatusLabel->setPalette(p);
}

bool TProgForm::ShowProgress(int32_t position, int32_t total, int32_t phase) {
    const QString before = StatusLabel->text();
    const QColor beforeColour = StatusLabel->palette().color(QPalette::WindowText);
    if (IsKnownPhase(phase)) {
        SetStatusColour(IsFinishedPhase(phase) ? FinishedColour : RunningColour);
        StatusLabel->setText(Text(StatusText(position, total, phase)));
    }
    // The bar is drawn in the status colour.
    const QColor colour = StatusLabel->palette().color(QPalette::WindowText);
    if (ProgressBar->palette().color(QPalette::Highlight) != colour) {
        QPalette bar = ProgressBar->palette();
        bar.setColor(QPalette::Highlight, colour);
        ProgressBar->setPalette(bar);
    }
    ProgressBar->setMinimum(0);
    ProgressBar->setMaximum(total > 0 ? total : 1);  // 0..0 would turn the bar into a spinner
    ProgressBar->setValue(std::clamp(position, 0, ProgressBar->maximum()));
    // Thousands of calls per run: only a changed status line is worth an immediate repaint.
    if (StatusLabel->text() != before || colour != beforeColour) StatusLabel->repaint();
    QCoreApplication::processEvents();
    return AbortRequested;
}

std::string TProgForm::GetErrorText(const EProgError& e) {
    return ::GetErrorText(e.Code);
}

void TProgForm::CheckProgrammer() {
    const ProbeResult r = ::CheckProgrammer(Params.PortName, MakeLink);
    if (r.Ok)
        Boxes().Information(parentWidget(), Text(r.Text));
    else
        Boxes().Error(parentWidget(), Text(r.Text), Text(r.Error.Detail));
}

std::string TProgForm::QueryChipType() {
    const ProbeResult r = ::QueryChipType(Params.PortName, MakeLink);
    if (r.Ok) return r.Text;
    Boxes().Error(parentWidget(), Text(r.Text), Text(r.Error.Detail));
    return {};
}

// ---- what the run reports ------------------------------------------------------

// The steps between progress reports block the window: what the log says is painted at once,
// so the screen never shows the previous run's log or lags behind the step being done.
void TProgForm::ClearLog() {
    Memo->clear();
    Memo->viewport()->repaint();
}

void TProgForm::Log(const std::string& line) {
    Memo->appendPlainText(Text(line));
    Memo->viewport()->repaint();
}

void TProgForm::ChipIdentified(const std::string& name) {
    ChipLabel->setText(Text(name));
    ChipLabel->repaint();
}

bool TProgForm::Progress(int32_t position, int32_t total, ProgressPhase phase) {
    return ShowProgress(position, total, phase);
}

void TProgForm::Failed(const std::string& text) {
    ProgressBar->setValue(ProgressBar->minimum());
    SetStatusColour(FailedColour);
    StatusLabel->setText(Text(text));
    StatusLabel->repaint();
    QApplication::beep();
}

void TProgForm::Ended(const RunOutcome& outcome) {
    Outcome = outcome;
    Running = false;
    // A read or verify ends with what it found; an update's last phase stays.
    if (outcome.Success && !outcome.Readout.Verdict.empty()) {
        SetStatusColour(FinishedColour);
        StatusLabel->setText(Text(outcome.Readout.Verdict));
        StatusLabel->setToolTip(Text(outcome.Readout.Verdict));
        StatusLabel->repaint();
    }
    CloseButton->setText(QStringLiteral("Close"));
}

// One box per copy, newest first: Yes writes that copy back, No asks about the next one and
// after the last goes on with the EEPROM as read, Cancel stops the run before the erase.
EepromAnswer TProgForm::AskAboutEeprom(const EepromQuestion& question) {
    EepromAnswer answer;
    for (const PendingCopy& copy : question.Candidates) {
        const auto pressed = Boxes().Question(this, QStringLiteral("EEPROM"),
                                              Text(CandidateQuestion(question, copy)));
        if (pressed == MessageBoxes::Cancel) return answer;
        if (pressed == MessageBoxes::Yes) {
            answer.Kind = EepromAnswer::WriteCopy;
            answer.CopyPath = copy.Path;
            return answer;
        }
    }
    answer.Kind = EepromAnswer::KeepDevice;
    return answer;
}
