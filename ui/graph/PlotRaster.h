// Pixel drawing on the persistent RGB32 rasters of the spectrum window (the
// plot and the surface the scales are drawn on) with the program's own line
// rule: a line includes its start point and excludes its end point. Pens are
// one pixel wide, solid or dotted, in copy or not-exclusive-or mode. Every
// function writes 32-bit pixels in place and leaves an image of any other
// format untouched.
#pragma once

#include "analysis/Analysis.h"

#include <QImage>
#include <QRgb>

#include <cstdint>

struct Pen {
    QRgb color = qRgb(0, 0, 0);
    bool dotted = false;
    bool notXor = false; // each pixel becomes ~(pen ^ pixel); twice restores it
};

// Draws from (x0, y0) to (x1, y1), the end point excluded, clipped to the
// image. A dotted pen sets every other pixel, counted from the start point.
void RasterLine(QImage &image, int x0, int y0, int x1, int y1, const Pen &pen);

// Fills left..right-1, top..bottom-1, clipped to the image.
void RasterFillRect(QImage &image, int left, int top, int right, int bottom, QRgb color);

// Whether the drawing here can write into the image: RGB32 pixels.
bool IsRasterFormat(const QImage &image);

// Redraws plot columns from..to (inclusive) of a PlotColumns x PlotHeight
// plot exactly as clearing each column (rows PlotHeight-1..1 white) and
// drawing its height would: histogram bars from the bottom row up, or single
// points; heights outside 0..PlotHeight-1 are off scale (a bar up to row 2,
// or the point on row 1). Row 0 is only ever set, by the point of the
// highest height. Works row by row, which keeps the writes in cache.
void DrawPlotColumns(QImage &image, const int32_t *heights, int from, int to, bool histogram, QRgb background,
                     QRgb foreground);

// The pixels of a plot image, looked up once for many column updates.
struct PlotPixels {
    QRgb *bits;
    qsizetype stride; // in pixels
    int width;        // at most PlotColumns; 0 for an image of another format
    int height;
};
PlotPixels PixelsOf(QImage &image);

// Brings plot column x, drawn by DrawPlotColumns at height `before`, to
// height `after` exactly as DrawPlotColumns would draw it, writing only the
// pixels that differ. Returns the rows written as top..bottom (top > bottom
// when none). With a marker pen the column carries that pen's line from row
// PlotHeight up (see RasterLine), whose pixels on the rows written are set again.
void UpdatePlotColumn(PlotPixels pixels, int x, int32_t before, int32_t after, bool histogram, QRgb background,
                      QRgb foreground, int &top, int &bottom, const Pen *marker = nullptr);

// The rectangles a plot update changed, one per band of a quarter of the
// columns: each grows to hold the rows top..bottom written in its columns.
struct PlotChange {
    static constexpr int Bands = 4, BandWidth = PlotColumns / Bands;
    int left[Bands] = {PlotColumns, PlotColumns, PlotColumns, PlotColumns}, right[Bands] = {-1, -1, -1, -1};
    int top[Bands] = {PlotHeight, PlotHeight, PlotHeight, PlotHeight}, bottom[Bands] = {-1, -1, -1, -1};
    void Add(int x, int from, int to)
    {
        const int band = x / BandWidth;
        left[band] = left[band] < x ? left[band] : x;
        right[band] = right[band] > x ? right[band] : x;
        top[band] = top[band] < from ? top[band] : from;
        bottom[band] = bottom[band] > to ? bottom[band] : to;
    }
};

// UpdatePlotColumn for every column x whose height differs and that is not
// skip[x], adding the rows written to change.
void UpdatePlotColumns(PlotPixels pixels, const int32_t *before, const int32_t *after, const bool *skip, bool histogram,
                       QRgb background, QRgb foreground, PlotChange &change);
