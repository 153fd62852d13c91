// The spectrum plot, the marker lines over it, and the two scales.
#include "analysis/Analysis.h"
#include "ui/graph/Canvas.h"
#include "ui/graph/UGraph.h"

#include <QPainter>

#include <cstdlib>

void TFGraph::RisSpectr()
{
    int32_t h[512];
    if (InputNumber >= 1 && InputNumber <= 3)
        DW(InputNumber, h);
    else
        std::fill(std::begin(h), std::end(h), 0);
    DrawSpectrum(h, true);
}

namespace {
// The marker line over a plot column: red dots in not-XOR mode from row 300 up.
const Pen kMarkerPen{kMarkerRed, true, true};

void DrawMarkerLine(QImage &image, int x) { CanvasLine(image, x, 300, x, 0, kMarkerPen); }
} // namespace

void TFGraph::DrawSpectrum(const int32_t *h, bool whole)
{
    // The columns are drawn left to right; a marker whose zone holds column x
    // is drawn again (with its labels) right after the columns up to x. Its
    // line stays on a column drawn by then and is wiped out by the drawing of
    // a later one: marked[] is what remains over each column.
    bool marked[512] = {};
    for (int x = 0; x < 512;) {
        for (int k = 1; k <= 2; ++k) {
            if (!(MarkerZone[k - 1].Left < x && x < MarkerZone[k - 1].Right))
                continue;
            MarkerLineOf(Settings.Marker[k - 1], MarkerLine);
            const int line = MarkerLine.Left;
            PlaceMarkerZone(k);
            if (line >= 0 && line <= x)
                marked[line] = !marked[line];
            NewTablo(k);
        }
        // On to the next column inside a zone as the zones now stand: the
        // columns between hold nothing to do.
        int next = 512;
        for (const TRect32 &zone : MarkerZone)
            if (int64_t(zone.Right) - 1 > x)
                next = static_cast<int>(std::min<int64_t>(next, std::max<int64_t>(int64_t(zone.Left) + 1, x + 1)));
        x = next;
    }

    QImage &image = SpektrImage->Bitmap;
    const bool histogram = Settings.HistogramMode != 0;
    const int mode = histogram ? 1 : 0;
    if (mode != PlotMode) {
        // Nothing drawn in the other mode stays: row 0 holds only its points.
        CanvasFillRect(image, 0, 0, 512, 1, kPlotWhite);
        whole = true;
    }
    if (PlotMode < 0)
        whole = true;
    // What changed, as columns left..right and rows top..bottom per band of
    // 128 columns: a few rectangles keep both the painting and its
    // bookkeeping small.
    PlotChange change;
    if (!whole) {
        // Only when nearly every pixel changes is drawing afresh, row by
        // row, cheaper than rewriting the changed ones column by column.
        int64_t changedRows = 0;
        for (int x = 0; x < 512; ++x)
            changedRows += std::min<int64_t>(std::abs(int64_t(h[x]) - PlotHeights[x]), 300);
        whole = changedRows > 512 * 300 * 3 / 4;
    }
    if (whole) {
        DrawPlotColumns(image, h, 0, 511, histogram, kPlotWhite, kPlotBlue);
        for (int x = 0; x < 512; ++x)
            if (marked[x])
                DrawMarkerLine(image, x);
    } else {
        const PlotPixels pixels = PixelsOf(image);
        // Columns under a marker line, now or before, first; then all others.
        bool underMarker[512];
        for (int x = 0; x < 512; ++x) {
            underMarker[x] = marked[x] || PlotMarked[x];
            if (!underMarker[x] || (h[x] == PlotHeights[x] && marked[x] == PlotMarked[x]))
                continue;
            int from = 0, to = 299;
            if (marked[x] && PlotMarked[x]) {
                // The marker stays: the rows that change are drawn afresh
                // with the line's dots on them.
                UpdatePlotColumn(pixels, x, PlotHeights[x], h[x], histogram, kPlotWhite, kPlotBlue, from, to,
                                 &kMarkerPen);
                if (from > to)
                    continue;
            } else {
                // A marker comes or goes: the column afresh, then the line.
                DrawPlotColumns(image, h, x, x, histogram, kPlotWhite, kPlotBlue);
                if (marked[x])
                    DrawMarkerLine(image, x);
            }
            change.Add(x, from, to);
        }
        UpdatePlotColumns(pixels, PlotHeights, h, underMarker, histogram, kPlotWhite, kPlotBlue, change);
    }
    std::copy(h, h + 512, PlotHeights);
    std::copy(std::begin(marked), std::end(marked), PlotMarked);
    PlotMode = mode;
    if (whole) {
        SpektrImage->update(0, 0, 512, 300);
        return;
    }
    // Each rectangle of the region is painted on its own, and rectangles of
    // different heights split into several: when the bands' rectangles fill
    // most of their bounding box, the box alone costs less.
    QRect bands[4], box;
    int64_t area = 0;
    for (int g = 0; g < 4; ++g)
        if (change.top[g] <= change.bottom[g] && change.left[g] <= change.right[g]) {
            bands[g] = QRect(QPoint(change.left[g], change.top[g]), QPoint(change.right[g], change.bottom[g]));
            box |= bands[g];
            area += int64_t(bands[g].width()) * bands[g].height();
        }
    if (int64_t(box.width()) * box.height() <= 2 * area) {
        if (!box.isEmpty())
            SpektrImage->update(box);
        return;
    }
    for (const QRect &r : bands)
        if (!r.isEmpty())
            SpektrImage->update(r);
}

