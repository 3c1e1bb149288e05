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
constexpr int ChipTop = 128;
constexpr int BaseFontPx = 11, StatusFontPx = 16, ChipFontPx = 13;
constexpr int DeviceStateGap = 2;  // between the status text and the device's state

// What a technician does after a run that did not succeed.
const QString DeviceChangedText = QStringLiteral(
    "The device was changed and needs another update. Leave the board connected and press "
    "Update Firmware again.");
const QString DeviceUnchangedText = QStringLiteral("The device was not changed.");

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
    // A failure's text is read to its end: it wraps, and the status box grows to hold it.
    StatusLabel->setWordWrap(true);
    DeviceStateLabel = new QLabel(GroupBox1);
    DeviceStateLabel->setFont(PixelFont(ChipFontPx));
    DeviceStateLabel->setWordWrap(true);
    DeviceStateLabel->hide();

    GroupBox2 = new QGroupBox(QStringLiteral("Progress"), this);
    GroupBox2->setGeometry(ProgressBoxRect);
    ProgressBar = new QProgressBar(GroupBox2);
    ProgressBar->setGeometry(BarRect);
    ProgressBar->setTextVisible(false);

    Label1 = new QLabel(QStringLiteral("Chip Type: "), this);
    Label1->setGeometry(16, ChipTop, 68, 16);
    Label1->setFont(PixelFont(ChipFontPx));
    // The caption's width depends on the fonts installed: the chip name starts after it.
    Label1->adjustSize();
    Label1->move(16, ChipTop);
    ChipLabel = new QLabel(this);
    ChipLabel->setGeometry(std::max(84, Label1->geometry().right() + 1), ChipTop, 180, 16);
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
    PlaceWidgets();
}

// Extra width widens the status and progress boxes and the log. The status box is as tall as
// its texts need at that width; what it grows moves the rest down, and the window grows with
// it, so the log keeps its room. Extra height goes to the log.
void TProgForm::PlaceWidgets() {
    const int wider = width() - ClientWidth;
    const int lineWidth = StatusRect.width() + wider;
    const int statusHeight = std::max(StatusRect.height(), StatusLabel->heightForWidth(lineWidth));
    const bool stateShown = !DeviceStateLabel->text().isEmpty();
    const int stateHeight = stateShown ? DeviceStateLabel->heightForWidth(lineWidth) : 0;
    StatusGrowth =
        statusHeight - StatusRect.height() + (stateShown ? DeviceStateGap + stateHeight : 0);
    const int lower = StatusGrowth, taller = height() - ClientHeight - lower;

    GroupBox1->setGeometry(StatusBoxRect.adjusted(0, 0, wider, lower));
    StatusLabel->setGeometry(StatusRect.left(), StatusRect.top(), lineWidth, statusHeight);
    DeviceStateLabel->setGeometry(StatusRect.left(),
                                  StatusRect.top() + statusHeight + DeviceStateGap, lineWidth,
                                  stateHeight);
    DeviceStateLabel->setVisible(stateShown);
    GroupBox2->setGeometry(ProgressBoxRect.adjusted(0, 0, wider, 0).translated(0, lower));
    ProgressBar->setGeometry(BarRect.adjusted(0, 0, wider, 0));
    Label1->move(Label1->x(), ChipTop + lower);
    ChipLabel->move(ChipLabel->x(), ChipTop + lower);
    CloseButton->setGeometry(ButtonRect.translated(wider, lower));
    Memo->setGeometry(LogRect.translated(0, lower).adjusted(0, 0, wider, std::max(taller, 0)));
    setMinimumHeight(ClientHeight + lower);
}

void TProgForm::SetStatusText(const QString& text) {
    if (text == StatusLabel->text() && text == StatusLabel->toolTip()) return;  // most reports
    StatusLabel->setText(text);
    StatusLabel->setToolTip(text);
    const int lineWidth = StatusLabel->width();
    const int needed = std::max(StatusRect.height(), StatusLabel->heightForWidth(lineWidth));
    if (needed != StatusLabel->height()) PlaceWidgets();
}

void TProgForm::SetDeviceState(const QString& text) {
    DeviceStateLabel->setText(text);
    PlaceWidgets();
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
    SetStatusText(QString());
    SetDeviceState(QString());
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
    StopWaits = false;
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
        SetStatusText(Text(StatusText(position, total, phase, StopWaits)));
        ShownPosition = position;
        ShownTotal = total;
        ShownPhase = phase;
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

// Between the steps the run blocks the window: a click on Abort or on the close box waits
// in the queue until it is handled here.
bool TProgForm::StopRequested() {
    QCoreApplication::processEvents();
    return AbortRequested;
}

void TProgForm::StopPending() {
    StopWaits = true;
    if (!IsKnownPhase(ShownPhase)) return;
    SetStatusText(Text(StatusText(ShownPosition, ShownTotal, ShownPhase, true)));
    StatusLabel->repaint();
}

void TProgForm::Failed(const std::string& text) {
    ProgressBar->setValue(ProgressBar->minimum());
    SetStatusColour(FailedColour);
    SetStatusText(Text(text));
    StatusLabel->repaint();
    QApplication::beep();
}

void TProgForm::Ended(const RunOutcome& outcome) {
    Outcome = outcome;
    Running = false;
    // What the device needs now, from what was sent to it.
    if (outcome.Success)
        SetDeviceState(QString());
    else
        SetDeviceState(outcome.DeviceTouched ? DeviceChangedText : DeviceUnchangedText);
    // A read or verify ends with what it found; an update's last phase stays.
    if (outcome.Success && !outcome.Readout.Verdict.empty()) {
        SetStatusColour(FinishedColour);
        SetStatusText(Text(outcome.Readout.Verdict));
        StatusLabel->repaint();
    }
    CloseButton->setText(QStringLiteral("Close"));
}

// One box per copy, newest first: Yes writes that copy back, No asks about the next one and
// after the last goes on with the EEPROM as read, Cancel stops the run before the erase. Each
// box says so below its question.
EepromAnswer TProgForm::AskAboutEeprom(const EepromQuestion& question) {
    EepromAnswer answer;
    for (const PendingCopy& copy : question.Candidates) {
        const bool last = &copy == &question.Candidates.back();
        const auto pressed = Boxes().Question(
            this, QStringLiteral("EEPROM"),
            Text(CandidateQuestion(question, copy) + "\n\n" + AnswerChoices(last)));
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
