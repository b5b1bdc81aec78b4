// How long the outlines of all sixteen frames take to build (done once per character at load),
// at each scale the pictures are drawn at.

#include "DevicePictures.h"
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
    // At 2x and 3x the pictures and the scan have four and nine times the points.
    for (const int scale : {1, 2, 3}) {
        std::vector<QImage> pictures;
        for (const char* f = frames; *f; ++f)
            pictures.push_back(QImage(QStringLiteral(":/frames/%1%2.png")
                                          .arg(QLatin1Char(*f))
                                          .arg(DevicePictures::suffix(scale)))
                                   .convertToFormat(QImage::Format_RGB32));
        std::vector<double> runs;
        size_t rects = 0;
        for (int rep = 0; rep < 50; ++rep) {
            QElapsedTimer t;
            t.start();
            rects = 0;
            for (const QImage& img : pictures)
                rects += buildOutline(img, outlineScan(scale)).rects.size();
            runs.push_back(double(t.nsecsElapsed()) / 1e6);
        }
        std::sort(runs.begin(), runs.end());
        std::printf("outlines of 16 frames at %dx: median %.2f ms, best %.2f ms, worst %.2f ms "
                    "(%zu rectangles)\n",
                    scale, runs[runs.size() / 2], runs.front(), runs.back(), rects);
    }
    return 0;
}
