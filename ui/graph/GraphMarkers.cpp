// Pointer gestures on the plot, the marker panels, the scale strips and the
// keyboard commands.
//
// The markers, the view and the vertical scale live in the shared settings
// record; the marker zones and gesture flags are shared by every spectrum
// window. A marker line is drawn in not-XOR mode, so every change of a
// marker is erase (RisMark2), change, labels (NewTablo), draw (RisMark2).
#include "ui/platform/Platform.h"
#include "ui/graph/UGraph.h"

#include <cstdint>

namespace {

const QString kDragHint =
    QStringLiteral("Нажать левую кнопку мыши, и, не отпуская ее, перетащить маркер");
const QString kPeakHint =
    QStringLiteral("Двойной щелчок левой(правой) клавишей зафиксирует левый(правый)калибровочный пик.");
const QString kVertStripHint = QStringLiteral("Изменение масштаба по вертикали.");
const QString kHorStripHint = QStringLiteral("Изменение масштаба по горизонтали.");
const QString kFixPeakText = QStringLiteral("Фиксация калибровочного пика!");
const QString kLeftPeakCaption = QStringLiteral("Левый калибровочный пик");
const QString kRightPeakCaption = QStringLiteral("Правый калибровочный пик");

// The vertical scale is doubled only while below 2^30 - 1, so it never
// overflows a signed 32-bit value.
constexpr int32_t kVertScaleDoubleLimit = 1073741823;

bool InZone(int k, int x) { return MarkerZone[k - 1].Left <= x && x <= MarkerZone[k - 1].Right; }

// Between the two grab zones, edges included: where a release fixes a
// calibration region.
bool BetweenZones(int x) { return MarkerZone[0].Right <= x && x <= MarkerZone[1].Left; }

void ScaleUp()
{
    if (Settings.VertScale < kVertScaleDoubleLimit)
        Settings.VertScale = static_cast<int32_t>(int64_t(Settings.VertScale) * 2);
}

void ScaleDown() { Settings.VertScale = Settings.VertScale > 50 ? Settings.VertScale / 2 : 25; }

void ZoomIn() { Settings.ViewWidth = static_cast<uint16_t>(Settings.ViewWidth > 64 ? Settings.ViewWidth / 2 : 32); }

void ZoomOut()
{
    Settings.ViewWidth = static_cast<uint16_t>(Settings.ViewWidth < 512 ? Settings.ViewWidth * 2 : Settings.ChannelCount);
}

void PageLeft()
{
    if (Settings.ViewFirst != 0)
        Settings.ViewFirst = Settings.ViewFirst > Settings.ViewWidth ? Settings.ViewFirst - Settings.ViewWidth : 0;
}

void PageRight()
{
    const int64_t rest = int64_t(Settings.ChannelCount) - Settings.ViewFirst;
    if (rest != Settings.ViewWidth)
        Settings.ViewFirst = Settings.ViewWidth < rest ? Settings.ViewFirst + Settings.ViewWidth
                                                       : Settings.ChannelCount - Settings.ViewWidth;
}

// New channel of a marker moved by a key; F, W and M are read before the
// change. A marker outside the view goes to the nearer edge of the view.
enum class MarkerStep { CoarseRight, CoarseLeft, OneRight, OneLeft };

int32_t SteppedMarker(int32_t marker, MarkerStep step)
{
    const int64_t f = Settings.ViewFirst;
    const int64_t w = Settings.ViewWidth;
    const int64_t m = marker;
    const int64_t last = f + w - 1;
    int64_t r = m;
    switch (step) {
    case MarkerStep::CoarseRight: // W / 8 - 1 to the right
        if (m < f)
            r = f;
        else if (m > f + w - w / 8)
            r = last;
        else
            r = m + w / 8 - 1;
        break;
    case MarkerStep::CoarseLeft: // W / 8 to the left
        if (m < f + w / 8)
            r = f;
        else if (m >= f + w)
            r = last;
        else
            r = m - w / 8;
        break;
    case MarkerStep::OneRight:
        if (m < f)
            r = f;
        else if (m >= last)
            r = last;
        else
            r = m + 1;
        break;
    case MarkerStep::OneLeft:
        if (m >= f + w)
            r = last;
        else if (m > f)
            r = m - 1;
        else
            r = f;
        break;
    }
    return static_cast<int32_t>(r);
}

} // namespace

