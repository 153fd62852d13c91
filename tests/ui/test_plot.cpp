// The spectrum window's plot, scales, status labels and refresh tick.
#include "tests/ui/UiTestUtil.h"

#include <QDockWidget>
#include <QLocale>
#include <QPainter>

using namespace ui_test;

namespace {
constexpr QRgb kWhite = 0xFFFFFFFFu;
constexpr QRgb kBlue = 0xFF0000FFu;
constexpr QRgb kBlack = 0xFF000000u;

// Rows of column x that hold `colour`.
QList<int> RowsOf(TFGraph *g, int x, QRgb colour)
{
    QList<int> rows;
    for (int y = 0; y < 300; ++y)
        if (PlotPixel(g, x, y) == colour)
            rows << y;
    return rows;
}

QList<int> Range(int from, int to) // inclusive, descending or ascending
{
    QList<int> r;
    for (int y = std::min(from, to); y <= std::max(from, to); ++y)
        r << y;
    return r;
}

QRgb SurfacePixel(TFGraph *g, int x, int y) { return g->Plot().Surface().pixel(x, y) | 0xFF000000u; }
} // namespace

class PlotTest : public QObject {
    Q_OBJECT
    TFRYV *frame = nullptr;
    TFGraph *g = nullptr;

private slots:
    void init()
    {
        ResetProgram();
        frame = FrameWithWindows(1);
        g = frame->SpectrumWindows()[0];
        ClearSpectra();
        // one channel per column, a count of 300 at full height, markers far right
        Settings.ViewFirst = 0;
        Settings.ViewWidth = 512;
        Settings.VertScale = 300;
        Settings.Marker[0] = 700;
        Settings.Marker[1] = 800;
    }
    void cleanup() { DisposeFrame(frame); }

    void histogramBarsAndOffScaleColumns()
    {
        WriteChannel(10, 1, 299);
        WriteChannel(11, 1, 300);
        WriteChannel(12, 1, -5);
        WriteChannel(13, 1, 1);
        g->RisSpectr();
        g->RisSpectr();
        QCOMPARE(RowsOf(g, 10, kBlue), Range(1, 299));
        QCOMPARE(RowsOf(g, 11, kBlue), Range(2, 299));
        QCOMPARE(RowsOf(g, 12, kBlue), Range(2, 299));
        QCOMPARE(RowsOf(g, 13, kBlue), QList<int>{299});
        QCOMPARE(RowsOf(g, 14, kBlue), QList<int>{});
        QCOMPARE(PlotPixel(g, 11, 1), kWhite);
        QCOMPARE(PlotPixel(g, 10, 0), kWhite);
    }

    void pointsModeAndRowZeroNeverCleared()
    {
        WriteChannel(10, 1, 299);
        WriteChannel(11, 1, 300);
        WriteChannel(12, 1, 150);
        Settings.HistogramMode = 0;
        g->RisSpectr();
        QCOMPARE(RowsOf(g, 10, kBlue), QList<int>{0});
        QCOMPARE(RowsOf(g, 11, kBlue), QList<int>{1});
        QCOMPARE(RowsOf(g, 12, kBlue), QList<int>{149});
        QCOMPARE(RowsOf(g, 13, kBlue), QList<int>{299}); // zero counts sit on the base line
        WriteChannel(10, 1, 0);
        g->RisSpectr();
        QCOMPARE(RowsOf(g, 10, kBlue), (QList<int>{0, 299})); // row 0 is never cleared
    }

    void narrowViewPutsOneChannelOnEverySixteenthColumn()
    {
        Settings.ViewWidth = 32;
        for (int c = 0; c < 32; ++c)
            WriteChannel(c, 1, 100);
        g->RisSpectr();
        for (int x = 0; x < 512; ++x)
            QCOMPARE(RowsOf(g, x, kBlue).size(), x % 16 == 0 ? 100 : 0);
        Settings.HistogramMode = 0;
        g->RisSpectr();
        QCOMPARE(RowsOf(g, 16, kBlue), QList<int>{199});
        QCOMPARE(RowsOf(g, 17, kBlue), QList<int>{299});
    }

