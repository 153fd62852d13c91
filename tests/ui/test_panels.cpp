// The settings panels of a spectrum window: the exposure time entry and the
// front-end control panels (digital shift, pulse shaping).
#include "tests/ui/UiTestUtil.h"

#include <QMenuBar>
#include <QRadioButton>
#include <QSpinBox>
#include <QTime>
#include <QTimeEdit>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>

using ui_test::Part;

namespace {

constexpr double kSecond = 1.0 / 86400.0;

} // namespace

class TestPanels : public QObject {
    Q_OBJECT

    std::unique_ptr<ui_test::OpenWindows> frame;

    // A frame with `n` spectrum windows, the first one active.
    TFGraph *Open(int n)
    {
        frame = std::make_unique<ui_test::OpenWindows>(n);
        return frame->Activate(0);
    }
    TFGraph *Activate(int index) { return frame->Activate(index); }
    // One window with its exposure time panel open.
    TFGraph *OpenTimePanel()
    {
        TFGraph *g = Open(1);
        g->MTime->trigger();
        return g;
    }

    // Replaces a spin editor's text by typing.
    static void TypeInto(QSpinBox *s, const QString &text)
    {
        s->setFocus();
        QTest::keyClick(s, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(s, Qt::Key_Delete);
        QTest::keyClicks(s, text);
    }

    // Types a time of day into the picker, section by section from the hours.
    static void TypeTime(QTimeEdit *t, const QString &hhmmss)
    {
        t->setFocus();
        t->setSelectedSection(QDateTimeEdit::HourSection);
        QTest::keyClicks(t, hhmmss);
    }

    static void Click(QWidget *w) { QTest::mouseClick(w, Qt::LeftButton); }

    // Opens the window's control menu as the operator does and picks an item.
    static void ChooseDrivingItem(TFGraph *g, QAction *item)
    {
        QMenu *menu = g->NDriving;
        menu->popup(g->mapToGlobal(QPoint(150, 10)));
        QVERIFY(QTest::qWaitForWindowExposed(menu));
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(item).center());
        QTRY_VERIFY(!menu->isVisible());
    }

    static void CheckPanelShown(QWidget *panel)
    {
        QVERIFY(panel->isVisible());
        QVERIFY(panel->isEnabled());
    }

    static void CheckPanelClosed(QWidget *panel)
    {
        QVERIFY(!panel->isVisible());
        QVERIFY(!panel->isEnabled());
    }

private slots:
    void init()
    {
        ui_test::ResetProgram();
    }

    void cleanup()
    {
        frame.reset();
    }

    // ---------------------------------------------------------------------
    // Exposure time

    void timePanel_hiddenUntilChosen()
    {
        TFGraph *g = Open(1);
        QVERIFY(!Part<QWidget>(g, "PTimeSet")->isVisible());
        g->MTime->trigger();
        QVERIFY(Part<QWidget>(g, "PTimeSet")->isVisible());
        QCOMPARE(Part<QWidget>(g, "PTimeSet")->geometry(), QRect(160, 0, 209, 57));
    }

    void timePanel_opensPresetAndStoresItAgain()
    {
        ui_test::Boxes boxes;
        Settings.ActOnAllInputs = 0;
        Settings.ExposurePreset[1] = 0.3;
        Settings.ExposurePreset[2] = 0.4;
        TFGraph *g = OpenTimePanel();
        QCOMPARE(Part<QSpinBox>(g, "SpinEditDay")->value(), 0);
        QCOMPARE(Part<QTimeEdit>(g, "DateTimePicker1")->time(), QTime(21, 36, 0));
        Click(Part<QPushButton>(g, "BOKTime"));
        QVERIFY(!Part<QWidget>(g, "PTimeSet")->isVisible());
        QVERIFY(std::fabs(Settings.ExposurePreset[0] - 0.9) < 1e-9);
        QCOMPARE(Settings.ExposurePreset[1], 0.3);
        QCOMPARE(Settings.ExposurePreset[2], 0.4);
        QVERIFY(boxes.log().isEmpty());
    }

