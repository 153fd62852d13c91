#include "analysis/Peaks.h"

#include "analysis/Analysis.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double kFwhmPerSigma = 2.3548200450309493; // 2 sqrt(2 ln 2)
constexpr double kSqrt2Pi = 2.5066282746310002;
constexpr double kElectronKeV = 510.999; // electron rest energy

double NormalCdf(double x) { return 0.5 * std::erfc(-x / std::sqrt(2.0)); }
double NormalPdf(double x) { return std::exp(-0.5 * x * x) / kSqrt2Pi; }

// The peak whose area stands out most against its standard deviation: the
// detector's resolution is read from it.
const FoundPeak &MostSignificant(const std::vector<FoundPeak> &peaks)
{
    return *std::max_element(peaks.begin(), peaks.end(), [](const FoundPeak &a, const FoundPeak &b) {
        return a.Area / a.AreaSigma < b.Area / b.AreaSigma;
    });
}
} // namespace

// ---------------------------------------------------------------------------
// Calibration

Calibration CalibrationOf(const SettingsRecord &s)
{
    const SettingsRecord d = DefaultSettings();
    Calibration c;
    c.C1 = s.LeftPeakCentroid;
    c.E1 = s.LeftPeakEnergy;
    c.C2 = s.RightPeakCentroid;
    c.E2 = s.RightPeakEnergy;
    const bool leftSet = c.C1 != d.LeftPeakCentroid || c.E1 != d.LeftPeakEnergy;
    const bool rightSet = c.C2 != d.RightPeakCentroid || c.E2 != d.RightPeakEnergy;
    const bool finite = std::isfinite(c.C1) && std::isfinite(c.E1) && std::isfinite(c.C2) && std::isfinite(c.E2);
    c.Valid = leftSet && rightSet && finite && c.C2 != c.C1 && (c.E2 - c.E1) / (c.C2 - c.C1) > 0;
    return c;
}

std::vector<double> SpectrumOf(int32_t input)
{
    const int32_t n = ReadableChannels(input);
    std::vector<int32_t> raw(static_cast<size_t>(n));
    if (n > 0)
        ReadChannelRange(0, n, input, raw.data());
    return std::vector<double>(raw.begin(), raw.end());
}

// ---------------------------------------------------------------------------
// Region

RegionArea MeasureRegion(const std::vector<double> &counts, int32_t first, int32_t last)
{
    RegionArea r;
    r.First = first;
    r.Last = last;
    const auto n = static_cast<int64_t>(counts.size());
    if (first < 0 || last >= n || int64_t(last) - first + 1 < 7)
        return r;
    const double m = double(last) - first + 1;
    double left = 0, right = 0;
    for (int k = 0; k < 3; ++k) {
        left += counts[size_t(first + k)];
        right += counts[size_t(last - k)];
    }
    // The line through (first + 1, left / 3) and (last - 1, right / 3): its
    // sum over the region is the region's width times its mid value.
    const double bl = left / 3, br = right / 3;
    double gross = 0, moment = 0;
    for (int32_t c = first; c <= last; ++c)
        gross += counts[size_t(c)];
    r.Gross = gross;
    r.Background = m * (bl + br) / 2;
    r.Net = gross - r.Background;
    // Var(Gross - m/6 (L + R)) with the end channels in both sums.
    const double var = gross + (left + right) * (m * m / 36 - m / 3);
    r.NetSigma = std::sqrt(std::max(var, 0.0));
    const double span = double(last - 1) - (first + 1);
    double w = 0;
    for (int32_t c = first; c <= last; ++c) {
        const double bg = bl + (br - bl) * (double(c) - (first + 1)) / span;
        const double net = counts[size_t(c)] - bg;
        w += net;
        moment += net * c;
    }
    if (w > 0) {
        r.Centroid = moment / w;
        double second = 0;
        for (int32_t c = first; c <= last; ++c) {
            const double bg = bl + (br - bl) * (double(c) - (first + 1)) / span;
            const double d = c - r.Centroid;
            second += (counts[size_t(c)] - bg) * d * d;
        }
        r.Fwhm = second > 0 ? kFwhmPerSigma * std::sqrt(second / w) : 0;
    }
    r.Valid = true;
    return r;
}

