// The yardstick for the desktop benchmark: the least a Qt Widgets program does to show one shaped,
// borderless, always-on-top window at the pointer.

#include <QApplication>
#include <QCursor>
#include <QPainter>
#include <QRegion>
#include <QWidget>

class ShapedWindow : public QWidget {
  public:
    ShapedWindow()
        : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
        setWindowTitle(QStringLiteral("Minimal"));
        setFixedSize(120, 180);
        setMask(QRegion(0, 0, 120, 180, QRegion::Ellipse));
        move(QCursor::pos());
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter(this).fillRect(rect(), QColor(240, 200, 120));
    }
};

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    ShapedWindow w;
    w.show();
    return app.exec();
}
