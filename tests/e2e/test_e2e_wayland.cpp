// The real program in a Wayland session: weston's headless compositor with XWayland. The program
// is given WAYLAND_DISPLAY and no QT_QPA_PLATFORM, as in any Wayland session, and Qt could reach
// the compositor directly; the program chooses XWayland itself. Its character must come up there,
// an X client, with its outline, and the compositor must draw its picture.
//
// The headless compositor has no pointer or keyboard (moving XWayland's pointer ends XWayland),
// so nothing here clicks or drags.

#include "E2e.h"

#include <QDir>
#include <QLibraryInfo>
#include <QTest>

using namespace e2e;

class TestE2eWayland : public QObject {
    Q_OBJECT
    Desktop d;
    QProcess* program = nullptr;

  private slots:
    void initTestCase() {
        // Given WAYLAND_DISPLAY, Qt takes its Wayland plugin if it has one: only with the plugin
        // there does this test tell that the program chooses XWayland itself.
        const QDir platforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                             QStringLiteral("/platforms"));
        QVERIFY2(!platforms.entryList({QStringLiteral("libqwayland*")}).isEmpty(),
                 "Qt's Wayland platform plugin is missing (package qt6-wayland)");
        QString why;
        if (!d.startWayland(&why))
            QSKIP(qPrintable(QStringLiteral("weston cannot run here, so there is no Wayland "
                                            "session to start the program in: ") +
                             why));
        QVERIFY(d.writeCompleteSettings());
    }

    void cleanup() { endProgram(d, program); }

    void characterComesUpThroughXWayland() {
        program = d.launch();
        const QString character = d.waitForWindow(kCharacterTitle);
        QVERIFY2(!character.isEmpty(), "no character window on XWayland");
        QVERIFY(waitForOutline(d, character));
        QVERIFY(d.info(character).viewable);
        QCOMPARE(d.info(character).geometry.size(), QSize(120, 180));

        // The compositor draws one of the character's pictures, wherever it put the window. The
        // tree is the same in every picture: only places that show its first point are tried.
        const QImage a = frameImage('A');
        QPoint treeTop;
        while ((a.pixel(treeTop) & 0xFFFFFF) == 0xFFFFFF)
            treeTop =
                treeTop.x() + 1 < a.width() ? treeTop + QPoint(1, 0) : QPoint(0, treeTop.y() + 1);
        QImage screen;
        QPoint at(-1, -1);
        QVERIFY2(waitUntil(
                     [&] {
                         screen = d.screenshot();
                         for (int y = 0; y + a.height() <= screen.height() && at.y() < 0; ++y)
                             for (int x = 0; x + a.width() <= screen.width(); ++x)
                                 if (screen.pixel(QPoint(x, y) + treeTop) == a.pixel(treeTop) &&
                                     shownPicture(screen, QPoint(x, y)) != '?') {
                                     at = QPoint(x, y);
                                     break;
                                 }
                         return at.y() >= 0;
                     },
                     10000),
                 "the compositor does not show the character's picture");
        screen.save(shotPath(QStringLiteral("wayland-character.png")));

        // weston draws the window's whole rectangle; outside the outline it shows white instead
        // of the desktop. Said here for the record; the README tells the users.
        const QImage picture = frameImage(shownPicture(screen, at));
        int outside = 0, white = 0;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                if ((picture.pixel(x, y) & 0xFFFFFF) == 0xFFFFFF) {
                    ++outside;
                    white += (screen.pixel(at + QPoint(x, y)) & 0xFFFFFF) == 0xFFFFFF;
                }
        qInfo("picture at %d,%d; %d of the %d points outside the figure show white", at.x(), at.y(),
              white, outside);
    }
};

QTEST_GUILESS_MAIN(TestE2eWayland)
#include "test_e2e_wayland.moc"
