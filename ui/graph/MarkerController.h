// The marker controller of a spectrum window: the two markers' lines and
// grab zones over the plot, and the gestures that move them or change the
// view (the pointer on the plot, the marker panels and the scale strips, and
// the keyboard). Each window has its own gesture state and geometry.
//
// The markers, the view and the vertical scale live in the shared settings
// record. A marker line is drawn in not-XOR mode, so every change of a
// marker is erase, change, labels, draw.
#pragma once

#include "analysis/Analysis.h"
#include "core/Uryv.h"

#include <QObject>

class TFGraph;

class TMarkerController : public QObject {
    Q_OBJECT
public:
    // What a gesture has seen so far.
    struct Gesture {
        uint8_t AwaitingGrab = 0;      // the next move into a zone picks a marker up
        uint8_t LeftButtonDown = 0;
        int32_t DraggedMarker = 0;     // 1 or 2 once picked up
        uint8_t LeftDoubleClicked = 0; // a left double click waits for its release
        uint8_t RightFirstPress = 0;
        uint8_t RightSecondPress = 0;  // a right double press waits for its release
    };

    explicit TMarkerController(TFGraph *window);

    const Gesture &State() const { return gesture_; }
    // The grab zone of marker k (1 or 2) in plot columns.
    const TRect32 &Zone(int k) const { return zone_[k - 1]; }

    // The window is made: no gesture under way.
    void Start();

    // Erases or draws the line of marker k and places its grab zone.
    void ToggleMarker(int32_t k);
    // The columns that carry a marker line after the plot's columns are
    // drawn left to right, with the markers drawn again (and their labels
    // put up) as the drawing passes their zones.
    void MarkedColumns(bool marked[PlotColumns]);

    // Pointer on the plot.
    void PlotPress(Qt::MouseButton button);
    void PlotMove(Qt::MouseButtons buttons, int x);
    void PlotRelease(Qt::MouseButton button, int x);
    void PlotDoubleClick();
    // A press on marker k's panel: one channel per press.
    void PanelPress(int32_t k, Qt::MouseButton button);
    // Marker k to channel c, its line and labels redrawn.
    void MoveMarker(int32_t k, int32_t c);
    // Pointer on the scale strips of the window surface.
    void SurfaceMove(int x, int y);
    void SurfacePress(Qt::MouseButton button, int x, int y);
    // Previews every key of the window; never consumes it.
    void Key(int key, Qt::KeyboardModifiers shift);

private:
    bool InZone(int k, int x) const;
    bool BetweenZones(int x) const;
    void PlaceZone(int32_t k);

    TFGraph *window_;
    Gesture gesture_;
    TRect32 line_;     // the line last drawn
    TRect32 zone_[2];  // element 0: marker 1
};