    void timePanel_wholeDays()
    {
        Settings.ExposurePreset[0] = 2.0;
        TFGraph *g = OpenTimePanel();
        QCOMPARE(Part<QSpinBox>(g, "SpinEditDay")->value(), 2);
        QCOMPARE(Part<QTimeEdit>(g, "DateTimePicker1")->time(), QTime(0, 0, 0));
        Click(Part<QPushButton>(g, "BOKTime"));
        QCOMPARE(Settings.ExposurePreset[0], 2.0);
    }

    void timePanel_largestEntry()
    {
        Settings.ActOnAllInputs = 0;
        TFGraph *g = OpenTimePanel();
        TypeInto(Part<QSpinBox>(g, "SpinEditDay"), QStringLiteral("100"));
        TypeTime(Part<QTimeEdit>(g, "DateTimePicker1"), QStringLiteral("235959"));
        QCOMPARE(Part<QTimeEdit>(g, "DateTimePicker1")->time(), QTime(23, 59, 59));
        Click(Part<QPushButton>(g, "BOKTime"));
        QVERIFY(std::fabs(Settings.ExposurePreset[0] - (100.0 + 86399.0 / 86400.0)) < 1e-9);
    }

    void timePanel_daysBeyondRangeAreLimited()
    {
        Settings.ActOnAllInputs = 0;
        Settings.ExposurePreset[0] = 150.5;
        TFGraph *g = OpenTimePanel();
        QCOMPARE(Part<QSpinBox>(g, "SpinEditDay")->value(), 100);
        QCOMPARE(Part<QTimeEdit>(g, "DateTimePicker1")->time(), QTime(12, 0, 0));
        Click(Part<QPushButton>(g, "BOKTime"));
        QVERIFY(std::fabs(Settings.ExposurePreset[0] - 100.5) < 1e-9);
    }

    void timePanel_unusablePresets_data()
    {
        QTest::addColumn<double>("preset");
        QTest::addColumn<int>("days");
        QTest::addColumn<QTime>("time");
        QTest::newRow("NaN") << std::numeric_limits<double>::quiet_NaN() << 0 << QTime(0, 0);
        QTest::newRow("negative") << -3.25 << 0 << QTime(0, 0);
        QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << 100 << QTime(0, 0);
        QTest::newRow("huge") << 1e300 << 100 << QTime(0, 0);
        QTest::newRow("largest double") << std::numeric_limits<double>::max() << 100 << QTime(0, 0);
        QTest::newRow("just below 2 days") << 2.0 - 1e-9 << 2 << QTime(0, 0);
        QTest::newRow("just below 101 days") << 101.0 - 1e-9 << 100 << QTime(23, 59, 59);
        QTest::newRow("half a second") << 0.5 * kSecond << 0 << QTime(0, 0, 1);
    }

    void timePanel_unusablePresets()
    {
        QFETCH(double, preset);
        QFETCH(int, days);
        QFETCH(QTime, time);
        ui_test::Boxes boxes;
        Settings.ExposurePreset[0] = preset;
        TFGraph *g = OpenTimePanel();
        QVERIFY(Part<QWidget>(g, "PTimeSet")->isVisible());
        QCOMPARE(Part<QSpinBox>(g, "SpinEditDay")->value(), days);
        QCOMPARE(Part<QTimeEdit>(g, "DateTimePicker1")->time(), time);
        QVERIFY(boxes.log().isEmpty());
    }

    void timePanel_allInputsUpToInputCount()
    {
        Settings.InputCount = 2;
        Settings.ActOnAllInputs = 1;
        Settings.ActionInput = 1;
        Settings.ExposurePreset[2] = 0.125;
        TFGraph *g = OpenTimePanel();
        TypeInto(Part<QSpinBox>(g, "SpinEditDay"), QStringLiteral("3"));
        TypeTime(Part<QTimeEdit>(g, "DateTimePicker1"), QStringLiteral("060000"));
        Click(Part<QPushButton>(g, "BOKTime"));
        QVERIFY(std::fabs(Settings.ExposurePreset[0] - 3.25) < 1e-9);
        QVERIFY(std::fabs(Settings.ExposurePreset[1] - 3.25) < 1e-9);
        QCOMPARE(Settings.ExposurePreset[2], 0.125);
    }

