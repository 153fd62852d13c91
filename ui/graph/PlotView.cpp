#include "ui/graph/PlotView.h"

#include "ui/graph/WindowGeometry.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>

#include <algorithm>
#include <cmath>
#include <cstdlib>

QRgb ButtonFaceColor() { return QApplication::palette().color(QPalette::Button).rgb() | 0xFF000000u; }
QRgb ButtonTextColor() { return QApplication::palette().color(QPalette::ButtonText).rgb() | 0xFF000000u; }

// ---------------------------------------------------------------------------
// The plot control

TSpektrImage::TSpektrImage(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("SpektrImage"));
    // Rows one cache line longer than their pixels: at a power-of-two stride
    // every pixel of a column falls into the same few cache sets, and the
    // column-wise drawing of the refresh evicts itself.
    constexpr qsizetype stride = PlotColumns * 4 + 64;
    auto *pixels = static_cast<uchar *>(std::malloc(stride * PlotHeight));
    if (pixels)
        Bitmap = QImage(pixels, PlotColumns, PlotHeight, stride, QImage::Format_RGB32,
                        [](void *p) { std::free(p); }, pixels);
    else
        Bitmap = QImage(PlotColumns, PlotHeight, QImage::Format_RGB32);
    Bitmap.fill(kPlotWhite);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TSpektrImage::paintEvent(QPaintEvent *e)
{
    // Each rectangle on its own: a region of several as the clip would have
    // the image blended span by span, split over threads.
    QPainter p(this);
    const QRegion &region = e->region();
    if (region.rectCount() == 1) {
        const QRect r = region.boundingRect() & Bitmap.rect();
        p.drawImage(r.topLeft(), Bitmap, r);
        return;
    }
    for (const QRect &r : region) {
        const QRect s = r & Bitmap.rect();
        p.setClipRect(s);
        p.drawImage(s.topLeft(), Bitmap, s);
    }
}

void TSpektrImage::mousePressEvent(QMouseEvent *e)
{
    const QPoint pos = e->position().toPoint();
    emit pressed(e->button(), e->modifiers(), pos.x(), pos.y());
}

void TSpektrImage::mouseMoveEvent(QMouseEvent *e)
{
    const QPoint pos = e->position().toPoint();
    emit moved(e->buttons(), e->modifiers(), pos.x(), pos.y());
}

void TSpektrImage::mouseReleaseEvent(QMouseEvent *e)
{
    const QPoint pos = e->position().toPoint();
    emit released(e->button(), e->modifiers(), pos.x(), pos.y());
}

void TSpektrImage::mouseDoubleClickEvent(QMouseEvent *e)
{
    // The toolkit reports the second press of a double click as this event:
    // the double click first, then the press it stands for.
    const QPoint pos = e->position().toPoint();
    if (e->button() == Qt::LeftButton)
        emit doubleClicked();
    emit pressed(e->button(), e->modifiers(), pos.x(), pos.y());
}

// ---------------------------------------------------------------------------
// The view

TPlotView::TPlotView(QWidget *window) : QObject(window), window_(window)
{
    surfaceFont_ = window->font();
    surface_ = QImage(window->sizeHint().width(), 460, QImage::Format_RGB32);
    surface_.fill(ButtonFaceColor());

    image_ = new TSpektrImage(window);
    PlaceWidget(image_);

    l10_ = new QLabel(QStringLiteral("10"), window);
    l10_->setObjectName(QStringLiteral("L10"));
    l10_->setFont(WindowFont(16, true));
    PlaceWidget(l10_);
    exponent_ = new QLabel(window);
    exponent_->setObjectName(QStringLiteral("LPokazat"));
    PlaceWidget(exponent_);
    exponent_->setMinimumWidth(14);

    mode_ = new QPushButton(window);
    mode_->setObjectName(QStringLiteral("BGistogramm"));
    PlaceWidget(mode_);
    mode_->setCursor(Qt::PointingHandCursor);
    mode_->setToolTip(QStringLiteral("Режим изображения спектра."));
    connect(mode_, &QPushButton::clicked, this, &TPlotView::modeButtonClicked);
}

void TPlotView::ShowModeCaption(bool accelerator)
{
    const bool points = Settings.HistogramMode != 0;
    QString text = points ? QStringLiteral("&Точки") : QStringLiteral("&Гистограмма");
    if (!accelerator)
        text.remove(0, 1);
    mode_->setText(text);
}

