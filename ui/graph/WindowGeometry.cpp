#include "ui/graph/WindowGeometry.h"

#include "ui/graph/PlotView.h"

#include <QFontDatabase>
#include <QWidget>

#include <cstring>

namespace {

enum class Sizing {
    Rect,    // x, y, width, height
    Field,   // x, y, and a fixed width and height
    Content, // x, y; the size the content asks for
};

struct Place {
    const char *name;
    Sizing sizing;
    int x, y, width, height;
};

// Positions are in the parent: the window, or the panel a control sits on.
constexpr Place kPlaces[] = {
    // Elapsed times, one panel per input.
    {"PIn1", Sizing::Rect, 8, 0, 129, 20},
    {"PIn2", Sizing::Rect, 8, 20, 129, 20},
    {"PIn3", Sizing::Rect, 8, 40, 129, 20},
    {"LIn1", Sizing::Content, 8, 4, 0, 0},
    {"LIn2", Sizing::Content, 8, 4, 0, 0},
    {"LIn3", Sizing::Content, 8, 4, 0, 0},
    {"LTime1", Sizing::Field, 59, 4, 64, 13},
    {"LTime2", Sizing::Field, 59, 4, 64, 13},
    {"LTime3", Sizing::Field, 59, 4, 64, 13},
    // Marker panels.
    {"PMark1", Sizing::Rect, 392, 0, 233, 20},
    {"PMark2", Sizing::Rect, 392, 20, 233, 20},
    {"LMark1", Sizing::Content, 8, 4, 0, 0},
    {"LMarkX1", Sizing::Field, 80, 4, 43, 13},
    {"LMark11", Sizing::Content, 128, 4, 0, 0},
    {"LMarkY1", Sizing::Field, 144, 4, 80, 13},
    {"LMark2", Sizing::Content, 8, 4, 0, 0},
    {"LMarkX2", Sizing::Field, 80, 4, 43, 13},
    {"LMark12", Sizing::Content, 128, 4, 0, 0},
    {"LMarkY2", Sizing::Field, 144, 4, 80, 13},
    // Integral between the markers.
    {"PIntegral", Sizing::Rect, 184, 56, 161, 20},
    {"LIntegral", Sizing::Content, 8, 4, 0, 0},
    {"LIntegralY", Sizing::Field, 72, 4, 80, 13},
    // The plot, the exponent of the count scale, the display mode.
    {"SpektrImage", Sizing::Rect, kPlotLeft, kPlotTop, PlotColumns, PlotHeight},
    {"L10", Sizing::Content, 34, 90, 0, 0},
    {"LPokazat", Sizing::Content, 58, 82, 0, 0},
    {"BGistogramm", Sizing::Rect, 20, 418, 89, 25},
    // Exposure time panel.
    {"PTimeSet", Sizing::Rect, 160, 0, 209, 57},
    {"Label1", Sizing::Rect, 8, 8, 140, 13},
    {"SpinEditDay", Sizing::Rect, 16, 24, 41, 22},
    {"DateTimePicker1", Sizing::Rect, 64, 24, 73, 21},
    {"BOKTime", Sizing::Rect, 160, 8, 33, 17},
    {"BCenselTime", Sizing::Rect, 152, 32, 43, 17},
    // Energy entry panel.
    {"PEnergSet", Sizing::Rect, 144, 0, 289, 57},
    {"LEnergText", Sizing::Rect, 8, 4, 273, 15},
    {"SpinkeV", Sizing::Rect, 8, 24, 57, 22},
    {"LEnergMask", Sizing::Rect, 68, 20, 8, 24},
    {"SpinDkeV", Sizing::Rect, 78, 24, 41, 22},
    {"LkeV", Sizing::Rect, 124, 28, 24, 13},
    {"BEnergOK", Sizing::Rect, 176, 26, 45, 19},
    {"BEnergCancel", Sizing::Rect, 228, 26, 53, 19},
    // Digital shift panel.
    {"PShift", Sizing::Rect, 144, 0, 265, 57},
    {"LShift", Sizing::Rect, 8, 8, 128, 13},
    {"RBLeft", Sizing::Rect, 8, 32, 57, 17},
    {"RBRight", Sizing::Rect, 72, 32, 57, 17},
    {"SEShift", Sizing::Rect, 144, 24, 49, 22},
    {"BShiftOK", Sizing::Rect, 208, 8, 49, 17},
    {"BShiftCansel", Sizing::Rect, 208, 32, 51, 17},
    // Pulse shaping panel.
    {"PFormPuls", Sizing::Rect, 144, 0, 289, 57},
    {"LFormPuls", Sizing::Rect, 8, 8, 162, 13},
    {"RB8mks", Sizing::Rect, 8, 32, 49, 17},
    {"RB4mks", Sizing::Rect, 64, 32, 49, 17},
    {"RB2mks", Sizing::Rect, 120, 32, 49, 17},
    {"RB1mks", Sizing::Rect, 176, 32, 49, 17},
    {"BFormPulsOK", Sizing::Rect, 232, 8, 49, 17},
    {"BFormPulsCansel", Sizing::Rect, 232, 32, 49, 17},
};

} // namespace

void PlaceWidget(QWidget *w)
{
    const QByteArray name = w->objectName().toLatin1();
    for (const Place &p : kPlaces) {
        if (std::strcmp(p.name, name.constData()) != 0)
            continue;
        switch (p.sizing) {
        case Sizing::Rect:
            w->setGeometry(p.x, p.y, p.width, p.height);
            break;
        case Sizing::Field:
            w->move(p.x, p.y);
            w->setFixedSize(p.width, p.height);
            break;
        case Sizing::Content:
            w->move(p.x, p.y);
            w->adjustSize();
            break;
        }
        return;
    }
    Q_ASSERT_X(false, "PlaceWidget", name.constData());
}

QFont WindowFont(int pixels, bool bold)
{
    QFont f;
    const QStringList families = QFontDatabase::families();
    for (const char *name : {"Liberation Sans", "Arimo", "DejaVu Sans"})
        if (families.contains(QString::fromLatin1(name))) {
            f.setFamily(QString::fromLatin1(name));
            break;
        }
    f.setPixelSize(pixels);
    f.setBold(bold);
    f.setStyleStrategy(QFont::NoAntialias);
    return f;
}
