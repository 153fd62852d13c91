// Markers and pointer gestures on the plot, the marker panels, the scale
// strips and the keyboard commands of a spectrum window, driven by real
// mouse and key events on real windows.
#include "tests/ui/UiTestUtil.h"

#include <QSpinBox>

#include <cstring>

using namespace ui_test;

namespace {

constexpr QRgb kGreen = 0xFF00FF00u; // a red not-XOR line over the blue spectrum
constexpr int kRow = 150;            // plot row used for pointer events

const QString kDragHint = QStringLiteral("Нажать левую кнопку мыши, и, не отпуская ее, перетащить маркер");
const QString kPeakHint =
    QStringLiteral("Двойной щелчок левой(правой) клавишей зафиксирует левый(правый)калибровочный пик.");
const QString kFixText = QStringLiteral("Фиксация калибровочного пика!");
const QString kLeftCaption = QStringLiteral("Левый калибровочный пик");
const QString kRightCaption = QStringLiteral("Правый калибровочный пик");

// A frame that is disposed of at the end of the test, however it ends.

// Empty spectra, every window redrawn by its refresh tick.
void ClearAndTick(const OpenWindows &fr)
{
    std::memset(DataMemory, 0, sizeof DataMemory);
    for (TFGraph *g : fr->SpectrumWindows())
        g->TimerRisTimer();
}

// The first window, after ClearAndTick.
TFGraph *Cleared(const OpenWindows &fr)
{
    ClearAndTick(fr);
    return fr.w(0);
}

bool IsMarkerPixel(QRgb c) { return c == kMarkerRed || c == kGreen; }

// The marker line: rows 298, 296 .. 2 red (over white) or green (over
// blue), the rows between untouched by it.
bool MarkerDrawnAt(TFGraph *g, int col)
{
    for (int y = 1; y < 300; ++y)
        if (IsMarkerPixel(PlotPixel(g, col, y)) != (y % 2 == 0))
            return false;
    return true;
}

bool NoMarkerAt(TFGraph *g, int col)
{
    for (int y = 0; y < 300; ++y)
        if (IsMarkerPixel(PlotPixel(g, col, y)))
            return false;
    return true;
}

// Pointer over the plot without a button: a real move through the window
// system to the control under the pointer.
void Hover(TFGraph *g, int x, int y = kRow) { QTest::mouseMove(g->Plot().Image(), QPoint(x, y)); }

void Press(TFGraph *g, Qt::MouseButton b, int x) { QTest::mousePress(g->Plot().Image(), b, {}, QPoint(x, kRow)); }
void Release(TFGraph *g, Qt::MouseButton b, int x) { QTest::mouseRelease(g->Plot().Image(), b, {}, QPoint(x, kRow)); }
// Movement while a button is held: the plot keeps receiving it, also
// outside its own area.
void Drag(TFGraph *g, int x) { QTest::mouseMove(g->Plot().Image(), QPoint(x, kRow)); }
void Click(TFGraph *g, Qt::MouseButton b, int x)
{
    Press(g, b, x);
    Release(g, b, x);
}
// The toolkit's left double click: press, release, double click, release.
void DoubleClick(TFGraph *g, int x)
{
    Click(g, Qt::LeftButton, x);
    QTest::mouseDClick(g->Plot().Image(), Qt::LeftButton, {}, QPoint(x, kRow));
    Release(g, Qt::LeftButton, x);
}

// A press on the window surface at client coordinates where no control lies.
void SurfacePress(TFGraph *g, Qt::MouseButton b, int x, int y)
{
    QVERIFY2(g->childAt(x, y) == nullptr, "the point lies on a control, not on the window surface");
    QTest::mouseClick(g, b, {}, QPoint(x, y));
}

void Key(QWidget *w, Qt::Key key, Qt::KeyboardModifiers mods = {}) { QTest::keyClick(w, key, mods); }

Qt::CursorShape Shape(TFGraph *g) { return g->Plot().Image()->cursor().shape(); }

} // namespace