    void wideViewAveragesChannels()
    {
        Settings.ViewWidth = 1024;
        Settings.VertScale = 25;
        WriteChannel(0, 1, 25);
        WriteChannel(1, 1, 25);
        WriteChannel(2, 1, 10);
        WriteChannel(3, 1, 0);
        g->RisSpectr();
        QCOMPARE(RowsOf(g, 0, kBlue), Range(2, 299)); // two channels of 25 give 300: off scale
        QCOMPARE(RowsOf(g, 1, kBlue).size(), 60); // (10 * 300 / 2) / 25
    }

    void markerInTheViewShowsExactlyOnceAfterEveryRedraw()
    {
        Settings.Marker[0] = 100;
        Settings.Marker[1] = 300;
        WriteChannel(300, 1, 150);
        g->PaintHandler();
        for (int round = 0; round < 3; ++round) {
            g->RisSpectr();
            // column 100: white background, red dots on every other row
            int red = 0, white = 0;
            for (int y = 1; y < 300; ++y) {
                const QRgb p = PlotPixel(g, 100, y);
                red += p == 0xFFFF0000u;
                white += p == kWhite;
            }
            QVERIFY2(red >= 140 && red <= 150, qPrintable(QString::number(red)));
            QCOMPARE(red + white, 299);
            // column 300: green dots over the blue bar, red over white above it
            int green = 0;
            for (int y = 150; y < 300; ++y)
                green += PlotPixel(g, 300, y) == 0xFF00FF00u;
            QVERIFY(green >= 70);
        }
        QCOMPARE(g->Markers().Zone(1).Left, 99);
        QCOMPARE(g->Markers().Zone(1).Right, 101);
    }

    void markersOutsideTheView()
    {
        Settings.ViewFirst = 200;
        Settings.Marker[0] = 50;  // below the view
        Settings.Marker[1] = 100; // below the view
        g->PaintHandler();
        g->RisSpectr();
        g->RisSpectr();
        QCOMPARE(g->Markers().Zone(1).Left, 0);
        QCOMPARE(g->Markers().Zone(1).Right, 3);
        QCOMPARE(g->Markers().Zone(2).Left, 509);
        QCOMPARE(g->Markers().Zone(2).Right, 511);
        // marker 2 below the view shows on column 0, marker 1 is hidden
        int red0 = 0;
        for (int y = 1; y < 300; ++y)
            red0 += PlotPixel(g, 0, y) == 0xFFFF0000u;
        QVERIFY(red0 > 100);
        for (int x = 1; x < 512; ++x)
            for (int y = 1; y < 300; ++y)
                if (PlotPixel(g, x, y) == 0xFFFF0000u)
                    QFAIL(qPrintable(QStringLiteral("red at %1,%2").arg(x).arg(y)));
        Settings.Marker[1] = 900; // above the view: not shown either
        g->RisSpectr();
        g->RisSpectr();
        for (int y = 1; y < 300; ++y)
            QVERIFY(PlotPixel(g, 511, y) != 0xFFFF0000u);
    }

    void verticalScaleTicksAndExponent_data()
    {
        QTest::addColumn<int>("scale");
        QTest::addColumn<QList<int>>("heights");
        QTest::addColumn<QStringList>("labels");
        QTest::addColumn<QString>("exponent");
        // tick k stands where m * k * 10^e counts reach: 300 * count div VertScale
        QTest::newRow("25") << 25 << QList<int>{120, 240} << QStringList{"1", "2"} << "1";
        QTest::newRow("100") << 100 << QList<int>{90, 180, 270} << QStringList{"3", "6", "9"} << "1";
        QTest::newRow("1600") << 1600 << QList<int>{93, 187, 281} << QStringList{"5", "10", "15"} << "2";
        QTest::newRow("12800") << 12800 << QList<int>{93, 187, 281} << QStringList{"4", "8", "12"} << "3";
        QTest::newRow("25600") << 25600 << QList<int>{117, 234} << QStringList{"1", "2"} << "4";
        QTest::newRow("2147483647") << 2147483647 << QList<int>{139, 279} << QStringList{"1", "2"} << "9";
    }

