// The measurement menu: calibration points, peak measurement, nonlinearity,
// and the energy entry panel they share.
#include "ui/graph/UGraph.h"

#include "analysis/Analysis.h"
#include "ui/platform/Platform.h"

#include <string>

namespace {

// Stands in for a decimal separator that is not a single ASCII character,
// so that the analysis texts can be built with a char and the real
// separator put in afterwards.
constexpr char kSeparatorStandIn = '\x01';

// A result text of the analysis with the locale's decimal separator.
template <typename Build> QString WithDecimalSeparator(Build build)
{
    const QChar sep = Platform::DecimalSeparator();
    if (sep.unicode() > 0x20 && sep.unicode() < 0x7F)
        return QString::fromStdString(build(static_cast<char>(sep.unicode())));
    QString text = QString::fromStdString(build(kSeparatorStandIn));
    text.replace(QChar(kSeparatorStandIn), sep);
    return text;
}

void ShowResult(const char *caption, const QString &text)
{
    Platform::MessageBox(QString::fromUtf8(caption), text, Platform::Icon::NoIcon, Platform::Buttons::Ok);
}

// Keeps the error of a failed step for Erri; true when there is one.
bool KeepError(AnalysisError error)
{
    if (error == AnalysisNoError)
        return false;
    AnalysisState.AnalysisFailed = 1;
    AnalysisState.AnalysisErrorCode = error;
    return true;
}

// The peak measurement from the last one's values, which it replaces.
PeakOutcome MeasurePeakAndKeep(int32_t input, double E, bool withReference)
{
    AnalysisState.MeasurePending = 0;
    const PeakOutcome peak = MeasurePeak(input, E, withReference, AnalysisState);
    static_cast<PeakMeasurement &>(AnalysisState) = peak.Values;
    KeepError(peak.Error);
    return peak;
}

// Fills the two entry fields from a stored energy and shows the panel.
void OpenEnergyEntry(TFGraph *g, const QString &prompt, double energy)
{
    int keV = 0, dkeV = 0;
    PrefillEnergy(energy, keV, dkeV);
    g->Panels().OpenEnergyEntry(prompt, keV, dkeV);
}

} // namespace

void TFGraph::NLeftPointClick()
{
    OpenEnergyEntry(this, QStringLiteral("Введите энергию левого калибровочного пика"), Settings.LeftPeakEnergy);
    AnalysisState.LeftPointPending = 1;
}

void TFGraph::NRightPointClick()
{
    OpenEnergyEntry(this, QStringLiteral("Введите энергию правого калибровочного пика"), Settings.RightPeakEnergy);
    AnalysisState.RightPointPending = 1;
}

void TFGraph::NMeasPeakClick()
{
    // The pre-fill is the left calibration energy, not the last reference.
    OpenEnergyEntry(this, QStringLiteral("Введите энергию помеченного маркерами пика"), Settings.LeftPeakEnergy);
    AnalysisState.MeasurePending = 1;
}

void TFGraph::NDifNonLinClick()
{
    const DnlResult dnl = DifNoLine(InputNumber);
    if (KeepError(dnl.Error)) {
        Erri();
        return;
    }
    ShowResult(DnlMessageCaption, WithDecimalSeparator([&dnl](char sep) { return DnlMessage(dnl, sep); }));
}

void TFGraph::BEnergOKClick()
{
    const double E = ComposeEnergy(panels_->EnteredKeV(), panels_->EnteredDkeV());

    // Peak measurement first; a failure hides the panel before the message.
    if (AnalysisState.MeasurePending) {
        const PeakOutcome peak = MeasurePeakAndKeep(InputNumber, E, true);
        switch (peak.Result) {
        case PeakResult::Failed:
            panels_->CloseEnergyEntry();
            Erri();
            break;
        case PeakResult::Silent:
            break;
        case PeakResult::ShowMessage:
            ShowResult(PeakMessageCaption, WithDecimalSeparator([&peak](char sep) { return PeakMessage(peak.Values, true, sep); }));
            break;
        }
    }
    // Calibration points: the energy is stored even when the centroid
    // cannot be measured; the panel stays visible during the message.
    if (AnalysisState.LeftPointPending) {
        AnalysisState.LeftPointPending = 0;
        if (KeepError(MeasureCalibrationPoint(InputNumber, true, E)))
            Erri();
    }
    if (AnalysisState.RightPointPending) {
        AnalysisState.RightPointPending = 0;
        if (KeepError(MeasureCalibrationPoint(InputNumber, false, E)))
            Erri();
    }
    panels_->CloseEnergyEntry();
}

void TFGraph::BEnergCancelClick()
{
    if (AnalysisState.MeasurePending) {
        const PeakOutcome peak = MeasurePeakAndKeep(InputNumber, 0.0, false);
        if (peak.Result == PeakResult::Failed) {
            panels_->CloseEnergyEntry();
            Erri();
        } else {
            ShowResult(PeakMessageCaption,
                       WithDecimalSeparator([&peak](char sep) { return PeakMessage(peak.Values, false, sep); }));
        }
    }
    AnalysisState.LeftPointPending = 0;
    AnalysisState.RightPointPending = 0;
    panels_->CloseEnergyEntry();
}

void TFGraph::Erri()
{
    if (const char *text = AnalysisErrorText(AnalysisState.AnalysisErrorCode))
        Platform::MessageBox(QString::fromUtf8(AnalysisErrorCaption), QString::fromUtf8(text),
                             Platform::Icon::NoIcon, Platform::Buttons::Ok);
    ClearAnalysisError();
}
