// The measurement menu of a spectrum window: the energy entry panel for the
// calibration points and the peak measurement, their result and error
// boxes, and the differential nonlinearity.
#include "tests/ui/UiTestUtil.h"
#include "ui/graph/PeakPanel.h"

#include <QClipboard>
#include <QTableWidget>

#include <QLocale>
#include <QSpinBox>

#include <cstring>
#include <memory>

using ui_test::Part;

using Platform::BoxRequest;

namespace {

const QString kPeakCaption = QStringLiteral("Измерение пика");
const QString kDnlCaption = QStringLiteral("Измерение дифференциальной нелинейности");
const QString kErrorCaption = QStringLiteral("ERROR!");
const QString kNotEnoughData = QStringLiteral("Между маркерами не достаточно данных!");
const QString kMarkersOutOfOrder = QStringLiteral("1-й маркер должен быть левее 2-го!");
const QString kCalibrationOutOfOrder = QStringLiteral("Левая точка должна быть левее правой!");

// The triangular peak on a flat background of 10: centroid 4, FWHM 3.
void WriteTriangle(int32_t input, int32_t first = 0)
{
    const int32_t counts[] = {10, 10, 20, 30, 40, 30, 20, 10, 10};
    for (int i = 0; i < 9; ++i)
        WriteChannel(first + i, input, counts[i]);
}

// The triangle with the markers on its first and last channel.
void TriangleBetweenMarkers(int32_t input, int32_t first = 0)
{
    WriteTriangle(input, first);
    Settings.Marker[0] = first;
    Settings.Marker[1] = first + 8;
}

} // namespace

class TestMeasure : public QObject {
    Q_OBJECT

    std::unique_ptr<ui_test::OpenWindows> frame;
    TFGraph *g = nullptr;

    // Opens a frame with `n` spectrum windows, empty spectra and the first
    // window active.
    void Open(int n)
    {
        frame = std::make_unique<ui_test::OpenWindows>(n);
        std::memset(DataMemory, 0, sizeof DataMemory);
        g = frame->Activate(0);
    }

    void Shortcut(TFGraph *w, Qt::Key key) { QTest::keyClick(w, key, Qt::ControlModifier); }

    void Enter(TFGraph *w, int keV, int dkeV)
    {
        Part<QSpinBox>(w, "SpinkeV")->setValue(keV);
        Part<QSpinBox>(w, "SpinDkeV")->setValue(dkeV);
    }
    void ClickOK(TFGraph *w) { QTest::mouseClick(Part<QPushButton>(w, "BEnergOK"), Qt::LeftButton); }
    void ClickCancel(TFGraph *w) { QTest::mouseClick(Part<QPushButton>(w, "BEnergCancel"), Qt::LeftButton); }

    static void CheckBox(const BoxRequest &b, const QString &caption, const QString &text)
    {
        QCOMPARE(b.caption, caption);
        QCOMPARE(b.text, text);
        QCOMPARE(b.icon, Platform::Icon::NoIcon);
        QCOMPARE(b.buttons, Platform::Buttons::Ok);
    }
    // The one box shown so far.
    static void CheckOnlyBox(const ui_test::Boxes &boxes, const QString &caption, const QString &text)
    {
        QCOMPARE(boxes.log().size(), 1);
        CheckBox(boxes.log().at(0), caption, text);
    }

    // Installs an answerer that also notes whether the panel was visible
    // while each box was up.
    std::shared_ptr<QList<bool>> WatchPanel(TFGraph *w)
    {
        auto seen = std::make_shared<QList<bool>>();
        Platform::SetBoxAnswerer([w, seen](const BoxRequest &) {
            seen->append(Part<QWidget>(w, "PEnergSet")->isVisible());
            return Platform::Answer::Ok;
        });
        return seen;
    }

private slots:
    void init()
    {
        ui_test::ResetProgram();
        QLocale::setDefault(QLocale::c());
    }

    void cleanup()
    {
        Platform::SetBoxAnswerer(nullptr);
        frame.reset();
        g = nullptr;
        QLocale::setDefault(QLocale::c());
    }

    // ---------------------------------------------------------------------
    // Opening the energy entry.

