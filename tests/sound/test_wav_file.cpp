// The WAV reader: every format it plays decodes to the samples the file holds, and a file the
// user replaced by something broken or hostile is refused or cut short, never read past its end.

#include "WavFile.h"
#include "WavFixture.h"

#include <QElapsedTimer>
#include <QTest>
#include <cstring>
#include <limits>

using wav::chunk;
using wav::fmt;
using wav::le;
using wav::riff;

namespace {

QByteArray s16(const QVector<qint16>& v) {
    QByteArray b;
    for (qint16 s : v)
        b += le(quint16(s), 2);
    return b;
}

// IEEE floats of 32 or 64 bits, as a WAV file stores them.
template <typename Float> QByteArray floats(const QVector<Float>& v) {
    QByteArray b;
    for (Float f : v) {
        quint64 raw = 0;
        std::memcpy(&raw, &f, sizeof f);
        b += le(raw, int(sizeof f));
    }
    return b;
}

QByteArray pcm(int channels, int bits, const QByteArray& data) {
    return riff(fmt(1, channels, 8000, channels * ((bits + 7) / 8), bits) + chunk("data", data));
}

// The extensible header around a format tag: valid bits, channel mask, sub-format GUID.
QByteArray extensible(quint16 tag, int channels, int bits, bool goodGuid = true) {
    const QByteArray guid =
        le(tag, 2) + QByteArray::fromHex(goodGuid ? "000000001000800000aa00389b71"
                                                  : "000000001000800000aa00389b72");
    return fmt(0xFFFE, channels, 8000, channels * bits / 8, bits,
               le(22, 2) + le(quint64(bits), 2) + le(0, 4) + guid);
}

// One IMA ADPCM block of a mono sound: predictor 0, step index 0, then one word of nibbles.
const QByteArray ImaBlock = QByteArray::fromHex("00000000"
                                                "07000000");
const QVector<qint16> ImaSamples = {0, 11, 13, 14, 15, 16, 17, 18, 19};

// One Microsoft ADPCM block of a mono sound: predictor 0, step 16, second sample 100, first 50.
const QByteArray MsBlock = QByteArray::fromHex("00"
                                               "1000"
                                               "6400"
                                               "3200"
                                               "10f0");

QByteArray ms(const QByteArray& extra, const QByteArray& data) {
    return riff(fmt(2, 1, 8000, 9, 4, extra) + chunk("data", data));
}

} // namespace

class TestWavFile : public QObject {
    Q_OBJECT

  private slots:
    void decodes_data();
    void decodes();
    void refuses_data();
    void refuses();
};

void TestWavFile::decodes_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("channels");
    QTest::addColumn<QVector<qint16>>("samples");

    const QByteArray pcm16 = s16({1, -2, 300, -32768, 32767, 0});
    const QByteArray fmt16 = fmt(1, 2, 8000, 4, 16);

    QTest::newRow("PCM 8-bit, unsigned")
        << pcm(1, 8, QByteArray::fromHex("80ff00")) << 1 << QVector<qint16>{0, 32512, -32768};
    QTest::newRow("PCM 16-bit stereo")
        << pcm(2, 16, pcm16) << 2 << QVector<qint16>{1, -2, 300, -32768, 32767, 0};
    QTest::newRow("PCM 24-bit") << pcm(1, 24, QByteArray::fromHex("003412ffffff000080")) << 1
                                << QVector<qint16>{0x1234, -1, -32768};
    QTest::newRow("PCM 32-bit") << pcm(1, 32, QByteArray::fromHex("7856341200000080")) << 1
                                << QVector<qint16>{0x1234, -32768};
    QTest::newRow("PCM 12-bit in 16")
        << pcm(1, 12, s16({0x1230, -16})) << 1 << QVector<qint16>{0x1230, -16};
    QTest::newRow("float 32-bit, clipped")
        << riff(fmt(3, 1, 8000, 4, 32) +
                chunk("data", floats<float>({0.0f, 1.0f, -1.0f, 0.5f, 2.0f,
                                             std::numeric_limits<float>::quiet_NaN()})))
        << 1 << QVector<qint16>{0, 32767, -32767, 16384, 32767, 0};
    QTest::newRow("float 64-bit") << riff(fmt(3, 1, 8000, 8, 64) +
                                          chunk("data", floats<double>({1.0, -0.25})))
                                  << 1 << QVector<qint16>{32767, -8192};
    QTest::newRow("mu-law") << riff(fmt(7, 1, 8000, 1, 8) +
                                    chunk("data", QByteArray::fromHex("0080ff")))
                            << 1 << QVector<qint16>{-32124, 32124, 0};
    QTest::newRow("A-law") << riff(fmt(6, 1, 8000, 1, 8) +
                                   chunk("data", QByteArray::fromHex("d555aa2a")))
                           << 1 << QVector<qint16>{8, -8, 32256, -32256};
    QTest::newRow("extensible PCM, 3 channels")
        << riff(extensible(1, 3, 16) + chunk("data", pcm16)) << 3
        << QVector<qint16>{1, -2, 300, -32768, 32767, 0};
    QTest::newRow("extensible float")
        << riff(extensible(3, 1, 32) + chunk("data", floats<float>({-1.0f}))) << 1
        << QVector<qint16>{-32767};
    QTest::newRow("IMA ADPCM") << riff(fmt(0x11, 1, 8000, 8, 4) + chunk("data", ImaBlock)) << 1
                               << ImaSamples;
    QTest::newRow("IMA ADPCM, two blocks and a short third")
        << riff(fmt(0x11, 1, 8000, 8, 4) + chunk("data", ImaBlock + ImaBlock + ImaBlock.left(5)))
        << 1 << ImaSamples + ImaSamples + QVector<qint16>{0};
    QTest::newRow("IMA ADPCM, the count of frames ends it")
        << riff(fmt(0x11, 1, 8000, 8, 4) + chunk("fact", le(5, 4)) + chunk("data", ImaBlock)) << 1
        << ImaSamples.mid(0, 5);
    QTest::newRow("MS ADPCM, standard coefficients")
        << ms(QByteArray(), MsBlock) << 1 << QVector<qint16>{50, 100, 116, 116, 100, 100};
    QTest::newRow("MS ADPCM, the file's coefficients")
        << ms(le(8, 2) + le(6, 2) + le(1, 2) + le(0, 2) + le(256, 2), MsBlock) << 1
        << QVector<qint16>{50, 100, 66, 100, 50, 100};
    QTest::newRow("odd chunk padded, data before format")
        << riff(chunk("LIST", "abc") + chunk("data", pcm16) + fmt16) << 2
        << QVector<qint16>{1, -2, 300, -32768, 32767, 0};
    QTest::newRow("odd chunk without its pad byte")
        << riff(chunk("LIST", "abc").chopped(1) + fmt16 + chunk("data", pcm16)) << 2
        << QVector<qint16>{1, -2, 300, -32768, 32767, 0};
    QTest::newRow("data longer than the file, partial frame")
        << riff(fmt16 + chunk("data", pcm16.left(10), 100000)).left(44 + 10) << 2
        << QVector<qint16>{1, -2, 300, -32768};
    QTest::newRow("data of the largest declared size")
        << riff(fmt16 + chunk("data", pcm16, 0xFFFFFFFF)) << 2
        << QVector<qint16>{1, -2, 300, -32768, 32767, 0};
    QTest::newRow("no samples") << pcm(1, 16, QByteArray()) << 1 << QVector<qint16>{};
}

