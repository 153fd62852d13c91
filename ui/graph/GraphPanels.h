// The settings panels of a spectrum window: exposure time, energy entry,
// digital shift and pulse shaping. Menu items of the window open them, their
// own OK and Cancel buttons close them. Nothing is modal, and the panels keep
// no state of their own: the settings record is read when a panel opens and
// written on OK.
#pragma once

#include <QFrame>
#include <QObject>
#include <QString>

class QLabel;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTimeEdit;
class QWidget;

// A raised panel whose button presses go to a handler of the window.
class TPanel : public QFrame {
    Q_OBJECT
public:
    explicit TPanel(QWidget *parent);
signals:
    void pressed(Qt::MouseButton button);

protected:
    void mousePressEvent(QMouseEvent *e) override;
};

class TGraphPanels : public QObject {
    Q_OBJECT
public:
    // Creates the panels on the window, hidden, stacked from bottom to top:
    // time, energy, shift, pulse shaping.
    explicit TGraphPanels(QWidget *window);

    // Exposure time: opens with input's preset; OK stores to the action
    // input (or all inputs).
    void MTimeClick(int32_t input);
    void BOKTimeClick();
    void BCenselTimeClick();

    // Energy entry: the prompt and the two parts of the energy shown.
    void OpenEnergyEntry(const QString &prompt, int keV, int dkeV);
    void CloseEnergyEntry();
    // The parts as entered: a text that is not an integer counts as the
    // field's minimum, a number outside the range as the nearest end.
    int EnteredKeV() const;
    int EnteredDkeV() const;

    // Front-end control: the control menu's opening, and its two panels.
    void NDrivingClick();
    void NShiftClick();
    void BShiftOKClick();
    void BShiftCanselClick();
    void NFormirClick();
    void BFormPulsOKClick();
    void BFormPulsCanselClick();

signals:
    // A preset was stored on OK: its text, to be confirmed to the operator.
    void presetStored(const QString &text);
    void energyOK();
    void energyCancel();

private:
    TPanel *PTimeSet;
    QSpinBox *SpinEditDay;
    QTimeEdit *DateTimePicker1;

    TPanel *PEnergSet;
    QLabel *LEnergText;
    QSpinBox *SpinkeV, *SpinDkeV;

    TPanel *PShift;
    QRadioButton *RBLeft, *RBRight;
    QSpinBox *SEShift;

    TPanel *PFormPuls;
    QRadioButton *RB8mks, *RB4mks, *RB2mks, *RB1mks;
};
