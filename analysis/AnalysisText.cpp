// Texts of the analysis messages and the number formatting they use.
#include "analysis/Analysis.h"

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

    // The shortest decimal form that reads back as x: its significant digits
    // and the power of ten of the first one. to_chars does not depend on the
    // C locale, which a GUI application sets from the environment.
    std::string digits;
    int exponent = 0;
    if (x != 0) {
        char buf[64];
        auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(x), std::chars_format::scientific);
        const std::string sci(buf, r.ptr);
        const size_t e = sci.find('e');
        for (size_t i = 0; i < e; ++i)
            if (sci[i] != '.')
                digits += sci[i];
        exponent = std::atoi(sci.c_str() + e + 1);

        // Round half away from zero to the last digit that is both among the
        // first maxSignificant and not beyond the requested decimals.
        const int keep = std::min(maxSignificant, exponent + 1 + decimals);
        if (keep < 0) {
            digits.clear();
        } else if (keep < int(digits.size())) {
            const bool up = digits[size_t(keep)] >= '5';
            digits.resize(size_t(keep));
            if (up) {
                int i = keep - 1;
                while (i >= 0 && digits[size_t(i)] == '9')
                    digits[size_t(i--)] = '0';
                if (i >= 0) {
                    ++digits[size_t(i)];
                } else {
                    digits.insert(digits.begin(), '1');
                    ++exponent;
                }
            }
        }
        if (digits.find_first_not_of('0') == std::string::npos)
            digits.clear(); // rounds to zero
    }
    const bool negative = x < 0 && !digits.empty(); // no sign on a value shown as zero
    auto digitAt = [&](int power) { // the digit standing for 10^power
        const int i = exponent - power;
        return digits.empty() || i < 0 || i >= int(digits.size()) ? '0' : digits[size_t(i)];
    };

    std::string s = negative ? "-" : "";
    if (!digits.empty() && exponent >= maxSignificant) {
        // Too many integer digits for fixed notation: d.ddddddE+XX.
        s += digitAt(exponent);
        if (maxSignificant > 1) {
            s += sep;
            for (int p = exponent - 1; p > exponent - maxSignificant; --p)
                s += digitAt(p);
        }
        s += exponent < 10 ? "E+0" : "E+";
        s += std::to_string(exponent);
        return s;
    }
    for (int p = std::max(digits.empty() ? 0 : exponent, 0); p >= 0; --p)
        s += digitAt(p);
    if (decimals > 0) {
        s += sep;
        for (int p = -1; p >= -decimals; --p)
            s += digitAt(p);
    }
    return s;
}

std::string PeakMessage(const PeakMeasurement &st, bool withReference, char decimalSeparator)
{
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

std::string DnlMessage(const DnlResult &st, char decimalSeparator)
{
    return "Дифференциальная нелинейность\rпри наборе " +
           FormatF0(st.MeanCount, decimalSeparator) + " в канале:" + "\rСКЗ=" +
           FormatF3(st.RmsPercent, decimalSeparator) + " %" + "\rmax=" +
           FormatF3(st.MaxPercent, decimalSeparator) + " %";
}