// ---------------------------------------------------------------------------
// The plot

void TFGraph::SpektrImageMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers, int, int)
{
    SpektrImage->setToolTip(QString());
    if (button == Qt::LeftButton) {
        LeftButtonDown = 1;
        RightFirstPress = 0;
    } else if (button == Qt::RightButton) {
        if (RightFirstPress != 0)
            RightSecondPress = 1;
        else
            RightFirstPress = 1;
    }
}

void TFGraph::SpektrImageMouseMove(Qt::MouseButtons, Qt::KeyboardModifiers, int x, int)
{
    // Feedback: the plot has no pointer shape of its own and shows the
    // window's.
    if (InZone(1, x) || InZone(2, x)) {
        setCursor(Qt::DragMoveCursor);
        SpektrImage->setToolTip(kDragHint);
    } else if (MarkerZone[0].Right < x && x < MarkerZone[1].Left) {
        setCursor(Qt::PointingHandCursor);
        SpektrImage->setToolTip(kPeakHint);
    } else {
        setCursor(Qt::ArrowCursor);
        SpektrImage->setToolTip(QString());
    }

    if (LeftButtonDown != 0) {
        if (AwaitingGrab != 0) {
            // The first movement into a zone only picks the marker up;
            // where the zones overlap marker 1 is taken.
            if (InZone(1, x)) {
                AwaitingGrab = 0;
                DraggedMarker = 1;
            } else if (InZone(2, x)) {
                AwaitingGrab = 0;
                DraggedMarker = 2;
            }
        } else if (DraggedMarker == 1 || DraggedMarker == 2) {
            const int32_t k = DraggedMarker;
            RisMark2(k);
            Settings.Marker[k - 1] = ChannelOfColumn(x); // inside the view
            NewTablo(k);
            RisMark2(k);
        }
    }
    // Any movement over the plot cancels a right double press.
    RightSecondPress = 0;
    RightFirstPress = 0;
}

void TFGraph::SpektrImageMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers, int x, int)
{
    AwaitingGrab = 1;
    LeftButtonDown = 0;

    if (LeftDoubleClicked != 0 && BetweenZones(x) && button == Qt::LeftButton) {
        if (Platform::MessageBox(kLeftPeakCaption, kFixPeakText, Platform::Icon::NoIcon, Platform::Buttons::Ok) ==
            Platform::Answer::Ok) {
            Settings.LeftPeakFrom = Settings.Marker[0];
            Settings.LeftPeakTo = Settings.Marker[1];
            LeftDoubleClicked = 0;
            return;
        }
    }
    if (RightSecondPress != 0 && BetweenZones(x) && button == Qt::RightButton) {
        if (Platform::MessageBox(kRightPeakCaption, kFixPeakText, Platform::Icon::NoIcon, Platform::Buttons::Ok) ==
            Platform::Answer::Ok) {
            Settings.RightPeakFrom = Settings.Marker[0];
            Settings.RightPeakTo = Settings.Marker[1];
            RightSecondPress = 0;
            RightFirstPress = 0;
        }
    }
}

void TFGraph::SpektrImageDblClick() { LeftDoubleClicked = 1; }

// ---------------------------------------------------------------------------
// Marker panels: one channel per press, within the channel range.

namespace {
void StepFromPanel(TFGraph *g, int32_t k, Qt::MouseButton button)
{
    int32_t &m = Settings.Marker[k - 1];
    if (button == Qt::LeftButton) {
        if (m > 0) {
            g->RisMark2(k);
            m = m - 1;
            g->NewTablo(k);
            g->RisMark2(k);
        }
    } else if (button == Qt::RightButton || button == Qt::MiddleButton) {
        if (m < Settings.ChannelCount - 1) {
            g->RisMark2(k);
            m = m + 1;
            g->NewTablo(k);
            g->RisMark2(k);
        }
    }
}
} // namespace