    void verticalScaleTicksAndExponent()
    {
        QFETCH(int, scale);
        QFETCH(QList<int>, heights);
        QFETCH(QStringList, labels);
        QFETCH(QString, exponent);
        Settings.VertScale = scale;
        g->VertikalMas();
        QCOMPARE(Part<QLabel>(g, "LPokazat")->text(), exponent);
        QCOMPARE(g->ShownVertScale, scale);
        // the zero tick and each tick: pixels 78..81 black, 77 not part of the line
        for (int h : QList<int>{0} + heights) {
            const int y = 398 - h;
            for (int x = 78; x <= 81; ++x)
                QCOMPARE(SurfacePixel(g, x, y), kBlack);
        }
        // nothing else on the tick column
        int ticks = 0;
        for (int y = 92; y <= 398; ++y)
            ticks += SurfacePixel(g, 81, y) == kBlack;
        QCOMPARE(ticks, heights.size() + 1);
        // the channel scale's redraw leaves the zero tick in place
        g->HorisontMas();
        for (int x = 78; x <= 81; ++x)
            QCOMPARE(SurfacePixel(g, x, 398), kBlack);
        // each label right-aligned at x = 77 and centred on its tick: the
        // surface holds exactly the pixels of the text drawn there
        const QFontMetrics fm(g->Plot().SurfaceFont());
        for (int i = 0; i < labels.size(); ++i) {
            const int y = 398 - heights[i];
            const QRect r(77 - fm.horizontalAdvance(labels[i]), y - fm.height() / 2, fm.horizontalAdvance(labels[i]),
                          fm.height());
            QImage expected(r.size(), QImage::Format_RGB32);
            expected.fill(ButtonFaceColor());
            QPainter p(&expected);
            p.setFont(g->Plot().SurfaceFont());
            p.setPen(Qt::black);
            p.drawText(expected.rect(), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, labels[i]);
            p.end();
            QCOMPARE(g->Plot().Surface().copy(r), expected);
        }
    }

    void horizontalScaleTicksAndClamp()
    {
        Settings.ViewFirst = 0;
        Settings.ViewWidth = 1024;
        g->HorisontMas();
        QList<int> tickX;
        for (int x = 58; x < 640; ++x)
            if (SurfacePixel(g, x, 400) == kBlack)
                tickX << x;
        QCOMPARE(tickX, (QList<int>{82, 162, 242, 322, 402, 482, 562}));
        Settings.ViewWidth = 32;
        Settings.ViewFirst = 7;
        g->HorisontMas();
        tickX.clear();
        for (int x = 58; x < 640; ++x)
            if (SurfacePixel(g, x, 400) == kBlack)
                tickX << x;
        // channels 10, 15, ... 35 at 16 pixels per channel
        QCOMPARE(tickX, (QList<int>{82 + 48, 82 + 128, 82 + 208, 82 + 288, 82 + 368, 82 + 448}));
        Settings.ViewFirst = 1000;
        Settings.ViewWidth = 512;
        g->HorisontMas();
        QCOMPARE(Settings.ViewFirst, 512);
        QCOMPARE(g->ShownViewFirst, 1000); // the next tick redraws the scale once more
    }

