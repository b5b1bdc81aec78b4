#pragma once
// The character's picture: a small tree growing out of a woven basket, a puppy sitting in the
// basket in front of the trunk. Tree and basket are painted the same way for every pose, so they
// come out pixel-identical in all frames; only the puppy changes.

#include <QPointF>
#include <QRectF>

class QBrush;
class QPainter;
class QPainterPath;

class Scene {
  public:
    enum class Eyes { Open, Half, Closed };

    struct Pose {
        bool standing = false; // false: only the head peeks over the rim
        int turn = 0;          // -1 head turned to the left, +1 to the right, 0 facing us
        Eyes eyes = Eyes::Open;
        bool barking = false;
    };

    static constexpr int kWidth = 120;
    static constexpr int kHeight = 180;

    // Paints onto a transparent kWidth x kHeight canvas, anti-aliased.
    static void paint(QPainter& p, const Pose& pose);

    // The area the puppy may change; tree and basket outside it are the same in every frame.
    static QRectF puppyArea();

  private:
    static void paintTrunk(QPainter& p);
    static void paintCrown(QPainter& p);
    static void paintBasketBack(QPainter& p);
    static void paintBasketFront(QPainter& p);
    static void paintBody(QPainter& p, const Pose& pose);
    static void paintPaws(QPainter& p, const Pose& pose);
    static void paintHead(QPainter& p, QPointF centre, const Pose& pose);
    static void paintEar(QPainter& p, QPointF root, int side, bool perked);
    static void paintEye(QPainter& p, QPointF c, double width, int outer, Eyes eyes, int turn,
                         const QBrush& fur);
    static QPainterPath headOutline(QPointF c);
};
