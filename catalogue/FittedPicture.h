#pragma once
// The item picture: scaled to fit its area with its proportions kept, and centred. It is
// drawn from the original at every paint, so it follows the splitters and the window size.

#include <QImage>
#include <QRect>
#include <QWidget>

// Where a picture of that size is drawn inside the area; empty when either is empty.
QRect FittedRect(const QSize& picture, const QSize& area);

class FittedPicture : public QWidget {
    Q_OBJECT

public:
    explicit FittedPicture(QWidget* parent = nullptr);

    void SetPicture(const QImage& picture);
    const QImage& Picture() const { return Original; }
    QRect PictureRect() const { return FittedRect(Original.size(), size()); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage Original;
};
