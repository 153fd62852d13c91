// Writes the sample spectra of samples/ in the program's text format.
//
// Model of every sample: the expected count of channel c is
//
//   mu(c) = B0 * exp(-c / tau) + sum over peaks k of
//           A_k / (sigma_k * sqrt(2 pi)) * exp(-(c - C_k)^2 / (2 sigma_k^2))
//
// (an exponential background plus Gaussian peaks of area A_k, centre C_k and
// standard deviation sigma_k, in channels), and the count written is a Poisson
// deviate with mean mu(c), drawn from a fixed seed per file.
//
// The output must be the same bytes on every machine, so nothing here comes
// from the C library's mathematics: the exponential is a Taylor series with
// argument halving (only + - * /, which IEEE 754 rounds the same everywhere;
// the target is compiled with floating-point contraction off), the random
// numbers come from SplitMix64, and the Poisson deviates from Knuth's
// product-of-uniforms method applied to slices of the mean of at most 16
// (a sum of Poisson deviates is a Poisson deviate of the summed mean).
//
// Usage: make_samples <output directory>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// e^x built from basic arithmetic only.
double Exp(double x)
{
    if (x < -700.0)
        return 0.0;
    int halvings = 0;
    while (x < -0.5 || x > 0.5) {
        x /= 2.0;
        ++halvings;
    }
    double term = 1.0;
    double sum = 1.0;
    for (int n = 1; n <= 24; ++n) {
        term = term * x / n;
        sum += term;
    }
    while (halvings-- > 0)
        sum *= sum;
    return sum;
}

class SplitMix64 {
public:
    explicit SplitMix64(uint64_t seed) : state_(seed) {}
    uint64_t Next()
    {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in (0, 1], exactly representable.
    double Uniform() { return static_cast<double>((Next() >> 11) + 1) * (1.0 / 9007199254740992.0); }

private:
    uint64_t state_;
};

int32_t Poisson(double mean, SplitMix64 &rng)
{
    if (mean <= 0.0)
        return 0;
    int slices = 1;
    while (mean / slices > 16.0)
        ++slices;
    const double slice = mean / slices;
    const double limit = Exp(-slice);
    int64_t total = 0;
    for (int s = 0; s < slices; ++s) {
        double p = rng.Uniform();
        while (p > limit) {
            ++total;
            p *= rng.Uniform();
        }
    }
    return static_cast<int32_t>(total);
}

struct Peak {
    double centre; // channel
    double sigma;  // channels
    double area;   // counts
};

struct Sample {
    const char *file;
    int channels;
    uint64_t seed;
    double background0; // expected background count at channel 0
    double tau;         // background decay length, channels (0: flat)
    std::vector<Peak> peaks;
};

constexpr double SqrtTwoPi = 2.5066282746310002;

double Expected(const Sample &s, int c)
{
    double mu = s.tau > 0.0 ? s.background0 * Exp(-c / s.tau) : s.background0;
    for (const Peak &p : s.peaks) {
        const double d = c - p.centre;
        mu += p.area / (p.sigma * SqrtTwoPi) * Exp(-(d * d) / (2.0 * p.sigma * p.sigma));
    }
    return mu;
}

bool Write(const std::string &dir, const Sample &s)
{
    const std::string path = dir + "/" + s.file;
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::fprintf(stderr, "make_samples: cannot create %s\n", path.c_str());
        return false;
    }
    SplitMix64 rng(s.seed);
    bool ok = true;
    for (int c = 0; c < s.channels; ++c) {
        const int32_t count = Poisson(Expected(s, c), rng);
        ok = std::fprintf(f, "%6d  %12d\r\n", c, static_cast<int>(count)) == 22 && ok;
    }
    ok = std::fclose(f) == 0 && ok;
    if (!ok)
        std::fprintf(stderr, "make_samples: cannot write %s\n", path.c_str());
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_samples <output directory>\n");
        return 2;
    }
    // The centres, widths and areas below are the ones samples/README.md
    // lists; the tests in tests/samples/ measure them back.
    const Sample samples[] = {
        // Two well separated peaks on a falling background, for the two-point
        // calibration: 661.66 keV at 265.30 and 1460.82 keV at 585.70.
        {"two_peaks_1024.txt", 1024, 0x5259560001ull, 800.0, 250.0,
         {{265.30, 6.0, 300000.0}, {585.70, 9.0, 120000.0}}},
        // A close doublet, 21.5 channels apart, on a falling background.
        {"doublet_4096.txt", 4096, 0x5259560002ull, 400.0, 1000.0,
         {{2040.30, 5.0, 80000.0}, {2061.80, 5.0, 50000.0}}},
        // A flat spectrum of 10000 counts per channel, for the differential
        // nonlinearity.
        {"flat_1024.txt", 1024, 0x5259560003ull, 10000.0, 0.0, {}},
    };
    bool ok = true;
    for (const Sample &s : samples)
        ok = Write(argv[1], s) && ok;
    return ok ? 0 : 1;
}