    void entryPanelStaysBelowTheControlPanels()
    {
        Settings.ParallelConversion = 1;
        Open(1);
        g->NShift->trigger();
        QVERIFY(Part<QWidget>(g, "PShift")->isVisible());
        Shortcut(g, Qt::Key_L);
        QVERIFY(Part<QWidget>(g, "PEnergSet")->isVisible());
        // where both lie, the shift panel is the one on top
        QWidget *top = g->childAt(QPoint(200, 12));
        QVERIFY(top == Part<QWidget>(g, "PShift") || Part<QWidget>(g, "PShift")->isAncestorOf(top));
        QVERIFY(g->children().indexOf(Part<QWidget>(g, "PShift")) > g->children().indexOf(Part<QWidget>(g, "PEnergSet")));
    }

    void openingEntryPrefillsAndSetsItsFlag()
    {
        Open(1);
        QVERIFY(!Part<QWidget>(g, "PEnergSet")->isVisible());
        QCOMPARE((*frame)->MenuWindow(), g);

        Settings.LeftPeakEnergy = 661.66;
        Settings.RightPeakEnergy = 1005.0;
        Shortcut(g, Qt::Key_L);
        QVERIFY(Part<QWidget>(g, "PEnergSet")->isVisible());
        QCOMPARE(Part<QLabel>(g, "LEnergText")->text(), QStringLiteral("Введите энергию левого калибровочного пика"));
        QCOMPARE(Part<QSpinBox>(g, "SpinkeV")->value(), 661); // 661.66 is held as 661.6599...: the nearest hundredth
        QCOMPARE(Part<QSpinBox>(g, "SpinDkeV")->value(), 66);
        QCOMPARE(AnalysisState.LeftPointPending, uint8_t(1));
        QCOMPARE(AnalysisState.RightPointPending, uint8_t(0));
        QCOMPARE(AnalysisState.MeasurePending, uint8_t(0));

        Shortcut(g, Qt::Key_R);
        QCOMPARE(Part<QLabel>(g, "LEnergText")->text(), QStringLiteral("Введите энергию правого калибровочного пика"));
        QCOMPARE(Part<QSpinBox>(g, "SpinkeV")->value(), 1005);
        QCOMPARE(Part<QSpinBox>(g, "SpinDkeV")->value(), 0);
        QCOMPARE(AnalysisState.LeftPointPending, uint8_t(1));
        QCOMPARE(AnalysisState.RightPointPending, uint8_t(1));

        Settings.LeftPeakEnergy = 15.25;
        Shortcut(g, Qt::Key_L);
        QCOMPARE(Part<QSpinBox>(g, "SpinkeV")->value(), 15);
        QCOMPARE(Part<QSpinBox>(g, "SpinDkeV")->value(), 25);

        Settings.LeftPeakEnergy = 59.54;
        g->NLeftPoint->trigger();
        QCOMPARE(Part<QSpinBox>(g, "SpinkeV")->value(), 59);
        QCOMPARE(Part<QSpinBox>(g, "SpinDkeV")->value(), 54);
        QVERIFY(Platform::BoxLog().isEmpty());
    }

    void peakEntryPrefillsFromLeftCalibrationEnergy()
    {
        Open(1);
        AnalysisState.ReferenceEnergy = 777.77; // the last reference is not offered
        Settings.LeftPeakEnergy = 15.25;
        Shortcut(g, Qt::Key_M);
        QVERIFY(Part<QWidget>(g, "PEnergSet")->isVisible());
        QCOMPARE(Part<QLabel>(g, "LEnergText")->text(), QStringLiteral("Введите энергию помеченного маркерами пика"));
        QCOMPARE(Part<QSpinBox>(g, "SpinkeV")->value(), 15);
        QCOMPARE(Part<QSpinBox>(g, "SpinDkeV")->value(), 25);
        QCOMPARE(AnalysisState.MeasurePending, uint8_t(1));
        QCOMPARE(AnalysisState.LeftPointPending, uint8_t(0));
        QCOMPARE(AnalysisState.RightPointPending, uint8_t(0));
    }

    // ---------------------------------------------------------------------
    // Peak measurement.

    void peakWithReferenceShowsThreeLines()
    {
        Open(1);
        ui_test::Boxes boxes;
        TriangleBetweenMarkers(1);

        g->NMeasPeak->trigger();
        Enter(g, 5, 0);
        ClickOK(g);

        CheckOnlyBox(boxes, kPeakCaption,
                 QStringLiteral("Энергия:  5.00keV =4.00 кан.\rРазрешение: 3.00keV =3.00 кан.\r"
                                "Нелинейность: -1.00keV =-1.00 кан.=-0.0977 %"));
        QVERIFY(!Part<QWidget>(g, "PEnergSet")->isVisible());
        QCOMPARE(AnalysisState.MeasurePending, uint8_t(0));
        QCOMPARE(AnalysisState.ReferenceEnergy, 5.0);
        QCOMPARE(AnalysisState.PeakCentroid, 4.0);
        QCOMPARE(AnalysisState.FwhmChannels, 3.0);
        QCOMPARE(AnalysisState.PeakEnergy, 4.0);
        QCOMPARE(AnalysisState.ResolutionKeV, 3.0);
        QCOMPARE(AnalysisState.EnergyDeviation, -1.0);
        QCOMPARE(AnalysisState.ChannelDeviation, -1.0);
    }

