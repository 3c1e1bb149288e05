#pragma once
// The safety confirmation window: the catalogue's notes, and the confirmation word that
// opens the main window. A double-click on the picture with Ctrl and Alt held opens it
// in production mode without the word.

#include <QDialog>
#include <functional>
#include <optional>
#include <string>

#include "shell/AppIdentity.h"

class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// StoredShift bits.
enum ShiftFlag : quint16 {
    ssShift = 1,
    ssAlt = 2,
    ssCtrl = 4,
    ssLeft = 8,
    ssRight = 16,
    ssMiddle = 32,
    ssDouble = 64,
};

class TWarningForm : public QDialog {
    Q_OBJECT

public:
    // Shows the main window modally; productionMode is set when it has a value.
    using ShowMainWindow = std::function<void(std::optional<bool> productionMode)>;

    TWarningForm(std::string cataloguePath, ShowMainWindow showMain,
                 FileVersion version = ProgramVersion(), QWidget* parent = nullptr);

    QLabel* Image;
    QPlainTextEdit* Memo;
    QLineEdit* Edit;
    QPushButton* BtnOk;
    QLabel* Label1;
    QLabel* Label2;
    QFrame* Bevel1;
    quint16 StoredShift = 0;

    static bool IsConfirmationWord(const QString& text);

public slots:
    void BtnOkClick();
    void ImageMouseDown(quint16 shift);
    void ImageDblClick();

protected:
    void showEvent(QShowEvent* event) override;
    // Escape does not close the window: there is no cancel button.
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormShow();
    void BuildLayout();

    std::string CataloguePath;
    ShowMainWindow ShowMain;
    FileVersion Version;
};

// The shift state of a mouse event as StoredShift keeps it.
quint16 ShiftOf(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons, bool doubleClick);
