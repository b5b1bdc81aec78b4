#include "Scene.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>

namespace {

// Line colours: each object is drawn in a deep shade of its own colour, never grey.
const QColor kLeafLine(38, 84, 26);
const QColor kBarkLine(74, 44, 20);
const QColor kWickerLine(96, 56, 22);
const QColor kFurLine(112, 76, 50);

const QColor kLeafLight(168, 221, 112);
const QColor kLeaf(120, 191, 72);
const QColor kLeafDark(78, 150, 50);

const QColor kWickerLight(238, 190, 116);
const QColor kWicker(214, 156, 84);
const QColor kWickerDark(168, 110, 48);
const QColor kBasketInside(92, 58, 28);

const QColor kFurLight(255, 248, 232);
const QColor kFur(248, 230, 196);
const QColor kFurShade(232, 200, 152);
const QColor kEar(226, 183, 124);
const QColor kEarShade(196, 146, 88);
const QColor kEye(42, 26, 18);
const QColor kHighlight(250, 250, 245);

constexpr double kPi = 3.14159265358979;

QBrush furBrush(QPointF c, double radius) {
    QRadialGradient g(c + QPointF(-radius * 0.35, -radius * 0.45), radius * 1.5);
    g.setColorAt(0.0, kFurLight);
    g.setColorAt(0.55, kFur);
    g.setColorAt(1.0, kFurShade);
    return g;
}

QPen line(const QColor& c, double width) {
    return QPen(c, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

} // namespace

QRectF Scene::puppyArea() {
    return QRectF(22, 72, 76, 70);
}

void Scene::paint(QPainter& p, const Pose& pose) {
    p.setRenderHint(QPainter::Antialiasing);
    paintTrunk(p);
    paintCrown(p);
    paintBasketBack(p);
    if (pose.standing) {
        paintBody(p, pose);
        paintHead(p, QPointF(60 + pose.turn * 1.5, 100), pose);
        paintBasketFront(p);
        paintPaws(p, pose);
    } else {
        paintHead(p, QPointF(60, 117), pose);
        paintBasketFront(p);
    }
}

void Scene::paintTrunk(QPainter& p) {
    const QRectF trunk(56.5, 78, 7, 60);
    QLinearGradient g(trunk.left(), 0, trunk.right(), 0);
    g.setColorAt(0, QColor(176, 124, 74));
    g.setColorAt(1, QColor(128, 84, 44));
    p.setPen(line(kBarkLine, 1.0));
    p.setBrush(g);
    p.drawRect(trunk);

    // Two strands twisted round each other.
    p.save();
    p.setClipRect(trunk);
    p.setBrush(Qt::NoBrush);
    for (double y = trunk.top() - 4; y < trunk.bottom(); y += 7) {
        QPainterPath twist;
        twist.moveTo(trunk.left(), y);
        twist.cubicTo(trunk.left() + 3, y + 0.5, trunk.right() - 2, y + 3.5, trunk.right(), y + 7);
        p.setPen(line(kBarkLine, 0.9));
        p.drawPath(twist);
        p.setPen(line(QColor(200, 150, 96), 0.8));
        p.drawLine(QPointF(trunk.left() + 1.2, y + 2.6), QPointF(trunk.left() + 3.2, y + 5.2));
    }
    p.restore();
}

void Scene::paintCrown(QPainter& p) {
    struct Lobe {
        double x, y, r;
    };
    // The outline of the crown: a cloud of leaf clumps.
    const Lobe lobes[] = {{59.5, 48, 0}, {60, 13, 13}, {40, 17, 14},  {80, 17, 14}, {21, 33, 14},
                          {98, 33, 14},  {17, 54, 14}, {102, 54, 14}, {24, 75, 13}, {95, 75, 13},
                          {44, 82, 12},  {75, 82, 12}, {60, 82, 11}};
    QPainterPath crown;
    crown.setFillRule(Qt::WindingFill);
    crown.addEllipse(QPointF(59.5, 48), 50, 38);
    for (const Lobe& l : lobes)
        if (l.r > 0)
            crown.addEllipse(QPointF(l.x, l.y), l.r, l.r);
    crown = crown.simplified();

    QRadialGradient g(QPointF(42, 26), 90);
    g.setColorAt(0.0, kLeafLight);
    g.setColorAt(0.45, kLeaf);
    g.setColorAt(1.0, kLeafDark);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawPath(crown);

    // Inner clumps: a shaded rim below each and a light cap above, so the crown reads as leaves.
    p.save();
    p.setClipPath(crown);
    const Lobe clumps[] = {{60, 22, 11}, {38, 32, 11}, {82, 32, 11}, {24, 52, 10},
                           {96, 52, 10}, {50, 50, 11}, {72, 52, 11}, {34, 70, 10},
                           {86, 70, 10}, {60, 70, 10}, {46, 88, 8},  {74, 88, 8}};
    for (const Lobe& c : clumps) {
        QRectF box(c.x - c.r, c.y - c.r, 2 * c.r, 2 * c.r);
        p.setBrush(Qt::NoBrush);
        p.setPen(line(QColor(62, 128, 40, 200), 1.1));
        p.drawArc(box, -20 * 16, -140 * 16);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(196, 236, 140, 150));
        p.drawEllipse(QPointF(c.x - c.r * 0.35, c.y - c.r * 0.45), c.r * 0.32, c.r * 0.2);
    }
    // A few blossoms.
    const QPointF blossoms[] = {{30, 24}, {88, 20}, {16, 64}, {104, 44},
                                {66, 40}, {40, 60}, {92, 64}};
    for (const QPointF& b : blossoms) {
        p.setBrush(QColor(246, 160, 178));
        p.setPen(line(QColor(190, 90, 110), 0.7));
        for (int i = 0; i < 5; ++i) {
            const double a = i * 2 * kPi / 5 - kPi / 2;
            p.drawEllipse(b + QPointF(std::cos(a) * 1.6, std::sin(a) * 1.6), 1.3, 1.3);
        }
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 226, 120));
        p.drawEllipse(b, 0.9, 0.9);
    }
    p.restore();

    p.setBrush(Qt::NoBrush);
    p.setPen(line(kLeafLine, 1.1));
    p.drawPath(crown);
}