    void peakAboveReferenceAndPercentOfChannelCount()
    {
        Open(1);
        ui_test::Boxes boxes;
        Settings.ChannelCount = 4096; // the percent is of the whole channel range
        TriangleBetweenMarkers(1, 100);

        Shortcut(g, Qt::Key_M);
        Enter(g, 103, 50);
        ClickOK(g);
        CheckOnlyBox(boxes, kPeakCaption,
                 QStringLiteral("Энергия:  103.50keV =104.00 кан.\rРазрешение: 3.00keV =3.00 кан.\r"
                                "Нелинейность: 0.50keV =0.50 кан.=0.0122 %"));
    }

    void peakCancelShowsTwoLinesAndKeepsDeviations()
    {
        Open(1);
        ui_test::Boxes boxes;
        TriangleBetweenMarkers(1);
        AnalysisState.EnergyDeviation = 7.5;
        AnalysisState.ChannelDeviation = 6.5;
        AnalysisState.NonlinearityPercent = 0.25;
        AnalysisState.ReferenceEnergy = 9.0;

        Shortcut(g, Qt::Key_M);
        Enter(g, 5, 0);
        ClickCancel(g);

        CheckOnlyBox(boxes, kPeakCaption,
                 QStringLiteral("Энергия:  4.00keV =4.00 кан.\rРазрешение: 3.00keV =3.00 кан."));
        QVERIFY(!Part<QWidget>(g, "PEnergSet")->isVisible());
        QCOMPARE(AnalysisState.MeasurePending, uint8_t(0));
        QCOMPARE(AnalysisState.ReferenceEnergy, 0.0);
        QCOMPARE(AnalysisState.PeakEnergy, 4.0);
        QCOMPARE(AnalysisState.EnergyDeviation, 7.5);
        QCOMPARE(AnalysisState.ChannelDeviation, 6.5);
        QCOMPARE(AnalysisState.NonlinearityPercent, 0.25);
    }

    void peakWithZeroReferenceIsSilent()
    {
        Open(1);
        ui_test::Boxes boxes;
        TriangleBetweenMarkers(1);
        AnalysisState.PeakCentroid = 99;
        AnalysisState.FwhmChannels = 99;
        AnalysisState.PeakEnergy = 99;
        AnalysisState.ResolutionKeV = 99;
        AnalysisState.EnergyDeviation = 7.5;

        Shortcut(g, Qt::Key_M);
        Enter(g, 0, 0);
        ClickOK(g);

        QVERIFY(boxes.log().isEmpty());
        QVERIFY(!Part<QWidget>(g, "PEnergSet")->isVisible());
        QCOMPARE(AnalysisState.PeakCentroid, 4.0);
        QCOMPARE(AnalysisState.FwhmChannels, 3.0);
        QCOMPARE(AnalysisState.PeakEnergy, 4.0);
        QCOMPARE(AnalysisState.ResolutionKeV, 3.0);
        QCOMPARE(AnalysisState.EnergyDeviation, 7.5);
        QCOMPARE(AnalysisState.MeasurePending, uint8_t(0));
    }

    void peakErrorsHideThePanelFirst()
    {
        Open(1);
        Settings.Marker[0] = 0;
        Settings.Marker[1] = 8;
        AnalysisState.PeakEnergy = 42.0;

        // All counts zero: no net peak.
        {
            ui_test::Boxes boxes;
            const auto seen = WatchPanel(g);
            Shortcut(g, Qt::Key_M);
            Enter(g, 5, 0);
            ClickOK(g);
            CheckOnlyBox(boxes, kErrorCaption, kNotEnoughData);
            QCOMPARE(*seen, QList<bool>{false});
            QVERIFY(!Part<QWidget>(g, "PEnergSet")->isVisible());
            QCOMPARE(AnalysisState.AnalysisFailed, uint8_t(0));
            QCOMPARE(AnalysisState.AnalysisErrorCode, uint16_t(0));
            QCOMPARE(AnalysisState.ReferenceEnergy, 5.0);
            QCOMPARE(AnalysisState.PeakEnergy, 42.0);
        }
        // Markers backwards.
        {
            ui_test::Boxes boxes;
            WriteTriangle(1);
            Settings.Marker[0] = 8;
            Settings.Marker[1] = 0;
            Shortcut(g, Qt::Key_M);
            ClickCancel(g);
            CheckOnlyBox(boxes, kErrorCaption, kMarkersOutOfOrder);
            QVERIFY(!Part<QWidget>(g, "PEnergSet")->isVisible());
            QCOMPARE(AnalysisState.AnalysisErrorCode, uint16_t(0));
        }
    }