    void timePanel_opensOwnInputStoresActionInput()
    {
        Settings.ActOnAllInputs = 0;
        Settings.ActionInput = 1;
        Settings.ExposurePreset[0] = 0.1;
        Settings.ExposurePreset[1] = 0.6;
        Settings.ExposurePreset[2] = 0.3;
        Open(2);
        TFGraph *g = Activate(1);
        QCOMPARE(g->InputNumber, 2);
        g->MTime->trigger();
        QCOMPARE(Part<QSpinBox>(g, "SpinEditDay")->value(), 0);
        QCOMPARE(Part<QTimeEdit>(g, "DateTimePicker1")->time(), QTime(14, 24, 0));
        TypeTime(Part<QTimeEdit>(g, "DateTimePicker1"), QStringLiteral("060000"));
        Click(Part<QPushButton>(g, "BOKTime"));
        QVERIFY(std::fabs(Settings.ExposurePreset[0] - 0.25) < 1e-9);
        QCOMPARE(Settings.ExposurePreset[1], 0.6);
        QCOMPARE(Settings.ExposurePreset[2], 0.3);
    }

    void timePanel_cancelStoresNothing()
    {
        Settings.ActOnAllInputs = 1;
        Settings.ExposurePreset[0] = 0.1;
        Settings.ExposurePreset[1] = 0.6;
        Settings.ExposurePreset[2] = 0.3;
        TFGraph *g = OpenTimePanel();
        Part<QLabel>(g, "LIntegralY")->setText(QStringLiteral("1234"));
        TypeInto(Part<QSpinBox>(g, "SpinEditDay"), QStringLiteral("7"));
        TypeTime(Part<QTimeEdit>(g, "DateTimePicker1"), QStringLiteral("101010"));
        Click(Part<QPushButton>(g, "BCenselTime"));
        QVERIFY(!Part<QWidget>(g, "PTimeSet")->isVisible());
        QCOMPARE(Settings.ExposurePreset[0], 0.1);
        QCOMPARE(Settings.ExposurePreset[1], 0.6);
        QCOMPARE(Settings.ExposurePreset[2], 0.3);
        QCOMPARE(Part<QLabel>(g, "LIntegralY")->text(), QStringLiteral("1234"));
    }

    void timePanel_reopeningReloads()
    {
        Settings.ExposurePreset[0] = 1.5;
        TFGraph *g = OpenTimePanel();
        TypeInto(Part<QSpinBox>(g, "SpinEditDay"), QStringLiteral("9"));
        TypeTime(Part<QTimeEdit>(g, "DateTimePicker1"), QStringLiteral("010203"));
        g->MTime->trigger();
        QVERIFY(Part<QWidget>(g, "PTimeSet")->isVisible());
        QCOMPARE(Part<QSpinBox>(g, "SpinEditDay")->value(), 1);
        QCOMPARE(Part<QTimeEdit>(g, "DateTimePicker1")->time(), QTime(12, 0, 0));
    }

    void timePanel_ctrlTOpensIt()
    {
        Settings.ExposurePreset[0] = 2.75;
        TFGraph *g = Open(1);
        QVERIFY(!Part<QWidget>(g, "PTimeSet")->isVisible());
        QTest::keyClick(g, Qt::Key_T, Qt::ControlModifier);
        QVERIFY(Part<QWidget>(g, "PTimeSet")->isVisible());
        QCOMPARE(Part<QSpinBox>(g, "SpinEditDay")->value(), 2);
        QCOMPARE(Part<QTimeEdit>(g, "DateTimePicker1")->time(), QTime(18, 0, 0));
    }

