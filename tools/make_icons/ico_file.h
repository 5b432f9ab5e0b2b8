#pragma once
// Windows icon files (.ico): a directory of images of several sizes and colour depths.
#include <QByteArray>
#include <QImage>
#include <vector>

namespace koravex {

enum class IcoFormat {
    Indexed8,  // 256 colours and a one-bit transparency mask
    Argb32,    // 32-bit colour with alpha, and the mask older readers use
    Png,       // a PNG image (the form Windows takes for 256 x 256)
};

struct IcoEntry {
    QImage image;  // square, 1 to 256 pixels
    IcoFormat format;
};

// The file's bytes; empty when an entry is not square or out of range.
QByteArray encodeIco(const std::vector<IcoEntry>& entries);

// The 256-colour form of `image` as the file carries it: each pixel with alpha below 128 is
// transparent, every other pixel takes the nearest palette colour at full opacity.
QImage toIndexed8(const QImage& image);

}  // namespace koravex
