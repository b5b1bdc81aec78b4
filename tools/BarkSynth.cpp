#include "BarkSynth.h"

#include <QFile>
#include <QRandomGenerator>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979;

// Two-pole resonator with unity gain at 0 Hz; centre and bandwidth may change every sample.
class Resonator {
  public:
    double step(double x, double freq, double bandwidth) {
        const double t = 1.0 / BarkSynth::kRate;
        const double c = -std::exp(-2 * kPi * bandwidth * t);
        const double b = 2 * std::exp(-kPi * bandwidth * t) * std::cos(2 * kPi * freq * t);
        const double a = 1 - b - c;
        const double y = a * x + b * m_y1 + c * m_y2;
        m_y2 = m_y1;
        m_y1 = y;
        return y;
    }

  private:
    double m_y1 = 0, m_y2 = 0;
};

// Piecewise-linear curve through (time, value) points.
double curve(const std::vector<std::pair<double, double>>& pts, double t) {
    if (t <= pts.front().first)
        return pts.front().second;
    for (size_t i = 1; i < pts.size(); ++i)
        if (t <= pts[i].first) {
            const double u = (t - pts[i - 1].first) / (pts[i].first - pts[i - 1].first);
            const double s = u * u * (3 - 2 * u);
            return pts[i - 1].second + (pts[i].second - pts[i - 1].second) * s;
        }
    return pts.back().second;
}

} // namespace

QList<qint16> BarkSynth::synthesize(quint32 variant) {
    QRandomGenerator rng(variant);
    const double duration = 0.42;
    const int n = int(duration * kRate);

    // Pitch jumps up at the attack and glides down as the bark dies away.
    const std::vector<std::pair<double, double>> pitch{
        {0.0, 620}, {0.025, 900}, {0.09, 820}, {0.20, 640}, {0.42, 500}};
    // Formants of a small vocal tract: "w" (low, close), "a" (open), "n" (nasal, low).
    const std::vector<std::pair<double, double>> f1{
        {0.0, 700}, {0.035, 1250}, {0.12, 1150}, {0.26, 700}, {0.42, 450}};
    const std::vector<std::pair<double, double>> f2{
        {0.0, 1300}, {0.035, 2100}, {0.14, 1950}, {0.30, 1600}, {0.42, 1500}};

    std::vector<double> out(n);
    Resonator r1, r2, r3, r4, noiseShape;
    double phase = 0, jitter = 0, lastFormant = 0;
    for (int i = 0; i < n; ++i) {
        const double t = double(i) / kRate;

        // A little cycle-to-cycle jitter keeps the voice from sounding like a tone.
        const double f0 = curve(pitch, t) * (1 + jitter);
        const double prev = phase;
        phase += f0 / kRate;
        if (std::floor(phase) != std::floor(prev))
            jitter = (rng.generateDouble() - 0.5) * 0.06;
        const double ph = phase - std::floor(phase);

        // Band-limited glottal source: harmonics falling off with frequency.
        double voice = 0;
        for (int k = 1; k * f0 < 9000; ++k)
            voice += std::sin(2 * kPi * k * ph) / std::pow(k, 1.1);
        // A rough, growly edge at the start: every other cycle a bit weaker.
        const double rough = 1 - 0.25 * std::exp(-t / 0.05) * (0.5 + 0.5 * std::cos(kPi * phase));
        voice *= rough;

        // Breath: a burst at the attack, then a little aspiration riding on the pulses.
        const double white = rng.generateDouble() * 2 - 1;
        const double burst = 2.2 * std::exp(-t / 0.012);
        const double breath = (burst + 0.6 * (0.6 + 0.4 * std::cos(2 * kPi * ph))) *
                              noiseShape.step(white, 3000, 2500) * 3;

        double x = voice + breath;
        x = r1.step(x, curve(f1, t), 160);
        x = r2.step(x, curve(f2, t), 220) * 0.8 + x * 0.2;
        x = r3.step(x, 3300, 320) * 0.7 + x * 0.3;
        x = r4.step(x, 4400, 450) * 0.5 + x * 0.5;
        // Radiation from the mouth lifts the highs (+6 dB per octave); without it the bark is dull.
        const double radiated = x - 0.92 * lastFormant;
        lastFormant = x;
        // The harsh, noisy edge of the first few tens of milliseconds.
        x = radiated * 3 + 0.5 * burst * white * std::exp(-t / 0.03);

        // Sharp attack, short hold, quick exponential decay, and a soft end with no click.
        const double attack = 1 - std::exp(-t / 0.0025);
        const double decay = t < 0.06 ? 1.0 : std::exp(-(t - 0.06) / 0.075);
        const double tail =
            t > duration - 0.03 ? 0.5 + 0.5 * std::cos(kPi * (t - (duration - 0.03)) / 0.03) : 1.0;
        out[i] = x * attack * decay * tail;
    }

    // Remove any offset, then bring the peak to a comfortable level below full scale.
    double mean = 0;
    for (double v : out)
        mean += v;
    mean /= n;
    double peak = 0;
    for (double& v : out) {
        v -= mean;
        peak = std::max(peak, std::abs(v));
    }
    QList<qint16> samples(n);
    for (int i = 0; i < n; ++i)
        samples[i] = qint16(std::lround(out[i] / peak * 0.8 * 32767));
    return samples;
}

bool BarkSynth::writeWav(const QString& path, const QList<qint16>& samples, int rate) {
    QByteArray data;
    auto u32 = [&](quint32 v) {
        char b[4];
        qToLittleEndian(v, b);
        data.append(b, 4);
    };
    auto u16 = [&](quint16 v) {
        char b[2];
        qToLittleEndian(v, b);
        data.append(b, 2);
    };
    const quint32 bytes = quint32(samples.size() * 2);
    data.append("RIFF");
    u32(36 + bytes);
    data.append("WAVE");
    data.append("fmt ");
    u32(16);
    u16(1); // PCM
    u16(1); // mono
    u32(quint32(rate));
    u32(quint32(rate * 2));
    u16(2);
    u16(16);
    data.append("data");
    u32(bytes);
    for (qint16 s : samples)
        u16(quint16(s));

    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(data) == data.size();
}