    void equalCalibrationEnergiesGiveCodeThree()
    {
        Open(1);
        TriangleBetweenMarkers(1);
        Settings.LeftPeakEnergy = 100.0;
        Settings.RightPeakEnergy = 100.0;
        AnalysisState.PeakEnergy = 42.0;
        AnalysisState.ResolutionKeV = 43.0;
        {
            ui_test::Boxes boxes;
            const auto seen = WatchPanel(g);
            Shortcut(g, Qt::Key_M);
            QCOMPARE(Part<QSpinBox>(g, "SpinkeV")->value(), 100);
            Enter(g, 5, 0);
            ClickOK(g);
            CheckOnlyBox(boxes, kErrorCaption, kCalibrationOutOfOrder);
            QCOMPARE(*seen, QList<bool>{false});
            // The peak itself was measured; nothing was converted.
            QCOMPARE(AnalysisState.PeakCentroid, 4.0);
            QCOMPARE(AnalysisState.FwhmChannels, 3.0);
            QCOMPARE(AnalysisState.PeakEnergy, 42.0);
            QCOMPARE(AnalysisState.ResolutionKeV, 43.0);
        }
        // Code 3 wins over a failure of the measurement itself.
        {
            ui_test::Boxes boxes;
            Settings.Marker[0] = 8;
            Settings.Marker[1] = 0;
            Shortcut(g, Qt::Key_M);
            ClickCancel(g);
            CheckOnlyBox(boxes, kErrorCaption, kCalibrationOutOfOrder);
        }
        // Centroids out of order with rising energies: code 3 as well.
        {
            ui_test::Boxes boxes;
            Settings = DefaultSettings();
            Settings.Marker[0] = 0;
            Settings.Marker[1] = 8;
            Settings.LeftPeakCentroid = 1005;
            Settings.RightPeakCentroid = 15;
            Shortcut(g, Qt::Key_M);
            ClickOK(g);
            CheckOnlyBox(boxes, kErrorCaption, kCalibrationOutOfOrder);
        }
    }

    // A peak whose flank never falls below the half level inside the
    // spectrum has no width: an error, and no channel outside the range read.
    void peakRunningOffTheSpectrumEdge()
    {
        Open(1);
        ui_test::Boxes boxes;
        WriteChannel(0, 1, 100);
        WriteChannel(1, 1, 100);
        WriteChannel(2, 1, 100);
        WriteChannel(3, 1, 0);
        Settings.Marker[0] = 1;
        Settings.Marker[1] = 3;
        AnalysisState.PeakEnergy = 42.0;
        const uint64_t outside = OutOfRangeChannelAccesses;

        Shortcut(g, Qt::Key_M);
        Enter(g, 2, 0);
        ClickOK(g);
        CheckOnlyBox(boxes, kErrorCaption, kNotEnoughData);
        QCOMPARE(OutOfRangeChannelAccesses, outside);
        QCOMPARE(AnalysisState.PeakEnergy, 42.0);
        QVERIFY(!Part<QWidget>(g, "PEnergSet")->isVisible());
    }

    void countsComeFromTheWindowsInput()
    {
        Open(2);
        TFGraph *g2 = frame->w(1);
        QCOMPARE(g2->InputNumber, 2);
        TriangleBetweenMarkers(2);
        {
            ui_test::Boxes boxes;
            g2->NMeasPeak->trigger();
            Enter(g2, 5, 0);
            ClickOK(g2);
            QCOMPARE(boxes.log().size(), 1);
            QCOMPARE(boxes.log().at(0).caption, kPeakCaption);
        }
        {
            ui_test::Boxes boxes;
            g->NMeasPeak->trigger();
            Enter(g, 5, 0);
            ClickOK(g);
            CheckOnlyBox(boxes, kErrorCaption, kNotEnoughData);
        }
    }

