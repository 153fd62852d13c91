// The plot view of a spectrum window: the persistent plot raster and its
// control, the column updates that bring it to new heights, the marker lines
// over it, the two scales drawn on the window's surface, and the display
// mode button.
#pragma once

#include "analysis/Analysis.h"
#include "analysis/Peaks.h"
#include "core/Uryv.h"
#include "ui/graph/PlotRaster.h"

#include <QFont>
#include <QImage>
#include <QObject>
#include <QWidget>

class QLabel;
class QPushButton;

// Where the plot stands on the window's surface.
inline constexpr int kPlotLeft = 82;
inline constexpr int kPlotTop = 98;
inline constexpr int kPlotRight = kPlotLeft + PlotColumns; // first column right of the plot
inline constexpr int kPlotBottom = kPlotTop + PlotHeight;  // first row below the plot

// Colours of the window.
inline constexpr QRgb kPlotWhite = 0xFFFFFFFFu;
inline constexpr QRgb kPlotBlue = 0xFF0000FFu;
inline constexpr QRgb kMarkerRed = 0xFFFF0000u;
QRgb ButtonFaceColor();
// The text colour that goes with the button face: the scales' ink.
QRgb ButtonTextColor();

// The plot control: shows the persistent raster and reports its pointer
// events in plot coordinates.
class TSpektrImage : public QWidget {
    Q_OBJECT
public:
    explicit TSpektrImage(QWidget *parent);
    QImage Bitmap; // PlotColumns x PlotHeight, RGB32, starts white

signals:
    void pressed(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void moved(Qt::MouseButtons buttons, Qt::KeyboardModifiers shift, int x, int y);
    void released(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    // The second press of a double click: reported before that press.
    void doubleClicked();

protected:
    void paintEvent(QPaintEvent *) override;
    void mousePressEvent(QMouseEvent *e) override;
    void mouseMoveEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;
    void mouseDoubleClickEvent(QMouseEvent *e) override;
};

class TPlotView : public QObject {
    Q_OBJECT
public:
    // Creates the plot control, the scale labels and the mode button on the
    // window.
    explicit TPlotView(QWidget *window);

    TSpektrImage *Image() const { return image_; }
    QImage &Raster() { return image_->Bitmap; }
    // The window's client surface, on which the scales are drawn.
    QImage &Surface() { return surface_; }
    const QFont &SurfaceFont() const { return surfaceFont_; }

    // Brings the plot to the heights h with a marker line over each column
    // of marked[]; with whole every column is drawn afresh, otherwise only
    // the columns whose height or marker differ from what the raster holds.
    void Draw(const int32_t *h, const bool *marked, bool whole);
    // Draws a marker line in not-XOR mode: drawn twice it is gone.
    void ToggleMarkerLine(const TRect32 &line);

    // The count scale (left) and the channel scale (below) from the
    // settings record.
    void DrawCountScale();
    void DrawChannelScale();
    // The count scale for a full scale of `top` counts, linear or in
    // decades from 1; the channel scale labelled in keV through cal.
    void DrawCountScale(int32_t top, bool logarithmic);
    void DrawChannelScale(const Calibration *cal);
    // The mode button's caption for the settings' display mode; with
    // accelerator the caption carries its key.
    void ShowModeCaption(bool accelerator);

signals:
    void modeButtonClicked();

private:
    void DrawSurfaceText(int left, int top, const QString &text);
    // The tick of count 0 on the count scale, where both scales meet.
    void DrawZeroTick();
    void DrawLogCountScale(int32_t top);
    void DrawKeVScale(const Calibration &cal, int textTop);
    QRect SurfaceTextRect(const QString &text) const;

    QWidget *window_;
    TSpektrImage *image_;
    QLabel *l10_, *exponent_;
    QPushButton *mode_;
    QImage surface_;
    QFont surfaceFont_;

    // What the raster holds: the height drawn in each column, whether a
    // marker line is drawn over it, and the display mode (-1: nothing drawn).
    int32_t heights_[PlotColumns] = {};
    bool marked_[PlotColumns] = {};
    int mode_drawn_ = -1;
};
