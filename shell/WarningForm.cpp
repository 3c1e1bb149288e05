#include "shell/WarningForm.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>

#include "catalogue/Catalogue.h"
#include "catalogue/CatalogueLocation.h"
#include "catalogue/InfoLines.h"
#include "catalogue/MissingCatalogue.h"
#include "programming/PixelFont.h"

namespace {
constexpr int ClientWidth = 691, ClientHeight = 296;
constexpr int BaseFontPx = 11, NotesFontPx = 13;
constexpr char DesignCaption[] = "KARDO Q-Series Firmware Programmer";

// The upright warning picture at the left: yellow and black stripes around a sign.
QPixmap WarningPicture(int width, int height) {
    QPixmap pm(width, height);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(255, 204, 0));
    p.setPen(Qt::NoPen);
    p.drawRect(0, 0, width, height);
    p.setBrush(Qt::black);
    for (int y = -width; y < height; y += 24)
        p.drawPolygon(QPolygon({{0, y}, {width, y + width}, {width, y + width + 12}, {0, y + 12}}));
    p.setBrush(QColor(255, 204, 0));
    p.drawEllipse(QPoint(width / 2, height / 2), width / 2 - 4, width / 2 - 4);
    p.setPen(QPen(Qt::black, 5));
    p.drawLine(width / 2, height / 2 - 12, width / 2, height / 2 + 4);
    p.drawPoint(width / 2, height / 2 + 12);
    return pm;
}
}  // namespace

quint16 ShiftOf(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons, bool doubleClick) {
    quint16 s = 0;
    if (modifiers & Qt::ShiftModifier) s |= ssShift;
    if (modifiers & Qt::AltModifier) s |= ssAlt;
    if (modifiers & Qt::ControlModifier) s |= ssCtrl;
    if (buttons & Qt::LeftButton) s |= ssLeft;
    if (buttons & Qt::RightButton) s |= ssRight;
    if (buttons & Qt::MiddleButton) s |= ssMiddle;
    if (doubleClick) s |= ssDouble;
    return s;
}

TWarningForm::TWarningForm(std::string cataloguePath, ShowMainWindow showMain, FileVersion version,
                           QWidget* parent)
    : QDialog(parent),
      CataloguePath(std::move(cataloguePath)),
      ShowMain(std::move(showMain)),
      Version(version) {
    BuildLayout();
    connect(BtnOk, &QPushButton::clicked, this, &TWarningForm::BtnOkClick);
}

void TWarningForm::BuildLayout() {
    setWindowTitle(DesignCaption);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(ClientWidth, ClientHeight);
    setFont(PixelFont(BaseFontPx));

    Image = new QLabel(this);
    Image->setGeometry(16, 8, 54, 225);
    Image->setPixmap(WarningPicture(53, 225));
    Image->installEventFilter(this);

    Memo = new QPlainTextEdit(this);
    Memo->setGeometry(88, 8, 593, 225);
    Memo->setReadOnly(true);
    Memo->setFocusPolicy(Qt::NoFocus);
    Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo->setFont(
        PixelFont(NotesFontPx, false, QFontDatabase::systemFont(QFontDatabase::FixedFont)));

    Bevel1 = new QFrame(this);
    Bevel1->setGeometry(8, 241, 673, 7);
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);

    Label1 = new QLabel(
        QStringLiteral("Geben Sie JA ein wenn alle Sicherheitsmasnahmen getroffen wurden :"), this);
    Label1->setGeometry(8, 255, 413, 14);
    Label1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Label2 = new QLabel(QStringLiteral("Enter YES if all precautions have been taken :"), this);
    Label2->setGeometry(8, 271, 413, 14);
    Label2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    Edit = new QLineEdit(this);
    Edit->setGeometry(432, 260, 57, 21);
    BtnOk = new QPushButton(QStringLiteral("OK"), this);
    BtnOk->setGeometry(504, 258, 81, 25);
    BtnOk->setDefault(true);
    setTabOrder(Edit, BtnOk);
    Edit->setFocus();
}

void TWarningForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

void TWarningForm::FormShow() {
    Memo->clear();
    const Catalogue catalogue(CataloguePath);
    // Without a catalogue the notes say so, where a first start looks first.
    std::vector<std::string> lines = MissingCatalogueNote(catalogue, FolderOf(CataloguePath));
    if (lines.empty()) lines = NoteLines(catalogue);
    for (const std::string& line : lines) Memo->appendPlainText(QString::fromStdString(line));
    Memo->moveCursor(QTextCursor::Start);
    setWindowTitle(QString::fromStdString(VersionCaption(Version)));
    Edit->setFocus();
}

bool TWarningForm::IsConfirmationWord(const QString& text) {
    const QString upper = text.toUpper();
    return upper == QLatin1String("JA") || upper == QLatin1String("YES");
}

void TWarningForm::BtnOkClick() {
    if (IsConfirmationWord(Edit->text())) {
        hide();
        ShowMain(false);
    }
    close();
}

void TWarningForm::ImageMouseDown(quint16 shift) {
    StoredShift = shift;
}

void TWarningForm::ImageDblClick() {
    hide();
    const bool production = (StoredShift & ssCtrl) && (StoredShift & ssAlt);
    ShowMain(production ? std::optional<bool>(true) : std::nullopt);
}

void TWarningForm::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Cancel)) return;
    QDialog::keyPressEvent(event);
}

bool TWarningForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Image) {
        if (event->type() == QEvent::MouseButtonPress) {
            auto* e = static_cast<QMouseEvent*>(event);
            ImageMouseDown(ShiftOf(e->modifiers(), e->buttons(), false));
        } else if (event->type() == QEvent::MouseButtonDblClick) {
            // A double-click is the left button's, and it acts on the state of its first
            // press; then its second press counts as a press of its own.
            auto* e = static_cast<QMouseEvent*>(event);
            if (e->button() == Qt::LeftButton) ImageDblClick();
            ImageMouseDown(ShiftOf(e->modifiers(), e->buttons(), true));
        }
    }
    return QDialog::eventFilter(watched, event);
}