    void commaLocale()
    {
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        Open(1);
        ui_test::Boxes boxes;
        TriangleBetweenMarkers(1);
        Shortcut(g, Qt::Key_M);
        Enter(g, 5, 0);
        ClickOK(g);
        CheckOnlyBox(boxes, kPeakCaption,
                 QStringLiteral("Энергия:  5,00keV =4,00 кан.\rРазрешение: 3,00keV =3,00 кан.\r"
                                "Нелинейность: -1,00keV =-1,00 кан.=-0,0977 %"));
    }

    // A decimal separator that is not one ASCII character appears as it is.
    void nonAsciiDecimalSeparator()
    {
        const QLocale arabic(QLocale::Arabic, QLocale::Egypt);
        const QString point = arabic.decimalPoint();
        if (point.size() != 1 || point.at(0).unicode() < 0x80)
            QSKIP("this Qt gives the Arabic locale an ASCII decimal separator");
        QLocale::setDefault(arabic);
        Open(1);
        ui_test::Boxes boxes;
        TriangleBetweenMarkers(1);
        Shortcut(g, Qt::Key_M);
        Enter(g, 5, 0);
        ClickCancel(g);
        CheckOnlyBox(boxes, kPeakCaption,
                 QStringLiteral("Энергия:  4") + point + QStringLiteral("00keV =4") + point +
                     QStringLiteral("00 кан.\rРазрешение: 3") + point + QStringLiteral("00keV =3") + point +
                     QStringLiteral("00 кан."));
    }

    // ---------------------------------------------------------------------
    // Calibration points.

    void leftPointStoresEnergyAndCentroid()
    {
        Open(1);
        ui_test::Boxes boxes;
        Settings.LeftPeakFrom = 10; // the region fixed around the peak
        Settings.LeftPeakTo = 18;
        WriteTriangle(1, 10); // apex at channel 14
        Shortcut(g, Qt::Key_L);
        Enter(g, 661, 66);
        ClickOK(g);
        QVERIFY(boxes.log().isEmpty());
        QVERIFY(!Part<QWidget>(g, "PEnergSet")->isVisible());
        QVERIFY(qAbs(Settings.LeftPeakEnergy - 661.66) < 1e-9);
        QCOMPARE(Settings.LeftPeakCentroid, 14.0);
        QCOMPARE(Settings.RightPeakEnergy, 1005.0);
        QCOMPARE(Settings.RightPeakCentroid, 1005.0);
        QCOMPARE(AnalysisState.LeftPointPending, uint8_t(0));
    }

    // What is typed into the fields is what OK stores.
    void typedEnergyIsStored()
    {
        Open(1);
        ui_test::Boxes boxes;
        Shortcut(g, Qt::Key_L);
        Part<QSpinBox>(g, "SpinkeV")->selectAll();
        QTest::keyClicks(Part<QSpinBox>(g, "SpinkeV"), QStringLiteral("1332"));
        Part<QSpinBox>(g, "SpinDkeV")->selectAll();
        QTest::keyClicks(Part<QSpinBox>(g, "SpinDkeV"), QStringLiteral("5"));
        ClickOK(g);
        QVERIFY(!Part<QWidget>(g, "PEnergSet")->isVisible());
        QVERIFY(qAbs(Settings.LeftPeakEnergy - 1332.05) < 1e-9);
        // The default region 10..20 holds no peak: the energy is stored anyway.
        CheckOnlyBox(boxes, kErrorCaption, kNotEnoughData);
    }

    void leftThenRightThenOneOkStoresBoth()
    {
        Open(1);
        ui_test::Boxes boxes;
        Settings.LeftPeakFrom = 10;
        Settings.LeftPeakTo = 18;
        Settings.RightPeakFrom = 998;
        Settings.RightPeakTo = 1006;
        WriteTriangle(1, 10);  // apex 14
        WriteTriangle(1, 998); // apex 1002
        Shortcut(g, Qt::Key_L);
        Shortcut(g, Qt::Key_R);
        QVERIFY(Part<QWidget>(g, "PEnergSet")->isVisible());
        Enter(g, 123, 45);
        ClickOK(g);
        QVERIFY(boxes.log().isEmpty());
        QVERIFY(!Part<QWidget>(g, "PEnergSet")->isVisible());
        QVERIFY(qAbs(Settings.LeftPeakEnergy - 123.45) < 1e-9);
        QCOMPARE(Settings.RightPeakEnergy, Settings.LeftPeakEnergy);
        QCOMPARE(Settings.LeftPeakCentroid, 14.0);
        QCOMPARE(Settings.RightPeakCentroid, 1002.0);
        QCOMPARE(AnalysisState.LeftPointPending, uint8_t(0));
        QCOMPARE(AnalysisState.RightPointPending, uint8_t(0));
    }

