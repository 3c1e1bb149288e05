// terminal_shot: draws what a terminal shows as a PNG, for the documentation.
//
//   terminal_shot SCREEN.txt OUT.png
//
// SCREEN.txt is a terminal's screen as `tmux capture-pane -p -e` prints it: one line per row,
// in UTF-8, with the colours and attributes as SGR escape sequences. The terminal itself (the
// station's cursor moves, its redraws) was tmux's; this only paints the cells it kept, in
// DejaVu Sans Mono on a dark background.
#include <QColor>
#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QStringList>
#include <cstdio>
#include <vector>

namespace {
struct Style {
    QColor Fore{0xd0, 0xd0, 0xd0};
    QColor Back{0x1e, 0x1e, 0x1e};
    bool Bold = false;
    bool Reverse = false;
};

struct Cell {
    QString Text;  // one character (a surrogate pair at most)
    Style Look;
};

// The 16 colours of a common terminal theme, then the 6x6x6 cube and the grey ramp.
QColor Palette(int n) {
    static const QColor basic[16] = {
        {0x1e, 0x1e, 0x1e}, {0xcd, 0x31, 0x31}, {0x0d, 0xbc, 0x79}, {0xe5, 0xe5, 0x10},
        {0x24, 0x72, 0xc8}, {0xbc, 0x3f, 0xbc}, {0x11, 0xa8, 0xcd}, {0xe5, 0xe5, 0xe5},
        {0x66, 0x66, 0x66}, {0xf1, 0x4c, 0x4c}, {0x23, 0xd1, 0x8b}, {0xf5, 0xf5, 0x43},
        {0x3b, 0x8e, 0xea}, {0xd6, 0x70, 0xd6}, {0x29, 0xb8, 0xdb}, {0xff, 0xff, 0xff}};
    if (n < 16) return basic[n];
    if (n < 232) {
        const int i = n - 16;
        const auto level = [](int v) { return v == 0 ? 0 : 55 + v * 40; };
        return {level(i / 36), level(i / 6 % 6), level(i % 6)};
    }
    const int grey = 8 + (n - 232) * 10;
    return {grey, grey, grey};
}

// Applies one SGR sequence's parameters: 3x and 9x (bright) set the foreground, 4x and 10x
// the background, 38 and 48 with 5;N or 2;R;G;B either from the 256 colours or directly.
void Apply(const QStringList& params, Style& s) {
    const Style plain;
    for (int i = 0; i < params.size(); ++i) {
        const int p = params[i].isEmpty() ? 0 : params[i].toInt();
        const bool back = (p >= 40 && p <= 49) || (p >= 100 && p <= 107);
        QColor& colour = back ? s.Back : s.Fore;
        const bool extended = p == 38 || p == 48;
        if (p == 0) {
            s = plain;
        } else if (p == 1 || p == 22) {
            s.Bold = p == 1;
        } else if (p == 7 || p == 27) {
            s.Reverse = p == 7;
        } else if (p == 39 || p == 49) {
            colour = back ? plain.Back : plain.Fore;
        } else if ((p >= 30 && p <= 37) || (p >= 40 && p <= 47)) {
            colour = Palette(p % 10);
        } else if ((p >= 90 && p <= 97) || (p >= 100 && p <= 107)) {
            colour = Palette(p % 10 + 8);
        } else if (extended && i + 2 < params.size() && params[i + 1] == "5") {
            colour = Palette(params[i + 2].toInt() & 0xFF);
            i += 2;
        } else if (extended && i + 4 < params.size() && params[i + 1] == "2") {
            colour = QColor(params[i + 2].toInt(), params[i + 3].toInt(), params[i + 4].toInt());
            i += 4;
        }
    }
}

// The cells of one captured row; the style carries on into the next row, as tmux leaves it.
std::vector<Cell> Cells(const QString& line, Style& style) {
    std::vector<Cell> cells;
    for (int i = 0; i < line.size(); ++i) {
        if (line[i] == QChar(0x1b) && i + 1 < line.size() && line[i + 1] == '[') {
            int end = i + 2;
            while (end < line.size() && !line[end].isLetter()) ++end;
            if (end < line.size() && line[end] == 'm')
                Apply(line.mid(i + 2, end - i - 2).split(';'), style);
            i = end;
            continue;
        }
        if (line[i].isHighSurrogate() && i + 1 < line.size()) {
            cells.push_back({line.mid(i, 2), style});
            ++i;
        } else {
            cells.push_back({QString(line[i]), style});
        }
    }
    return cells;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: terminal_shot SCREEN.txt OUT.png\n");
        return 2;
    }
    QGuiApplication app(argc, argv);
    QFile in(QString::fromLocal8Bit(argv[1]));
    if (!in.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "terminal_shot: cannot read %s\n", argv[1]);
        return 1;
    }
    QStringList lines = QString::fromUtf8(in.readAll()).split('\n');
    while (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();

    Style style;
    std::vector<std::vector<Cell>> rows;
    int columns = 0;
    for (const QString& line : lines) {
        rows.push_back(Cells(line, style));
        columns = std::max(columns, static_cast<int>(rows.back().size()));
    }
    QFont font("DejaVu Sans Mono");
    font.setPixelSize(15);
    font.setStyleHint(QFont::Monospace);
    const QFontMetrics metrics(font);
    const int w = metrics.horizontalAdvance('M'), h = metrics.height(), margin = 12;
    QImage image(columns * w + 2 * margin, static_cast<int>(rows.size()) * h + 2 * margin,
                 QImage::Format_RGB32);
    image.fill(Style().Back);
    QPainter painter(&image);
    for (std::size_t r = 0; r < rows.size(); ++r)
        for (std::size_t c = 0; c < rows[r].size(); ++c) {
            const Cell& cell = rows[r][c];
            QColor fore = cell.Look.Fore, back = cell.Look.Back;
            if (cell.Look.Reverse) std::swap(fore, back);
            const QRect box(margin + static_cast<int>(c) * w, margin + static_cast<int>(r) * h, w,
                            h);
            painter.fillRect(box, back);
            // The block elements of the big words are painted whole: glyphs would leave
            // seams between the rows.
            const char16_t block = cell.Text.size() == 1 ? cell.Text[0].unicode() : 0;
            if (block == u'\u2588' || block == u'\u2580' || block == u'\u2584') {
                QRect part = box;
                if (block == u'\u2580') part.setHeight(h / 2);
                if (block == u'\u2584') part.setTop(box.top() + h / 2);
                painter.fillRect(part, fore);
                continue;
            }
            QFont cellFont = font;
            cellFont.setBold(cell.Look.Bold);
            painter.setFont(cellFont);
            painter.setPen(fore);
            painter.drawText(box.left(), box.top() + metrics.ascent(), cell.Text);
        }
    painter.end();
    if (!image.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "terminal_shot: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
