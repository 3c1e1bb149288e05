#include "catalogue/PictureFile.h"

#include <QFileInfo>
#include <QImageReader>

namespace {
struct PictureType {
    const char* Extension;
    const char* Format;
};
constexpr PictureType PictureTypes[] = {
    {"bmp", "bmp"}, {"jpg", "jpeg"}, {"jpeg", "jpeg"},
    {"ico", "ico"}, {"tif", "tiff"}, {"tiff", "tiff"},
};
}  // namespace

QByteArray PictureFormatFor(const QString& path) {
    const QString extension = QFileInfo(path).suffix().toLower();
    for (const PictureType& type : PictureTypes)
        if (extension == QLatin1String(type.Extension)) return type.Format;
    return {};
}

QImage LoadPicture(const QString& path) {
    const QByteArray format = PictureFormatFor(path);
    if (format.isEmpty() || !QFileInfo(path).isFile()) return {};
    QImageReader reader(path, format);
    // Only the named type: Qt would otherwise read whatever the content turns out to be.
    reader.setAutoDetectImageFormat(false);
    reader.setDecideFormatFromContent(false);
    return reader.read();
}
