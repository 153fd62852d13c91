#include "ui/graph/MarkerController.h"

#include "ui/graph/PlotView.h"
#include "ui/graph/UGraph.h"
#include "ui/platform/Platform.h"

#include <algorithm>
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

void ScaleUp()
{
    if (Settings.VertScale < kVertScaleDoubleLimit)
        Settings.VertScale = static_cast<int32_t>(int64_t(Settings.VertScale) * 2);
}

void ScaleDown() { Settings.VertScale = Settings.VertScale > 50 ? Settings.VertScale / 2 : 25; }

void ZoomIn() { Settings.ViewWidth = static_cast<uint16_t>(Settings.ViewWidth > 64 ? Settings.ViewWidth / 2 : 32); }

void ZoomOut()
{
    Settings.ViewWidth =
        static_cast<uint16_t>(Settings.ViewWidth < PlotColumns ? Settings.ViewWidth * 2 : Settings.ChannelCount);
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

TMarkerController::TMarkerController(TFGraph *window) : QObject(window), window_(window) {}

void TMarkerController::Start()
{
    gesture_ = Gesture{};
    gesture_.AwaitingGrab = 1;
}

bool TMarkerController::InZone(int k, int x) const { return zone_[k - 1].Left <= x && x <= zone_[k - 1].Right; }

// Between the two grab zones, edges included: where a release fixes a
// calibration region.
bool TMarkerController::BetweenZones(int x) const { return zone_[0].Right <= x && x <= zone_[1].Left; }

// ---------------------------------------------------------------------------
// Lines and zones

void TMarkerController::ToggleMarker(int32_t k)
{
    if (k < 1 || k > 2)
        return;
    window_->RisMark(Settings.Marker[k - 1], line_);
    PlaceZone(k);
}

void TMarkerController::PlaceZone(int32_t k)
{
    const int32_t m = Settings.Marker[k - 1];
    if (Settings.ViewFirst <= m && int64_t(m) <= int64_t(Settings.ViewFirst) + Settings.ViewWidth)
        zone_[k - 1] = {line_.Left - 1, 0, line_.Right + 1, PlotHeight};
    else if (k == 1)
        zone_[0] = {0, 0, 3, PlotHeight};
    else
        zone_[1] = {PlotColumns - 3, 0, PlotColumns - 1, PlotHeight};
}

void TMarkerController::MarkedColumns(bool marked[PlotColumns])
{
    // The columns are drawn left to right; a marker whose zone holds column x
    // is drawn again (with its labels) right after the columns up to x. Its
    // line stays on a column drawn by then and is wiped out by the drawing of
    // a later one: marked[] is what remains over each column.
    std::fill(marked, marked + PlotColumns, false);
    for (int x = 0; x < PlotColumns;) {
        for (int k = 1; k <= 2; ++k) {
            if (!(zone_[k - 1].Left < x && x < zone_[k - 1].Right))
                continue;
            MarkerLineOf(Settings.Marker[k - 1], line_);
            const int line = line_.Left;
            PlaceZone(k);
            if (line >= 0 && line <= x)
                marked[line] = !marked[line];
            window_->NewTablo(k);
        }
        // On to the next column inside a zone as the zones now stand: the
        // columns between hold nothing to do.
        int next = PlotColumns;
        for (const TRect32 &zone : zone_)
            if (int64_t(zone.Right) - 1 > x)
                next = static_cast<int>(std::min<int64_t>(next, std::max<int64_t>(int64_t(zone.Left) + 1, x + 1)));
        x = next;
    }
}

void TMarkerController::MoveMarker(int32_t k, int32_t c)
{
    ToggleMarker(k);
    Settings.Marker[k - 1] = c;
    window_->NewTablo(k);
    ToggleMarker(k);
}

// ---------------------------------------------------------------------------
// The plot

void TMarkerController::PlotPress(Qt::MouseButton button)
{
    window_->Plot().Image()->setToolTip(QString());
    if (button == Qt::LeftButton) {
        gesture_.LeftButtonDown = 1;
        gesture_.RightFirstPress = 0;
    } else if (button == Qt::RightButton) {
        if (gesture_.RightFirstPress != 0)
            gesture_.RightSecondPress = 1;
        else
            gesture_.RightFirstPress = 1;
    }
}

void TMarkerController::PlotMove(Qt::MouseButtons, int x)
{
    // Feedback: the plot has no pointer shape of its own and shows the
    // window's.
    QWidget *plot = window_->Plot().Image();
    if (InZone(1, x) || InZone(2, x)) {
        window_->setCursor(Qt::DragMoveCursor);
        plot->setToolTip(kDragHint);
    } else if (zone_[0].Right < x && x < zone_[1].Left) {
        window_->setCursor(Qt::PointingHandCursor);
        plot->setToolTip(kPeakHint);
    } else {
        window_->setCursor(Qt::ArrowCursor);
        plot->setToolTip(QString());
    }

    if (gesture_.LeftButtonDown != 0) {
        if (gesture_.AwaitingGrab != 0) {
            // The first movement into a zone only picks the marker up;
            // where the zones overlap marker 1 is taken.
            if (InZone(1, x)) {
                gesture_.AwaitingGrab = 0;
                gesture_.DraggedMarker = 1;
            } else if (InZone(2, x)) {
                gesture_.AwaitingGrab = 0;
                gesture_.DraggedMarker = 2;
            }
        } else if (gesture_.DraggedMarker == 1 || gesture_.DraggedMarker == 2) {
            MoveMarker(gesture_.DraggedMarker, ChannelOfColumn(x)); // inside the view
        }
    }
    // Any movement over the plot cancels a right double press.
    gesture_.RightSecondPress = 0;
    gesture_.RightFirstPress = 0;
}

void TMarkerController::PlotRelease(Qt::MouseButton button, int x)
{
    gesture_.AwaitingGrab = 1;
    gesture_.LeftButtonDown = 0;

    if (gesture_.LeftDoubleClicked != 0 && BetweenZones(x) && button == Qt::LeftButton) {
        if (Platform::MessageBox(kLeftPeakCaption, kFixPeakText, Platform::Icon::NoIcon, Platform::Buttons::Ok) ==
            Platform::Answer::Ok) {
            Settings.LeftPeakFrom = Settings.Marker[0];
            Settings.LeftPeakTo = Settings.Marker[1];
            gesture_.LeftDoubleClicked = 0;
            return;
        }
    }
    if (gesture_.RightSecondPress != 0 && BetweenZones(x) && button == Qt::RightButton) {
        if (Platform::MessageBox(kRightPeakCaption, kFixPeakText, Platform::Icon::NoIcon, Platform::Buttons::Ok) ==
            Platform::Answer::Ok) {
            Settings.RightPeakFrom = Settings.Marker[0];
            Settings.RightPeakTo = Settings.Marker[1];
            gesture_.RightSecondPress = 0;
            gesture_.RightFirstPress = 0;
        }
    }
}

void TMarkerController::PlotDoubleClick() { gesture_.LeftDoubleClicked = 1; }

// ---------------------------------------------------------------------------
// Marker panels: one channel per press, within the channel range.

void TMarkerController::PanelPress(int32_t k, Qt::MouseButton button)
{
    const int32_t m = Settings.Marker[k - 1];
    if (button == Qt::LeftButton) {
        if (m > 0)
            MoveMarker(k, m - 1);
    } else if (button == Qt::RightButton || button == Qt::MiddleButton) {
        if (m < Settings.ChannelCount - 1)
            MoveMarker(k, m + 1);
    }
}

// ---------------------------------------------------------------------------
// Scale strips on the window surface: the count scale's strip left of the
// plot, the channel scale's strip below it.

namespace {
constexpr int kVertStripLeft = kPlotLeft - 19, kVertStripRight = kPlotLeft - 4;
constexpr int kHorStripTop = kPlotBottom + 4, kHorStripBottom = kPlotBottom + 19;
constexpr int kPlotMiddleRow = kPlotTop + PlotHeight / 2;     // between the halves of the count strip
constexpr int kPlotMiddleColumn = kPlotLeft + PlotColumns / 2; // between the halves of the channel strip
} // namespace

void TMarkerController::SurfaceMove(int x, int y)
{
    if (kVertStripLeft <= x && x <= kVertStripRight && kPlotTop + 1 <= y && y <= kPlotBottom - 1) {
        window_->setCursor(Qt::SizeVerCursor);
        window_->setToolTip(kVertStripHint);
    } else if (kPlotLeft <= x && x <= kPlotRight - 1 && kHorStripTop <= y && y <= kHorStripBottom) {
        window_->setCursor(Qt::SizeHorCursor);
        window_->setToolTip(kHorStripHint);
    } else {
        window_->setCursor(Qt::ArrowCursor);
        window_->setToolTip(QString());
    }
}

void TMarkerController::SurfacePress(Qt::MouseButton button, int x, int y)
{
    window_->setToolTip(QString());
    if (kVertStripLeft <= x && x <= kVertStripRight) {
        // Vertical strip, any button: upper half shrinks the bars, lower
        // half makes them grow; the row between the halves does nothing.
        if (kPlotTop + 1 <= y && y <= kPlotMiddleRow - 1)
            ScaleUp();
        else if (kPlotMiddleRow + 1 <= y && y <= kPlotBottom - 1)
            ScaleDown();
        else
            return;
        window_->VertikalMas();
        window_->RisSpectr();
        return;
    }
    if (kHorStripTop <= y && y <= kHorStripBottom) {
        if (kPlotLeft + 1 <= x && x <= kPlotMiddleColumn - 1) {
            if (button == Qt::LeftButton)
                ZoomIn();
            else if (button == Qt::RightButton)
                PageLeft();
            else
                return;
        } else if (kPlotMiddleColumn + 1 <= x && x <= kPlotRight - 1) {
            if (button == Qt::LeftButton)
                ZoomOut();
            else if (button == Qt::RightButton)
                PageRight();
            else
                return;
        } else {
            return;
        }
        window_->HorisontMas();
        window_->RisSpectr();
    }
}

// ---------------------------------------------------------------------------
// Keyboard: previews every key of the window and never consumes it.

void TMarkerController::Key(int key, Qt::KeyboardModifiers shift)
{
    const bool withShift = shift.testFlag(Qt::ShiftModifier);
    const bool withCtrl = shift.testFlag(Qt::ControlModifier);
    const bool withAlt = shift.testFlag(Qt::AltModifier);

    auto moveMarker = [this](int32_t k, MarkerStep step) {
        MoveMarker(k, SteppedMarker(Settings.Marker[k - 1], step));
    };
    auto redrawVertical = [this] {
        window_->VertikalMas();
        window_->RisSpectr();
    };
    auto redrawHorizontal = [this] {
        window_->HorisontMas();
        window_->RisSpectr();
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