    void calibrationFailureKeepsPanelUpDuringMessage()
    {
        Open(1);
        for (int c = 10; c <= 20; ++c)
            WriteChannel(c, 1, 50); // flat: no net peak
        ui_test::Boxes boxes;
        const auto seen = WatchPanel(g);
        Shortcut(g, Qt::Key_L);
        Enter(g, 30, 0);
        ClickOK(g);
        CheckOnlyBox(boxes, kErrorCaption, kNotEnoughData);
        QCOMPARE(*seen, QList<bool>{true});
        QVERIFY(!Part<QWidget>(g, "PEnergSet")->isVisible());
        QCOMPARE(Settings.LeftPeakEnergy, 30.0);
        QCOMPARE(Settings.LeftPeakCentroid, 15.0);
        QCOMPARE(AnalysisState.AnalysisFailed, uint8_t(0));
        QCOMPARE(AnalysisState.AnalysisErrorCode, uint16_t(0));

        // A backwards region: code 1, energy stored all the same.
        ui_test::Boxes again;
        Settings.RightPeakFrom = 1010;
        Settings.RightPeakTo = 1000;
        Shortcut(g, Qt::Key_R);
        Enter(g, 900, 1);
        ClickOK(g);
        CheckOnlyBox(again, kErrorCaption, kMarkersOutOfOrder);
        QVERIFY(qAbs(Settings.RightPeakEnergy - 900.01) < 1e-9);
        QCOMPARE(Settings.RightPeakCentroid, 1005.0);
    }

    void cancelAfterLeftPointStoresNothing()
    {
        Open(1);
        ui_test::Boxes boxes;
        WriteTriangle(1, 10);
        const SettingsRecord before = Settings;
        Shortcut(g, Qt::Key_L);
        Shortcut(g, Qt::Key_R);
        Enter(g, 500, 0);
        ClickCancel(g);
        QVERIFY(boxes.log().isEmpty());
        QVERIFY(!Part<QWidget>(g, "PEnergSet")->isVisible());
        QCOMPARE(std::memcmp(&before, &Settings, sizeof Settings), 0);
        QCOMPARE(AnalysisState.LeftPointPending, uint8_t(0));
        QCOMPARE(AnalysisState.RightPointPending, uint8_t(0));
    }

    // With a measurement and a calibration point pending, the measurement
    // runs first, then the point, both with the same energy.
    void measurementRunsBeforeCalibration()
    {
        Open(1);
        TriangleBetweenMarkers(1);
        for (int c = 10; c <= 20; ++c)
            WriteChannel(c, 1, 50);
        ui_test::Boxes boxes;
        Shortcut(g, Qt::Key_L);
        Shortcut(g, Qt::Key_M);
        Enter(g, 5, 0);
        ClickOK(g);
        QCOMPARE(boxes.log().size(), 2);
        QCOMPARE(boxes.log().at(0).caption, kPeakCaption);
        // The old calibration converted the peak; the point was stored after.
        QVERIFY(boxes.log().at(0).text.startsWith(QStringLiteral("Энергия:  5.00keV =4.00 кан.\r")));
        CheckBox(boxes.log().at(1), kErrorCaption, kNotEnoughData);
        QCOMPARE(AnalysisState.PeakEnergy, 4.0);
        QCOMPARE(Settings.LeftPeakEnergy, 5.0);
        QVERIFY(!Part<QWidget>(g, "PEnergSet")->isVisible());
    }

    // ---------------------------------------------------------------------
    // Differential nonlinearity.

    void nonlinearityExamples()
    {
        Open(1);
        Settings.Marker[0] = 10;
        Settings.Marker[1] = 20;
        for (int c = 10; c <= 20; ++c)
            WriteChannel(c, 1, 100);
        {
            ui_test::Boxes boxes;
            WriteChannel(15, 1, 110);
            g->NDifNonLin->trigger();
            CheckOnlyBox(boxes, kDnlCaption,
                     QStringLiteral("Дифференциальная нелинейность\rпри наборе 111 в канале:\r"
                                    "СКЗ=2.849 %\rmax=9.009 %"));
        }
        {
            ui_test::Boxes boxes;
            WriteChannel(15, 1, 90);
            g->NDifNonLin->trigger();
            CheckOnlyBox(boxes, kDnlCaption,
                     QStringLiteral("Дифференциальная нелинейность\rпри наборе 109 в канале:\r"
                                    "СКЗ=2.901 %\rmax=9.174 %"));
        }
        QVERIFY(g->NDifNonLin->shortcut().isEmpty());
    }