// ---------------------------------------------------------------------------
// Peak search

namespace {

struct Candidate {
    double pos = 0;   // channel of the centre window's middle
    double width = 0; // centre window width, channels
    double z = 0;
    double bestZ = 0, bestWidth = 0;
};

// Replaces a (n x n, row-major) by its inverse, by elimination with partial
// pivoting. False when singular.
bool Invert(std::vector<double> &a, int n)
{
    std::vector<double> inv(static_cast<size_t>(n * n), 0.0);
    for (int i = 0; i < n; ++i)
        inv[size_t(i) * n + i] = 1;
    for (int col = 0; col < n; ++col) {
        int piv = col;
        for (int r = col + 1; r < n; ++r)
            if (std::fabs(a[size_t(r) * n + col]) > std::fabs(a[size_t(piv) * n + col]))
                piv = r;
        const double p = a[size_t(piv) * n + col];
        if (!(std::fabs(p) > 1e-300) || !std::isfinite(p))
            return false;
        if (piv != col)
            for (int k = 0; k < n; ++k) {
                std::swap(a[size_t(piv) * n + k], a[size_t(col) * n + k]);
                std::swap(inv[size_t(piv) * n + k], inv[size_t(col) * n + k]);
            }
        for (int k = 0; k < n; ++k) {
            a[size_t(col) * n + k] /= p;
            inv[size_t(col) * n + k] /= p;
        }
        for (int r = 0; r < n; ++r) {
            if (r == col)
                continue;
            const double f = a[size_t(r) * n + col];
            if (f == 0)
                continue;
            for (int k = 0; k < n; ++k) {
                a[size_t(r) * n + k] -= f * a[size_t(col) * n + k];
                inv[size_t(r) * n + k] -= f * inv[size_t(col) * n + k];
            }
        }
    }
    a.swap(inv);
    return true;
}

// Gaussians of one width on a straight background over channels lo..hi:
// parameters b0, b1 (about the region's middle), sigma, then height and
// centre of each peak. Weighted least squares with Poisson weights from the
// model (refreshed each step), Levenberg-Marquardt damping.
struct GroupFit {
    bool ok = false;
    std::vector<double> p;
    std::vector<double> cov; // inverse of the weighted normal matrix
};

GroupFit FitGroup(const std::vector<double> &y, int lo, int hi, const std::vector<double> &centres, double sigma)
{
    const int k = static_cast<int>(centres.size());
    const int np = 3 + 2 * k;
    const double mid = 0.5 * (lo + hi);
    GroupFit f;
    if (hi - lo + 1 <= np + 1)
        return f; // fewer channels than the fit needs
    std::vector<double> p(static_cast<size_t>(np));
    // Background from the region's ends, heights from the counts at the centres.
    const double yl = (y[size_t(lo)] + y[size_t(lo + 1)]) / 2, yr = (y[size_t(hi)] + y[size_t(hi - 1)]) / 2;
    p[0] = (yl + yr) / 2;
    p[1] = hi > lo ? (yr - yl) / (hi - lo) : 0;
    p[2] = sigma;
    for (int j = 0; j < k; ++j) {
        const int c = std::clamp(static_cast<int>(std::lround(centres[size_t(j)])), lo, hi);
        p[size_t(3 + 2 * j)] = std::max(y[size_t(c)] - (p[0] + p[1] * (c - mid)), 1.0);
        p[size_t(4 + 2 * j)] = centres[size_t(j)];
    }
    auto model = [&](const std::vector<double> &q, int x, double *grad) {
        double v = q[0] + q[1] * (x - mid);
        if (grad) {
            grad[0] = 1;
            grad[1] = x - mid;
            grad[2] = 0;
        }
        const double s = q[2];
        for (int j = 0; j < k; ++j) {
            const double a = q[size_t(3 + 2 * j)], c = q[size_t(4 + 2 * j)];
            const double d = (x - c) / s;
            const double g = std::exp(-0.5 * d * d);
            v += a * g;
            if (grad) {
                grad[2] += a * g * d * d / s;
                grad[3 + 2 * j] = g;
                grad[4 + 2 * j] = a * g * d / s;
            }
        }
        return v;
    };
    const int npts = hi - lo + 1;
    std::vector<double> weight(static_cast<size_t>(npts));
    for (int x = lo; x <= hi; ++x)
        weight[size_t(x - lo)] = 1.0 / std::max(y[size_t(x)], 1.0);
    auto chi2Of = [&](const std::vector<double> &q) {
        double s = 0;
        for (int x = lo; x <= hi; ++x) {
            const double r = y[size_t(x)] - model(q, x, nullptr);
            s += r * r * weight[size_t(x - lo)];
        }
        return s;
    };
    std::vector<double> grad(static_cast<size_t>(np)), jtj(static_cast<size_t>(np * np)), jtr(static_cast<size_t>(np));
    double lambda = 1e-3;
    double chi2 = chi2Of(p);
    for (int iter = 0; iter < 40; ++iter) {
        std::fill(jtj.begin(), jtj.end(), 0.0);
        std::fill(jtr.begin(), jtr.end(), 0.0);
        for (int x = lo; x <= hi; ++x) {
            const double m = model(p, x, grad.data());
            const double w = weight[size_t(x - lo)];
            const double r = y[size_t(x)] - m;
            for (int a = 0; a < np; ++a) {
                jtr[size_t(a)] += w * grad[size_t(a)] * r;
                for (int b = 0; b <= a; ++b)
                    jtj[size_t(a) * np + b] += w * grad[size_t(a)] * grad[size_t(b)];
            }
        }
        for (int a = 0; a < np; ++a)
            for (int b = 0; b < a; ++b)
                jtj[size_t(b) * np + a] = jtj[size_t(a) * np + b];
        bool improved = false;
        for (int tries = 0; tries < 10 && !improved; ++tries) {
            std::vector<double> m = jtj;
            for (int a = 0; a < np; ++a)
                m[size_t(a) * np + a] *= 1 + lambda;
            if (!Invert(m, np)) {
                lambda *= 10;
                continue;
            }
            std::vector<double> q = p;
            for (int a = 0; a < np; ++a)
                for (int b = 0; b < np; ++b)
                    q[size_t(a)] += m[size_t(a) * np + b] * jtr[size_t(b)];
            bool sane = q[2] > 0.3 && q[2] < (hi - lo);
            for (int j = 0; j < k && sane; ++j)
                sane = q[size_t(4 + 2 * j)] > lo && q[size_t(4 + 2 * j)] < hi;
            const double c2 = sane ? chi2Of(q) : HUGE_VAL;
            if (c2 <= chi2) {
                const bool small = chi2 - c2 < 1e-6 * std::max(chi2, 1.0);
                p = q;
                chi2 = c2;
                lambda = std::max(lambda / 10, 1e-9);
                improved = true;
                if (small)
                    iter = 1000;
            } else {
                lambda *= 10;
            }
        }
        // Poisson weights from the model as it now stands.
        for (int x = lo; x <= hi; ++x)
            weight[size_t(x - lo)] = 1.0 / std::max(model(p, x, nullptr), 1.0);
        chi2 = chi2Of(p);
        if (!improved)
            break;
    }
    // Covariance at the solution.
    std::fill(jtj.begin(), jtj.end(), 0.0);
    for (int x = lo; x <= hi; ++x) {
        model(p, x, grad.data());
        const double w = weight[size_t(x - lo)];
        for (int a = 0; a < np; ++a)
            for (int b = 0; b < np; ++b)
                jtj[size_t(a) * np + b] += w * grad[size_t(a)] * grad[size_t(b)];
    }
    if (!Invert(jtj, np))
        return f;
    f.ok = true;
    f.p = p;
    f.cov = jtj;
    return f;
}

// FWHM of the peak near pos from its half-height crossings above the
// baseline of its surroundings, w being the search window that found it.
double EstimateFwhm(const std::vector<double> &sum, double pos, double w)
{
    const int n = static_cast<int>(sum.size()) - 1; // sum[i]: channels 0..i-1
    const int h = std::max(1, static_cast<int>(w / 8));
    auto meanOf = [&](int a, int b) {
        a = std::clamp(a, 0, n - 1);
        b = std::clamp(b, a, n - 1);
        return (sum[size_t(b) + 1] - sum[size_t(a)]) / (b - a + 1);
    };
    auto smooth = [&](int c) { return meanOf(c - h, c + h); };
    const int p = static_cast<int>(std::lround(pos));
    const double base = 0.5 * (meanOf(int(p - 2 * w), int(p - 1.25 * w)) + meanOf(int(p + 1.25 * w), int(p + 2 * w)));
    int top = std::clamp(p, 0, n - 1);
    double peak = smooth(top);
    for (int c = std::max(0, int(p - w / 3)); c <= std::min(n - 1, int(p + w / 3)); ++c)
        if (smooth(c) > peak) {
            peak = smooth(c);
            top = c;
        }
    const double half = base + (peak - base) / 2;
    if (!(peak > base))
        return w / 1.2;
    int l = top, r = top;
    while (l > 0 && top - l < 2 * w && smooth(l) > half)
        --l;
    while (r < n - 1 && r - top < 2 * w && smooth(r) > half)
        ++r;
    return std::clamp(double(r - l), w / 3, 1.5 * w);
}

} // namespace

