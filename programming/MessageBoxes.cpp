#include "programming/MessageBoxes.h"

#include <QMessageBox>

namespace {
MessageBoxes realBoxes;
MessageBoxes* current = &realBoxes;
}  // namespace

void MessageBoxes::Information(QWidget* parent, const QString& text) {
    QMessageBox::information(parent, QStringLiteral("Information"), text, QMessageBox::Ok);
}

void MessageBoxes::Error(QWidget* parent, const QString& text, const QString& detail) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), text, QMessageBox::Ok, parent);
    box.setInformativeText(detail);
    box.exec();
}

void MessageBoxes::Plain(QWidget* parent, const QString& title, const QString& text,
                         const QString& detail) {
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, parent);
    box.setInformativeText(detail);
    box.exec();
}

MessageBoxes::Answer MessageBoxes::Question(QWidget* parent, const QString& title,
                                            const QString& text) {
    const auto pressed = QMessageBox::question(
        parent, title, text, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
        QMessageBox::Cancel);
    if (pressed == QMessageBox::Yes) return Yes;
    return pressed == QMessageBox::No ? No : Cancel;
}

MessageBoxes& Boxes() {
    return *current;
}

void SetMessageBoxes(MessageBoxes* boxes) {
    current = boxes ? boxes : &realBoxes;
}