class MarkersTest : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        ResetProgram();
        QCOMPARE(QGuiApplication::mouseButtons(), Qt::MouseButtons(Qt::NoButton));
    }

    // A test that stopped half-way may leave a button down, which would turn
    // the next test's pointer moves into drags: release it.
    void cleanup()
    {
        QWidget sink;
        for (Qt::MouseButton b : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton})
            if (QGuiApplication::mouseButtons().testFlag(b))
                QTest::mouseRelease(&sink, b);
    }

    // ---------------------------------------------------------------- drag

    void feedbackAroundMarkerColumns()
    {
        Settings.Marker[0] = 200; // column 100 with 1024 channels shown
        Settings.Marker[1] = 900; // column 450
        OpenWindows fr(1);
        TFGraph *g = Cleared(fr);
        QVERIFY(MarkerDrawnAt(g, 100));
        QVERIFY(MarkerDrawnAt(g, 450));

        for (int x : {99, 100, 101, 449, 450, 451}) {
            Hover(g, x);
            QCOMPARE(Shape(g), Qt::DragMoveCursor);
            QCOMPARE(g->Plot().Image()->toolTip(), kDragHint);
        }
        for (int x : {102, 300, 448}) {
            Hover(g, x);
            QCOMPARE(Shape(g), Qt::PointingHandCursor);
            QCOMPARE(g->Plot().Image()->toolTip(), kPeakHint);
        }
        for (int x : {98, 20, 452, 511}) {
            Hover(g, x);
            QCOMPARE(Shape(g), Qt::ArrowCursor);
            QCOMPARE(g->Plot().Image()->toolTip(), QString());
        }
        // A press switches the hint off.
        Hover(g, 100);
        QCOMPARE(g->Plot().Image()->toolTip(), kDragHint);
        Press(g, Qt::MiddleButton, 100);
        QCOMPARE(g->Plot().Image()->toolTip(), QString());
        Release(g, Qt::MiddleButton, 100);
        QCOMPARE(Settings.Marker[0], 200);
    }

    void pressElsewhereThenMoveIntoZonePicksMarkerUp()
    {
        Settings.Marker[0] = 200;
        OpenWindows fr(1);
        TFGraph *g = Cleared(fr);

        Press(g, Qt::LeftButton, 150);
        Drag(g, 130); // not in a zone yet: nothing held
        QCOMPARE(g->Markers().State().AwaitingGrab, uint8_t(1));
        Drag(g, 100); // into marker 1's zone: picked up, not moved
        QCOMPARE(g->Markers().State().AwaitingGrab, uint8_t(0));
        QCOMPARE(g->Markers().State().DraggedMarker, 1);
        QCOMPARE(Settings.Marker[0], 200);
        QVERIFY(MarkerDrawnAt(g, 100));

        Drag(g, 120); // moves it: one column right of the pointer
        QCOMPARE(Settings.Marker[0], 242);
        QCOMPARE(Part<QLabel>(g, "LMarkX1")->text(), QStringLiteral(" 242"));
        QVERIFY(NoMarkerAt(g, 100));
        QVERIFY(MarkerDrawnAt(g, 121));

        Drag(g, 60);
        QCOMPARE(Settings.Marker[0], 122);
        QVERIFY(NoMarkerAt(g, 121));
        QVERIFY(MarkerDrawnAt(g, 61));
        Release(g, Qt::LeftButton, 60);
        QCOMPARE(g->Markers().State().AwaitingGrab, uint8_t(1));
        QCOMPARE(g->Markers().State().LeftButtonDown, uint8_t(0));

        // Without a button the marker stays where it is.
        Hover(g, 300);
        QCOMPARE(Settings.Marker[0], 122);
        QVERIFY(MarkerDrawnAt(g, 61));
        QCOMPARE(Settings.Marker[1], 900); // marker 2 untouched throughout
        QVERIFY(Platform::BoxLog().isEmpty());
    }

    void overlappingMarkersGiveMarkerOne()
    {
        Settings.Marker[0] = 200;
        Settings.Marker[1] = 200;
        OpenWindows fr(1);
        TFGraph *g = Cleared(fr);

        Press(g, Qt::LeftButton, 150);
        Drag(g, 101);
        QCOMPARE(g->Markers().State().DraggedMarker, 1);
        Drag(g, 140);
        Release(g, Qt::LeftButton, 140);
        QCOMPARE(Settings.Marker[0], 282);
        QCOMPARE(Settings.Marker[1], 200);
        QVERIFY(MarkerDrawnAt(g, 141));
        QVERIFY(MarkerDrawnAt(g, 100));
    }

    void dragStopsAtBothEdgesOfTheView()
    {
        Settings.ViewFirst = 256;
        Settings.ViewWidth = 512;
        Settings.Marker[0] = 300; // column 44
        OpenWindows fr(1);
        TFGraph *g = Cleared(fr);
        QVERIFY(MarkerDrawnAt(g, 44));

        Press(g, Qt::LeftButton, 10);
        Drag(g, 44);
        QCOMPARE(g->Markers().State().DraggedMarker, 1);
        Drag(g, 700); // past the right edge
        QCOMPARE(Settings.Marker[0], 256 + 512 - 1);
        QCOMPARE(Part<QLabel>(g, "LMarkX1")->text(), QStringLiteral(" 767"));
        QVERIFY(MarkerDrawnAt(g, 511));
        Drag(g, 5000);
        QCOMPARE(Settings.Marker[0], 767);
        Drag(g, -30); // past the left edge
        QCOMPARE(Settings.Marker[0], 256);
        QVERIFY(MarkerDrawnAt(g, 0));
        QVERIFY(NoMarkerAt(g, 511));
        Drag(g, -5000);
        QCOMPARE(Settings.Marker[0], 256);
        Release(g, Qt::LeftButton, -5000);
        QCOMPARE(OutOfRangeChannelAccesses, uint64_t(0));
    }

    void markerDraggedInOneWindowShowsInTheOtherAfterItsTick()
    {
        Settings.Marker[0] = 200;
        OpenWindows fr(2);
        TFGraph *g1 = fr.w(0);
        TFGraph *g2 = fr.w(1);
        QCOMPARE(g1->windowTitle(), QStringLiteral("Вход 1"));
        QCOMPARE(g2->windowTitle(), QStringLiteral("Вход 2"));
        std::memset(DataMemory, 0, sizeof DataMemory);
        // Input 2 has counts around channel 300, off scale: a blue bar
        // under the marker's new place.
        for (int c = 296; c < 306; ++c)
            WriteChannel(c, 2, 1000);
        g1->TimerRisTimer();
        g2->TimerRisTimer();
        QVERIFY(MarkerDrawnAt(g2, 100));

        Press(g1, Qt::LeftButton, 100);
        Drag(g1, 101);
        Drag(g1, 149); // channel 300, column 150
        Release(g1, Qt::LeftButton, 149);
        QCOMPARE(Settings.Marker[0], 300);
        QVERIFY(MarkerDrawnAt(g1, 150));
        QVERIFY(NoMarkerAt(g1, 100));
        // The other window still shows the old place until its tick.
        QVERIFY(MarkerDrawnAt(g2, 100));
        QVERIFY(NoMarkerAt(g2, 150));

        g2->TimerRisTimer();
        QVERIFY(NoMarkerAt(g2, 100));
        QVERIFY(MarkerDrawnAt(g2, 150));
        QCOMPARE(PlotPixel(g2, 150, 298), kGreen); // over the blue bar
        QCOMPARE(PlotPixel(g2, 150, 297), kPlotBlue);
        QCOMPARE(PlotPixel(g2, 150, 1), kPlotWhite); // above the bar: red dots on white
        QCOMPARE(PlotPixel(g2, 150, 0), kPlotWhite);
        QCOMPARE(Part<QLabel>(g2, "LMarkX1")->text(), QStringLiteral(" 300"));
        QCOMPARE(Part<QLabel>(g2, "LMarkY1")->text(), QStringLiteral("      1000"));
        QCOMPARE(Part<QLabel>(g1, "LMarkY1")->text(), QStringLiteral("         0"));
    }

    // --------------------------------------------------------- calibration

    void leftDoubleClickBetweenMarkersFixesLeftRegion()
    {
        Settings.Marker[0] = 200;
        Settings.Marker[1] = 900;
        Boxes boxes;
        OpenWindows fr(1);
        TFGraph *g = Cleared(fr);

        Click(g, Qt::LeftButton, 300);
        QVERIFY(boxes.log().isEmpty());
        QCOMPARE(Settings.LeftPeakFrom, 10);

        DoubleClick(g, 300);
        QCOMPARE(boxes.log().size(), 1);
        QCOMPARE(boxes.log()[0].caption, kLeftCaption);
        QCOMPARE(boxes.log()[0].text, kFixText);
        QCOMPARE(boxes.log()[0].icon, Platform::Icon::NoIcon);
        QCOMPARE(boxes.log()[0].buttons, Platform::Buttons::Ok);
        QCOMPARE(Settings.LeftPeakFrom, 200);
        QCOMPARE(Settings.LeftPeakTo, 900);
        QCOMPARE(Settings.RightPeakFrom, 1000);
        QCOMPARE(g->Markers().State().LeftDoubleClicked, uint8_t(0));

        // The fixation is used up: a later single click shows nothing.
        Click(g, Qt::LeftButton, 300);
        QCOMPARE(boxes.log().size(), 1);

        // Inside marker 1's zone is not between the markers; its right edge is.
        DoubleClick(g, 100);
        QCOMPARE(boxes.log().size(), 1);
        Click(g, Qt::LeftButton, 101);
        QCOMPARE(boxes.log().size(), 2);
        // So is marker 2's left edge, but not its column.
        DoubleClick(g, 450);
        QCOMPARE(boxes.log().size(), 2);
        Click(g, Qt::LeftButton, 449);
        QCOMPARE(boxes.log().size(), 3);
        QCOMPARE(boxes.log()[2].caption, kLeftCaption);
        QCOMPARE(Settings.Marker[0], 200); // no press moved a marker
        QCOMPARE(Settings.Marker[1], 900);
    }

    void leftDoubleClickElsewhereThenSingleClickBetween()
    {
        Settings.Marker[0] = 200;
        Settings.Marker[1] = 900;
        Boxes boxes;
        OpenWindows fr(1);
        TFGraph *g = Cleared(fr);

        DoubleClick(g, 30); // left of marker 1
        DoubleClick(g, 500); // right of marker 2
        QVERIFY(boxes.log().isEmpty());
        QCOMPARE(g->Markers().State().LeftDoubleClicked, uint8_t(1));
        // A right release between the markers does not complete the left gesture.
        Click(g, Qt::RightButton, 300);
        QVERIFY(boxes.log().isEmpty());

        Click(g, Qt::LeftButton, 250);
        QCOMPARE(boxes.log().size(), 1);
        QCOMPARE(boxes.log()[0].caption, kLeftCaption);
        QCOMPARE(Settings.LeftPeakFrom, 200);
        QCOMPARE(Settings.LeftPeakTo, 900);
        QCOMPARE(Settings.RightPeakFrom, 1000);
        QCOMPARE(Settings.RightPeakTo, 1010);
    }

    void twoRightPressesWithoutMovementFixRightRegion()
    {
        Settings.Marker[0] = 200;
        Settings.Marker[1] = 900;
        Boxes boxes;
        OpenWindows fr(1);
        TFGraph *g = Cleared(fr);

        Click(g, Qt::RightButton, 300);
        QVERIFY(boxes.log().isEmpty());
        Click(g, Qt::RightButton, 300);
        QCOMPARE(boxes.log().size(), 1);
        QCOMPARE(boxes.log()[0].caption, kRightCaption);
        QCOMPARE(boxes.log()[0].text, kFixText);
        QCOMPARE(boxes.log()[0].icon, Platform::Icon::NoIcon);
        QCOMPARE(boxes.log()[0].buttons, Platform::Buttons::Ok);
        QCOMPARE(Settings.RightPeakFrom, 200);
        QCOMPARE(Settings.RightPeakTo, 900);
        QCOMPARE(Settings.LeftPeakFrom, 10);
        QCOMPARE(g->Markers().State().RightFirstPress, uint8_t(0));
        QCOMPARE(g->Markers().State().RightSecondPress, uint8_t(0));

        // The count starts again: one more right click shows nothing.
        Settings.Marker[1] = 800;
        g->TimerRisTimer();
        Click(g, Qt::RightButton, 300);
        QCOMPARE(boxes.log().size(), 1);
        Click(g, Qt::RightButton, 300);
        QCOMPARE(boxes.log().size(), 2);
        QCOMPARE(Settings.RightPeakTo, 800);
    }

    void rightGestureIsCancelledByMovementOrLeftPressOrPlace()
    {
        Settings.Marker[0] = 200;
        Settings.Marker[1] = 900;
        Boxes boxes;
        OpenWindows fr(1);
        TFGraph *g = Cleared(fr);

        // A small movement between the presses.
        Hover(g, 299);
        Click(g, Qt::RightButton, 299);
        QCOMPARE(g->Markers().State().RightFirstPress, uint8_t(1));
        Hover(g, 300);
        QCOMPARE(g->Markers().State().RightFirstPress, uint8_t(0));
        Click(g, Qt::RightButton, 300);
        QVERIFY(boxes.log().isEmpty());

        // A left press between the presses.
        Hover(g, 301);
        Click(g, Qt::RightButton, 301);
        Click(g, Qt::LeftButton, 301);
        Click(g, Qt::RightButton, 301);
        QVERIFY(boxes.log().isEmpty());

        // Both presses outside the markers, the release dragged between them.
        Hover(g, 40);
        Click(g, Qt::RightButton, 40);
        Press(g, Qt::RightButton, 40);
        Drag(g, 300);
        Release(g, Qt::RightButton, 300);
        QVERIFY(boxes.log().isEmpty());

        // Released outside the markers: counted, but nothing fixed.
        Hover(g, 41);
        Click(g, Qt::RightButton, 41);
        Click(g, Qt::RightButton, 41);
        QVERIFY(boxes.log().isEmpty());
        QCOMPARE(g->Markers().State().RightSecondPress, uint8_t(1)); // only a fixation clears it
        QCOMPARE(Settings.RightPeakFrom, 1000);
        QCOMPARE(Settings.RightPeakTo, 1010);

        // A middle button neither counts nor completes the gesture.
        Hover(g, 302);
        Click(g, Qt::RightButton, 302);
        Click(g, Qt::MiddleButton, 302);
        QVERIFY(boxes.log().isEmpty());
        Click(g, Qt::RightButton, 302);
        QCOMPARE(boxes.log().size(), 1);
        QCOMPARE(boxes.log()[0].caption, kRightCaption);
        QCOMPARE(Settings.RightPeakFrom, 200);
        QCOMPARE(Settings.RightPeakTo, 900);
    }

    void markerOneRightOfMarkerTwoFixesNothing()
    {
        Settings.Marker[0] = 900; // column 450
        Settings.Marker[1] = 200; // column 100
        Boxes boxes;
        OpenWindows fr(1);
        TFGraph *g = Cleared(fr);

        for (int x : {102, 300, 448}) {
            Hover(g, x);
            QCOMPARE(Shape(g), Qt::ArrowCursor); // no hand region
            QCOMPARE(g->Plot().Image()->toolTip(), QString());
        }
        for (int x : {0, 100, 101, 102, 300, 449, 450, 511}) {
            DoubleClick(g, x);
            Click(g, Qt::RightButton, x);
            Click(g, Qt::RightButton, x);
        }
        QVERIFY(boxes.log().isEmpty());
        QCOMPARE(Settings.LeftPeakFrom, 10);
        QCOMPARE(Settings.LeftPeakTo, 20);
        QCOMPARE(Settings.RightPeakFrom, 1000);
        QCOMPARE(Settings.RightPeakTo, 1010);
    }

    // --------------------------------------------------------- panel steps

    void panelsStepTheirMarkerWithinTheChannelRange()
    {
        Settings.Marker[0] = 0;
        Settings.Marker[1] = 1023;
        OpenWindows fr(1);
        TFGraph *g = Cleared(fr);
        QCOMPARE(Part<QWidget>(g, "PMark1")->cursor().shape(), Qt::DragMoveCursor);
        QCOMPARE(Part<QWidget>(g, "PMark2")->cursor().shape(), Qt::DragMoveCursor);
        QCOMPARE(Part<QWidget>(g, "PMark1")->toolTip(), QStringLiteral("Изменение позиции маркера"));
        QCOMPARE(Part<QWidget>(g, "PMark2")->toolTip(), QStringLiteral("Изменение позиции маркера"));

        // Marker 1 at channel 0: a left press refuses to go below it.
        QTest::mouseClick(Part<QLabel>(g, "LMarkX1"), Qt::LeftButton);
        QCOMPARE(Settings.Marker[0], 0);
        QCOMPARE(Part<QLabel>(g, "LMarkX1")->text(), QStringLiteral("   0"));
        QTest::mouseClick(Part<QLabel>(g, "LMarkX1"), Qt::RightButton);
        QCOMPARE(Settings.Marker[0], 1);
        QCOMPARE(Part<QLabel>(g, "LMarkX1")->text(), QStringLiteral("   1"));
        QTest::mouseClick(Part<QLabel>(g, "LMark11"), Qt::MiddleButton);
        QTest::mouseClick(Part<QLabel>(g, "LMarkY1"), Qt::RightButton);
        QTest::mouseClick(Part<QLabel>(g, "LMark1"), Qt::RightButton);
        QCOMPARE(Settings.Marker[0], 4);
        QVERIFY(MarkerDrawnAt(g, 2)); // channel 4 of 1024 on column 2
        QVERIFY(NoMarkerAt(g, 1));
        QTest::mouseClick(Part<QLabel>(g, "LMark1"), Qt::LeftButton);
        QCOMPARE(Settings.Marker[0], 3);
        QVERIFY(MarkerDrawnAt(g, 1));
        QVERIFY(NoMarkerAt(g, 2));

        // Marker 2 at the last channel: a right press on the panel's bare
        // background refuses to go past it.
        const QPoint bare(229, 10);
        QVERIFY(Part<QWidget>(g, "PMark2")->childAt(bare) == nullptr);
        QVERIFY(Part<QWidget>(g, "PMark1")->childAt(bare) == nullptr);
        QTest::mouseClick(Part<QWidget>(g, "PMark2"), Qt::RightButton, {}, bare);
        QCOMPARE(Settings.Marker[1], 1023);
        QCOMPARE(Part<QLabel>(g, "LMarkX2")->text(), QStringLiteral("1023"));
        QTest::mouseClick(Part<QWidget>(g, "PMark2"), Qt::LeftButton, {}, bare);
        QCOMPARE(Settings.Marker[1], 1022);
        QCOMPARE(Part<QLabel>(g, "LMarkX2")->text(), QStringLiteral("1022"));
        QTest::mouseClick(Part<QLabel>(g, "LMarkX2"), Qt::LeftButton);
        QTest::mouseClick(Part<QLabel>(g, "LMark12"), Qt::LeftButton);
        QTest::mouseClick(Part<QLabel>(g, "LMarkY2"), Qt::MiddleButton);
        QTest::mouseClick(Part<QLabel>(g, "LMark2"), Qt::LeftButton);
        QCOMPARE(Settings.Marker[1], 1020);

        // PMark1's bare background does nothing.
        QTest::mouseClick(Part<QWidget>(g, "PMark1"), Qt::LeftButton, {}, bare);
        QTest::mouseClick(Part<QWidget>(g, "PMark1"), Qt::RightButton, {}, bare);
        QCOMPARE(Settings.Marker[0], 3);
        QCOMPARE(Settings.Marker[1], 1020);
    }

    void panelStepsShowTheCountAtTheMarker()
    {
        Settings.Marker[0] = 99;
        OpenWindows fr(1);
        TFGraph *g = Cleared(fr);
        WriteChannel(100, 1, 1234567);
        QTest::mouseClick(Part<QLabel>(g, "LMarkX1"), Qt::RightButton);
        QCOMPARE(Part<QLabel>(g, "LMarkX1")->text(), QStringLiteral(" 100"));
        QCOMPARE(Part<QLabel>(g, "LMarkY1")->text(), QStringLiteral("   1234567"));
    }

    // -------------------------------------------------------- scale strips

    void stripFeedbackAndHint()
    {
        OpenWindows fr(1);
        TFGraph *g = fr.w(0);
        const QString vert = QStringLiteral("Изменение масштаба по вертикали.");
        const QString hor = QStringLiteral("Изменение масштаба по горизонтали.");
        struct Case {
            QPoint p;
            Qt::CursorShape shape;
            QString hint;
        };
        const Case cases[] = {
            {{63, 99}, Qt::SizeVerCursor, vert},   {{78, 397}, Qt::SizeVerCursor, vert},
            {{70, 248}, Qt::SizeVerCursor, vert},  {{82, 402}, Qt::SizeHorCursor, hor},
            {{593, 417}, Qt::SizeHorCursor, hor},  {{338, 410}, Qt::SizeHorCursor, hor},
            {{62, 200}, Qt::ArrowCursor, QString()}, {{79, 200}, Qt::ArrowCursor, QString()},
            {{70, 98}, Qt::ArrowCursor, QString()},  {{300, 401}, Qt::ArrowCursor, QString()},
            {{300, 418}, Qt::ArrowCursor, QString()}, {{594, 410}, Qt::ArrowCursor, QString()},
        };
        for (const Case &c : cases) {
            QVERIFY(g->childAt(c.p) == nullptr);
            QTest::mouseMove(g, c.p);
            QCOMPARE(g->cursor().shape(), c.shape);
            QCOMPARE(g->toolTip(), c.hint);
        }
        QTest::mouseMove(g, QPoint(70, 200));
        QCOMPARE(g->toolTip(), vert);
        SurfacePress(g, Qt::MiddleButton, 70, 248);
        QCOMPARE(g->toolTip(), QString()); // a press switches the hint off
    }

    void verticalStripHalves()
    {
        Settings.ViewWidth = 512; // one channel per column
        OpenWindows fr(1);
        TFGraph *g = Cleared(fr);
        WriteChannel(250, 1, 10);
        g->TimerRisTimer();
        auto barHeight = [g] {
            int n = 0;
            for (int y = 0; y < 300; ++y)
                n += PlotPixel(g, 250, y) == kPlotBlue;
            return n;
        };
        QCOMPARE(Settings.VertScale, 25);
        QCOMPARE(barHeight(), 120);

        SurfacePress(g, Qt::LeftButton, 70, 150); // upper half
        QCOMPARE(Settings.VertScale, 50);
        QCOMPARE(barHeight(), 60); // plot redrawn at once
        QCOMPARE(g->ShownVertScale, 50);
        SurfacePress(g, Qt::RightButton, 63, 99);
        SurfacePress(g, Qt::MiddleButton, 78, 247);
        QCOMPARE(Settings.VertScale, 200);
        QCOMPARE(Part<QLabel>(g, "LPokazat")->text(), QStringLiteral("2"));

        SurfacePress(g, Qt::LeftButton, 70, 249); // lower half
        QCOMPARE(Settings.VertScale, 100);
        QCOMPARE(Part<QLabel>(g, "LPokazat")->text(), QStringLiteral("1"));
        SurfacePress(g, Qt::RightButton, 78, 397);
        QCOMPARE(Settings.VertScale, 50);
        SurfacePress(g, Qt::LeftButton, 63, 300);
        QCOMPARE(Settings.VertScale, 25);
        QCOMPARE(barHeight(), 120);
        // At 25 it stays, and the plot is still redrawn.
        g->Plot().Raster().setPixel(250, 10, qRgb(0, 0, 0));
        SurfacePress(g, Qt::LeftButton, 63, 300);
        QCOMPARE(Settings.VertScale, 25);
        QCOMPARE(PlotPixel(g, 250, 10), kPlotWhite);
        Settings.VertScale = 51;
        SurfacePress(g, Qt::LeftButton, 70, 300);
        QCOMPARE(Settings.VertScale, 25);

        // Between the halves and outside the strip: nothing.
        for (QPoint p : {QPoint(70, 248), QPoint(70, 98), QPoint(70, 398), QPoint(62, 150), QPoint(79, 150),
                         QPoint(62, 300), QPoint(79, 300)}) {
            g->Plot().Raster().setPixel(250, 10, qRgb(0, 0, 0));
            SurfacePress(g, Qt::LeftButton, p.x(), p.y());
            QCOMPARE(Settings.VertScale, 25);
            QCOMPARE(PlotPixel(g, 250, 10), qRgb(0, 0, 0)); // not redrawn
        }

        // Doubled only while below 2^30 - 1.
        Settings.VertScale = 1073741822;
        SurfacePress(g, Qt::LeftButton, 70, 150);
        QCOMPARE(Settings.VertScale, 2147483644);
        SurfacePress(g, Qt::LeftButton, 70, 150);
        QCOMPARE(Settings.VertScale, 2147483644);
        Settings.VertScale = 1073741823;
        SurfacePress(g, Qt::LeftButton, 70, 150);
        QCOMPARE(Settings.VertScale, 1073741823);
    }

    void horizontalStripZoomsAndScrolls()
    {
        Settings.ChannelCount = 4096;
        Settings.ViewWidth = 4096;
        OpenWindows fr(1);
        TFGraph *g = Cleared(fr);
        const QPoint left(200, 410), right(450, 410);

        // Zoom in from the whole spectrum down to 32, then it stays.
        for (int expected : {2048, 1024, 512, 256, 128, 64, 32, 32}) {
            SurfacePress(g, Qt::LeftButton, left.x(), left.y());
            QCOMPARE(int(Settings.ViewWidth), expected);
            QCOMPARE(int(g->ShownViewWidth), expected); // scale redrawn
            QCOMPARE(Settings.ViewFirst, 0);
        }
        // Zoom out doubles up to 512, then shows the whole spectrum.
        for (int expected : {64, 128, 256, 512, 4096, 4096}) {
            SurfacePress(g, Qt::LeftButton, right.x(), right.y());
            QCOMPARE(int(Settings.ViewWidth), expected);
        }

        // Scrolling by one view.
        Settings.ViewWidth = 1024;
        Settings.ViewFirst = 0;
        SurfacePress(g, Qt::RightButton, right.x(), right.y());
        QCOMPARE(Settings.ViewFirst, 1024);
        QCOMPARE(g->ShownViewFirst, 1024);
        Settings.ViewFirst = 3072;
        g->Plot().Raster().setPixel(300, 10, qRgb(0, 0, 0));
        SurfacePress(g, Qt::RightButton, 593, 417);
        QCOMPARE(Settings.ViewFirst, 3072);
        QCOMPARE(PlotPixel(g, 300, 10), kPlotWhite); // redrawn although unchanged
        Settings.ViewFirst = 2500; // the last page ends at the last channel
        SurfacePress(g, Qt::RightButton, 339, 402);
        QCOMPARE(Settings.ViewFirst, 3072);
        Settings.ViewFirst = 1024;
        SurfacePress(g, Qt::RightButton, left.x(), left.y());
        QCOMPARE(Settings.ViewFirst, 0);
        SurfacePress(g, Qt::RightButton, 83, 417);
        QCOMPARE(Settings.ViewFirst, 0);
        Settings.ViewFirst = 1500;
        SurfacePress(g, Qt::RightButton, 337, 402);
        QCOMPARE(Settings.ViewFirst, 476);

        // Zooming keeps the first channel unless the view would run past
        // the last channel.
        Settings.ViewFirst = 3500;
        Settings.ViewWidth = 256;
        SurfacePress(g, Qt::LeftButton, right.x(), right.y());
        QCOMPARE(int(Settings.ViewWidth), 512);
        QCOMPARE(Settings.ViewFirst, 3500);
        SurfacePress(g, Qt::LeftButton, right.x(), right.y());
        QCOMPARE(int(Settings.ViewWidth), 4096);
        QCOMPARE(Settings.ViewFirst, 0);

        // The gap, the ends and the middle button do nothing.
        Settings.ViewFirst = 1024;
        Settings.ViewWidth = 1024;
        for (Qt::MouseButton b : {Qt::LeftButton, Qt::RightButton}) {
            for (QPoint p : {QPoint(338, 410), QPoint(82, 410), QPoint(594, 410), QPoint(200, 401),
                             QPoint(450, 418)}) {
                if (g->childAt(p))
                    continue; // a control lies there
                SurfacePress(g, b, p.x(), p.y());
                QCOMPARE(Settings.ViewFirst, 1024);
                QCOMPARE(int(Settings.ViewWidth), 1024);
            }
        }
        g->Plot().Raster().setPixel(300, 10, qRgb(0, 0, 0));
        SurfacePress(g, Qt::MiddleButton, left.x(), left.y());
        SurfacePress(g, Qt::MiddleButton, right.x(), right.y());
        QCOMPARE(Settings.ViewFirst, 1024);
        QCOMPARE(int(Settings.ViewWidth), 1024);
        QCOMPARE(PlotPixel(g, 300, 10), qRgb(0, 0, 0));
    }

    // ---------------------------------------------------------------- keys

    void keysZoomAndPage()
    {
        OpenWindows fr(1);
        TFGraph *g = Cleared(fr);
        QWidget *target = g->Plot().Image();

        // Each zoom key redraws the scale and the plot, also when the width
        // stays.
        auto soil = [g] {
            g->Plot().Raster().setPixel(300, 10, qRgb(0, 0, 0));
            g->ShownViewWidth = 0;
        };
        auto redrawn = [g] { return PlotPixel(g, 300, 10) == kPlotWhite && g->ShownViewWidth == Settings.ViewWidth; };
        Settings.ViewWidth = 32;
        soil();
        Key(target, Qt::Key_PageDown);
        QCOMPARE(int(Settings.ViewWidth), 32);
        QVERIFY(redrawn());
        Settings.ViewWidth = 64;
        soil();
        Key(target, Qt::Key_PageDown);
        QCOMPARE(int(Settings.ViewWidth), 32);
        QVERIFY(redrawn());
        soil();
        Key(g, Qt::Key_PageUp);
        QCOMPARE(int(Settings.ViewWidth), 64);
        QVERIFY(redrawn());
        Settings.ViewWidth = 512;
        Key(Part<QPushButton>(g, "BGistogramm"), Qt::Key_PageUp);
        QCOMPARE(int(Settings.ViewWidth), 1024);

        // Paging left.
        Settings.ViewFirst = 0;
        Settings.ViewWidth = 256;
        g->Plot().Raster().setPixel(300, 10, qRgb(0, 0, 0));
        g->ShownViewFirst = -1;
        Key(target, Qt::Key_Home);
        QCOMPARE(Settings.ViewFirst, 0);
        QCOMPARE(PlotPixel(g, 300, 10), kPlotWhite); // redrawn all the same
        QCOMPARE(g->ShownViewFirst, 0);
        Settings.ViewFirst = 100;
        Key(target, Qt::Key_Home);
        QCOMPARE(Settings.ViewFirst, 0);
        Settings.ViewFirst = 600;
        Key(target, Qt::Key_Home, Qt::ShiftModifier); // Shift plays no part
        QCOMPARE(Settings.ViewFirst, 344);

        // Paging right: the last page ends at the last channel.
        Settings.ViewFirst = 700;
        Key(target, Qt::Key_End);
        QCOMPARE(Settings.ViewFirst, 768);
        g->Plot().Raster().setPixel(300, 10, qRgb(0, 0, 0));
        Key(target, Qt::Key_End);
        QCOMPARE(Settings.ViewFirst, 768);
        QCOMPARE(PlotPixel(g, 300, 10), kPlotWhite);
        Settings.ViewFirst = 256;
        Key(target, Qt::Key_End, Qt::ShiftModifier);
        QCOMPARE(Settings.ViewFirst, 512);
        QCOMPARE(int(Settings.ViewWidth), 256);
    }

    void keysZoomOutToTheWholeSpectrum()
    {
        Settings.InputCount = 1;
        Settings.ChannelCount = 16384;
        Settings.ViewWidth = 512;
        OpenWindows fr(1);
        TFGraph *g = fr.w(0);
        Key(g->Plot().Image(), Qt::Key_PageUp);
        QCOMPARE(int(Settings.ViewWidth), 16384);
        Key(g->Plot().Image(), Qt::Key_PageDown);
        QCOMPARE(int(Settings.ViewWidth), 8192);
        for (int expected : {4096, 2048, 1024, 512, 256, 128, 64, 32, 32}) {
            Key(g->Plot().Image(), Qt::Key_PageDown);
            QCOMPARE(int(Settings.ViewWidth), expected);
        }
        // Widening past the last channel pulls the first channel back.
        Settings.ViewFirst = 16000;
        Settings.ViewWidth = 256;
        Key(g->Plot().Image(), Qt::Key_PageUp);
        QCOMPARE(int(Settings.ViewWidth), 512);
        QCOMPARE(Settings.ViewFirst, 16384 - 512);
        QCOMPARE(OutOfRangeChannelAccesses, uint64_t(0));
    }

    void keysChangeTheVerticalScale()
    {
        Settings.ViewWidth = 512;
        OpenWindows fr(1);
        TFGraph *g = Cleared(fr);
        WriteChannel(250, 1, 10);
        g->TimerRisTimer();
        QWidget *target = g->Plot().Image();

        Key(target, Qt::Key_PageUp, Qt::ShiftModifier);
        QCOMPARE(Settings.VertScale, 50);
        QCOMPARE(PlotPixel(g, 250, 240), kPlotBlue); // bar of 60 pixels: rows 299..240
        QCOMPARE(PlotPixel(g, 250, 239), kPlotWhite);
        QCOMPARE(g->ShownVertScale, 50);

        Settings.VertScale = 50;
        Key(target, Qt::Key_PageDown, Qt::ShiftModifier);
        QCOMPARE(Settings.VertScale, 25);
        QCOMPARE(PlotPixel(g, 250, 180), kPlotBlue);
        Settings.VertScale = 51;
        Key(target, Qt::Key_PageDown, Qt::ShiftModifier);
        QCOMPARE(Settings.VertScale, 25);
        Key(target, Qt::Key_PageDown, Qt::ShiftModifier);
        QCOMPARE(Settings.VertScale, 25);
        Settings.VertScale = 6400;
        Key(target, Qt::Key_PageDown, Qt::ShiftModifier);
        QCOMPARE(Settings.VertScale, 3200);

        Settings.VertScale = 838860800;
        Key(target, Qt::Key_PageUp, Qt::ShiftModifier);
        QCOMPARE(Settings.VertScale, 1677721600);
        Key(target, Qt::Key_PageUp, Qt::ShiftModifier);
        QCOMPARE(Settings.VertScale, 1677721600);

        // Shift is tested before Ctrl and Alt on Page Up and Page Down.
        Settings.VertScale = 100;
        Key(target, Qt::Key_PageUp, Qt::ShiftModifier | Qt::ControlModifier);
        Key(target, Qt::Key_PageUp, Qt::ShiftModifier | Qt::AltModifier);
        QCOMPARE(Settings.VertScale, 400);
        Key(target, Qt::Key_PageDown, Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
        QCOMPARE(Settings.VertScale, 200);
        QCOMPARE(Settings.Marker[0], 100);
        QCOMPARE(Settings.Marker[1], 900);
        QCOMPARE(int(Settings.ViewWidth), 512);
    }

    void keysMoveMarkersByTheirRules()
    {
        OpenWindows fr(1);
        TFGraph *g = Cleared(fr);
        QWidget *target = g->Plot().Image();

        // W = 1024: coarse steps of 127 right and 128 left.
        Settings.Marker[0] = 200;
        g->TimerRisTimer();
        Key(target, Qt::Key_PageUp, Qt::ControlModifier);
        QCOMPARE(Settings.Marker[0], 327);
        QCOMPARE(Part<QLabel>(g, "LMarkX1")->text(), QStringLiteral(" 327"));
        QVERIFY(MarkerDrawnAt(g, 163));
        QVERIFY(NoMarkerAt(g, 100));
        Key(target, Qt::Key_PageDown, Qt::ControlModifier);
        QCOMPARE(Settings.Marker[0], 199);
        QVERIFY(MarkerDrawnAt(g, 99));
        QVERIFY(NoMarkerAt(g, 163));
        Key(target, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(Settings.Marker[0], 200);
        Key(target, Qt::Key_Home, Qt::ControlModifier);
        Key(target, Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(Settings.Marker[0], 198);
        QCOMPARE(Settings.Marker[1], 900);

        Key(target, Qt::Key_PageUp, Qt::AltModifier);
        QCOMPARE(Settings.Marker[1], 1023); // 900 > 1024 - 128: to the edge
        QCOMPARE(Part<QLabel>(g, "LMarkX2")->text(), QStringLiteral("1023"));
        Key(target, Qt::Key_PageDown, Qt::AltModifier);
        QCOMPARE(Settings.Marker[1], 895);
        Key(target, Qt::Key_End, Qt::AltModifier);
        QCOMPARE(Settings.Marker[1], 896);
        Key(target, Qt::Key_Home, Qt::AltModifier);
        QCOMPARE(Settings.Marker[1], 895);
        QCOMPARE(Settings.Marker[0], 198);

        // W = 32: 3 channels right, 4 left.
        Settings.ViewFirst = 64;
        Settings.ViewWidth = 32;
        Settings.Marker[0] = 70;
        g->TimerRisTimer();
        Key(target, Qt::Key_PageUp, Qt::ControlModifier);
        QCOMPARE(Settings.Marker[0], 73);
        Key(target, Qt::Key_PageDown, Qt::ControlModifier);
        QCOMPARE(Settings.Marker[0], 69);
        Key(target, Qt::Key_PageDown, Qt::ControlModifier);
        QCOMPARE(Settings.Marker[0], 65);
        Key(target, Qt::Key_PageDown, Qt::ControlModifier); // 65 < 64 + 4: to the left edge
        QCOMPARE(Settings.Marker[0], 64);
        Key(target, Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(Settings.Marker[0], 64);

        // At the last channel of the view the rightward keys stop.
        Settings.Marker[0] = 95;
        g->TimerRisTimer();
        Key(target, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(Settings.Marker[0], 95);
        Key(target, Qt::Key_PageUp, Qt::ControlModifier);
        QCOMPARE(Settings.Marker[0], 95);
        Settings.Marker[0] = 92; // 92 = F + W - W/8: still a full step
        Key(target, Qt::Key_PageUp, Qt::ControlModifier);
        QCOMPARE(Settings.Marker[0], 95);

        // A marker outside the view goes to the nearer edge, whatever the key.
        for (Qt::Key key : {Qt::Key_Home, Qt::Key_End, Qt::Key_PageUp, Qt::Key_PageDown}) {
            Settings.Marker[1] = 10; // left of the view
            g->TimerRisTimer();
            Key(target, key, Qt::AltModifier);
            QCOMPARE(Settings.Marker[1], 64);
            Settings.Marker[1] = 500; // right of it
            g->TimerRisTimer();
            Key(target, key, Qt::AltModifier);
            QCOMPARE(Settings.Marker[1], 95);
            Settings.Marker[0] = 1000;
            g->TimerRisTimer();
            Key(target, key, Qt::ControlModifier);
            QCOMPARE(Settings.Marker[0], 95);
        }
        QCOMPARE(Settings.ViewFirst, 64);
        QCOMPARE(int(Settings.ViewWidth), 32);

        // Ctrl is tested before Alt; the markers may pass each other.
        Settings.Marker[0] = 80;
        Settings.Marker[1] = 81;
        g->TimerRisTimer();
        Key(target, Qt::Key_End, Qt::ControlModifier | Qt::AltModifier);
        Key(target, Qt::Key_End, Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier);
        QCOMPARE(Settings.Marker[0], 82);
        QCOMPARE(Settings.Marker[1], 81);
        Key(target, Qt::Key_Home, Qt::AltModifier | Qt::ShiftModifier);
        QCOMPARE(Settings.Marker[1], 80);
        Key(target, Qt::Key_PageDown, Qt::ControlModifier | Qt::AltModifier);
        QCOMPARE(Settings.Marker[0], 78);
        QCOMPARE(Settings.Marker[1], 80);
        QVERIFY(MarkerDrawnAt(g, ((78 - 64) * 512) / 32));
        QVERIFY(MarkerDrawnAt(g, ((80 - 64) * 512) / 32));
    }

    void otherKeysChangeNothingAndKeysReachTheFocusedControl()
    {
        Settings.Marker[0] = 200;
        OpenWindows fr(1);
        TFGraph *g = Cleared(fr);
        const QImage before = g->Plot().Raster().copy();
        const SettingsRecord saved = Settings;
        for (Qt::Key k : {Qt::Key_A, Qt::Key_Left, Qt::Key_Right, Qt::Key_Up, Qt::Key_Down, Qt::Key_F5,
                          Qt::Key_F9, Qt::Key_F12, Qt::Key_Z, Qt::Key_Space, Qt::Key_Escape}) {
            for (Qt::KeyboardModifiers m :
                 {Qt::KeyboardModifiers(), Qt::KeyboardModifiers(Qt::ControlModifier),
                  Qt::KeyboardModifiers(Qt::AltModifier), Qt::KeyboardModifiers(Qt::ShiftModifier)}) {
                if (k == Qt::Key_A && m == Qt::ControlModifier)
                    continue; // a menu shortcut of the frame
                Key(g->Plot().Image(), k, m);
            }
        }
        QVERIFY(std::memcmp(&saved, &Settings, sizeof Settings) == 0);
        QCOMPARE(g->Plot().Raster(), before);

        // The key is only previewed: the focused spin box still steps.
        Part<QWidget>(g, "PTimeSet")->show();
        Part<QSpinBox>(g, "SpinEditDay")->setValue(5);
        Part<QSpinBox>(g, "SpinEditDay")->setFocus();
        Settings.ViewWidth = 256;
        Key(Part<QSpinBox>(g, "SpinEditDay"), Qt::Key_PageUp);
        QCOMPARE(int(Settings.ViewWidth), 512);
        QCOMPARE(Part<QSpinBox>(g, "SpinEditDay")->value(), 15);
        Part<QWidget>(g, "PTimeSet")->hide();
    }
};

QTEST_MAIN(MarkersTest)
#include "test_markers.moc"
