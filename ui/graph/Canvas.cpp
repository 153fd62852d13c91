#include "Canvas.h"

#include <algorithm>
#include <cstdlib>

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
    const int width = image.width(), height = image.height();
    const qsizetype stride = image.bytesPerLine() / 4;
    auto *bits = reinterpret_cast<QRgb *>(image.bits());
    const QRgb c = 0xFF000000u | (pen.color & 0x00FFFFFFu);
    auto plot = [&](int px, int py) {
        if (px < 0 || py < 0 || px >= width || py >= height)
            return;
        QRgb &pixel = bits[py * stride + px];
        pixel = pen.notXor ? 0xFF000000u | (~(pen.color ^ pixel) & 0x00FFFFFFu) : c;
    };
    const int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
    const int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
    int err = dx + dy;
    int x = x0, y = y0;
    for (int i = 0; !(x == x1 && y == y1); ++i) {
        if (!pen.dotted || i % 2 == 0)
            plot(x, y);
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

namespace {
// Blue rows of a column of height h: top..bottom inclusive, empty when
// top > bottom.
inline void BlueRows(int32_t h, bool histogram, int &top, int &bottom)
{
    const bool onScale = h >= 0 && h < 300;
    if (histogram) {
        top = onScale ? 300 - h : 2;
        bottom = 299;
    } else {
        top = bottom = onScale ? 299 - h : 1;
    }
}
} // namespace

void DrawPlotColumns(QImage &image, const int32_t *heights, int from, int to, bool histogram, QRgb background,
                     QRgb foreground)
{
    from = std::max(from, 0);
    to = std::min(to, std::min(image.width(), 512) - 1);
    if (from > to || image.height() < 300)
        return;
    int top[512], bottom[512];
    for (int x = from; x <= to; ++x)
        BlueRows(heights[x], histogram, top[x], bottom[x]);
    const QRgb bg = 0xFF000000u | background, fg = 0xFF000000u | foreground;
    const qsizetype stride = image.bytesPerLine() / 4;
    auto *bits = reinterpret_cast<QRgb *>(image.bits());
    // Row 0 keeps its pixel unless a point lands there.
    QRgb *row0 = bits;
    for (int x = from; x <= to; ++x)
        if (top[x] == 0)
            row0[x] = fg;
    unsigned span[512];
    for (int x = from; x <= to; ++x) {
        if (top[x] > bottom[x]) { // an empty bar: no row matches
            top[x] = 1000;
            span[x] = 0;
        } else {
            span[x] = static_cast<unsigned>(bottom[x] - top[x]);
        }
    }
    for (int y = 1; y < 300; ++y) {
        QRgb *line = bits + y * stride;
        for (int x = from; x <= to; ++x)
            line[x] = static_cast<unsigned>(y - top[x]) <= span[x] ? fg : bg;
    }
}

void UpdatePlotColumn(QImage &image, int x, int32_t before, int32_t after, bool histogram, QRgb background,
                      QRgb foreground, int &top, int &bottom)
{
    top = 300;
    bottom = -1;
    if (x < 0 || x >= std::min(image.width(), 512) || image.height() < 300)
        return;
    int oldTop, oldBottom, newTop, newBottom;
    BlueRows(before, histogram, oldTop, oldBottom);
    BlueRows(after, histogram, newTop, newBottom);
    const QRgb bg = 0xFF000000u | background, fg = 0xFF000000u | foreground;
    const qsizetype stride = image.bytesPerLine() / 4;
    auto *column = reinterpret_cast<QRgb *>(image.bits()) + x;
    if (newTop == 0) { // row 0 keeps its pixel unless a point lands there
        column[0] = fg;
        top = bottom = 0;
    }
    // Rows 1..299 that are blue in one drawing and not in the other: where
    // the two runs overlap, the rows between their tops and between their
    // bottoms; otherwise the whole of each.
    auto paint = [&](int from, int to, QRgb c) {
        from = std::max(from, 1);
        to = std::min(to, 299);
        for (int y = from; y <= to; ++y)
            column[y * stride] = c;
        if (from <= to) {
            top = std::min(top, from);
            bottom = std::max(bottom, to);
        }
    };
    const bool overlap = oldTop <= oldBottom && newTop <= newBottom && oldTop <= newBottom && newTop <= oldBottom;
    if (!overlap) {
        paint(oldTop, oldBottom, bg);
        paint(newTop, newBottom, fg);
        return;
    }
    if (newTop < oldTop)
        paint(newTop, oldTop - 1, fg);
    else
        paint(oldTop, newTop - 1, bg);
    if (newBottom > oldBottom)
        paint(oldBottom + 1, newBottom, fg);
    else
        paint(newBottom + 1, oldBottom, bg);
}