    void tickRefreshesLabelsAndFollowsOtherWindows()
    {
        QLocale::setDefault(QLocale::c());
        Elapsed[0] = 0;
        Elapsed[1] = 1.5;
        Settings.Running[1] = 1;
        Settings.Marker[0] = 1000;
        Settings.Marker[1] = 10;
        WriteChannel(1000, 1, 3);
        WriteChannel(5, 1, 4);
        WriteChannel(1023, 1, 2000000000);
        WriteChannel(0, 1, 2000000000);
        g->TimerRisTimer();
        QCOMPARE(Part<QLabel>(g, "LTime1")->text(), QStringLiteral("0 - 00:00:00"));
        QCOMPARE(Part<QLabel>(g, "LTime2")->text(), QStringLiteral("1 - 12:00:00"));
        QCOMPARE(Part<QLabel>(g, "LTime2")->palette().color(QPalette::Window), QColor(Qt::white));
        QVERIFY(Part<QLabel>(g, "LTime1")->palette().color(QPalette::Window) != QColor(Qt::white));
        QCOMPARE(Part<QLabel>(g, "LIntegralY")->text(), QStringLiteral("4000000007")); // 64-bit, not wrapped
        Settings.Running[1] = 0;
        g->TimerRisTimer();
        QVERIFY(Part<QLabel>(g, "LTime2")->palette().color(QPalette::Window) != QColor(Qt::white));

        // a change of scale made elsewhere is drawn at the next tick
        Settings.VertScale = 100;
        g->TimerRisTimer();
        QCOMPARE(Part<QLabel>(g, "LPokazat")->text(), QStringLiteral("1"));
        QCOMPARE(g->ShownVertScale, 100);
    }

    void displayModeButtonCaptions()
    {
        // HistogramMode 1 at creation: "Точки" without accelerator until the first tick
        QCOMPARE(Part<QPushButton>(g, "BGistogramm")->text(), QStringLiteral("Точки"));
        g->TimerRisTimer();
        QCOMPARE(Part<QPushButton>(g, "BGistogramm")->text(), QStringLiteral("&Точки"));
        WriteChannel(20, 1, 100);
        QTest::mouseClick(Part<QPushButton>(g, "BGistogramm"), Qt::LeftButton);
        QCOMPARE(Settings.HistogramMode, 0);
        QCOMPARE(Part<QPushButton>(g, "BGistogramm")->text(), QStringLiteral("&Гистограмма"));
        QCOMPARE(RowsOf(g, 20, kBlue), QList<int>{199}); // redrawn at once
        QTest::mouseClick(Part<QPushButton>(g, "BGistogramm"), Qt::LeftButton);
        QCOMPARE(Part<QPushButton>(g, "BGistogramm")->text(), QStringLiteral("&Точки"));
        QCOMPARE(RowsOf(g, 20, kBlue).size(), 100);
    }

    // Between two ticks something changes; the plot the second tick leaves,
    // in the bitmap and on the screen, is the one drawn from scratch.
    void tickAfterAChangeShowsAFreshPlot_data()
    {
        QTest::addColumn<int>("change");
        QTest::newRow("marker moved") << 0;
        QTest::newRow("view changed") << 1;
        QTest::newRow("file read") << 2;
        QTest::newRow("mode toggled") << 3;
        QTest::newRow("scale changed by another window") << 4;
        QTest::newRow("counts changed a little") << 5; // column by column, under the markers too
        QTest::newRow("counts changed a little, points") << 6;
    }