void Scene::paintBasketBack(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(kBasketInside);
    p.drawRect(QRectF(30, 129, 60, 6));
    p.setPen(line(kWickerLine, 1.0));
    p.setBrush(kWickerDark);
    p.drawRoundedRect(QRectF(30.5, 126.5, 59, 4), 2, 2);
}

void Scene::paintBasketFront(QPainter& p) {
    // The wall's sides stand on whole pixels so they cut cleanly.
    const QRectF wall(28, 136, 64, 45);
    QLinearGradient g(0, wall.top(), 0, wall.bottom());
    g.setColorAt(0, kWicker);
    g.setColorAt(1, kWickerDark);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRect(wall);

    // Over-and-under weave: rows of rounded cells, every other row shifted by half a cell.
    p.save();
    p.setClipRect(wall);
    int row = 0;
    for (double y = 139.5; y < 181; y += 6.5, ++row) {
        for (double x = 28.5 - (row % 2) * 4.5 - 9; x < 93; x += 9) {
            QRectF cell(x + 0.6, y + 0.5, 8, 5.5);
            QLinearGradient cg(0, cell.top(), 0, cell.bottom());
            cg.setColorAt(0, kWickerLight);
            cg.setColorAt(1, kWicker);
            p.setBrush(cg);
            p.setPen(line(kWickerLine, 0.8));
            p.drawRoundedRect(cell, 2.5, 2.5);
        }
    }
    p.restore();

    // The rim: a thick twisted band.
    const QRectF rim(26, 131.5, 68, 8);
    QLinearGradient rg(0, rim.top(), 0, rim.bottom());
    rg.setColorAt(0, kWickerLight);
    rg.setColorAt(1, kWicker);
    p.setBrush(rg);
    p.setPen(line(kWickerLine, 1.0));
    p.drawRoundedRect(rim, 3.5, 3.5);
    p.save();
    p.setClipRect(rim.adjusted(1, 1, -1, -1));
    p.setPen(line(QColor(150, 96, 40), 0.9));
    for (double x = rim.left() - 2; x < rim.right() + 4; x += 4)
        p.drawLine(QPointF(x, rim.bottom()), QPointF(x + 5, rim.top()));
    p.restore();
}

