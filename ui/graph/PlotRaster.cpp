#include "ui/graph/PlotRaster.h"

#include <algorithm>
#include <cstdlib>

namespace {
// One pixel set by a pen: its colour, or in not-XOR mode ~(pen ^ pixel).
inline void PenPixel(QRgb &pixel, const Pen &pen)
{
    pixel = 0xFF000000u | ((pen.notXor ? ~(pen.color ^ pixel) : pen.color) & 0x00FFFFFFu);
}
} // namespace

bool IsRasterFormat(const QImage &image) { return image.format() == QImage::Format_RGB32; }

void RasterLine(QImage &image, int x0, int y0, int x1, int y1, const Pen &pen)
{
    if (!IsRasterFormat(image))
        return;
    if (x0 == x1) {
        // Vertical: the spectrum's columns and the marker lines.
        if (x0 < 0 || x0 >= image.width() || y0 == y1)
            return;
        const int step = y0 < y1 ? 1 : -1;
        const int height = image.height();
        const qsizetype stride = image.bytesPerLine() / 4;
        auto *bits = reinterpret_cast<QRgb *>(image.bits());
        // Every pixel from y0 toward y1 (a dotted pen every other one), y1
        // excluded, inside the image.
        const int every = pen.dotted ? 2 : 1;
        const int n = (std::abs(y1 - y0) + every - 1) / every;
        // Pixel i lies on row y0 + i * dy: keep the i whose row is inside.
        int first = 0, end = n;
        if (step > 0) {
            if (y0 < 0)
                first = (-y0 + every - 1) / every;
            end = std::min(n, y0 >= height ? 0 : (height - y0 + every - 1) / every);
        } else {
            if (y0 >= height)
                first = (y0 - height + every) / every;
            end = std::min(n, y0 < 0 ? 0 : y0 / every + 1);
        }
        if (first >= end)
            return;
        const qsizetype dy = step * every * stride;
        QRgb *pixel = bits + x0 + (y0 + first * step * every) * stride;
        for (int i = first; i < end; ++i, pixel += dy)
            PenPixel(*pixel, pen);
        return;
    }
    const int width = image.width(), height = image.height();
    const qsizetype stride = image.bytesPerLine() / 4;
    auto *bits = reinterpret_cast<QRgb *>(image.bits());
    auto plot = [&](int px, int py) {
        if (px >= 0 && py >= 0 && px < width && py < height)
            PenPixel(bits[py * stride + px], pen);
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

void RasterFillRect(QImage &image, int left, int top, int right, int bottom, QRgb color)
{
    if (!IsRasterFormat(image))
        return;
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
    const bool onScale = h >= 0 && h < PlotHeight;
    if (histogram) {
        top = onScale ? PlotHeight - h : 2;
        bottom = PlotHeight - 1;
    } else {
        top = bottom = onScale ? PlotHeight - 1 - h : 1;
    }
}
} // namespace

void DrawPlotColumns(QImage &image, const int32_t *heights, int from, int to, bool histogram, QRgb background,
                     QRgb foreground)
{
    from = std::max(from, 0);
    to = std::min(to, std::min(image.width(), PlotColumns) - 1);
    if (from > to || image.height() < PlotHeight || !IsRasterFormat(image))
        return;
    int top[PlotColumns], bottom[PlotColumns];
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
    unsigned span[PlotColumns];
    for (int x = from; x <= to; ++x) {
        if (top[x] > bottom[x]) { // an empty bar: no row matches
            top[x] = 1000;
            span[x] = 0;
        } else {
            span[x] = static_cast<unsigned>(bottom[x] - top[x]);
        }
    }
    for (int y = 1; y < PlotHeight; ++y) {
        QRgb *line = bits + y * stride;
        for (int x = from; x <= to; ++x)
            line[x] = static_cast<unsigned>(y - top[x]) <= span[x] ? fg : bg;
    }
}

namespace {
inline void UpdateColumn(PlotPixels px, int x, int32_t before, int32_t after, bool histogram, QRgb background,
                         QRgb foreground, int &top, int &bottom, const Pen *marker)
{
    top = PlotHeight;
    bottom = -1;
    if (x < 0 || x >= px.width || px.height < PlotHeight)
        return;
    int oldTop, oldBottom, newTop, newBottom;
    BlueRows(before, histogram, oldTop, oldBottom);
    BlueRows(after, histogram, newTop, newBottom);
    const QRgb bg = 0xFF000000u | background, fg = 0xFF000000u | foreground;
    QRgb *column = px.bits + x;
    const qsizetype stride = px.stride;
    if (newTop == 0) { // row 0 keeps its pixel unless a point lands there
        column[0] = fg;
        top = bottom = 0;
    }
    // Rows 1..PlotHeight-1 that are blue in one drawing and not in the other: where
    // the two runs overlap, the rows between their tops and between their
    // bottoms; otherwise the whole of each.
    auto paint = [&](int from, int to, QRgb c) {
        from = std::max(from, 1);
        to = std::min(to, PlotHeight - 1);
        if (from > to)
            return;
        for (int y = from; y <= to; ++y)
            column[y * stride] = c;
        if (marker) // the line's dots on the rows just written
            for (int y = to - (PlotHeight - to) % (marker->dotted ? 2 : 1); y >= from; y -= marker->dotted ? 2 : 1)
                PenPixel(column[y * stride], *marker);
        top = std::min(top, from);
        bottom = std::max(bottom, to);
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

} // namespace

void UpdatePlotColumn(PlotPixels pixels, int x, int32_t before, int32_t after, bool histogram, QRgb background,
                      QRgb foreground, int &top, int &bottom, const Pen *marker)
{
    UpdateColumn(pixels, x, before, after, histogram, background, foreground, top, bottom, marker);
}

void UpdatePlotColumns(PlotPixels pixels, const int32_t *before, const int32_t *after, const bool *skip, bool histogram,
                       QRgb background, QRgb foreground, PlotChange &change)
{
    if (histogram && pixels.height >= PlotHeight) {
        // Bars all end on the bottom row: only the rows between the two tops
        // change, to blue when the bar grew and to white when it shrank.
        const QRgb bg = 0xFF000000u | background, fg = 0xFF000000u | foreground;
        const qsizetype stride = pixels.stride;
        constexpr int w = PlotChange::BandWidth;
        for (int band = 0; band * w < pixels.width; ++band) {
            int left = PlotColumns, right = -1, top = PlotHeight, bottom = -1;
            const int end = std::min(band * w + w, pixels.width);
            for (int x = band * w; x < end; ++x) {
                if (before[x] == after[x] || skip[x])
                    continue;
                int oldTop, newTop, bottomRow;
                BlueRows(before[x], true, oldTop, bottomRow);
                BlueRows(after[x], true, newTop, bottomRow);
                const int from = std::min(oldTop, newTop), to = std::max(oldTop, newTop) - 1;
                if (from > to)
                    continue;
                const QRgb c = newTop < oldTop ? fg : bg;
                QRgb *pixel = pixels.bits + x + from * stride;
                for (int y = from; y <= to; ++y, pixel += stride)
                    *pixel = c;
                left = std::min(left, x);
                right = x;
                top = std::min(top, from);
                bottom = std::max(bottom, to);
            }
            if (left <= right) {
                change.Add(left, top, bottom);
                change.Add(right, top, bottom);
            }
        }
        return;
    }
    for (int x = 0; x < pixels.width; ++x) {
        if (before[x] == after[x] || skip[x])
            continue;
        int from, to;
        UpdateColumn(pixels, x, before[x], after[x], histogram, background, foreground, from, to, nullptr);
        if (from <= to)
            change.Add(x, from, to);
    }
}

PlotPixels PixelsOf(QImage &image)
{
    if (!IsRasterFormat(image))
        return {nullptr, 0, 0, 0};
    return {reinterpret_cast<QRgb *>(image.bits()), image.bytesPerLine() / 4, std::min(image.width(), PlotColumns),
            image.height()};
}