    void nonlinearityOfAStraightLineIsZero()
    {
        Open(1);
        Settings.Marker[0] = 10;
        Settings.Marker[1] = 20;
        for (int c = 10; c <= 20; ++c)
            WriteChannel(c, 1, 100 + 2 * (c - 10));
        {
            ui_test::Boxes boxes;
            g->NDifNonLin->trigger();
            CheckOnlyBox(boxes, kDnlCaption,
                     QStringLiteral("Дифференциальная нелинейность\rпри наборе 121 в канале:\r"
                                    "СКЗ=0.000 %\rmax=0.000 %"));
        }
        // Markers one channel apart: the mean is the sum of the two counts.
        {
            ui_test::Boxes boxes;
            Settings.Marker[0] = 12;
            Settings.Marker[1] = 13;
            g->NDifNonLin->trigger();
            CheckOnlyBox(boxes, kDnlCaption,
                     QStringLiteral("Дифференциальная нелинейность\rпри наборе 210 в канале:\r"
                                    "СКЗ=0.000 %\rmax=0.000 %"));
        }
        // A steep line whose rise times the distance leaves 32 bits: still
        // a straight line, not a wrapped one.
        {
            ui_test::Boxes boxes;
            Settings.Marker[0] = 10;
            Settings.Marker[1] = 20;
            for (int c = 10; c <= 20; ++c)
                WriteChannel(c, 1, 200000000 * (c - 10));
            g->NDifNonLin->trigger();
            CheckOnlyBox(boxes, kDnlCaption,
                     QStringLiteral("Дифференциальная нелинейность\rпри наборе 1100000000 в канале:\r"
                                    "СКЗ=0.000 %\rmax=0.000 %"));
        }
    }

    void nonlinearityErrors()
    {
        Open(1);
        const uint64_t outside = OutOfRangeChannelAccesses;
        Settings.Marker[0] = 10;
        Settings.Marker[1] = 20;
        {
            ui_test::Boxes boxes; // all counts zero
            g->NDifNonLin->trigger();
            CheckOnlyBox(boxes, kErrorCaption, kNotEnoughData);
            QCOMPARE(AnalysisState.AnalysisFailed, uint8_t(0));
            QCOMPARE(AnalysisState.AnalysisErrorCode, uint16_t(0));
        }
        {
            ui_test::Boxes boxes; // equal markers count as out of order
            WriteChannel(10, 1, 500);
            Settings.Marker[1] = 10;
            g->NDifNonLin->trigger();
            CheckOnlyBox(boxes, kErrorCaption, kMarkersOutOfOrder);
        }
        {
            ui_test::Boxes boxes; // a marker beyond the channel range
            Settings.Marker[1] = 5000;
            g->NDifNonLin->trigger();
            CheckOnlyBox(boxes, kErrorCaption, kNotEnoughData);
        }
        QCOMPARE(OutOfRangeChannelAccesses, outside);
    }

    void nonlinearityWithCommaLocale()
    {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        Open(1);
        ui_test::Boxes boxes;
        Settings.Marker[0] = 10;
        Settings.Marker[1] = 20;
        for (int c = 10; c <= 20; ++c)
            WriteChannel(c, 1, c == 15 ? 110 : 100);
        g->NDifNonLin->trigger();
        CheckOnlyBox(boxes, kDnlCaption,
                 QStringLiteral("Дифференциальная нелинейность\rпри наборе 111 в канале:\r"
                                "СКЗ=2,849 %\rmax=9,009 %"));
    }

    // Erri shows nothing for a code it has no text for, and clears the error.
    void erriClearsEveryCode()
    {
        Open(1);
        ui_test::Boxes boxes;
        AnalysisState.AnalysisFailed = 1;
        AnalysisState.AnalysisErrorCode = 7;
        g->Erri();
        QVERIFY(boxes.log().isEmpty());
        QCOMPARE(AnalysisState.AnalysisFailed, uint8_t(0));
        QCOMPARE(AnalysisState.AnalysisErrorCode, uint16_t(0));
        AnalysisState.AnalysisFailed = 1;
        AnalysisState.AnalysisErrorCode = 3;
        g->Erri();
        CheckOnlyBox(boxes, kErrorCaption, kCalibrationOutOfOrder);
        QCOMPARE(AnalysisState.AnalysisErrorCode, uint16_t(0));
    }