std::vector<FoundPeak> FindPeaks(const std::vector<double> &counts, double threshold, const Calibration &cal)
{
    std::vector<FoundPeak> out;
    const int n = static_cast<int>(counts.size());
    if (n < 16 || !(threshold > 0))
        return out;
    std::vector<double> sum(size_t(n) + 1, 0.0);
    for (int i = 0; i < n; ++i)
        sum[size_t(i) + 1] = sum[size_t(i)] + std::max(counts[size_t(i)], 0.0);
    auto S = [&](int a, int b) { return sum[size_t(b)] - sum[size_t(a)]; }; // channels a..b-1

    // Candidates, narrow widths first: a wider window over accepted
    // candidates only refines the width of one of them.
    std::vector<Candidate> accepted;
    for (double wf = 3; wf * 3 < n; wf *= 1.3) {
        const int m = static_cast<int>(std::lround(wf));
        const int stride = std::max(1, m / 4);
        std::vector<Candidate> level;
        // The filter's output over its standard deviation is z = f / sqrt(v)
        // where f > 0, else f; consecutive ones are compared without the
        // root, which is taken only for a candidate.
        double prevF = -HUGE_VAL, prevV = 1, prevZ = 0;
        int prevA = 0;
        bool prevPasses = false, rising = false;
        const double t2 = threshold * threshold;
        for (int a = m; a + 2 * m <= n; a += stride) { // centre window a..a+m-1
            const double c = S(a, a + m), l = S(a - m, a), r = S(a + m, a + 2 * m);
            const double f = c - 0.5 * (l + r);
            const double v = std::max(c + 0.25 * (l + r), 1.0);
            const bool lower = f > 0 ? prevF > 0 && f * f * prevV < prevF * prevF * v
                                     : prevF > 0 || f < prevF; // z < the previous z
            if (lower && rising && prevPasses)
                level.push_back(Candidate{prevA + (m - 1) / 2.0, double(m), prevZ, prevZ, double(m)});
            rising = !lower;
            bool passes = false;
            if (f > 0 && f * f >= t2 * v) {
                // A peak stands out on both sides alike; a step or the
                // rounded top of a Compton edge on one side only.
                const double zl = (c - l) / std::sqrt(std::max(c + l, 1.0));
                const double zr = (c - r) / std::sqrt(std::max(c + r, 1.0));
                passes = zl >= threshold / 2 && zr >= threshold / 2 && std::min(zl, zr) >= 0.35 * std::max(zl, zr);
                if (passes)
                    prevZ = f / std::sqrt(v);
            }
            prevF = f;
            prevV = v;
            prevA = a;
            prevPasses = passes;
        }
        for (const Candidate &cd : level) {
            int covering = 0, strong = 0;
            Candidate *nearest = nullptr, *strongest = nullptr;
            for (Candidate &acc : accepted)
                if (std::fabs(acc.pos - cd.pos) < std::max(cd.width, acc.width) * 0.75) {
                    ++covering;
                    if (!nearest || std::fabs(acc.pos - cd.pos) < std::fabs(nearest->pos - cd.pos))
                        nearest = &acc;
                    if (acc.bestZ >= cd.z / 4) {
                        ++strong;
                        strongest = &acc;
                    }
                }
            // The one it refines: the one it covers, else the only one not
            // far weaker than what it sees (the others are fluctuations
            // caught by narrow windows on a broad peak), else, when all are,
            // the nearest; none over a doublet.
            Candidate *only = covering == 1 ? nearest : strong == 1 ? strongest : strong == 0 ? nearest : nullptr;
            if (covering == 0)
                accepted.push_back(cd);
            else if (only && cd.z > only->bestZ) {
                only->bestZ = cd.z;
                only->bestWidth = cd.width;
            }
        }
    }
    if (accepted.empty())
        return out;

    std::sort(accepted.begin(), accepted.end(), [](const Candidate &a, const Candidate &b) { return a.pos < b.pos; });

    // Groups of candidates closer than three FWHM, fitted together; a
    // group's region stops short of its neighbours.
    std::vector<double> fwhm(accepted.size());
    for (size_t q = 0; q < accepted.size(); ++q)
        fwhm[q] = std::max(EstimateFwhm(sum, accepted[q].pos, accepted[q].bestWidth), 2.0);
    auto fwhmOf = [&](const Candidate &c) { return fwhm[size_t(&c - accepted.data())]; };
    size_t i = 0;
    while (i < accepted.size()) {
        size_t j = i + 1;
        while (j < accepted.size() && j - i < 6 &&
               accepted[j].pos - accepted[j - 1].pos < 3 * std::min(fwhmOf(accepted[j]), fwhmOf(accepted[j - 1])))
            ++j;
        std::vector<double> centres, widths;
        std::vector<size_t> members; // of accepted
        for (size_t q = i; q < j; ++q) {
            widths.push_back(fwhmOf(accepted[q]));
            centres.push_back(accepted[q].pos);
            members.push_back(q);
        }
        std::nth_element(widths.begin(), widths.begin() + long(widths.size() / 2), widths.end());
        const double fw = widths[widths.size() / 2];
        double from = centres.front() - 2.5 * fw, to = centres.back() + 2.5 * fw;
        if (i > 0)
            from = std::max(from, std::min(accepted[i - 1].pos + 1.5 * fwhmOf(accepted[i - 1]), centres.front() - 1.5 * fw));
        if (j < accepted.size())
            to = std::min(to, std::max(accepted[j].pos - 1.5 * fwhmOf(accepted[j]), centres.back() + 1.5 * fw));
        const int lo = std::max(0, static_cast<int>(std::floor(from)));
        const int hi = std::min(n - 1, static_cast<int>(std::ceil(to)));
        // Wide peaks are fitted over bins of b channels, about ten to the
        // FWHM: the sums keep the areas, and the fit's cost stays that of a
        // narrow peak.
        const int b = std::max(1, static_cast<int>(fw / 10));
        const int bins = (hi - lo + 1) / b;
        std::vector<double> binned;
        const std::vector<double> *data = &counts;
        int flo = lo, fhi = hi;
        const double offset = lo + (b - 1) / 2.0; // channel of bin 0's middle
        std::vector<double> fitCentres = centres;
        if (b > 1 && bins > 8) {
            binned.assign(size_t(bins), 0.0);
            for (int k = 0; k < bins; ++k)
                for (int c = 0; c < b; ++c)
                    binned[size_t(k)] += counts[size_t(lo + k * b + c)];
            for (double &c : fitCentres)
                c = (c - offset) / b;
            data = &binned;
            flo = 0;
            fhi = bins - 1;
        }
        const double scale = data == &counts ? 1.0 : double(b);
        GroupFit g;
        for (;;) {
            g = FitGroup(*data, flo, fhi, fitCentres, fw / kFwhmPerSigma / scale);
            // Two Gaussians closer than two sigmas make one hump: the search
            // split one peak. Fitted again without the smaller part.
            size_t drop = centres.size();
            for (size_t q = 0; g.ok && q < centres.size(); ++q)
                for (size_t r = q + 1; r < centres.size(); ++r)
                    if (std::fabs(g.p[4 + 2 * q] - g.p[4 + 2 * r]) < 2 * g.p[2])
                        drop = g.p[3 + 2 * q] < g.p[3 + 2 * r] ? q : r;
            if (drop == centres.size())
                break;
            centres.erase(centres.begin() + long(drop));
            fitCentres.erase(fitCentres.begin() + long(drop));
            members.erase(members.begin() + long(drop));
        }
        if (g.ok) {
            const int np = static_cast<int>(g.p.size());
            const double s = g.p[2] * scale;
            for (size_t q = 0; q < centres.size(); ++q) {
                const int ia = 3 + 2 * int(q), ic = ia + 1;
                const double a = g.p[size_t(ia)];
                // area = a s sqrt(2 pi): its variance through the gradient.
                // (in the fit's own units: bins)
                const double sb = g.p[2];
                const double da = sb * kSqrt2Pi, ds = a * kSqrt2Pi;
                const double var = da * da * g.cov[size_t(ia) * np + ia] + ds * ds * g.cov[size_t(2) * np + 2] +
                                   2 * da * ds * g.cov[size_t(ia) * np + 2];
                FoundPeak pk;
                pk.Centroid = scale == 1.0 ? g.p[size_t(ic)] : offset + g.p[size_t(ic)] * scale;
                pk.CentroidSigma = std::sqrt(std::max(g.cov[size_t(ic) * np + ic], 0.0)) * scale;
                pk.Fwhm = s * kFwhmPerSigma;
                pk.Area = a * sb * kSqrt2Pi;
                pk.AreaSigma = std::sqrt(std::max(var, 0.0));
                pk.Significance = accepted[members[q]].bestZ;
                const bool inside = pk.Centroid > lo + 0.5 && pk.Centroid < hi - 0.5 &&
                                    pk.Centroid > pk.Fwhm / 2 && pk.Centroid < n - 1 - pk.Fwhm / 2;
                if (inside && pk.Area > 0 && pk.AreaSigma > 0 && pk.Area >= 0.5 * threshold * pk.AreaSigma &&
                    std::isfinite(pk.Area))
                    out.push_back(pk);
            }
        }
        i = j;
    }
    if (out.empty())
        return out;
    // Continuum features are far wider than the detector's resolution there.
    const FoundPeak ref = MostSignificant(out);
    // Scintillators widen as the square root of the energy, semiconductors
    // (below 3 % relative resolution) more slowly.
    const double refCh = std::max(ref.Centroid, 1.0);
    const double power = ref.Fwhm / refCh < 0.03 ? 0.25 : 0.5;
    auto resolution = [&](double channel) { return ref.Fwhm * std::pow(std::max(channel, 1.0) / refCh, power); };
    std::vector<FoundPeak> kept;
    for (const FoundPeak &pk : out) {
        const double expected = resolution(pk.Centroid);
        // Far narrower is a fluctuation, not a line of this detector.
        if ((pk.Fwhm <= 1.4 * expected || pk.Fwhm <= 4) && pk.Fwhm >= expected / 3)
            kept.push_back(pk);
    }
    // What stands out of the continuum without being a line: the rounded
    // top of a Compton edge and the counts rising from the discriminator's
    // threshold at the lowest channels.
    std::vector<double> sumX(size_t(n) + 1, 0.0); // sumX[i]: channel times counts over 0..i-1
    for (int c = 0; c < n; ++c)
        sumX[size_t(c) + 1] = sumX[size_t(c)] + double(c) * std::max(counts[size_t(c)], 0.0);
    // Sums of the counts and of channel times counts over a..b (both
    // included), less the fitted Gaussians of the peaks kept.
    auto continuum = [&](int a, int b, double &s0, double &s1) {
        s0 = sum[size_t(b) + 1] - sum[size_t(a)];
        s1 = sumX[size_t(b) + 1] - sumX[size_t(a)];
        for (const FoundPeak &o : kept) {
            const double sg = o.Fwhm / kFwhmPerSigma;
            const double lo = (a - 0.5 - o.Centroid) / sg, hi = (b + 0.5 - o.Centroid) / sg;
            const double mass = NormalCdf(hi) - NormalCdf(lo);
            s0 -= o.Area * mass;
            s1 -= o.Area * (o.Centroid * mass - sg * (NormalPdf(hi) - NormalPdf(lo)));
        }
    };
    // The shoulder step: a straight line through the continuum 1.5 to 4
    // FWHM left of the peak, carried across to 1.5 to 4 FWHM right of it,
    // lies above the counts there by about the height of a Gaussian fitted
    // on an edge's rounded top, by little against a photopeak's height (its
    // own Compton valley above an empty side), and below a convex falling
    // background. An edge when the step is at least 0.9 of the height and
    // three of its standard deviations (Poisson, through the line's fit).
    auto stepsDown = [&](const FoundPeak &pk) {
        const double w = resolution(pk.Centroid);
        const int la = static_cast<int>(std::lround(pk.Centroid - 4 * w));
        const int lb = static_cast<int>(std::lround(pk.Centroid - 1.5 * w));
        const int ra = static_cast<int>(std::lround(pk.Centroid + 1.5 * w));
        const int rb = static_cast<int>(std::lround(pk.Centroid + 4 * w));
        if (la < 0 || rb > n - 1 || lb - la < 4 || rb - ra < 4)
            return false;
        double l0, l1, r0, r1;
        continuum(la, lb, l0, l1);
        continuum(ra, rb, r0, r1);
        const double nl = lb - la + 1, nr = rb - ra + 1;
        const double xl = 0.5 * (la + lb), xr = 0.5 * (ra + rb);
        const double sxx = nl * (nl * nl - 1) / 12;
        const double slope = (l1 - xl * l0) / sxx;
        const double step = l0 / nl + slope * (xr - xl) - r0 / nr;
        const double levelL = std::max(sum[size_t(lb) + 1] - sum[size_t(la)], 1.0) / nl;
        const double grossR = std::max(sum[size_t(rb) + 1] - sum[size_t(ra)], 1.0);
        const double sigma = std::sqrt(levelL * (1 / nl + (xr - xl) * (xr - xl) / sxx) + grossR / (nr * nr));
        const double height = pk.Area / (pk.Fwhm / kFwhmPerSigma * kSqrt2Pi);
        return step >= 0.9 * height && step >= 3 * sigma;
    };
    // Calibrated: a photopeak of energy E scatters up to its Compton edge at
    // E (1 - 1 / (1 + 2E / 511 keV)); a peak from 2.5 FWHM below that edge to
    // half a FWHM above it with less than 0.3 of the photopeak's area is the
    // edge's top.
    auto onEdge = [&](const FoundPeak &pk) {
        if (!cal.Valid)
            return false;
        const double e = cal.Energy(pk.Centroid);
        for (const FoundPeak &q : kept) {
            const double eq = cal.Energy(q.Centroid);
            if (!(eq > e) || !(pk.Area < 0.3 * q.Area))
                continue;
            const double edge = eq * (1 - 1 / (1 + 2 * eq / kElectronKeV));
            const double fw = resolution(cal.Channel(edge)) * cal.KeVPerChannel();
            if (e >= edge - 2.5 * fw && e <= edge + 0.5 * fw)
                return true;
        }
        return false;
    };
    std::vector<FoundPeak> lines;
    for (const FoundPeak &pk : kept) {
        // Its whole left flank above channel 0: below that the counts rise
        // from the threshold.
        if (pk.Centroid < 2 * std::max(pk.Fwhm, resolution(pk.Centroid)))
            continue;
        if (!stepsDown(pk) && !onEdge(pk))
            lines.push_back(pk);
    }
    return lines;
}

