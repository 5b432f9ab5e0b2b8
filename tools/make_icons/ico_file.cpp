#include "tools/make_icons/ico_file.h"

#include <QBuffer>
#include <cstdint>

namespace koravex {

namespace {

void put16(QByteArray& out, std::uint16_t value) {
    const char bytes[2] = {static_cast<char>(value & 0xff), static_cast<char>(value >> 8)};
    out.append(bytes, 2);
}

void put32(QByteArray& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.append(static_cast<char>((value >> shift) & 0xff));
    }
}

int stride(int width, int bitsPerPixel) {
    return ((width * bitsPerPixel + 31) / 32) * 4;
}

bool transparentAt(const QImage& argb, int x, int y) {
    return qAlpha(argb.pixel(x, y)) < 128;
}

// BITMAPINFOHEADER of an icon image: the height counts the colour rows and the mask rows.
void putInfoHeader(QByteArray& out, int size, int bitsPerPixel, std::uint32_t imageBytes,
                   std::uint32_t coloursUsed) {
    put32(out, 40);
    put32(out, static_cast<std::uint32_t>(size));
    put32(out, static_cast<std::uint32_t>(2 * size));
    put16(out, 1);
    put16(out, static_cast<std::uint16_t>(bitsPerPixel));
    put32(out, 0);  // BI_RGB
    put32(out, imageBytes);
    put32(out, 0);
    put32(out, 0);
    put32(out, coloursUsed);
    put32(out, 0);
}

// The AND mask, bottom row first: a set bit is a transparent pixel.
void putMask(QByteArray& out, const QImage& argb) {
    const int size = argb.width();
    const int rowBytes = stride(size, 1);
    for (int y = size - 1; y >= 0; --y) {
        QByteArray row(rowBytes, '\0');
        for (int x = 0; x < size; ++x) {
            if (transparentAt(argb, x, y)) {
                row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
            }
        }
        out.append(row);
    }
}

QByteArray indexedImage(const QImage& argb) {
    const QImage indexed = toIndexed8(argb);
    const int size = argb.width();
    const int rowBytes = stride(size, 8);
    const auto imageBytes = static_cast<std::uint32_t>(rowBytes * size + stride(size, 1) * size);
    QByteArray out;
    putInfoHeader(out, size, 8, imageBytes, 256);
    const QList<QRgb> table = indexed.colorTable();
    for (int i = 0; i < 256; ++i) {
        const QRgb c = i < table.size() ? table[i] : 0;
        out.append(static_cast<char>(qBlue(c)));
        out.append(static_cast<char>(qGreen(c)));
        out.append(static_cast<char>(qRed(c)));
        out.append('\0');
    }
    for (int y = size - 1; y >= 0; --y) {
        QByteArray row(rowBytes, '\0');
        for (int x = 0; x < size; ++x) {
            row[x] = static_cast<char>(indexed.pixelIndex(x, y));
        }
        out.append(row);
    }
    putMask(out, argb);
    return out;
}

QByteArray argbImage(const QImage& argb) {
    const int size = argb.width();
    const auto imageBytes = static_cast<std::uint32_t>(4 * size * size + stride(size, 1) * size);
    QByteArray out;
    putInfoHeader(out, size, 32, imageBytes, 0);
    for (int y = size - 1; y >= 0; --y) {
        for (int x = 0; x < size; ++x) {
            const QRgb c = argb.pixel(x, y);
            out.append(static_cast<char>(qBlue(c)));
            out.append(static_cast<char>(qGreen(c)));
            out.append(static_cast<char>(qRed(c)));
            out.append(static_cast<char>(qAlpha(c)));
        }
    }
    putMask(out, argb);
    return out;
}

QByteArray pngImage(const QImage& argb) {
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    argb.save(&buffer, "PNG");
    return out;
}

}  // namespace

QImage toIndexed8(const QImage& image) {
    // Transparent pixels become black so that they take no palette entries of their own;
    // the others lose their alpha.
    QImage rgb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < rgb.height(); ++y) {
        for (int x = 0; x < rgb.width(); ++x) {
            const QRgb c = rgb.pixel(x, y);
            rgb.setPixel(x, y,
                         qAlpha(c) < 128 ? qRgb(0, 0, 0) : qRgb(qRed(c), qGreen(c), qBlue(c)));
        }
    }
    return rgb.convertToFormat(QImage::Format_RGB32)
        .convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither | Qt::AvoidDither);
}

QByteArray encodeIco(const std::vector<IcoEntry>& entries) {
    std::vector<QByteArray> images;
    for (const IcoEntry& entry : entries) {
        const QImage& image = entry.image;
        if (image.isNull() || image.width() != image.height() || image.width() > 256) {
            return {};
        }
        const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
        switch (entry.format) {
            case IcoFormat::Indexed8:
                images.push_back(indexedImage(argb));
                break;
            case IcoFormat::Argb32:
                images.push_back(argbImage(argb));
                break;
            case IcoFormat::Png:
                images.push_back(pngImage(argb));
                break;
        }
    }
    QByteArray out;
    put16(out, 0);
    put16(out, 1);  // an icon, not a cursor
    put16(out, static_cast<std::uint16_t>(entries.size()));
    auto offset = static_cast<std::uint32_t>(6 + 16 * entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const int size = entries[i].image.width();
        const int bits = entries[i].format == IcoFormat::Indexed8 ? 8 : 32;
        out.append(static_cast<char>(size == 256 ? 0 : size));
        out.append(static_cast<char>(size == 256 ? 0 : size));
        out.append('\0');  // colour count: 0 stands for 256 and for more
        out.append('\0');
        put16(out, 1);
        put16(out, static_cast<std::uint16_t>(bits));
        put32(out, static_cast<std::uint32_t>(images[i].size()));
        put32(out, offset);
        offset += static_cast<std::uint32_t>(images[i].size());
    }
    for (const QByteArray& image : images) {
        out.append(image);
    }
    return out;
}

}  // namespace koravex
