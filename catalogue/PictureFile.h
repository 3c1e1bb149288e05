#pragma once
// Item pictures. The catalogue names their type by the file extension: bmp, jpg, jpeg, ico,
// tif, tiff, emf and wmf. Qt draws no Windows metafiles, so emf and wmf, like any other
// extension, give no picture.

#include <QByteArray>
#include <QImage>
#include <QString>

// The image-reader format for the file's extension (any case); empty when none applies.
QByteArray PictureFormatFor(const QString& path);

// The picture, read strictly as the type its extension names: a .jpg holding a PNG is no
// picture. A null image when it cannot be shown.
QImage LoadPicture(const QString& path);