void Scene::paintBody(QPainter& p, const Pose& pose) {
    const double cx = 60 + pose.turn * 0.8;
    QPainterPath body;
    body.moveTo(cx - 14, 110);
    body.cubicTo(cx - 20, 116, cx - 22, 126, cx - 21, 140);
    body.lineTo(cx + 21, 140);
    body.cubicTo(cx + 22, 126, cx + 20, 116, cx + 14, 110);
    body.closeSubpath();
    p.setBrush(furBrush(QPointF(cx, 118), 22));
    p.setPen(line(kFurLine, 1.1));
    p.drawPath(body);

    // A fluffy bib under the chin.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 250, 238));
    QPainterPath bib;
    bib.setFillRule(Qt::WindingFill);
    for (int i = -2; i <= 2; ++i)
        bib.addEllipse(QPointF(cx + i * 4.5, 121 + std::abs(i) * -1.2), 4.2, 5);
    p.drawPath(bib.simplified());
    p.setBrush(Qt::NoBrush);
    p.setPen(line(QColor(210, 176, 130), 0.9));
    for (int i = -1; i <= 1; i += 2)
        p.drawArc(QRectF(cx + i * 7 - 3, 124, 6, 4), 200 * 16, 140 * 16);
}

void Scene::paintPaws(QPainter& p, const Pose& pose) {
    const double cx = 60 + pose.turn * 0.8;
    for (int side = -1; side <= 1; side += 2) {
        const QPointF c(cx + side * 10, 133.5);
        p.setBrush(furBrush(c, 6));
        p.setPen(line(kFurLine, 1.1));
        p.drawEllipse(c, 5.8, 4.3);
        p.setPen(line(kFurLine, 0.8));
        p.drawLine(QPointF(c.x() - 1.7, c.y() + 1.6), QPointF(c.x() - 1.7, c.y() + 4.0));
        p.drawLine(QPointF(c.x() + 1.7, c.y() + 1.6), QPointF(c.x() + 1.7, c.y() + 4.0));
    }
}

QPainterPath Scene::headOutline(QPointF c) {
    QPainterPath head;
    head.setFillRule(Qt::WindingFill);
    head.addEllipse(c, 24, 20.5);
    // Fluffy cheeks.
    for (double deg : {22.0, 42.0, 138.0, 158.0}) {
        const double a = deg * kPi / 180;
        head.addEllipse(c + QPointF(std::cos(a) * 22, std::sin(a) * 18.5), 4.2, 4.2);
    }
    return head.simplified();
}

