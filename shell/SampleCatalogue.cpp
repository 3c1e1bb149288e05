// q40prog-sample FOLDER: writes a sample catalogue with its firmware files and pictures,
// for the demo and the screenshots. Everything is generated, nothing is copied.
#include <QColor>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {
constexpr int HexBytesPerRecord = 16;

using Image = std::vector<uint8_t>;

// An application image: pseudo-code bytes with the identifier texts at their addresses.
Image FirmwareImage(std::size_t size, const std::vector<std::pair<std::size_t, std::string>>& ids) {
    Image image(size);
    uint32_t x = 0x2545F491u ^ static_cast<uint32_t>(size);
    for (auto& b : image) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x);
    }
    for (const auto& [at, text] : ids) {
        std::copy(text.begin(), text.end(), image.begin() + static_cast<long>(at));
        image[at + text.size()] = 0;
    }
    return image;
}

void WriteHex(const std::string& path, const Image& image) {
    std::ofstream out(path);
    char line[80];
    for (std::size_t at = 0; at < image.size(); at += HexBytesPerRecord) {
        const std::size_t n = std::min<std::size_t>(HexBytesPerRecord, image.size() - at);
        std::size_t sum = n + (at >> 8 & 0xFF) + (at & 0xFF);
        int len = std::snprintf(line, sizeof line, ":%02X%04X00", static_cast<unsigned>(n),
                                static_cast<unsigned>(at));
        for (std::size_t i = 0; i < n; ++i) {
            sum += image[at + i];
            len += std::snprintf(line + len, sizeof line - len, "%02X", image[at + i]);
        }
        std::snprintf(line + len, sizeof line - len, "%02X\n",
                      static_cast<unsigned>((0x100 - (sum & 0xFF)) & 0xFF));
        out << line;
    }
    out << ":00000001FF\n";
}

void WriteBinary(const std::string& path, const Image& image) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
}

// A picture of a circuit board with the item's name on it.
void WritePicture(const std::string& path, const QString& label, QColor board, int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(QColor(235, 235, 235));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(board);
    p.setPen(QPen(board.darker(160), 3));
    p.drawRoundedRect(QRectF(w * 0.08, h * 0.12, w * 0.84, h * 0.76), 12, 12);
    p.setBrush(QColor(30, 30, 30));
    p.setPen(Qt::NoPen);
    p.drawRect(QRectF(w * 0.38, h * 0.35, w * 0.24, h * 0.3));  // the microcontroller
    p.setPen(QPen(QColor(200, 170, 60), 2));
    for (int i = 0; i < 8; ++i) {
        const double y = h * 0.37 + i * h * 0.035;
        p.drawLine(QPointF(w * 0.34, y), QPointF(w * 0.38, y));
        p.drawLine(QPointF(w * 0.62, y), QPointF(w * 0.66, y));
    }
    p.setPen(Qt::white);
    QFont f = p.font();
    f.setPixelSize(h / 12);
    f.setBold(true);
    p.setFont(f);
    p.drawText(QRectF(0, h * 0.7, w, h * 0.15), Qt::AlignCenter, label);
    p.end();
    img.save(QString::fromStdString(path));
}

const char* const Catalogue = R"INI(; KARDO Q-Series sample catalogue
[VERSION]
Info_1=KARDO Q-Series Programmer - sample catalogue
Info_2=
Info_3=Before you update a device:
Info_4= * connect the programmer box to the ISP header of the board
Info_5= * keep the device powered during the whole update
Info_6= * do not unplug the programmer box while the log is running
Info_7=
Info_8=Vor dem Update: Programmer anschliessen, Geraet eingeschaltet lassen.

[ITEM_1]
NAME=Q40 main controller
GROUP=Controllers
VERSION=KQ4+0
Firmware=q40_main.hex
Image=q40_main.jpg
Homepage=https://www.kardo.example/support/q40-main
Info_en_1=Controller board of the Q40 front unit.
Info_en_2=Carries the application and its bootloader.
Info_en_3=Keep the unit switched on while updating.
Info_ge_1=Steuerplatine der Q40-Fronteinheit.
Info_ge_2=Enthält Anwendung und Bootloader.
Info_ge_3=Gerät während des Updates eingeschaltet lassen.
Processor_1=ATmega644P
Fuse_Lo_1=0xD7
Fuse_Hi_1=0xD0
Fuse_Ex_1=0xFD
Speed_1=20
Bootloader_1=61440
Processor_2=ATmega644
Fuse_Lo_2=0xD7
Bootloader_2=61440

[ITEM_2]
NAME=Q40 relay board
GROUP=Controllers
VERSION=KR2x1
Firmware=q40_relay.bin
Image=q40_relay.bmp
Info_en_1=Relay and power board.
Info_ge_1=Relais- und Netzteilplatine.
Processor_1=ATmega644P
Fuse_Hi_1=$D9

[ITEM_4]
NAME=Q-Series display
GROUP=Displays
VERSION=KD305
Firmware=display.hex
Image=display.tif
Info_en_1=Graphic display of the Q-Series.
Info_ge_1=Grafikanzeige der Q-Serie.
Processor_1=ATmega644P
Processor_2=ATmega2560

[ITEM_9]
NAME=Test fixture
GROUP=Production
VERSION=KT8+1
Firmware=fixture.hex
Image=fixture.ico
Info_en_1=End-of-line test fixture (production only).
Info_ge_1=Prüfadapter für die Fertigung.
Processor_1=ATmega644P
)INI";
}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || std::string(argv[1]) == "--help") {
        std::fprintf(argc == 2 ? stdout : stderr, "usage: q40prog-sample FOLDER\n");
        return argc == 2 ? 0 : 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    const std::string dir = argv[1];
    std::filesystem::create_directories(dir + "/Firmware");
    std::filesystem::create_directories(dir + "/Images");
    std::ofstream(dir + "/Q40Prog.INI") << Catalogue;

    WriteHex(dir + "/Firmware/q40_main.hex",
             FirmwareImage(0x10000, {{0x0400, "KQ410 2.6.1"}, {0xF100, "KQ4*0 boot 1.2"}}));
    WriteBinary(dir + "/Firmware/q40_relay.bin", FirmwareImage(0x3000, {{0x0200, "KR2x1 1.0.4"}}));
    WriteHex(dir + "/Firmware/display.hex", FirmwareImage(0x6000, {{0x0100, "KD305 3.1"}}));
    WriteHex(dir + "/Firmware/fixture.hex",
             FirmwareImage(0x2000, {{0x0100, "KT8-1 test 7"}, {0x1F00, "KT8*1 boot 1"}}));

    WritePicture(dir + "/Images/q40_main.jpg", "Q40 main", QColor(20, 110, 60), 480, 320);
    WritePicture(dir + "/Images/q40_relay.bmp", "Q40 relay", QColor(30, 80, 150), 400, 300);
    WritePicture(dir + "/Images/display.tif", "Display", QColor(120, 40, 120), 360, 360);
    WritePicture(dir + "/Images/fixture.ico", "Fixture", QColor(150, 90, 20), 128, 128);
    std::printf("%s/Q40Prog.INI\n", dir.c_str());
    return 0;
}
