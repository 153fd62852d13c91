// The spectrum window: one child window of the frame per ADC input, with its
// status panels, the 512 x 300 plot and its scales, the markers, the pointer
// and keyboard commands, and the settings panels.
//
// The window's own methods are split over several files by concern:
//   UGraph.cpp        creation, layout, paint handler, refresh tick, labels
//   GraphPlot.cpp     spectrum drawing, scales, display mode
//   GraphMarkers.cpp  marker drawing, pointer gestures, scale strips, keys
//   GraphMeasure.cpp  energy entry, calibration, peak and nonlinearity
//   GraphFiles.cpp    spectrum files and printing
//   GraphPanels.cpp   exposure time and front-end control panels
#pragma once

#include "ui/graph/TextLabel.h"
#include "core/Uryv.h"

#include <QAction>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

class QSpinBox;
class QTimeEdit;
class QRadioButton;
class TFGraph;

// ---------------------------------------------------------------------------
// Marker geometry and gesture state, shared by every spectrum window.
extern TRect32 MarkerLine;
extern TRect32 MarkerZone[2]; // element 0: marker 1
extern uint8_t AwaitingGrab;
extern uint8_t LeftButtonDown;
extern int32_t DraggedMarker;
extern uint8_t LeftDoubleClicked;
extern uint8_t RightFirstPress;
extern uint8_t RightSecondPress;

// Set while the frame is closing: spectrum windows then really close
// instead of minimising.
extern bool SpectrumWindowsMayClose;

// Puts the shared state above back to its program-start values.
void ResetGraphState();

// Colours of the window.
inline constexpr QRgb kPlotWhite = 0xFFFFFFFFu;
inline constexpr QRgb kPlotBlue = 0xFF0000FFu;
inline constexpr QRgb kMarkerRed = 0xFFFF0000u;
QRgb ButtonFaceColor();
// The text colour that goes with the button face: the scales' ink.
QRgb ButtonTextColor();
// Sets a field's background (white, or the button face) together with the
// text colour that stays readable on it.
void SetFieldColours(QWidget *w, bool white);

// The plot control: shows the persistent bitmap and hands its pointer
// events to the window.
class TSpektrImage : public QWidget {
    Q_OBJECT
public:
    explicit TSpektrImage(TFGraph *owner);
    QImage Bitmap; // 512 x 300, RGB32, starts white

protected:
    void paintEvent(QPaintEvent *) override;
    void mousePressEvent(QMouseEvent *e) override;
    void mouseMoveEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;
    void mouseDoubleClickEvent(QMouseEvent *e) override;

private:
    TFGraph *owner_;
};

// A label or panel whose button presses go to a handler of the window.
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

class TPanel : public QFrame {
    Q_OBJECT
public:
    explicit TPanel(QWidget *parent);
signals:
    void pressed(Qt::MouseButton button);

protected:
    void mousePressEvent(QMouseEvent *e) override;
};

class TFGraph : public QWidget {
    Q_OBJECT
public:
    explicit TFGraph(QWidget *parent = nullptr);
    ~TFGraph() override;
    // The window's full size: every control and both scales show.
    QSize sizeHint() const override;

    // Private state of the window (all zero at creation).
    int32_t InputNumber = 0;
    int32_t ShownVertScale = 0;
    int32_t ShownViewFirst = 0;
    uint16_t ShownViewWidth = 0;
    uint8_t ShownHistogramMode = 0;

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

    // Markers and pointer.
    void RisMark(int32_t channel, TRect32 &line);
    void RisMark2(int32_t k);
    void SpektrImageMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void SpektrImageMouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers shift, int x, int y);
    void SpektrImageMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void SpektrImageDblClick();
    void LMark1MouseDown(Qt::MouseButton button);
    void LMark2MouseDown(Qt::MouseButton button);
    void FormMouseMove(int x, int y);
    void FormMouseDown(Qt::MouseButton button, int x, int y);
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

    // Files and printing.
    void NOpenClick();
    void NSaveClick();
    void NPrintClick();

    // Exposure time and front-end control panels.
    void MTimeClick();
    void BOKTimeClick();
    void BCenselTimeClick();
    void NDrivingClick();
    void NShiftClick();
    void BShiftOKClick();
    void BShiftCanselClick();
    void NFormirClick();
    void BFormPulsOKClick();
    void BFormPulsCanselClick();

    // The window's client surface, on which the scales are drawn.
    QImage Surface;
    QFont SurfaceFont;

    // Controls.
    TPanel *PIn1, *PIn2, *PIn3;
    QLabel *LIn1, *LIn2, *LIn3;
    QLabel *LTime1, *LTime2, *LTime3;
    TPanel *PMark1, *PMark2;
    TPressLabel *LMark1, *LMarkX1, *LMark11, *LMarkY1;
    TPressLabel *LMark2, *LMarkX2, *LMark12, *LMarkY2;
    TPanel *PIntegral;
    QLabel *LIntegral, *LIntegralY;
    TSpektrImage *SpektrImage;
    QLabel *L10, *LPokazat;
    QPushButton *BGistogramm;
    QTimer *TimerRis;

    // Exposure time panel.
    TPanel *PTimeSet;
    QLabel *Label1;
    QSpinBox *SpinEditDay;
    QTimeEdit *DateTimePicker1;
    QPushButton *BOKTime, *BCenselTime;

    // Energy entry panel.
    TPanel *PEnergSet;
    QLabel *LEnergText, *LEnergMask, *LkeV;
    QSpinBox *SpinkeV, *SpinDkeV;
    QPushButton *BEnergOK, *BEnergCancel;

    // Front-end control panels.
    TPanel *PShift;
    QLabel *LShift;
    QRadioButton *RBLeft, *RBRight;
    QSpinBox *SEShift;
    QPushButton *BShiftOK, *BShiftCansel;
    TPanel *PFormPuls;
    QLabel *LFormPuls;
    QRadioButton *RB8mks, *RB4mks, *RB2mks, *RB1mks;
    QPushButton *BFormPulsOK, *BFormPulsCansel;

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

    QLabel *TimeLabel(int input) const; // LTime1..3 by input 1..3

protected:
    void paintEvent(QPaintEvent *) override;
    void showEvent(QShowEvent *) override;
    void changeEvent(QEvent *) override;
    void closeEvent(QCloseEvent *) override;
    void mouseMoveEvent(QMouseEvent *) override;
    void mousePressEvent(QMouseEvent *) override;

private:
    void BuildControls();
    void BuildMenus();
    void BuildPanels();
    void SetTimeLabelColour(int input, bool running);
    void DrawSurfaceText(int left, int top, const QString &text);
    // The tick of count 0 on the count scale, where both scales meet.
    void DrawZeroTick();
    QRect SurfaceTextRect(const QString &text) const;
    friend class TSpektrImage;

    // Brings the plot to the heights h with the marker lines over it; with
    // whole every column is drawn afresh, otherwise only the columns whose
    // height or marker differ from what the bitmap holds.
    void DrawSpectrum(const int32_t *h, bool whole);
    // MarkerZone of marker k from MarkerLine.
    void PlaceMarkerZone(int32_t k);

    // What the plot bitmap holds: the height drawn in each column, whether a
    // marker line is drawn over it, and the display mode (-1: nothing drawn).
    int32_t PlotHeights[512] = {};
    bool PlotMarked[512] = {};
    int PlotMode = -1;
};