void TFGraph::LMark1MouseDown(Qt::MouseButton button) { StepFromPanel(this, 1, button); }

void TFGraph::LMark2MouseDown(Qt::MouseButton button) { StepFromPanel(this, 2, button); }

// ---------------------------------------------------------------------------
// Scale strips on the window surface

void TFGraph::FormMouseMove(int x, int y)
{
    if (63 <= x && x <= 78 && 99 <= y && y <= 397) {
        setCursor(Qt::SizeVerCursor);
        setToolTip(kVertStripHint);
    } else if (82 <= x && x <= 593 && 402 <= y && y <= 417) {
        setCursor(Qt::SizeHorCursor);
        setToolTip(kHorStripHint);
    } else {
        setCursor(Qt::ArrowCursor);
        setToolTip(QString());
    }
}

void TFGraph::FormMouseDown(Qt::MouseButton button, int x, int y)
{
    setToolTip(QString());
    if (63 <= x && x <= 78) {
        // Vertical strip, any button: upper half shrinks the bars, lower
        // half makes them grow; row 248 between the halves does nothing.
        if (99 <= y && y <= 247)
            ScaleUp();
        else if (249 <= y && y <= 397)
            ScaleDown();
        else
            return;
        VertikalMas();
        RisSpectr();
        return;
    }
    if (402 <= y && y <= 417) {
        if (83 <= x && x <= 337) {
            if (button == Qt::LeftButton)
                ZoomIn();
            else if (button == Qt::RightButton)
                PageLeft();
            else
                return;
        } else if (339 <= x && x <= 593) {
            if (button == Qt::LeftButton)
                ZoomOut();
            else if (button == Qt::RightButton)
                PageRight();
            else
                return;
        } else {
            return;
        }
        HorisontMas();
        RisSpectr();
    }
}

// ---------------------------------------------------------------------------
// Keyboard: previews every key of the window and never consumes it.

void TFGraph::FormKeyDown(int key, Qt::KeyboardModifiers shift)
{
    const bool withShift = shift.testFlag(Qt::ShiftModifier);
    const bool withCtrl = shift.testFlag(Qt::ControlModifier);
    const bool withAlt = shift.testFlag(Qt::AltModifier);

    auto moveMarker = [this](int32_t k, MarkerStep step) {
        RisMark2(k);
        Settings.Marker[k - 1] = SteppedMarker(Settings.Marker[k - 1], step);
        NewTablo(k);
        RisMark2(k);
    };
    auto redrawVertical = [this] {
        VertikalMas();
        RisSpectr();
    };
    auto redrawHorizontal = [this] {
        HorisontMas();
        RisSpectr();
    };

    switch (key) {
    case Qt::Key_PageUp:
        if (withShift) {
            ScaleUp();
            redrawVertical();
        } else if (withCtrl) {
            moveMarker(1, MarkerStep::CoarseRight);
        } else if (withAlt) {
            moveMarker(2, MarkerStep::CoarseRight);
        } else {
            ZoomOut();
            redrawHorizontal();
        }
        break;
    case Qt::Key_PageDown:
        if (withShift) {
            ScaleDown();
            redrawVertical();
        } else if (withCtrl) {
            moveMarker(1, MarkerStep::CoarseLeft);
        } else if (withAlt) {
            moveMarker(2, MarkerStep::CoarseLeft);
        } else {
            ZoomIn();
            redrawHorizontal();
        }
        break;
    case Qt::Key_End:
        if (withCtrl) {
            moveMarker(1, MarkerStep::OneRight);
        } else if (withAlt) {
            moveMarker(2, MarkerStep::OneRight);
        } else {
            PageRight();
            redrawHorizontal();
        }
        break;
    case Qt::Key_Home:
        if (withCtrl) {
            moveMarker(1, MarkerStep::OneLeft);
        } else if (withAlt) {
            moveMarker(2, MarkerStep::OneLeft);
        } else {
            PageLeft();
            redrawHorizontal();
        }
        break;
    default:
        break;
    }
}