    void tickAfterAChangeShowsAFreshPlot()
    {
        QFETCH(int, change);
        Settings.Marker[0] = 100;
        Settings.Marker[1] = 300;
        Settings.HistogramMode = change == 3 || change == 6 ? 0 : 1;
        for (int c = 0; c < 1024; ++c)
            WriteChannel(c, 1, c == 40 ? 299 : (c * 37) % 280);
        g->PaintHandler();
        g->TimerRisTimer();
        QApplication::processEvents();
        if (change == 3)
            QCOMPARE(PlotPixel(g, 40, 0), kBlue);
        switch (change) {
        case 0:
            g->Markers().PanelPress(1, Qt::RightButton); // one channel right
            WriteChannel(101, 1, 7);
            break;
        case 1:
            Settings.ViewFirst = 9;
            break;
        case 2:
            for (int c = 0; c < 1024; ++c)
                WriteChannel(c, 1, (c * 53) % 310);
            break;
        case 3:
            Settings.HistogramMode = 1;
            break;
        case 4:
            Settings.VertScale = 150;
            break;
        case 5:
        case 6:
            for (int c = 0; c < 1024; ++c)
                WriteChannel(c, 1, ReadChannel(c, 1) + (c % 2 ? 3 : -2) * (1 + c % 4));
            // Off scale; a point leaving row 0 would leave its pixel there.
            WriteChannel(40, 1, change == 5 ? 300 : 299);
            break;
        }
        g->TimerRisTimer();
        QApplication::processEvents();
        const QImage ticked = g->Plot().Raster().copy();
        const QPoint at = g->Plot().Image()->mapTo(frame, QPoint(0, 0));
        const QImage shown = frame->screen()->grabWindow(frame->winId(), at.x(), at.y(), 512, 300).toImage();
        g->Plot().Raster().fill(kWhite);
        g->RisSpectr();
        QCOMPARE(ticked, g->Plot().Raster());
        QCOMPARE(shown.convertToFormat(QImage::Format_RGB32), ticked);
        if (change == 3)
            QCOMPARE(PlotPixel(g, 40, 0), kWhite); // no point of the other mode stays
    }

    void markerLabelsArePadded()
    {
        Settings.ChannelCount = 16384;
        Settings.ViewWidth = 16384;
        Settings.Marker[0] = 12345;
        Settings.Marker[1] = 7;
        WriteChannel(12345, 1, 42);
        WriteChannel(7, 1, 0);
        g->NewTablo(1);
        QCOMPARE(Part<QLabel>(g, "LMarkX1")->text(), QStringLiteral("12345"));
        QCOMPARE(Part<QLabel>(g, "LMarkY1")->text(), QStringLiteral("        42"));
        QCOMPARE(Part<QLabel>(g, "LMarkY2")->text(), QStringLiteral("         0"));
        g->NewTablo(2);
        QCOMPARE(Part<QLabel>(g, "LMarkX2")->text(), QStringLiteral("   7"));
    }

    void integralFieldShowsEveryDigit()
    {
        auto shown = [this](const QString &text) {
            Part<QLabel>(g, "LIntegralY")->setText(text);
            return Part<QLabel>(g, "LIntegralY")->grab().toImage();
        };
        for (const QString &total : {QStringLiteral("12345678901234"), QStringLiteral("-9223372036854775807")}) {
            // the last digit shows (changing it changes the field) and no ink reaches the right edge
            const QImage img = shown(total);
            QVERIFY2(img != shown(total.chopped(1) + QLatin1Char('9')), qPrintable(total));
            for (int y = 0; y < img.height(); ++y)
                QVERIFY(qGray(img.pixel(img.width() - 1, y)) > 128);
        }
        QCOMPARE(Part<QLabel>(g, "LIntegralY")->geometry(), QRect(72, 4, 80, 13));
    }

    void rasterDrawingLeavesOtherFormatsAlone()
    {
        // The drawing writes RGB32 pixels in place: an image of another
        // format is left as it is rather than overwritten.
        QImage gray(8, 8, QImage::Format_Grayscale8);
        gray.fill(7);
        const QImage grayBefore = gray.copy();
        RasterLine(gray, 0, 0, 7, 7, Pen{});
        RasterFillRect(gray, 0, 0, 8, 8, kPlotBlue);
        QCOMPARE(gray, grayBefore);
        QImage argb(PlotColumns, PlotHeight, QImage::Format_ARGB32);
        argb.fill(0);
        const QImage argbBefore = argb.copy();
        const int32_t h[PlotColumns] = {};
        DrawPlotColumns(argb, h, 0, PlotColumns - 1, true, kPlotWhite, kPlotBlue);
        QCOMPARE(argb, argbBefore);
    }

