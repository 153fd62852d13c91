#include "Canvas.h"

#include <algorithm>
#include <cstdlib>

namespace {
inline void Plot(QImage &image, int x, int y, const Pen &pen)
{
    if (x < 0 || y < 0 || x >= image.width() || y >= image.height())
        return;
    auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
    if (pen.notXor)
        line[x] = 0xFF000000u | (~(pen.color ^ line[x]) & 0x00FFFFFFu);
    else
        line[x] = 0xFF000000u | (pen.color & 0x00FFFFFFu);
}
} // namespace

void CanvasLine(QImage &image, int x0, int y0, int x1, int y1, const Pen &pen)
{
    if (x0 == x1 && !pen.dotted && !pen.notXor) {
        // Vertical solid line: the common case of the spectrum drawing.
        if (x0 < 0 || x0 >= image.width() || y0 == y1)
            return;
        const int step = y0 < y1 ? 1 : -1;
        const QRgb c = 0xFF000000u | (pen.color & 0x00FFFFFFu);
        const qsizetype stride = image.bytesPerLine() / 4;
        auto *bits = reinterpret_cast<QRgb *>(image.bits());
        for (int y = y0; y != y1; y += step)
            if (y >= 0 && y < image.height())
                bits[y * stride + x0] = c;
        return;
    }
    const int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
    const int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
    int err = dx + dy;
    int x = x0, y = y0;
    for (int i = 0; !(x == x1 && y == y1); ++i) {
        if (!pen.dotted || i % 2 == 0)
            Plot(image, x, y, pen);
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
    }
}

void CanvasFillRect(QImage &image, int left, int top, int right, int bottom, QRgb color)
{
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, image.width());
    bottom = std::min(bottom, image.height());
    for (int y = top; y < bottom; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        std::fill(line + left, line + std::max(left, right), 0xFF000000u | color);
    }
}
