#pragma once
// The bark sound: a small dog's "wan!" built from a voiced source with a pitch glide, breath
// noise and moving formants ("w" opening to "a", closing on "n"), with a sharp attack and a quick
// decay.

#include <QList>
#include <QString>

class BarkSynth {
  public:
    static constexpr int kRate = 44100;

    // Mono 16-bit samples at kRate.
    static QList<qint16> synthesize(quint32 variant = 1);

    // A canonical 44-byte-header PCM WAV file.
    static bool writeWav(const QString& path, const QList<qint16>& samples, int rate);
};