void TFGraph::RisMark(int32_t channel, TRect32 &line)
{
    MarkerLineOf(channel, line);
    CanvasLine(SpektrImage->Bitmap, line.Left, line.Bottom, line.Right, line.Top, kMarkerPen);
    // The line is one column; drawn twice it is gone.
    if (line.Left >= 0 && line.Left < 512)
        PlotMarked[line.Left] = !PlotMarked[line.Left];
    SpektrImage->update(QRect(QPoint(std::min(line.Left, line.Right), 0), QPoint(std::max(line.Left, line.Right), 299)));
}

void TFGraph::RisMark2(int32_t k)
{
    if (k < 1 || k > 2)
        return;
    RisMark(Settings.Marker[k - 1], MarkerLine);
    PlaceMarkerZone(k);
}

void TFGraph::PlaceMarkerZone(int32_t k)
{
    const int32_t m = Settings.Marker[k - 1];
    if (Settings.ViewFirst <= m && int64_t(m) <= int64_t(Settings.ViewFirst) + Settings.ViewWidth)
        MarkerZone[k - 1] = {MarkerLine.Left - 1, 0, MarkerLine.Right + 1, 300};
    else if (k == 1)
        MarkerZone[0] = {0, 0, 3, 300};
    else
        MarkerZone[1] = {509, 0, 511, 300};
}

void TFGraph::BGistogrammClick()
{
    if (Settings.HistogramMode != 0) {
        Settings.HistogramMode = 0;
        BGistogramm->setText(QStringLiteral("&Гистограмма"));
    } else {
        Settings.HistogramMode = 1;
        BGistogramm->setText(QStringLiteral("&Точки"));
    }
    ShownHistogramMode = Settings.HistogramMode;
    RisSpectr();
}

void TFGraph::VertikalMas()
{
    ShownVertScale = Settings.VertScale;
    const QRgb face = ButtonFaceColor();
    CanvasFillRect(Surface, 62, 92, 82, 398, face);
    const Pen ink{ButtonTextColor(), false, false};
    const QRect zero = SurfaceTextRect(QStringLiteral("0"));
    DrawZeroTick();
    DrawSurfaceText(77 - zero.width(), 398 - zero.height(), QStringLiteral("0"));
    VertTicks t;
    if (VertTickSearch(Settings.VertScale, t)) {
        int64_t unit = 1; // 10^e counts
        for (int32_t i = 0; i < t.e; ++i)
            unit *= 10;
        for (int32_t k = 1; k <= t.n; ++k) {
            // Each tick stands at the height of the count its label names.
            const int y = static_cast<int>(398 - (int64_t(t.m) * k * unit * 300) / Settings.VertScale);
            CanvasLine(Surface, 81, y, 77, y, ink);
            const QString label = QString::number(int64_t(t.m) * k);
            const QRect r = SurfaceTextRect(label);
            DrawSurfaceText(77 - r.width(), y - r.height() / 2, label);
        }
        LPokazat->setText(QString::number(t.e));
    } else {
        // A full scale without a tick step (only a damaged record has one):
        // the zero tick alone.
        LPokazat->setText(QStringLiteral("0"));
    }
    LPokazat->adjustSize();
    update();
}

void TFGraph::DrawZeroTick()
{
    CanvasLine(Surface, 81, 398, 77, 398, Pen{ButtonTextColor(), false, false});
}

void TFGraph::HorisontMas()
{
    ShownViewFirst = Settings.ViewFirst;
    ShownViewWidth = Settings.ViewWidth;
    const QRgb face = ButtonFaceColor();
    const int textHeight = SurfaceTextRect(QStringLiteral("0")).height();
    CanvasFillRect(Surface, 58, 398, 594, 402 + textHeight, face);
    // Labels of ticks near the right end reach past the plot: clear them too.
    CanvasFillRect(Surface, 594, 402, Surface.width(), 402 + textHeight, face);
    if (int64_t(Settings.ViewFirst) + Settings.ViewWidth > int64_t(Settings.ChannelCount) - 1)
        Settings.ViewFirst = Settings.ChannelCount - Settings.ViewWidth;
    if (Settings.ViewFirst < 0)
        Settings.ViewFirst = 0; // a view wider than the spectrum starts at channel 0
    const int32_t first = Settings.ViewFirst;
    const int32_t width = Settings.ViewWidth;
    const int32_t step = (width / 32) * 5;
    const Pen ink{ButtonTextColor(), false, false};
    if (step > 0 && width > 0) {
        // The multiples of step inside the view.
        int64_t d = (int64_t(first) + step - 1) / step * step;
        if (first < 0)
            d = 0;
        for (; d <= int64_t(first) + width - 1; d += step) {
            const int x = 82 + static_cast<int>(((d - first) * 512) / width);
            CanvasLine(Surface, x, 398, x, 402, ink);
            const QString label = QString::number(d);
            const QRect r = SurfaceTextRect(label);
            DrawSurfaceText(x - r.width() / 2, 402, label);
        }
    }
    // The fill above reaches under the count scale's zero tick.
    DrawZeroTick();
    update();
}