void TestWavFile::decodes() {
    QFETCH(QByteArray, file);
    QFETCH(int, channels);
    QFETCH(QVector<qint16>, samples);

    const auto wav = WavFile::openMemory(file);
    QVERIFY(wav);
    QCOMPARE(wav->channels(), channels);
    QCOMPARE(wav->sampleRate(), 8000);
    QCOMPARE(wav->frames(), samples.size() / channels);
    // Read in small pieces that cross block ends, then again after a rewind.
    for (int pass = 0; pass < 2; ++pass) {
        QVector<qint16> got;
        qint16 piece[3 * WavFile::MaxChannels];
        while (const qint64 n = wav->readFrames(piece, 3))
            got.append(QVector<qint16>(piece, piece + n * channels));
        QCOMPARE(got, samples);
        QVERIFY(wav->rewind());
    }
}

void TestWavFile::refuses_data() {
    QTest::addColumn<QByteArray>("file");

    const QByteArray data = chunk("data", s16({1, 2}));
    QByteArray manyChunks;
    for (int i = 0; i < 5000; ++i)
        manyChunks += chunk("junk", QByteArray());

    QTest::newRow("empty") << QByteArray();
    QTest::newRow("shorter than a header") << QByteArray("RIFF\x04\0\0\0WAV", 11);
    QTest::newRow("not RIFF") << "RIFX" + pcm(1, 16, s16({1})).mid(4);
    QTest::newRow("not WAVE") << pcm(1, 16, s16({1})).replace(8, 4, "AVI ");
    QTest::newRow("no format") << riff(data);
    QTest::newRow("no data") << riff(fmt(1, 1, 8000, 2, 16));
    QTest::newRow("format too short") << riff(chunk("fmt ", le(1, 2) + le(1, 2)) + data);
    QTest::newRow("format past the end") << riff(chunk("fmt ", le(1, 2), 0xFFFFFFF0));
    QTest::newRow("huge chunk before the format")
        << riff(chunk("junk", "x", 0x7FFFFFF0) + fmt(1, 1, 8000, 2, 16) + data);
    QTest::newRow("thousands of chunks before the format")
        << riff(manyChunks + fmt(1, 1, 8000, 2, 16) + data);
    QTest::newRow("no channels") << riff(fmt(1, 0, 8000, 0, 16) + data);
    QTest::newRow("more channels than a server takes") << riff(fmt(1, 33, 8000, 66, 16) + data);
    QTest::newRow("no rate") << riff(fmt(1, 1, 0, 2, 16) + data);
    QTest::newRow("MPEG") << riff(fmt(0x55, 1, 8000, 1, 0) + data);
    QTest::newRow("PCM of no bits") << riff(fmt(1, 1, 8000, 2, 0) + data);
    QTest::newRow("PCM of 40 bits") << riff(fmt(1, 1, 8000, 5, 40) + data);
    QTest::newRow("float of 16 bits") << riff(fmt(3, 1, 8000, 2, 16) + data);
    QTest::newRow("mu-law of 16 bits") << riff(fmt(7, 1, 8000, 2, 16) + data);
    QTest::newRow("extensible, unknown GUID") << riff(extensible(1, 1, 16, false) + data);
    QTest::newRow("extensible, header cut short")
        << riff(fmt(0xFFFE, 1, 8000, 2, 16, le(22, 2)) + data);
    QTest::newRow("IMA ADPCM, block not in words") << riff(fmt(0x11, 1, 8000, 6, 4) + data);
    QTest::newRow("MS ADPCM, block shorter than its header") << riff(fmt(2, 2, 8000, 13, 4) + data);
}

void TestWavFile::refuses() {
    QFETCH(QByteArray, file);
    QElapsedTimer t;
    t.start();
    QVERIFY(!WavFile::openMemory(file));
    QVERIFY2(t.elapsed() < 1000, qPrintable(QString::number(t.elapsed())));
}

QTEST_GUILESS_MAIN(TestWavFile)
#include "test_wav_file.moc"
