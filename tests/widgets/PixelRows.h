#pragma once
// Renders an image as rows of letters, one per pixel, so pixel patterns compare as text.
#include <QColor>
#include <QImage>

#include <map>
#include <string>
#include <vector>

using ColorLetters = std::map<QRgb, char>;

// Each pixel becomes the letter of its colour, or '?' when the colour has none.
inline std::vector<std::string> PixelRows(const QImage& image, const ColorLetters& letters)
{
    std::vector<std::string> rows;
    for (int y = 0; y < image.height(); ++y) {
        std::string row;
        for (int x = 0; x < image.width(); ++x) {
            const auto it = letters.find(image.pixel(x, y) | 0xFF000000u);
            row += it == letters.end() ? '?' : it->second;
        }
        rows.push_back(row);
    }
    return rows;
}

inline QRgb Rgb(int r, int g, int b) { return qRgb(r, g, b); }

// A 32-bit image filled with one colour, to see which pixels a routine leaves alone.
inline QImage FilledImage(int w, int h, QColor fill)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(fill);
    return image;
}
