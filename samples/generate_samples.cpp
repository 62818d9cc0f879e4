// Draws the sample release's files: a firmware image whose last two bytes carry its 16-bit
// checksum, the release icon, and the cabling picture as a Windows bitmap and as a JPEG.
//
//     dv-sample-gen OUTDIR CHECK_SEED IMAGE_SIZE

#include <QBuffer>
#include <QByteArray>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QPainterPath>
#include <QSaveFile>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace {

void WriteFile(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw std::runtime_error(path.toStdString() + ": " + file.errorString().toStdString());
}

QByteArray Encode(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (!writer.write(image))
        throw std::runtime_error(std::string("cannot encode ") + format + ": " +
                                 writer.errorString().toStdString());
    return bytes;
}

// Made-up firmware: a little-endian counter pattern mixed by a fixed generator, so the bytes
// look like code; the last two hold, most significant first, the 16-bit sum of every byte
// before them, started at the check seed.
QByteArray FirmwareImage(int size, quint16 seed) {
    QByteArray image(size, '\0');
    quint32 state = 0x2545F491u;
    quint16 sum = seed;
    for (int i = 0; i < size - 2; ++i) {
        state = state * 1664525u + 1013904223u;
        image[i] = static_cast<char>(state >> 24);
        sum = static_cast<quint16>(sum + static_cast<quint8>(image[i]));
    }
    image[size - 2] = static_cast<char>(sum >> 8);
    image[size - 1] = static_cast<char>(sum & 0xFF);
    return image;
}

QImage IconImage(int side) {
    QImage image(side, side, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1F, 0x5F, 0xA8));
    p.drawRoundedRect(QRectF(0.5, 0.5, side - 1, side - 1), side / 5.0, side / 5.0);
    // A chip with pins: the unit's microcontroller.
    const qreal chip = side * 0.5, at = side * 0.25;
    p.setBrush(QColor(0xF2, 0xB1, 0x34));
    for (int pin = 0; pin < 3; ++pin) {
        const qreal offset = at + chip * (pin + 0.5) / 3 - side * 0.04;
        p.drawRect(QRectF(offset, at - side * 0.1, side * 0.08, chip + side * 0.2));
        p.drawRect(QRectF(at - side * 0.1, offset, chip + side * 0.2, side * 0.08));
    }
    p.setBrush(QColor(0x20, 0x20, 0x20));
    p.drawRect(QRectF(at, at, chip, chip));
    return image;
}

// A Windows icon file with a 32x32 image as a classic bitmap and a 16x16 one as PNG, which
// keeps both well inside the 5120-byte logo slot.
QByteArray IconFile() {
    struct Entry {
        int side;
        QByteArray data;
    };
    // Qt writes a one-image icon file; its image data starts after the 6 + 16 header bytes.
    const Entry entries[] = {{32, Encode(IconImage(32), "ico").mid(22)},
                             {16, Encode(IconImage(16), "png")}};
    QByteArray file;
    auto u16 = [&file](int v) {
        file.append(static_cast<char>(v & 0xFF));
        file.append(static_cast<char>((v >> 8) & 0xFF));
    };
    auto u32 = [&u16](int v) {
        u16(v & 0xFFFF);
        u16((v >> 16) & 0xFFFF);
    };
    u16(0);
    u16(1); // icon
    u16(2);
    int offset = 6 + 16 * 2;
    for (const Entry& e : entries) {
        file.append(static_cast<char>(e.side));
        file.append(static_cast<char>(e.side));
        file.append('\0'); // no palette
        file.append('\0');
        u16(1);  // planes
        u16(32); // bits per pixel
        u32(static_cast<int>(e.data.size()));
        u32(offset);
        offset += static_cast<int>(e.data.size());
    }
    for (const Entry& e : entries)
        file.append(e.data);
    return file;
}

void DrawBox(QPainter& p, const QRect& box, const QColor& fill, const QString& label) {
    p.setPen(QPen(Qt::black, 2));
    p.setBrush(fill);
    p.drawRoundedRect(box, 6, 6);
    p.drawText(box.adjusted(4, 4, -4, -4), Qt::AlignHCenter | Qt::AlignBottom, label);
}

// The computer's serial port, the cable, and the unit's programming connector.
QImage CablingPicture() {
    QImage image(240, 150, QImage::Format_RGB32);
    image.fill(QColor(0xF4, 0xF4, 0xEE));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QFont font = p.font();
    font.setPixelSize(11);
    p.setFont(font);

    DrawBox(p, QRect(10, 30, 70, 80), QColor(0xC8, 0xD6, 0xE5), "Computer");
    DrawBox(p, QRect(160, 40, 70, 60), QColor(0x9B, 0xC5, 0x8F), "Unit");
    // Connectors: the COM port and the unit's PROG header.
    p.setBrush(Qt::darkGray);
    p.drawRect(QRect(76, 55, 10, 16));
    p.drawRect(QRect(154, 60, 10, 12));
    // The cable.
    p.setPen(QPen(QColor(0x30, 0x30, 0x90), 4, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    QPainterPath cable(QPointF(86, 63));
    cable.cubicTo(QPointF(115, 20), QPointF(125, 110), QPointF(154, 66));
    p.drawPath(cable);

    p.setPen(Qt::black);
    p.drawText(QRect(0, 4, 240, 20), Qt::AlignCenter, "Serial cable to PROG");
    p.drawText(QRect(0, 120, 240, 20), Qt::AlignCenter, "COM port        J3 PROG");
    return image;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: dv-sample-gen OUTDIR CHECK_SEED IMAGE_SIZE\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    const auto seed = static_cast<quint16>(std::strtoul(argv[2], nullptr, 0));
    const int imageSize = std::atoi(argv[3]);
    try {
        if (imageSize < 128 || imageSize % 128 != 0)
            throw std::runtime_error("IMAGE_SIZE must be a whole number of 128-byte blocks");
        WriteFile(dir + "/image.bin", FirmwareImage(imageSize, seed));
        WriteFile(dir + "/daltoven.ico", IconFile());
        const QImage picture = CablingPicture();
        WriteFile(dir + "/cabling.bmp", Encode(picture, "bmp"));
        WriteFile(dir + "/cabling.jpg", Encode(picture, "jpeg"));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "dv-sample-gen: %s\n", e.what());
        return 1;
    }
    return 0;
}