// ---------------------------------------------------------------------------
// Nuclides

const std::vector<Nuclide> &NuclideLibrary()
{
    // Main gamma lines, photons per 100 decays (decay data evaluations; for
    // the chains, per decay of the parent in equilibrium).
    static const std::vector<Nuclide> lib = {
        {"Am-241", {{59.54, 35.9}, {26.34, 2.3}}},
        {"Ba-133", {{356.01, 62.1}, {80.998, 32.9}, {302.85, 18.3}, {383.85, 8.9}, {276.40, 7.2}}},
        {"Co-57", {{122.06, 85.6}, {136.47, 10.7}}},
        {"Co-60", {{1173.23, 99.85}, {1332.49, 99.98}}},
        {"Cs-137", {{661.66, 85.1}}},
        {"Eu-152",
         {{121.78, 28.5}, {344.28, 26.6}, {1408.01, 20.9}, {964.08, 14.5}, {1112.08, 13.7}, {778.90, 12.9},
          {1085.84, 10.1}, {244.70, 7.6}}},
        {"I-131", {{364.49, 81.5}, {636.99, 7.2}, {284.31, 6.1}}},
        {"K-40", {{1460.82, 10.66}}},
        {"Mn-54", {{834.85, 99.98}}},
        {"Na-22", {{511.0, 180.7}, {1274.54, 99.94}}},
        {"Ra-226", {{609.31, 45.5}, {351.93, 35.6}, {295.22, 18.4}, {1764.49, 15.3}, {1120.29, 14.9}, {242.0, 7.3}}},
        {"Th-232", {{238.63, 43.6}, {583.19, 30.4}, {2614.51, 35.6}, {911.20, 25.8}, {968.97, 15.8}, {338.32, 11.3}}},
        {"U-235", {{185.72, 57.2}, {143.76, 11.0}, {163.36, 5.1}, {205.31, 5.0}}},
        {"Tc-99m", {{140.51, 89.0}}},
        {"Аннигиляция", {{511.0, 100.0}}},
    };
    return lib;
}