    void timePanel_isNotModal()
    {
        Settings.ParallelConversion = 1;
        TFGraph *g = OpenTimePanel();
        QVERIFY(!Part<QWidget>(g, "PTimeSet")->isWindow());
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        // The rest of the window stays usable and the panel stays up.
        const uint8_t mode = Settings.HistogramMode;
        Click(Part<QPushButton>(g, "BGistogramm"));
        QCOMPARE(Settings.HistogramMode, static_cast<uint8_t>(mode == 0 ? 1 : 0));
        ChooseDrivingItem(g, g->NShift);
        QVERIFY(Part<QWidget>(g, "PShift")->isVisible());
        QVERIFY(Part<QWidget>(g, "PTimeSet")->isVisible());
    }

    void timePanel_confirmsStoredValueUntilRefresh()
    {
        Settings.ActOnAllInputs = 0;
        Settings.ActionInput = 2;
        Settings.ExposurePreset[0] = 0.1;
        TFGraph *g = OpenTimePanel();
        TypeInto(Part<QSpinBox>(g, "SpinEditDay"), QStringLiteral("1"));
        TypeTime(Part<QTimeEdit>(g, "DateTimePicker1"), QStringLiteral("060000"));
        Click(Part<QPushButton>(g, "BOKTime"));
        QVERIFY(std::fabs(Settings.ExposurePreset[1] - 1.25) < 1e-9);
        // The value just stored, not input 1's preset.
        QCOMPARE(Part<QLabel>(g, "LIntegralY")->text(),
                 QStringLiteral("1 - ") + QTime(6, 0, 0).toString(Platform::LongTimeFormat()));
        g->TimerRisTimer();
        QCOMPARE(Part<QLabel>(g, "LIntegralY")->text(), QString::number(Integral(1)));
    }

    // ---------------------------------------------------------------------
    // Digital shift

    void shift_zeroOpensToTheRight()
    {
        Settings.ParallelConversion = 1;
        Settings.DigitalShift = 0;
        TFGraph *g = Open(1);
        CheckPanelClosed(Part<QWidget>(g, "PShift"));
        ChooseDrivingItem(g, g->NShift);
        CheckPanelShown(Part<QWidget>(g, "PShift"));
        QVERIFY(Part<QRadioButton>(g, "RBRight")->isChecked());
        QVERIFY(!Part<QRadioButton>(g, "RBLeft")->isChecked());
        QCOMPARE(Part<QSpinBox>(g, "SEShift")->value(), 0);
        Click(Part<QPushButton>(g, "BShiftOK"));
        QCOMPARE(Settings.DigitalShift, 0);
        CheckPanelClosed(Part<QWidget>(g, "PShift"));
    }

    void shift_stepsAccumulate()
    {
        Settings.ParallelConversion = 1;
        Settings.DigitalShift = -100;
        TFGraph *g = Open(1);
        ChooseDrivingItem(g, g->NShift);
        QVERIFY(Part<QRadioButton>(g, "RBLeft")->isChecked());
        QCOMPARE(Part<QSpinBox>(g, "SEShift")->value(), 0);
        Click(Part<QRadioButton>(g, "RBRight"));
        TypeInto(Part<QSpinBox>(g, "SEShift"), QStringLiteral("30"));
        Click(Part<QPushButton>(g, "BShiftOK"));
        QCOMPARE(Settings.DigitalShift, -70);
        // Still to the left of zero: the next opening says so, amount 0.
        ChooseDrivingItem(g, g->NShift);
        QVERIFY(Part<QRadioButton>(g, "RBLeft")->isChecked());
        QCOMPARE(Part<QSpinBox>(g, "SEShift")->value(), 0);
        TypeInto(Part<QSpinBox>(g, "SEShift"), QStringLiteral("5"));
        Click(Part<QPushButton>(g, "BShiftOK"));
        QCOMPARE(Settings.DigitalShift, -75);
    }

