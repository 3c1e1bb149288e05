#include "catalogue/FittedPicture.h"

#include <QPainter>

QRect FittedRect(const QSize& picture, const QSize& area) {
    if (picture.isEmpty() || area.isEmpty()) return {};
    const QSize fitted = picture.scaled(area, Qt::KeepAspectRatio);
    const QPoint topLeft((area.width() - fitted.width()) / 2,
                         (area.height() - fitted.height()) / 2);
    return {topLeft, fitted};
}

FittedPicture::FittedPicture(QWidget* parent) : QWidget(parent) {}

void FittedPicture::SetPicture(const QImage& picture) {
    Original = picture;
    update();
}

void FittedPicture::paintEvent(QPaintEvent*) {
    const QRect target = PictureRect();
    if (target.isEmpty()) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, Original);
}
