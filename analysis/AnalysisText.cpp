// Texts of the analysis messages and the number formatting they use.
#include "Analysis.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

const char *AnalysisErrorText(uint16_t code)
{
    switch (code) {
    case MarkersOutOfOrder:
        return "1-й маркер должен быть левее 2-го!";
    case NotEnoughData:
        return "Между маркерами не достаточно данных!";
    case CalibrationOutOfOrder:
        return "Левая точка должна быть левее правой!";
    default:
        return nullptr;
    }
}

std::string FormatFloat(double x, int decimals, int maxSignificant, char sep)
{
    if (std::isnan(x))
        return "NAN";
    if (std::isinf(x))
        return x > 0 ? "INF" : "-INF";
    decimals = std::clamp(decimals, 0, 40);
    maxSignificant = std::clamp(maxSignificant, 1, 17);

    // to_chars does not depend on the C locale, which a GUI application sets
    // from the environment.
    char buf[400];
    int exponent = 0;
    if (x != 0) {
        // The decimal exponent after rounding to maxSignificant digits.
        auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific,
                               maxSignificant - 1);
        const std::string sci(buf, r.ptr);
        const size_t e = sci.find('e');
        exponent = std::atoi(sci.c_str() + e + 1);
        if (exponent >= maxSignificant) {
            // Too many integer digits for fixed notation.
            std::string mantissa = sci.substr(0, e);
            std::replace(mantissa.begin(), mantissa.end(), '.', sep);
            const int mag = std::abs(exponent);
            return mantissa + "E" + (exponent < 0 ? "-" : "+") + (mag < 10 ? "0" : "") +
                   std::to_string(mag);
        }
    }

    // Digits after the point that are still significant; the rest are zeros.
    const int kept = std::min(decimals, maxSignificant - 1 - exponent);
    auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::fixed, kept);
    std::string s(buf, r.ptr);
    if (decimals > kept) {
        if (kept == 0)
            s += '.';
        s.append(static_cast<size_t>(decimals - kept), '0');
    }
    if (s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos)
        s.erase(0, 1); // no sign on a value shown as zero
    std::replace(s.begin(), s.end(), '.', sep);
    return s;
}

std::string PeakMessage(bool withReference, char decimalSeparator)
{
    const AnalysisStateRecord &st = AnalysisState;
    const char sep = decimalSeparator;
    const double energy = withReference ? st.ReferenceEnergy : st.PeakEnergy;
    std::string text = "Энергия:  " + FormatF2(energy, sep) + "keV =" +
                       FormatF2(st.PeakCentroid, sep) + " кан.";
    text += "\rРазрешение: " + FormatF2(st.ResolutionKeV, sep) + "keV =" +
            FormatF2(st.FwhmChannels, sep) + " кан.";
    if (withReference)
        text += "\rНелинейность: " + FormatF2(st.EnergyDeviation, sep) + "keV =" +
                FormatF2(st.ChannelDeviation, sep) + " кан.=" +
                FormatF4(st.NonlinearityPercent, sep) + " %";
    return text;
}

std::string DnlMessage(char decimalSeparator)
{
    const AnalysisStateRecord &st = AnalysisState;
    return "Дифференциальная нелинейность\rпри наборе " +
           FormatF0(st.DnlMeanCount, decimalSeparator) + " в канале:" + "\rСКЗ=" +
           FormatF3(st.DnlRmsPercent, decimalSeparator) + " %" + "\rmax=" +
           FormatF3(st.DnlMaxPercent, decimalSeparator) + " %";
}