    void fieldsPaintWhatALabelPaints()
    {
        // The fields the refresh rewrites draw from glyphs looked up once:
        // their pixels must be a plain label's, whatever the text.
        const QStringList shortTexts{QStringLiteral("         0"), QStringLiteral("-2147483648"), QStringLiteral(" 7"),
                                     QStringLiteral("0 - 00:00:00"), QStringLiteral("1:02:03 PM"), QStringLiteral("y=1")};
        const QStringList longTexts{QStringLiteral("12345 - 23:59:59"), QStringLiteral("-9223372036854775807")};
        auto *integral = Part<TTextLabel>(g, "LIntegralY");
        auto *markerCount = Part<TTextLabel>(g, "LMarkY1");
        for (TTextLabel *field : {Part<TTextLabel>(g, "LTime1"), markerCount, integral}) {
            QLabel plain;
            plain.setFont(field->font());
            plain.setPalette(field->palette());
            plain.setAutoFillBackground(true);
            plain.setFixedSize(field->size());
            QStringList texts = shortTexts;
            if (field != integral) // that one draws a long text smaller
                texts += longTexts;
            for (const QString &text : texts) {
                field->setText(text);
                plain.setText(text);
                QVERIFY2(field->grab().toImage() == plain.grab().toImage(), qPrintable(text));
            }
        }
        markerCount->setText(QStringLiteral("  1234567890"));
        QVERIFY(markerCount->PaintsFromGlyphs()); // the looked-up glyphs were really used
        markerCount->setText(QStringLiteral("y=1"));
        QVERIFY(!markerCount->PaintsFromGlyphs()); // a letter it does not hold: the label's own painting
    }

    void fieldsReadableUnderADarkTheme()
    {
        const QPalette saved = QApplication::palette();
        QPalette dark(QColor(50, 50, 50));
        dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
        dark.setColor(QPalette::ButtonText, QColor(230, 230, 230));
        QApplication::setPalette(dark);
        ResetProgram();
        Settings.Running[0] = 1;
        OpenWindows f(1);
        TFGraph *w = f->SpectrumWindows()[0];
        w->NewTablo(1);
        w->TimerRisTimer();
        // dark text on each white field
        for (QLabel *l : std::initializer_list<QLabel *>{Part<QLabel>(w, "LMarkX1"), Part<QLabel>(w, "LMarkY1"), Part<QLabel>(w, "LIntegralY"), Part<QLabel>(w, "LTime1")}) {
            const QImage img = l->grab().toImage();
            int ink = 0;
            for (int y = 0; y < img.height(); ++y)
                for (int x = 0; x < img.width(); ++x)
                    ink += qGray(img.pixel(x, y)) < 128;
            QVERIFY2(ink > 10, qPrintable(l->objectName()));
        }
        // the scales are drawn in the theme's text colour
        QCOMPARE(SurfacePixel(w, 80, 398), qRgb(230, 230, 230));
        QApplication::setPalette(saved);
    }

    void panelsFollowInputCount()
    {
        QVERIFY(Part<QWidget>(g, "PIn2")->isVisibleTo(g));
        QVERIFY(Part<QWidget>(g, "PIn3")->isVisibleTo(g));
        ResetProgram();
        Settings.InputCount = 1;
        OpenWindows f1(1);
        TFGraph *one = f1->SpectrumWindows()[0];
        QVERIFY(!Part<QWidget>(one, "PIn2")->isVisibleTo(one));
        QVERIFY(!Part<QWidget>(one, "PIn3")->isVisibleTo(one));
        Elapsed[1] = 2;
        one->TimerRisTimer();
        QCOMPARE(Part<QLabel>(one, "LTime2")->text(), QString());
    }

