// The spectrum window: one child window of the frame per ADC input. It
// composes its parts by role and keeps the status fields itself:
//   UGraph.cpp           creation, menus, paint handler, refresh tick, status fields
//   PlotView.*           the plot raster, its column updates and the two scales
//   PlotRaster.*         the pixel drawing under the plot view
//   MarkerController.*   marker lines and zones, pointer gestures, scale strips, keys
//   GraphPanels.*        exposure time, energy entry, shift and shaping panels
//   WindowGeometry.*     where every control stands
//   GraphMeasure.cpp     energy entry, calibration, peak and nonlinearity
//   GraphFiles.cpp       spectrum files and printing
#pragma once

#include "core/Uryv.h"
#include "ui/graph/GraphPanels.h"
#include "ui/graph/MarkerController.h"
#include "ui/graph/PlotView.h"
#include "ui/graph/TextLabel.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QWidget>

#include <cmath>
#include <functional>

class QTimer;

// Sets a field's background (white, or the button face) together with the
// text colour that stays readable on it.
void SetFieldColours(QWidget *w, bool white);

// A label whose button presses go to a handler of the window.
class TPressLabel : public TTextLabel {
    Q_OBJECT
public:
    using TTextLabel::TTextLabel;
signals:
    void pressed(Qt::MouseButton button);

protected:
    void mousePressEvent(QMouseEvent *e) override;
};

// A field that shows all of its text: a text wider than the field is drawn
// in a smaller font, left-aligned in the same place.
class TFitLabel : public TTextLabel {
public:
    using TTextLabel::TTextLabel;

protected:
    void paintEvent(QPaintEvent *e) override;
};

class TFGraph : public QWidget {
    Q_OBJECT
public:
    explicit TFGraph(QWidget *parent = nullptr);
    ~TFGraph() override;
    // The window's full size: every control and both scales show.
    QSize sizeHint() const override;

    // Set while the frame is closing: spectrum windows then really close
    // instead of minimising.
    static bool SpectrumWindowsMayClose;

    // Private state of the window (all zero at creation).
    int32_t InputNumber = 0;
    int32_t ShownVertScale = 0;
    int32_t ShownViewFirst = 0;
    uint16_t ShownViewWidth = 0;
    uint8_t ShownHistogramMode = 0;

    // Called after each refresh of a window (the frame's peak panel follows
    // the active one).
    static std::function<void(TFGraph *)> Refreshed;
    // Redraws plot and scales after a view choice changed.
    void ViewChoicesChanged();

    // The parts.
    TPlotView &Plot() { return *plot_; }
    TMarkerController &Markers() { return *markers_; }
    TGraphPanels &Panels() { return *panels_; }

    // The window's menus, merged into the frame's bar by group number.
    QList<QAction *> MenuGroup(int group) const;

    // Handlers of this window.
    void FormCreate();
    void PaintHandler();
    void TimerRisTimer();
    void NewTablo(int32_t index);

    // Plot and scales.
    void RisSpectr();
    void VertikalMas();
    void HorisontMas();
    void BGistogrammClick();

    // Markers: draws (or erases) the line of a channel, and of marker k.
    void RisMark(int32_t channel, TRect32 &line);
    void RisMark2(int32_t k);
    // Previews every key of the window; never consumes it.
    void FormKeyDown(int key, Qt::KeyboardModifiers shift);

    // Measurement menu and energy entry.
    void NLeftPointClick();
    void NRightPointClick();
    void NMeasPeakClick();
    void NDifNonLinClick();
    void BEnergOKClick();
    void BEnergCancelClick();
    void Erri();

    // Exposure time and front-end control menus.
    void MTimeClick();
    void NDrivingClick();
    void NShiftClick();
    void NFormirClick();

    // Files and printing.
    void NOpenClick();
    void NSaveClick();
    void NPrintClick();

    // Menus.
    QMenu *NFile;
    QAction *NOpen, *NSave, *NPrint;
    QAction *MTime;
    QMenu *NDriving;
    QAction *NShift, *NFormir;
    QMenu *NMeasuring;
    QAction *NLeftPoint, *NRightPoint, *NMeasPeak, *NDifNonLin;

    // Last folder and name of each spectrum file dialog.
    QString OpenDialogDir;
    QString OpenDialogName = QStringLiteral("Spektr");
    QString SaveDialogDir;
    QString SaveDialogName = QStringLiteral("Spektr");

    QLabel *TimeLabel(int input) const; // the elapsed time of input 1..3

protected:
    void paintEvent(QPaintEvent *) override;
    void showEvent(QShowEvent *) override;
    void changeEvent(QEvent *) override;
    void closeEvent(QCloseEvent *) override;
    void mouseMoveEvent(QMouseEvent *) override;
    void mousePressEvent(QMouseEvent *) override;

private:
    void BuildStatusFields();
    void BuildMenus();
    void SetTimeLabelColour(int input, bool running);
    // Brings the plot to the heights h with the marker lines over it.
    void DrawSpectrum(const int32_t *h, bool whole);
    // Column heights and integral under the view choices; brings the count
    // scale along when its full scale or kind changed.
    void ScaledHeights(int32_t *h, int64_t &integral);
    // Whether the channel scale shows keV now, and for which calibration.
    bool KeVShown() const;

    // The count scale as drawn: full scale and kind; the channel scale's
    // calibration (keV: both points, NaN when in channels).
    int32_t drawnTop_ = 0;
    bool drawnLog_ = false;
    double drawnCal_[4] = {NAN, NAN, NAN, NAN};

    // Status fields: elapsed times, marker positions and counts, integral.
    TPanel *PIn[3];
    QLabel *LTime[3];
    QLabel *LMarkX[2], *LMarkY[2];
    QLabel *LIntegralY;
    QTimer *TimerRis;

    TPlotView *plot_;
    TMarkerController *markers_;
    TGraphPanels *panels_;
};