    // ---------------------------------------------------------------------
    // The peak panel.

    // A Cs-137 line on a flat background at 1 keV per channel: the region
    // row, the peak row with its nuclide, the markers put around the peak by
    // a double click, and the table copied as tab-separated text.
    void peakPanelMeasuresRegionAndPeaks()
    {
        Open(1);
        QLocale::setDefault(QLocale(QLocale::Russian));
        Settings.LeftPeakCentroid = 100;
        Settings.LeftPeakEnergy = 100;
        Settings.RightPeakCentroid = 900;
        Settings.RightPeakEnergy = 900;
        // background 100 per channel, a Gaussian of area 20000 and FWHM 40 at 661.5
        for (int c = 0; c < 1024; ++c)
            WriteChannel(c, 1, 100 + int(std::lround(20000 / (17.0 * 2.5066282746) *
                                                     std::exp(-0.5 * std::pow((c - 661.5) / 17.0, 2)))));
        Settings.Marker[0] = 590;
        Settings.Marker[1] = 733;
        emit frame->frame->MView->aboutToShow();
        frame->frame->NPeakPanel->trigger();
        auto *panel = frame->frame->findChild<TPeakPanel *>();
        QVERIFY(panel && panel->isVisible());
        g->TimerRisTimer();
        QTableWidget *t = panel->Table();
        QCOMPARE(t->rowCount(), 2);
        // the region: gross as the integral field, net the peak's (its tails
        // beyond 4.2 sigma are under the background line)
        QCOMPARE(t->item(0, 4)->text(), Part<QLabel>(g, "LIntegralY")->text());
        const double net = QLocale().toDouble(t->item(0, 5)->text());
        const double sigma = QLocale().toDouble(t->item(0, 6)->text());
        QVERIFY(std::fabs(net - 20000) < 100);
        // sqrt(gross + (144^2 / 36 - 144 / 3) * the six end channels' 600)
        QVERIFY(std::fabs(sigma - std::sqrt(34400.0 + 528 * 600)) < 3);
        QCOMPARE(t->item(0, 2)->text(), QStringLiteral("661,50"));
        QCOMPARE(t->item(1, 1)->text(), QStringLiteral("661,50"));
        QCOMPARE(t->item(1, 9)->text(), QStringLiteral("Cs-137"));
        QVERIFY(panel->Header()->text().contains(QStringLiteral("Нуклиды: Cs-137")));
        QVERIFY(!panel->Header()->text().contains(QStringLiteral("Живое время")));
        // a double click: 1.5 FWHM either side of 661.5
        emit t->cellDoubleClicked(1, 0);
        QCOMPARE(Settings.Marker[0], 601);
        QCOMPARE(Settings.Marker[1], 722);
        QCOMPARE(Part<QLabel>(g, "LMarkX1")->text(), QStringLiteral(" 601"));
        // Ctrl+C: the header and both rows, cells between tabs
        QTest::keyClick(t, Qt::Key_C, Qt::ControlModifier);
        const QStringList lines = QApplication::clipboard()->text().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0].split(QLatin1Char('\t')).size(), 10);
        QCOMPARE(lines[2].split(QLatin1Char('\t')).at(1), QStringLiteral("661,50"));
        // before a calibration: no energies, and the panel says why
        Settings.LeftPeakCentroid = DefaultSettings().LeftPeakCentroid;
        Settings.LeftPeakEnergy = DefaultSettings().LeftPeakEnergy;
        g->TimerRisTimer();
        QVERIFY(panel->Header()->text().contains(QStringLiteral("Спектр не откалиброван.")));
        QCOMPARE(t->item(1, 2)->text(), QString());

        // a source that measures dead time (here half the real time): both
        // rates are per second of live time
        DeadTimeOf = [](int32_t n, double &days) {
            days = Elapsed[n - 1] / 2;
            return true;
        };
        Elapsed[0] = 10.0 / 86400;
        g->TimerRisTimer();
        QVERIFY(panel->Header()->text().contains(QStringLiteral("Живое время")));
        WriteChannel(5, 1, ReadChannel(5, 1) + 500);
        Elapsed[0] = 20.0 / 86400;
        g->TimerRisTimer();
        QVERIFY2(panel->Header()->text().contains(QStringLiteral("за интервал: 100,0 1/с")),
                 qPrintable(panel->Header()->text()));
    }
};

QTEST_MAIN(TestMeasure)
#include "test_measure.moc"