    // Every view choice on and off again: the window, its plot and both
    // scales are as they were before, pixel for pixel, and no dock was made.
    void viewChoicesOffLeaveTheWindowAsItWas()
    {
        for (int c = 0; c < 512; ++c)
            WriteChannel(c, 1, (c * 7) % 250);
        Settings.LeftPeakCentroid = 100;
        Settings.LeftPeakEnergy = 100;
        Settings.RightPeakCentroid = 900;
        Settings.RightPeakEnergy = 900;
        g->TimerRisTimer();
        const QImage before = g->grab().toImage();
        const QImage plotBefore = g->Plot().Raster().copy();
        const QString integral = g->findChild<QLabel *>(QStringLiteral("LIntegralY"))->text();
        for (QAction *a : {frame->NLogScale, frame->NAutoScale, frame->NKeVAxis})
            frame->DispatchShortcut(a->shortcut());
        QVERIFY(View.LogScale && View.AutoScale && View.KeVAxis);
        g->TimerRisTimer();
        QVERIFY(g->grab().toImage() != before);
        for (QAction *a : {frame->NLogScale, frame->NAutoScale, frame->NKeVAxis})
            frame->DispatchShortcut(a->shortcut());
        g->TimerRisTimer();
        QCOMPARE(g->grab().toImage(), before);
        QCOMPARE(g->Plot().Raster(), plotBefore);
        QCOMPARE(g->findChild<QLabel *>(QStringLiteral("LIntegralY"))->text(), integral);
        QVERIFY(!frame->findChild<QDockWidget *>());
        // Kept in the user's settings, not in the settings record.
        frame->DispatchShortcut(frame->NLogScale->shortcut());
        View = ViewChoices{};
        LoadViewChoices();
        QVERIFY(View.LogScale && !View.AutoScale);
    }

    // Log scale: a count c stands 300 log(c) / log(full scale) high, zero is
    // an empty column; auto takes the smallest 25 * 2^j over the tallest.
    void logAndAutoScaleHeights()
    {
        WriteChannel(10, 1, 10);
        WriteChannel(11, 1, 1);
        WriteChannel(12, 1, 0);
        WriteChannel(13, 1, 100);
        Settings.VertScale = 100;
        View.LogScale = true;
        g->ViewChoicesChanged();
        QCOMPARE(RowsOf(g, 10, kBlue), Range(150, 299));
        QCOMPARE(RowsOf(g, 11, kBlue), Range(299, 299));
        QCOMPARE(RowsOf(g, 12, kBlue), QList<int>{});
        // decade ticks at 1, 10 and 100: rows 300, 150 and 0 above the zero line
        const int bottom = kPlotTop + 300;
        for (int y : {bottom, bottom - 150, bottom - 300})
            QCOMPARE(SurfacePixel(g, kPlotLeft - 3, y), kBlack);
        View.LogScale = false;
        View.AutoScale = true;
        WriteChannel(13, 1, 3000); // holds in 3200 = 25 * 2^7
        WriteChannel(10, 1, 200);
        g->TimerRisTimer();
        QCOMPARE(RowsOf(g, 13, kBlue), Range(300 - 3000 * 300 / 3200, 299));
        QCOMPARE(RowsOf(g, 10, kBlue), Range(300 - 200 * 300 / 3200, 299));
        QCOMPARE(Settings.VertScale, 100); // the record's scale stays
    }

    // keV axis: ticks at round energies once calibrated; disabled before.
    void keVAxisTicksAtRoundEnergies()
    {
        Settings.ViewWidth = 1024;
        emit frame->MView->aboutToShow();
        QVERIFY(!frame->NKeVAxis->isEnabled());
        Settings.LeftPeakCentroid = 100; // 1 keV per channel
        Settings.LeftPeakEnergy = 100;
        Settings.RightPeakCentroid = 900;
        Settings.RightPeakEnergy = 900;
        emit frame->MView->aboutToShow();
        QVERIFY(frame->NKeVAxis->isEnabled());
        frame->NKeVAxis->trigger();
        const int y = kPlotTop + 302;
        // 1024 channels on 512 columns: half a column per keV
        for (int e : {200, 400, 600, 800, 1000})
            QCOMPARE(SurfacePixel(g, kPlotLeft + e / 2, y), kBlack);
        QVERIFY(SurfacePixel(g, kPlotLeft + 80, y) != kBlack); // the channel scale's 160 is gone
    }
};

QTEST_MAIN(PlotTest)
#include "test_plot.moc"