void Scene::paintHead(QPainter& p, QPointF c, const Pose& pose) {
    // A turned head also tilts a little towards the side it looks to.
    p.save();
    p.translate(c);
    p.rotate(pose.turn * 9);
    p.translate(-c);
    const QPainterPath head = headOutline(c);
    p.setBrush(furBrush(c, 24));
    p.setPen(line(kFurLine, 1.1));
    p.drawPath(head);

    // A tuft on top.
    const double tx = c.x() + pose.turn * 3;
    QPainterPath tuft;
    tuft.moveTo(tx - 5, c.y() - 19);
    tuft.cubicTo(tx - 4, c.y() - 25, tx + 1, c.y() - 26, tx + 2, c.y() - 23);
    tuft.cubicTo(tx + 0, c.y() - 23.5, tx - 1, c.y() - 22, tx + 1, c.y() - 19.5);
    tuft.closeSubpath();
    p.setBrush(kFurLight);
    p.drawPath(tuft);

    // Face: shifted towards the side the head is turned to.
    const double fx = c.x() + pose.turn * 6.5;
    const double fy = c.y();

    // Blushes stay on the cheeks even when the head is turned away; the ears hang over them.
    p.save();
    p.setClipPath(head, Qt::IntersectClip);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(244, 163, 160, 150));
    p.drawEllipse(QPointF(fx - 15.5 + pose.turn * 1, fy + 8), 3.6, 2.2);
    p.drawEllipse(QPointF(fx + 15.5 + pose.turn * 1, fy + 8), 3.6, 2.2);
    p.restore();

    const bool perked = pose.barking;
    paintEar(p, QPointF(c.x() - 17 + pose.turn * 1.5, c.y() - 14), -1, perked);
    paintEar(p, QPointF(c.x() + 17 + pose.turn * 1.5, c.y() - 14), +1, perked);

    p.setPen(Qt::NoPen);
    QRadialGradient mg(QPointF(fx - 2, fy + 7), 12);
    mg.setColorAt(0, QColor(255, 252, 244));
    mg.setColorAt(1, QColor(250, 238, 214));
    p.setBrush(mg);
    p.drawEllipse(QPointF(fx, fy + 9.5), 9.5, 6.5);

    const double nearW = 7.2, farW = 6.0;
    const double leftW = pose.turn < 0 ? farW : nearW;
    const double rightW = pose.turn > 0 ? farW : nearW;
    const QBrush fur = furBrush(c, 24);
    paintEye(p, QPointF(fx - 9.5 + (pose.turn < 0 ? 0.8 : 0), fy + 0.5), leftW, -1, pose.eyes,
             pose.turn, fur);
    paintEye(p, QPointF(fx + 9.5 - (pose.turn > 0 ? 0.8 : 0), fy + 0.5), rightW, +1, pose.eyes,
             pose.turn, fur);

    // Nose.
    const QPointF n(fx + pose.turn * 0.8, fy + 6.2);
    QPainterPath nose;
    nose.moveTo(n + QPointF(-3.4, -1.6));
    nose.cubicTo(n + QPointF(-1.5, -2.6), n + QPointF(1.5, -2.6), n + QPointF(3.4, -1.6));
    nose.cubicTo(n + QPointF(3.2, 0.8), n + QPointF(1.0, 2.2), n + QPointF(0, 2.3));
    nose.cubicTo(n + QPointF(-1.0, 2.2), n + QPointF(-3.2, 0.8), n + QPointF(-3.4, -1.6));
    p.setBrush(QColor(58, 36, 24));
    p.setPen(line(QColor(40, 24, 16), 0.6));
    p.drawPath(nose);
    p.setPen(Qt::NoPen);
    p.setBrush(kHighlight);
    p.drawEllipse(n + QPointF(-1.2, -1.1), 1.0, 0.6);

    p.setBrush(Qt::NoBrush);
    if (!pose.barking) {
        p.setPen(line(kFurLine, 1.0));
        QPainterPath mouth;
        mouth.moveTo(n + QPointF(0, 2.3));
        mouth.lineTo(n + QPointF(0, 3.6));
        mouth.moveTo(n + QPointF(-4, 3.3));
        mouth.quadTo(n + QPointF(-2, 5.6), n + QPointF(0, 3.6));
        mouth.quadTo(n + QPointF(2, 5.6), n + QPointF(4, 3.3));
        p.drawPath(mouth);
    } else {
        QPainterPath mouth;
        mouth.moveTo(n + QPointF(-4.8, 3.4));
        mouth.quadTo(n + QPointF(0, 5.0), n + QPointF(4.8, 3.4));
        mouth.cubicTo(n + QPointF(5.0, 10.5), n + QPointF(-5.0, 10.5), n + QPointF(-4.8, 3.4));
        mouth.closeSubpath();
        p.setPen(line(kFurLine, 1.0));
        p.setBrush(QColor(122, 38, 34));
        p.drawPath(mouth);
        p.save();
        p.setClipPath(mouth);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(240, 128, 136));
        p.drawEllipse(n + QPointF(0, 9.2), 4.0, 3.2);
        p.setPen(line(QColor(196, 84, 96), 0.7));
        p.drawLine(n + QPointF(0, 7.2), n + QPointF(0, 9.4));
        p.restore();
        p.setBrush(Qt::NoBrush);
        p.setPen(line(kFurLine, 1.0));
        p.drawLine(n + QPointF(0, 2.3), n + QPointF(0, 4.1));
    }
    p.restore();
}

