#include "tests/mainwindow/SampleCatalogue.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <filesystem>
#include <fstream>
#include <vector>

const QSize SampleCatalogue::PictureSize(40, 20);
const QSize SampleCatalogue::IconSize(32, 32);

namespace {
constexpr char CatalogueText[] = R"([ITEM_1]
NAME=Main controller
VERSION=AB1+5
Firmware=main.bin
Image=main.jpg
Homepage=https://www.example.com/support/main
Info_en_1=Controller board of the front unit
Info_en_2=Keep the unit switched on while updating
Info_en_4=Line four, after a gap
Info_ge_1=Steuerplatine der Fronteinheit
Processor_1=ATmega644
Fuse_Lo_1=0xE2
Speed_1=50
Processor_3=atmega644
Fuse_Lo_3=0xD7
Fuse_Hi_3=0xD9
Fuse_Ex_3=0xFD
Speed_3=20
Bootloader_3=4096

[ITEM_2]
GROUP=Displays
VERSION=AB205
Firmware=display.bin

[ITEM_3]
NAME=Display board
GROUP=displays
VERSION=AB305
Firmware=display.bin
Image=display.bmp
Processor_1=ATmega128

[ITEM_4]
NAME=Keypad
GROUP=Displays
VERSION=AB1*5
Firmware=keypad.bin
Image=keypad.tif

[ITEM_5]
NAME=Test fixture
GROUP=Production
VERSION=AB505
Firmware=fixture.bin
Image=fixture.tiff

[ITEM_6]
NAME=Fixture tool
GROUP=production
VERSION=AB605
Firmware=fixture.bin
Image=tool.ico

[ITEM_7]
NAME=Lost board
GROUP=Production
VERSION=AB705
Firmware=absent.bin
Image=main.jpg

[ITEM_8]
NAME=App only
GROUP=Alpha
VERSION=AB1+5
Firmware=app-only.bin

[ITEM_9]
NAME=Photo board
VERSION=AB175
Firmware=app-only.bin
Image=photo.jpeg

[ITEM_10]
NAME=Vector board
GROUP=   
Firmware=main.bin
Image=vector.emf

[ITEM_11]
NAME=Drawing board
GROUP=
Firmware=main.bin
Image=drawing.wmf

[ITEM_12]
NAME=Fake photo
Firmware=main.bin
Image=fake.jpg

[ITEM_14]
NAME=Missing picture
GROUP=Alpha
Firmware=main.bin
Image=absent.jpeg

[ITEM_15]
NAME=Unnamed picture
GROUP=Alpha
Firmware=main.bin
Image=picture

[ITEM_17]
NAME=Shouting photo
GROUP=Alpha
Firmware=main.bin
Image=UPPER.JPG
)";

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// A raw image of erased flash with each identifier, zero-terminated, at its own place.
void WriteFirmware(const std::string& path, const std::vector<std::string>& identifiers) {
    constexpr std::size_t ImageSize = 0x100, Spacing = 0x20;
    std::string image(ImageSize, '\xFF');
    for (std::size_t i = 0; i < identifiers.size(); ++i)
        image.replace(Spacing * (i + 1), identifiers[i].size() + 1, identifiers[i] + '\0');
    WriteBytes(path, image);
}

void WritePicture(const std::string& path, const char* format, QSize size) {
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(QColor(0x30, 0x60, 0x90));
    ASSERT_TRUE(picture.save(QString::fromStdString(path), format)) << path;
}
}  // namespace

SampleCatalogue::SampleCatalogue() {
    namespace fs = std::filesystem;
    fs::create_directories(Temp.File("Firmware"));
    fs::create_directories(Temp.File("Images"));
    WriteBytes(Temp.File("Q40Prog.INI"), CatalogueText);

    WriteFirmware(Firmware("main.bin"), {"AB175", "AB1*5"});
    WriteFirmware(Firmware("app-only.bin"), {"AB175"});
    WriteFirmware(Firmware("display.bin"), {"AB305"});
    WriteFirmware(Firmware("keypad.bin"), {"AB1*5"});
    WriteFirmware(Firmware("fixture.bin"), {"AB505", "AB605"});

    const auto image = [&](const std::string& name) { return Temp.File("Images/" + name); };
    WritePicture(image("main.jpg"), "JPG", PictureSize);
    WritePicture(image("display.bmp"), "BMP", PictureSize);
    WritePicture(image("keypad.tif"), "TIFF", PictureSize);
    WritePicture(image("fixture.tiff"), "TIFF", PictureSize);
    WritePicture(image("tool.ico"), "ICO", IconSize);
    WritePicture(image("photo.jpeg"), "JPEG", PictureSize);
    WritePicture(image("UPPER.JPG"), "JPG", PictureSize);
    // Pictures that cannot be shown: a PNG behind a JPEG name, a BMP without extension, and
    // metafiles.
    WritePicture(image("fake.jpg"), "PNG", PictureSize);
    WritePicture(image("picture"), "BMP", PictureSize);
    WriteBytes(image("vector.emf"), std::string("\x01\0\0\0 EMF", 8));
    WriteBytes(image("drawing.wmf"), std::string("\xD7\xCD\xC6\x9A", 4));
}
