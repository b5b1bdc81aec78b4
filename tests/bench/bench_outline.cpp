// How long the outlines of all sixteen frames take to build (done once per character at load).

#include "Outline.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char* argv[]) {
    QGuiApplication app(argc, argv);
    const char* frames = "ABCCBACBDEFGDEGF";
    std::vector<QImage> pictures;
    for (const char* f = frames; *f; ++f)
        pictures.push_back(QImage(QStringLiteral(":/frames/%1.png").arg(QLatin1Char(*f)))
                               .convertToFormat(QImage::Format_RGB32));
    std::vector<double> runs;
    size_t rects = 0;
    for (int rep = 0; rep < 50; ++rep) {
        QElapsedTimer t;
        t.start();
        rects = 0;
        for (const QImage& img : pictures)
            rects += buildOutline(img).rects.size();
        runs.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::sort(runs.begin(), runs.end());
    std::printf(
        "outlines of 16 frames: median %.2f ms, best %.2f ms, worst %.2f ms (%zu rectangles)\n",
        runs[runs.size() / 2], runs.front(), runs.back(), rects);
    return 0;
}
