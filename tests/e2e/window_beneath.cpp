// A plain window for the end-to-end tests to lay beneath the character: it fills the screen in
// one colour (maximised; the colour given, or magenta) and writes every button press it receives
// ("press X Y BUTTON", screen pixels) to its standard output, so a test can tell where a click
// landed. Run it through any Qt platform: on a Wayland desktop it is a Wayland window.

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QWidget>
#include <cstdio>

class Beneath : public QWidget {
  public:
    explicit Beneath(const QColor& colour) : m_colour(colour) {
        setWindowTitle(QStringLiteral("beneath"));
    }

  protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), m_colour); }
    void mousePressEvent(QMouseEvent* event) override {
        const QPoint at = event->globalPosition().toPoint();
        std::printf("press %d %d %d\n", at.x(), at.y(), int(event->button()));
        std::fflush(stdout);
    }

  private:
    QColor m_colour;
};

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    Beneath window(argc > 1 ? QColor(QString::fromLatin1(argv[1])) : QColor(200, 0, 200));
    window.showMaximized();
    std::printf("shown\n");
    std::fflush(stdout);
    return app.exec();
}