void Scene::paintEar(QPainter& p, QPointF root, int side, bool perked) {
    const double s = side;
    QPainterPath ear;
    const QPointF tip = perked ? root + QPointF(s * 13, 14) : root + QPointF(s * 9, 23);
    ear.moveTo(root + QPointF(-s * 6, -1));
    ear.cubicTo(root + QPointF(s * 2, -6), tip + QPointF(s * 6, -10), tip + QPointF(s * 2, 0));
    ear.cubicTo(tip + QPointF(-s * 1, 3), tip + QPointF(-s * 5, 2), tip + QPointF(-s * 5, -2));
    ear.cubicTo(tip + QPointF(-s * 6, -7), root + QPointF(-s * 2, 4), root + QPointF(-s * 6, -1));
    ear.closeSubpath();
    QLinearGradient g(root, tip);
    g.setColorAt(0, kEar);
    g.setColorAt(1, kEarShade);
    p.setBrush(g);
    p.setPen(line(kFurLine, 1.1));
    p.drawPath(ear);
}

void Scene::paintEye(QPainter& p, QPointF c, double width, int outer, Eyes eyes, int turn,
                     const QBrush& fur) {
    const double h = 8.6;
    if (eyes == Eyes::Closed) {
        QPainterPath lid;
        lid.moveTo(c + QPointF(-width / 2 - 0.3, 0.2));
        lid.quadTo(c + QPointF(0, 3.6), c + QPointF(width / 2 + 0.3, 0.2));
        p.setBrush(Qt::NoBrush);
        p.setPen(line(kEye, 1.4));
        p.drawPath(lid);
        return;
    }
    p.setPen(Qt::NoPen);
    p.setBrush(kEye);
    p.drawEllipse(c, width / 2, h / 2);
    if (eyes == Eyes::Half) {
        // The upper lid covers the top of the eye and droops towards the outer corner: sleepy.
        // Drooping towards the nose would look cross instead.
        const double o = outer;
        const QPointF inner = c + QPointF(-o * (width / 2 + 0.6), -0.4);
        const QPointF outerEnd = c + QPointF(o * (width / 2 + 0.6), 1.8);
        const QPointF bend = c + QPointF(o * 0.8, -1.2);
        QPainterPath cover;
        cover.moveTo(inner + QPointF(-o * 1, 0));
        cover.quadTo(bend, outerEnd + QPointF(o * 1, 0));
        cover.lineTo(c + QPointF(o * width, -h));
        cover.lineTo(c + QPointF(-o * width, -h));
        cover.closeSubpath();
        p.save();
        QPainterPath eye;
        eye.addEllipse(c, width / 2 + 0.8, h / 2 + 0.8);
        p.setClipPath(eye);
        p.setBrush(fur);
        p.drawPath(cover);
        p.restore();
        QPainterPath lid;
        lid.moveTo(inner);
        lid.quadTo(bend, outerEnd);
        p.setBrush(Qt::NoBrush);
        p.setPen(line(kEye, 1.2));
        p.drawPath(lid);
        p.setPen(Qt::NoPen);
        p.setBrush(kHighlight);
        p.drawEllipse(c + QPointF(-1.0 + turn * 0.5, 2.1), 0.9, 0.7);
        return;
    }
    p.setBrush(kHighlight);
    p.drawEllipse(c + QPointF(-1.2 + turn * 0.6, -1.8), 1.6, 1.6);
    p.drawEllipse(c + QPointF(1.5 + turn * 0.3, 2.0), 0.7, 0.7);
}
