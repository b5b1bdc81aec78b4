// Writes the shipped artwork and sound into an assets folder:
//   frames/A.png .. G.png, icon.png, icons/hicolor/NxN/apps/mokopon.png, hp/puppy.png,
//   Sound/Kouka.wav
// and, with --previews DIR, preview sheets for looking at the artwork on dark and light desktops.

#include "BarkSynth.h"
#include "FigureFinish.h"
#include "IconPainter.h"
#include "Scene.h"

#include "Outline.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cstdio>

namespace {

struct Frame {
    char name;
    Scene::Pose pose;
};

const Frame kFrames[] = {
    {'A', {false, 0, Scene::Eyes::Open, false}},   {'B', {false, 0, Scene::Eyes::Half, false}},
    {'C', {false, 0, Scene::Eyes::Closed, false}}, {'D', {true, -1, Scene::Eyes::Open, false}},
    {'E', {true, -1, Scene::Eyes::Open, true}},    {'F', {true, 1, Scene::Eyes::Open, false}},
    {'G', {true, 1, Scene::Eyes::Open, true}},
};

QImage render(const Scene::Pose& pose) {
    QImage canvas(Scene::kWidth, Scene::kHeight, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter p(&canvas);
    Scene::paint(p, pose);
    p.end();
    return FigureFinish::finish(canvas);
}

// Rectangles of the window outline, as the character window builds it.
int outlineRects(const QImage& img) {
    return int(buildOutline(img).rects.size());
}

QImage cutOut(const QImage& frame, const QColor& desktop, int scale) {
    QImage out(frame.width() * scale, frame.height() * scale, QImage::Format_RGB32);
    out.fill(desktop);
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x)
            if ((frame.pixel(x, y) & 0xffffff) != 0xffffff)
                for (int dy = 0; dy < scale; ++dy)
                    for (int dx = 0; dx < scale; ++dx)
                        out.setPixel(x * scale + dx, y * scale + dy, frame.pixel(x, y));
    return out;
}

void writePreviews(const QList<QImage>& frames, const QString& dir) {
    QDir().mkpath(dir);
    const QColor dark(0x20, 0x30, 0x40), light(0xd0, 0xd8, 0xe0);
    for (int scale : {1, 4}) {
        const int w = Scene::kWidth * scale + 8, h = Scene::kHeight * scale + 8;
        QImage sheet(w * frames.size(), h * 3, QImage::Format_RGB32);
        sheet.fill(QColor(128, 128, 128));
        QPainter p(&sheet);
        for (int i = 0; i < frames.size(); ++i) {
            p.drawImage(i * w + 4, 4, frames[i].scaled(frames[i].size() * scale));
            p.drawImage(i * w + 4, h + 4, cutOut(frames[i], dark, scale));
            p.drawImage(i * w + 4, 2 * h + 4, cutOut(frames[i], light, scale));
        }
        p.end();
        sheet.save(QStringLiteral("%1/sheet-%2x.png").arg(dir).arg(scale));
    }
    for (int i = 0; i < frames.size(); ++i) {
        const QString n = QString(QChar(kFrames[i].name));
        frames[i].scaled(frames[i].size() * 4).save(QStringLiteral("%1/%2-4x.png").arg(dir, n));
        cutOut(frames[i], dark, 4).save(QStringLiteral("%1/%2-dark-4x.png").arg(dir, n));
        cutOut(frames[i], light, 4).save(QStringLiteral("%1/%2-light-4x.png").arg(dir, n));
    }
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: mkassets ASSETS_DIR [--previews DIR]\n");
        return 2;
    }
    const QDir assets(args[1]);
    const qsizetype pv = args.indexOf(QStringLiteral("--previews"));
    const QString previews = pv > 0 && pv + 1 < args.size() ? args[pv + 1] : QString();

    for (const char* sub : {"frames", "hp", "Sound"})
        assets.mkpath(QString::fromLatin1(sub));

    QList<QImage> frames;
    bool ok = true;
    for (const Frame& f : kFrames) {
        const QImage img = render(f.pose);
        const QString path = assets.filePath(QStringLiteral("frames/%1.png").arg(QChar(f.name)));
        ok = img.save(path) && ok;
        std::printf("%s: outline %d rects\n", qPrintable(path), outlineRects(img));
        frames.append(img);
    }

    const QImage puppy = frames[0].scaled(frames[0].size() * 2);
    ok = puppy.save(assets.filePath(QStringLiteral("hp/puppy.png"))) && ok;

    const QImage icon = IconPainter::paint();
    ok = icon.save(assets.filePath(QStringLiteral("icon.png"))) && ok;
    std::printf("icon: %lld colours\n", static_cast<long long>(icon.colorCount()));
    // The sizes menus and launchers ask the icon theme for; 48 is the one every theme must have.
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QString folder = QStringLiteral("icons/hicolor/%1x%1/apps").arg(size);
        assets.mkpath(folder);
        ok = IconPainter::paintMenuIcon(size).save(
                 assets.filePath(folder + QStringLiteral("/mokopon.png"))) &&
             ok;
    }

    const QList<qint16> bark = BarkSynth::synthesize();
    ok = BarkSynth::writeWav(assets.filePath(QStringLiteral("Sound/Kouka.wav")), bark,
                             BarkSynth::kRate) &&
         ok;
    std::printf("bark: %.3f s\n", double(bark.size()) / BarkSynth::kRate);

    if (!previews.isEmpty())
        writePreviews(frames, previews);
    if (!ok)
        std::fprintf(stderr, "mkassets: could not write every file\n");
    return ok ? 0 : 1;
}
