// The spectrum plot, the marker lines over it, and the two scales.
#include "Analysis.h"
#include "Canvas.h"
#include "UGraph.h"

#include <QPainter>

void TFGraph::RisSpectr()
{
    int32_t h[512];
    if (InputNumber >= 1 && InputNumber <= 3)
        DW(InputNumber, h);
    else
        std::fill(std::begin(h), std::end(h), 0);
    // Columns are drawn left to right; a marker whose zone holds column x is
    // drawn again right after that column, so the columns up to x are drawn
    // first in one pass.
    const bool histogram = Settings.HistogramMode != 0;
    int from = 0;
    for (int x = 0; x < 512; ++x) {
        bool hit = false;
        for (int k = 0; k < 2; ++k)
            hit |= MarkerZone[k].Left < x && x < MarkerZone[k].Right;
        if (!hit)
            continue;
        DrawPlotColumns(SpektrImage->Bitmap, h, from, x, histogram, kPlotWhite, kPlotBlue);
        from = x + 1;
        for (int k = 1; k <= 2; ++k) {
            if (MarkerZone[k - 1].Left < x && x < MarkerZone[k - 1].Right) {
                RisMark2(k);
                NewTablo(k);
            }
        }
    }
    DrawPlotColumns(SpektrImage->Bitmap, h, from, 511, histogram, kPlotWhite, kPlotBlue);
    SpektrImage->update();
}

void TFGraph::RisMark(int32_t channel, TRect32 &line)
{
    MarkerLineOf(channel, line);
    const Pen red{kMarkerRed, true, true};
    CanvasLine(SpektrImage->Bitmap, line.Left, line.Bottom, line.Right, line.Top, red);
    SpektrImage->update();
}

void TFGraph::RisMark2(int32_t k)
{
    if (k < 1 || k > 2)
        return;
    const int32_t m = Settings.Marker[k - 1];
    RisMark(m, MarkerLine);
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