namespace {
// The marker line over a plot column: red dots in not-XOR mode from the row
// below the plot up.
const Pen kMarkerPen{kMarkerRed, true, true};

void DrawMarkerLine(QImage &image, int x) { RasterLine(image, x, PlotHeight, x, 0, kMarkerPen); }
} // namespace

void TPlotView::Draw(const int32_t *h, const bool *marked, bool whole)
{
    QImage &image = image_->Bitmap;
    const bool histogram = Settings.HistogramMode != 0;
    const int mode = histogram ? 1 : 0;
    if (mode != mode_drawn_) {
        // Nothing drawn in the other mode stays: row 0 holds only its points.
        RasterFillRect(image, 0, 0, PlotColumns, 1, kPlotWhite);
        whole = true;
    }
    if (mode_drawn_ < 0)
        whole = true;
    // What changed, as columns left..right and rows top..bottom per band of
    // columns: a few rectangles keep both the painting and its bookkeeping
    // small.
    PlotChange change;
    if (!whole) {
        // Only when nearly every pixel changes is drawing afresh, row by
        // row, cheaper than rewriting the changed ones column by column.
        int64_t changedRows = 0;
        for (int x = 0; x < PlotColumns; ++x)
            changedRows += std::min<int64_t>(std::abs(int64_t(h[x]) - heights_[x]), PlotHeight);
        whole = changedRows > int64_t(PlotColumns) * PlotHeight * 3 / 4;
    }
    if (whole) {
        DrawPlotColumns(image, h, 0, PlotColumns - 1, histogram, kPlotWhite, kPlotBlue);
        for (int x = 0; x < PlotColumns; ++x)
            if (marked[x])
                DrawMarkerLine(image, x);
    } else {
        const PlotPixels pixels = PixelsOf(image);
        // Columns under a marker line, now or before, first; then all others.
        bool underMarker[PlotColumns];
        for (int x = 0; x < PlotColumns; ++x) {
            underMarker[x] = marked[x] || marked_[x];
            if (!underMarker[x] || (h[x] == heights_[x] && marked[x] == marked_[x]))
                continue;
            int from = 0, to = PlotHeight - 1;
            if (marked[x] && marked_[x]) {
                // The marker stays: the rows that change are drawn afresh
                // with the line's dots on them.
                UpdatePlotColumn(pixels, x, heights_[x], h[x], histogram, kPlotWhite, kPlotBlue, from, to,
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
        UpdatePlotColumns(pixels, heights_, h, underMarker, histogram, kPlotWhite, kPlotBlue, change);
    }
    std::copy(h, h + PlotColumns, heights_);
    std::copy(marked, marked + PlotColumns, marked_);
    mode_drawn_ = mode;
    if (whole) {
        image_->update(image.rect());
        return;
    }
    // Each rectangle of the region is painted on its own, and rectangles of
    // different heights split into several: when the bands' rectangles fill
    // most of their bounding box, the box alone costs less.
    QRect bands[PlotChange::Bands], box;
    int64_t area = 0;
    for (int g = 0; g < PlotChange::Bands; ++g)
        if (change.top[g] <= change.bottom[g] && change.left[g] <= change.right[g]) {
            bands[g] = QRect(QPoint(change.left[g], change.top[g]), QPoint(change.right[g], change.bottom[g]));
            box |= bands[g];
            area += int64_t(bands[g].width()) * bands[g].height();
        }
    if (int64_t(box.width()) * box.height() <= 2 * area) {
        if (!box.isEmpty())
            image_->update(box);
        return;
    }
    for (const QRect &r : bands)
        if (!r.isEmpty())
            image_->update(r);
}

void TPlotView::ToggleMarkerLine(const TRect32 &line)
{
    RasterLine(image_->Bitmap, line.Left, line.Bottom, line.Right, line.Top, kMarkerPen);
    // The line is one column; drawn twice it is gone.
    if (line.Left >= 0 && line.Left < PlotColumns)
        marked_[line.Left] = !marked_[line.Left];
    image_->update(QRect(QPoint(std::min(line.Left, line.Right), 0),
                         QPoint(std::max(line.Left, line.Right), PlotHeight - 1)));
}

// ---------------------------------------------------------------------------
// Scales, on the button-face brush of the window's surface

QRect TPlotView::SurfaceTextRect(const QString &text) const
{
    const QFontMetrics fm(surfaceFont_);
    return QRect(0, 0, fm.horizontalAdvance(text), fm.height());
}

void TPlotView::DrawSurfaceText(int left, int top, const QString &text)
{
    QPainter p(&surface_);
    p.setFont(surfaceFont_);
    const QRect r = SurfaceTextRect(text).translated(left, top);
    p.fillRect(r, QColor::fromRgb(ButtonFaceColor()));
    p.setPen(QColor::fromRgb(ButtonTextColor()));
    p.drawText(r, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
}

void TPlotView::DrawCountScale() { DrawCountScale(Settings.VertScale, false); }

void TPlotView::DrawCountScale(int32_t top, bool logarithmic)
{
    if (logarithmic) {
        DrawLogCountScale(top);
        return;
    }
    if (l10_->isHidden()) {
        // Back from the logarithmic scale: its wider labels go too.
        l10_->show();
        exponent_->show();
        RasterFillRect(surface_, kPlotLeft - 34, kPlotTop - 8, kPlotLeft, kPlotBottom + 1, ButtonFaceColor());
    }
    const QRgb face = ButtonFaceColor();
    RasterFillRect(surface_, kPlotLeft - 20, kPlotTop - 6, kPlotLeft, kPlotBottom, face);
    const Pen ink{ButtonTextColor(), false, false};
    const QRect zero = SurfaceTextRect(QStringLiteral("0"));
    DrawZeroTick();
    DrawSurfaceText(kPlotLeft - 5 - zero.width(), kPlotBottom - zero.height(), QStringLiteral("0"));
    VertTicks t;
    if (VertTickSearch(top, t)) {
        int64_t unit = 1; // 10^e counts
        for (int32_t i = 0; i < t.e; ++i)
            unit *= 10;
        for (int32_t k = 1; k <= t.n; ++k) {
            // Each tick stands at the height of the count its label names.
            const int y =
                static_cast<int>(kPlotBottom - (int64_t(t.m) * k * unit * PlotHeight) / top);
            RasterLine(surface_, kPlotLeft - 1, y, kPlotLeft - 5, y, ink);
            const QString label = QString::number(int64_t(t.m) * k);
            const QRect r = SurfaceTextRect(label);
            DrawSurfaceText(kPlotLeft - 5 - r.width(), y - r.height() / 2, label);
        }
        exponent_->setText(QString::number(t.e));
    } else {
        // A full scale without a tick step (only a damaged record has one):
        // the zero tick alone.
        exponent_->setText(QStringLiteral("0"));
    }
    exponent_->adjustSize();
    window_->update();
}

void TPlotView::DrawLogCountScale(int32_t top)
{
    // Labels name their counts in full: the unit label has nothing to say.
    l10_->hide();
    exponent_->hide();
    const QRgb face = ButtonFaceColor();
    RasterFillRect(surface_, kPlotLeft - 34, kPlotTop - 8, kPlotLeft, kPlotBottom + 1, face);
    const Pen ink{ButtonTextColor(), false, false};
    const double decades = std::log10(double(std::max(top, 2)));
    const double perDecade = PlotHeight / decades;
    auto yOf = [&](double c) { return kPlotBottom - static_cast<int>(std::lround(std::log10(c) * perDecade)); };
    // 1, 2, 5, 10, 20, 50, then the decades as powers of ten.
    auto label = [](int e, int m) {
        static const char16_t *sup[] = {u"\u2070", u"\u00B9", u"\u00B2", u"\u00B3", u"\u2074",
                                        u"\u2075", u"\u2076", u"\u2077", u"\u2078", u"\u2079"};
        if (e <= 1)
            return QString::number(e == 0 ? m : 10 * m);
        QString text = QStringLiteral("10");
        if (e >= 10)
            text += QString::fromUtf16(sup[e / 10]);
        return text + QString::fromUtf16(sup[e % 10]);
    };
    const QRect zero = SurfaceTextRect(QStringLiteral("1"));
    int lastLabelY = kPlotBottom + zero.height(); // keeps labels apart
    for (int e = 0; std::pow(10.0, e) <= top; ++e) {
        for (int m : {1, 2, 5}) {
            const double c = m * std::pow(10.0, e);
            if (c > top)
                break;
            if (m != 1 && perDecade < 3 * zero.height())
                continue; // no room between the decades
            const int y = yOf(c);
            RasterLine(surface_, kPlotLeft - 1, y, kPlotLeft - (m == 1 ? 5 : 3), y, ink);
            if (m != 1 && e >= 2)
                continue; // minor ticks above 100 unlabelled: their labels would be wide
            const QString text = label(e, m);
            const QRect r = SurfaceTextRect(text);
            if (lastLabelY - y < r.height())
                continue;
            DrawSurfaceText(kPlotLeft - 5 - r.width(), y - r.height() / 2, text);
            lastLabelY = y;
        }
    }
    window_->update();
}

void TPlotView::DrawZeroTick()
{
    RasterLine(surface_, kPlotLeft - 1, kPlotBottom, kPlotLeft - 5, kPlotBottom, Pen{ButtonTextColor(), false, false});
}

void TPlotView::DrawChannelScale() { DrawChannelScale(nullptr); }

void TPlotView::DrawKeVScale(const Calibration &cal, int textTop)
{
    const int32_t first = Settings.ViewFirst;
    const int32_t width = Settings.ViewWidth;
    const Pen ink{ButtonTextColor(), false, false};
    const double e0 = cal.Energy(first), e1 = cal.Energy(double(first) + width);
    // Round energies 1, 2 or 5 times a power of ten apart, about as many
    // labels as the channel scale has.
    const int32_t channelStep = (width / 32) * 5;
    const double target = channelStep > 0 ? double(width) / channelStep : 1.0;
    const double raw = (e1 - e0) / target;
    if (!(raw > 0) || !std::isfinite(raw))
        return;
    // The round step nearest to it (on a log scale).
    const double p = std::pow(10.0, std::floor(std::log10(raw)));
    double step = p;
    for (double m : {2.0, 5.0, 10.0})
        if (std::fabs(std::log(m * p / raw)) < std::fabs(std::log(step / raw)))
            step = m * p;
    const int decimals = step >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
    for (double e = std::ceil(e0 / step) * step; e <= e1; e += step) {
        const double c = cal.Channel(e);
        const int x = kPlotLeft + static_cast<int>(std::floor((c - first) * PlotColumns / width));
        if (x < kPlotLeft || x >= kPlotRight)
            continue;
        RasterLine(surface_, x, kPlotBottom, x, textTop, ink);
        const QString label = QString::number(e, 'f', decimals);
        const QRect r = SurfaceTextRect(label);
        DrawSurfaceText(x - r.width() / 2, textTop, label);
    }
    const QString unit = QStringLiteral("кэВ");
    const QRect r = SurfaceTextRect(unit);
    DrawSurfaceText(kPlotRight + 4, kPlotBottom - r.height(), unit);
}

void TPlotView::DrawChannelScale(const Calibration *cal)
{
    const QRgb face = ButtonFaceColor();
    const int textHeight = SurfaceTextRect(QStringLiteral("0")).height();
    const int textTop = kPlotBottom + 4;
    RasterFillRect(surface_, kPlotLeft - 24, kPlotBottom, kPlotRight, textTop + textHeight, face);
    // Labels of ticks near the right end reach past the plot: clear them too.
    RasterFillRect(surface_, kPlotRight, textTop, surface_.width(), textTop + textHeight, face);
    if (int64_t(Settings.ViewFirst) + Settings.ViewWidth > int64_t(Settings.ChannelCount) - 1)
        Settings.ViewFirst = Settings.ChannelCount - Settings.ViewWidth;
    if (Settings.ViewFirst < 0)
        Settings.ViewFirst = 0; // a view wider than the spectrum starts at channel 0
    // The unit beside the keV scale goes with it.
    RasterFillRect(surface_, kPlotRight + 4, kPlotBottom - textHeight, surface_.width(), kPlotBottom, face);
    const int32_t first = Settings.ViewFirst;
    const int32_t width = Settings.ViewWidth;
    const int32_t step = (width / 32) * 5;
    const Pen ink{ButtonTextColor(), false, false};
    if (cal && width > 0) {
        DrawKeVScale(*cal, textTop);
    } else if (step > 0 && width > 0) {
        // The multiples of step inside the view.
        int64_t d = (int64_t(first) + step - 1) / step * step;
        if (first < 0)
            d = 0;
        for (; d <= int64_t(first) + width - 1; d += step) {
            const int x = kPlotLeft + static_cast<int>(((d - first) * PlotColumns) / width);
            RasterLine(surface_, x, kPlotBottom, x, textTop, ink);
            const QString label = QString::number(d);
            const QRect r = SurfaceTextRect(label);
            DrawSurfaceText(x - r.width() / 2, textTop, label);
        }
    }
    // The fill above reaches under the count scale's zero tick.
    DrawZeroTick();
    window_->update();
}
