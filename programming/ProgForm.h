#pragma once
// The programming window: one update runs in it, with status line, progress bar and log.

#include <QDialog>
#include <optional>
#include <string>

#include "link/ProgError.h"
#include "programming/DeviceReadRun.h"
#include "programming/LinkFactory.h"
#include "programming/RunParams.h"
#include "programming/RunReport.h"

class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;

class TProgForm : public QDialog, private IRunReport {
    Q_OBJECT

public:
    static constexpr int StartDelayMs = 200;
    // Status colours.
    static const QColor RunningColour;   // black
    static const QColor FinishedColour;  // green 0x8000
    static const QColor FailedColour;    // red 255

    explicit TProgForm(QWidget* parent = nullptr);

    // The progress callback of the transfers; returns the abort request.
    bool ShowProgress(int32_t position, int32_t total, int32_t phase);
    static std::string GetErrorText(const EProgError& e);

    // The probes, with their message boxes; both use PortName.
    void CheckProgrammer();
    std::string QueryChipType();

    // Where links come from (tests: the in-process box) and where EEPROM copies go (empty:
    // the run's default data folder).
    void SetLinkFactory(LinkFactory factory) { MakeLink = std::move(factory); }
    void SetDataFolder(const std::string& folder) { DataFolder = folder; }
    void SetFirmwareIdText(const std::string& id) { FirmwareIdText = id; }
    // Shows the window modally for a read or verify of the device instead of an update: the
    // run sends reads only, and its verdict ends in the status line.
    int ExecDeviceRead(DeviceReadRequest request);
    bool RunActive() const { return Running; }
    const RunOutcome& LastOutcome() const { return Outcome; }

    QPushButton* CloseButton;
    QLabel* ChipLabel;
    QGroupBox* GroupBox1;
    QLabel* StatusLabel;  // wraps, and its tool tip is the whole text too
    // Below the status line after a run that did not succeed: whether the device was changed
    // and what to do now. Empty (and hidden) otherwise.
    QLabel* DeviceStateLabel;
    QGroupBox* GroupBox2;
    QProgressBar* ProgressBar;
    QTimer* StartTimer;
    QLabel* Label1;
    QPlainTextEdit* Memo;
    bool AbortRequested = false;
    RunParams Params;

public slots:
    void CloseButtonClick();
    void StartTimerTimer();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void FormShow();
    void BuildLayout();
    void SetStatusColour(const QColor& colour);
    // The status line's text; every text goes through here so that it is shown whole.
    void SetStatusText(const QString& text);
    void SetDeviceState(const QString& text);
    // Geometry for the window's size and the room the status texts need.
    void PlaceWidgets();
    // Closing while a run is active asks it to stop; the window stays and shows how the run
    // ended, and only a close after that takes it away.
    bool KeepOpenWhileRunning();

    // The run reports through these.
    void ClearLog() override;
    void Log(const std::string& line) override;
    void ChipIdentified(const std::string& name) override;
    bool Progress(int32_t position, int32_t total, ProgressPhase phase) override;
    bool StopRequested() override;
    void StopPending() override;
    void Failed(const std::string& text) override;
    void Ended(const RunOutcome& outcome) override;
    EepromAnswer AskAboutEeprom(const EepromQuestion& question) override;

    LinkFactory MakeLink;
    std::string DataFolder;
    std::string FirmwareIdText;
    bool Running = false;
    RunOutcome Outcome;
    int StatusGrowth = 0;  // how much taller than its design the status box is now
    // The stop waits for the EEPROM to be back; the status line says so meanwhile.
    bool StopWaits = false;
    int32_t ShownPosition = 0, ShownTotal = 0, ShownPhase = -1;  // of the last ShowProgress
    std::optional<DeviceReadRequest> PendingRead;                // this showing's read or verify
};