std::vector<std::string> NuclidesAt(double keV, double fwhmKeV)
{
    std::vector<std::string> names;
    for (const Nuclide &nu : NuclideLibrary())
        for (const NuclideLine &l : nu.Lines)
            if (std::fabs(l.EnergyKeV - keV) <= fwhmKeV / 2) {
                names.emplace_back(nu.Name);
                break;
            }
    return names;
}

std::vector<std::string> NuclidesPresent(const std::vector<FoundPeak> &peaks, const Calibration &cal,
                                         int32_t channels, const std::vector<double> &counts)
{
    std::vector<std::string> names;
    if (!cal.Valid || peaks.empty() || channels < 2)
        return names;
    const double eLo = std::max(cal.Energy(0), 20.0), eHi = cal.Energy(channels - 1);
    const double kpc = cal.KeVPerChannel();
    // Resolution: from the most significant peak, growing as sqrt(E).
    const FoundPeak &ref = MostSignificant(peaks);
    const double refE = std::max(cal.Energy(ref.Centroid), 1.0), refF = ref.Fwhm * kpc;
    auto fwhmAt = [&](double e) { return refF * std::sqrt(std::max(e, 1.0) / refE); };
    auto peakAt = [&](double e) -> const FoundPeak * {
        const FoundPeak *best = nullptr;
        for (const FoundPeak &p : peaks) {
            const double d = std::fabs(cal.Energy(p.Centroid) - e);
            if (d <= p.Fwhm * kpc / 2 && (!best || d < std::fabs(cal.Energy(best->Centroid) - e)))
                best = &p;
        }
        return best;
    };
    for (const Nuclide &nu : NuclideLibrary()) {
        const NuclideLine *main = nullptr;
        for (const NuclideLine &l : nu.Lines)
            if (l.EnergyKeV >= eLo && l.EnergyKeV <= eHi && (!main || l.Intensity > main->Intensity))
                main = &l;
        if (!main)
            continue;
        const FoundPeak *mp = peakAt(main->EnergyKeV);
        if (!mp)
            continue;
        bool present = true;
        for (const NuclideLine &l : nu.Lines) {
            if (&l == main || l.EnergyKeV < eLo || l.EnergyKeV > eHi || l.Intensity < main->Intensity / 5)
                continue;
            if (peakAt(l.EnergyKeV))
                continue;
            // Not found: could the spectrum show it?
            const double expected = mp->Area * l.Intensity / main->Intensity;
            const double fw = fwhmAt(l.EnergyKeV) / kpc; // channels
            const int c0 = std::max(0, static_cast<int>(cal.Channel(l.EnergyKeV) - 0.75 * fw));
            const int c1 = std::min(static_cast<int>(counts.size()) - 1,
                                    static_cast<int>(cal.Channel(l.EnergyKeV) + 0.75 * fw));
            double bg = 0;
            for (int c = c0; c <= c1; ++c)
                bg += std::max(counts[size_t(c)], 0.0);
            if (expected > 4 * std::sqrt(std::max(bg, 1.0)))
                present = false;
        }
        if (present)
            names.emplace_back(nu.Name);
    }
    return names;
}