    void shift_totalGoesPastOneStep()
    {
        Settings.ParallelConversion = 1;
        Settings.DigitalShift = 2000;
        TFGraph *g = Open(1);
        ChooseDrivingItem(g, g->NShift);
        QVERIFY(Part<QRadioButton>(g, "RBRight")->isChecked());
        TypeInto(Part<QSpinBox>(g, "SEShift"), QStringLiteral("2048"));
        QCOMPARE(Part<QSpinBox>(g, "SEShift")->value(), 2048);
        Click(Part<QPushButton>(g, "BShiftOK"));
        QCOMPARE(Settings.DigitalShift, 4048);
    }

    void shift_stepIsLimitedTo2048()
    {
        Settings.ParallelConversion = 1;
        TFGraph *g = Open(1);
        ChooseDrivingItem(g, g->NShift);
        TypeInto(Part<QSpinBox>(g, "SEShift"), QStringLiteral("9999"));
        const int shown = Part<QSpinBox>(g, "SEShift")->value();
        QVERIFY(shown >= 0 && shown <= 2048);
        Click(Part<QPushButton>(g, "BShiftOK"));
        // The step stored is the one the field shows.
        QCOMPARE(Settings.DigitalShift, shown);
    }

    void shift_saturatesAtTheInt32Limits_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<bool>("left");
        QTest::addColumn<int>("expected");
        constexpr int32_t hi = std::numeric_limits<int32_t>::max();
        constexpr int32_t lo = std::numeric_limits<int32_t>::min();
        QTest::newRow("right near the top") << hi - 10 << false << hi;
        QTest::newRow("right at the top") << hi << false << hi;
        QTest::newRow("left near the bottom") << lo + 5 << true << lo;
        QTest::newRow("left just fits") << lo + 2048 << true << lo;
    }

    void shift_saturatesAtTheInt32Limits()
    {
        QFETCH(int, start);
        QFETCH(bool, left);
        QFETCH(int, expected);
        Settings.ParallelConversion = 1;
        Settings.DigitalShift = start;
        TFGraph *g = Open(1);
        ChooseDrivingItem(g, g->NShift);
        Click(left ? Part<QRadioButton>(g, "RBLeft") : Part<QRadioButton>(g, "RBRight"));
        TypeInto(Part<QSpinBox>(g, "SEShift"), QStringLiteral("2048"));
        Click(Part<QPushButton>(g, "BShiftOK"));
        QCOMPARE(Settings.DigitalShift, expected);
    }

    void shift_cancelKeepsTotal()
    {
        Settings.ParallelConversion = 1;
        Settings.DigitalShift = 12;
        TFGraph *g = Open(1);
        ChooseDrivingItem(g, g->NShift);
        Click(Part<QRadioButton>(g, "RBLeft"));
        TypeInto(Part<QSpinBox>(g, "SEShift"), QStringLiteral("300"));
        Click(Part<QPushButton>(g, "BShiftCansel"));
        QCOMPARE(Settings.DigitalShift, 12);
        CheckPanelClosed(Part<QWidget>(g, "PShift"));
        // The entry stays until the menu is opened again, which reloads it.
        QVERIFY(Part<QRadioButton>(g, "RBLeft")->isChecked());
        QCOMPARE(Part<QSpinBox>(g, "SEShift")->value(), 300);
        ChooseDrivingItem(g, g->NShift);
        QVERIFY(Part<QRadioButton>(g, "RBRight")->isChecked());
        QCOMPARE(Part<QSpinBox>(g, "SEShift")->value(), 0);
    }

    void shift_emptiedAmountCountsAsZero()
    {
        Settings.ParallelConversion = 1;
        Settings.DigitalShift = 40;
        TFGraph *g = Open(1);
        ChooseDrivingItem(g, g->NShift);
        TypeInto(Part<QSpinBox>(g, "SEShift"), QStringLiteral("30"));
        QTest::keyClick(Part<QSpinBox>(g, "SEShift"), Qt::Key_Backspace);
        QTest::keyClick(Part<QSpinBox>(g, "SEShift"), Qt::Key_Backspace);
        QVERIFY(Part<QSpinBox>(g, "SEShift")->text().isEmpty());
        // OK from the keyboard leaves the focus in the emptied field.
        Part<QPushButton>(g, "BShiftOK")->click();
        QCOMPARE(Settings.DigitalShift, 40);
        CheckPanelClosed(Part<QWidget>(g, "PShift"));
    }

    // ---------------------------------------------------------------------
    // Pulse shaping

    void pulse_openingChecksTheStoredCode_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("caption");
        QTest::newRow("0") << 0 << QStringLiteral("&1 мкс");
        QTest::newRow("1") << 1 << QStringLiteral("&2 мкс");
        QTest::newRow("2") << 2 << QStringLiteral("&4 мкс");
        QTest::newRow("3") << 3 << QStringLiteral("&8 мкс");
    }

    void pulse_openingChecksTheStoredCode()
    {
        QFETCH(int, code);
        QFETCH(QString, caption);
        Settings.ParallelConversion = 1;
        Settings.PulseShaping = static_cast<uint8_t>(code);
        TFGraph *g = Open(1);
        ChooseDrivingItem(g, g->NFormir);
        CheckPanelShown(Part<QWidget>(g, "PFormPuls"));
        QStringList checked;
        for (QRadioButton *rb : {Part<QRadioButton>(g, "RB8mks"), Part<QRadioButton>(g, "RB4mks"), Part<QRadioButton>(g, "RB2mks"), Part<QRadioButton>(g, "RB1mks")})
            if (rb->isChecked())
                checked << rb->text();
        QCOMPARE(checked, QStringList{caption});
        // OK without a change stores the same code.
        Click(Part<QPushButton>(g, "BFormPulsOK"));
        QCOMPARE(int(Settings.PulseShaping), code);
        CheckPanelClosed(Part<QWidget>(g, "PFormPuls"));
    }

    void pulse_choosingOneMicrosecond()
    {
        Settings.ParallelConversion = 1;
        Settings.PulseShaping = 3;
        TFGraph *g = Open(1);
        ChooseDrivingItem(g, g->NFormir);
        QVERIFY(Part<QRadioButton>(g, "RB8mks")->isChecked());
        QCOMPARE(Part<QRadioButton>(g, "RB8mks")->text(), QStringLiteral("&8 мкс"));
        Click(Part<QRadioButton>(g, "RB1mks"));
        Click(Part<QPushButton>(g, "BFormPulsOK"));
        QCOMPARE(int(Settings.PulseShaping), 0);
        ChooseDrivingItem(g, g->NFormir);
        Click(Part<QRadioButton>(g, "RB4mks"));
        Click(Part<QPushButton>(g, "BFormPulsOK"));
        QCOMPARE(int(Settings.PulseShaping), 2);
    }

    void pulse_unknownCodeLeavesTheButtons()
    {
        Settings.ParallelConversion = 1;
        Settings.PulseShaping = 7;
        TFGraph *g = Open(1);
        Part<QRadioButton>(g, "RB2mks")->setChecked(true);
        ChooseDrivingItem(g, g->NFormir);
        QVERIFY(Part<QRadioButton>(g, "RB2mks")->isChecked());
        Click(Part<QPushButton>(g, "BFormPulsCansel"));
        QCOMPARE(int(Settings.PulseShaping), 7);
        CheckPanelClosed(Part<QWidget>(g, "PFormPuls"));
    }

    void pulse_cancelKeepsCode()
    {
        Settings.ParallelConversion = 1;
        Settings.PulseShaping = 1;
        TFGraph *g = Open(1);
        ChooseDrivingItem(g, g->NFormir);
        Click(Part<QRadioButton>(g, "RB8mks"));
        Click(Part<QPushButton>(g, "BFormPulsCansel"));
        QCOMPARE(int(Settings.PulseShaping), 1);
        CheckPanelClosed(Part<QWidget>(g, "PFormPuls"));
    }

    // ---------------------------------------------------------------------
    // Both panels

    void panels_closeOnOkAndCancel_data()
    {
        QTest::addColumn<bool>("shiftPanel");
        QTest::addColumn<bool>("ok");
        QTest::newRow("shift OK") << true << true;
        QTest::newRow("shift Cancel") << true << false;
        QTest::newRow("pulse OK") << false << true;
        QTest::newRow("pulse Cancel") << false << false;
    }

    void panels_closeOnOkAndCancel()
    {
        QFETCH(bool, shiftPanel);
        QFETCH(bool, ok);
        Settings.ParallelConversion = 1;
        TFGraph *g = Open(1);
        QWidget *panel = shiftPanel ? static_cast<QWidget *>(Part<QWidget>(g, "PShift")) : Part<QWidget>(g, "PFormPuls");
        QWidget *other = shiftPanel ? static_cast<QWidget *>(Part<QWidget>(g, "PFormPuls")) : Part<QWidget>(g, "PShift");
        CheckPanelClosed(panel);
        ChooseDrivingItem(g, shiftPanel ? g->NShift : g->NFormir);
        CheckPanelShown(panel);
        CheckPanelClosed(other);
        QPushButton *button = shiftPanel ? (ok ? Part<QPushButton>(g, "BShiftOK") : Part<QPushButton>(g, "BShiftCansel"))
                                         : (ok ? Part<QPushButton>(g, "BFormPulsOK") : Part<QPushButton>(g, "BFormPulsCansel"));
        Click(button);
        CheckPanelClosed(panel);
        // Opened again after closing.
        ChooseDrivingItem(g, shiftPanel ? g->NShift : g->NFormir);
        CheckPanelShown(panel);
    }

    void panels_bothOpenAtOnce()
    {
        Settings.ParallelConversion = 1;
        TFGraph *g = Open(1);
        ChooseDrivingItem(g, g->NShift);
        ChooseDrivingItem(g, g->NFormir);
        CheckPanelShown(Part<QWidget>(g, "PShift"));
        CheckPanelShown(Part<QWidget>(g, "PFormPuls"));
        Click(Part<QPushButton>(g, "BFormPulsCansel"));
        CheckPanelShown(Part<QWidget>(g, "PShift"));
        CheckPanelClosed(Part<QWidget>(g, "PFormPuls"));
    }

    void panels_menuFollowsConversionTypeAtCreation()
    {
        Settings.ParallelConversion = 0;
        Settings.InputCount = 2;
        TFGraph *g1 = Open(1);
        QVERIFY(!g1->NDriving->menuAction()->isEnabled());
        // Its title in the frame's bar does not open.
        QMenuBar *bar = (*frame)->menuBar();
        QVERIFY(bar->actions().contains(g1->NDriving->menuAction()));
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(g1->NDriving->menuAction()).center());
        QApplication::processEvents();
        QVERIFY(!g1->NDriving->isVisible());
        Settings.ParallelConversion = 1;
        emit (*frame)->MWind->aboutToShow();
        (*frame)->MNew->trigger();
        QApplication::processEvents();
        QCOMPARE((*frame)->SpectrumWindowCount(), 2);
        TFGraph *g2 = Activate(1);
        QVERIFY(g2->NDriving->menuAction()->isEnabled());
        QVERIFY(bar->actions().contains(g2->NDriving->menuAction()));
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(g2->NDriving->menuAction()).center());
        QTRY_VERIFY(g2->NDriving->isVisible());
        g2->NDriving->hide();
        QVERIFY(!g1->NDriving->menuAction()->isEnabled());
        ChooseDrivingItem(g2, g2->NShift);
        CheckPanelShown(Part<QWidget>(g2, "PShift"));
        ChooseDrivingItem(g2, g2->NFormir);
        CheckPanelShown(Part<QWidget>(g2, "PFormPuls"));
        CheckPanelClosed(Part<QWidget>(g1, "PShift"));
        CheckPanelClosed(Part<QWidget>(g1, "PFormPuls"));
    }
};

QTEST_MAIN(TestPanels)
#include "test_panels.moc"
