// Draws the window's pictures and the application icon. The PNGs it writes are committed, so a
// build never runs this; scripts/make-artwork rebuilds them after a change here.
//
//   trident-make-artwork IMAGES_DIR ICON_FILE
//
// Every picture comes twice: NAME.png for screens at 100 % and NAME@2x.png, twice as many pixels
// each way, for screens at 200 % (Qt's naming), both drawn from the same vector shapes so neither
// is a scaled copy of the other. The pictures whose light shapes would vanish on a dark window
// (the gauge's white face, the board's dark case and cable) also come as NAME-dark.png and
// NAME-dark@2x.png; the others read on either background as they are.

#include <QConicalGradient>
#include <QDir>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QString>
#include <QtMath>

#include <cmath>
#include <cstdio>
#include <functional>

namespace {

// Every picture view in the window is this size; the pictures fill it edge to edge so that
// swapping one for another never shifts the layout.
constexpr int kPictureWidth = 280;
constexpr int kPictureHeight = 240;
constexpr int kIconSize = 256;
constexpr int kProgressSteps = 20;  // pictures "0".."20", 5 % apart

const QColor kInk{0x1f, 0x29, 0x37};
const QColor kInkDark{0xf1, 0xf5, 0xf9};
const QColor kTrack{0xe3, 0xe8, 0xef};
const QColor kTrackDark{0x33, 0x41, 0x55};
const QColor kAccent{0x1e, 0x6f, 0xd9};
const QColor kAccentEnd{0x12, 0xb5, 0x9c};

// The window's background the picture is drawn for.
enum class Look { light, dark };

using Painting = std::function<void(QPainter&)>;

// `width` and `height` are the picture's size on the window; at `scale` 2 the file has twice as
// many pixels each way and the same shapes drawn finer.
bool save(const QString& file, int width, int height, int scale, const Painting& paint) {
  QImage image(width * scale, height * scale, QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(scale);
  image.fill(Qt::transparent);
  {
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    paint(p);
  }
  if (!image.save(file, "PNG")) {
    std::fprintf(stderr, "trident-make-artwork: cannot write %s\n", qPrintable(file));
    return false;
  }
  return true;
}

// A soft shadow under round shapes, so the pictures sit on the window rather than float.
void dropShadow(QPainter& p, QPointF centre, qreal radius) {
  for (int i = 8; i > 0; --i) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(15, 23, 42, 6));
    p.drawEllipse(centre + QPointF(0, 4), radius + i, radius + i);
  }
}

// A rounded slab lit from one side (`fill` runs from `from` to `to`), resting on its shadow.
void shadedSlab(QPainter& p, const QRectF& rect, qreal radius, QLinearGradient fill, QColor from,
                QColor to) {
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(15, 23, 42, 50));
  p.drawRoundedRect(rect.translated(0, 5), radius, radius);
  fill.setColorAt(0, from);
  fill.setColorAt(1, to);
  p.setBrush(fill);
  p.drawRoundedRect(rect, radius, radius);
}

QFont boldFont(qreal pixelSize) {
  QFont font("DejaVu Sans");
  font.setBold(true);
  font.setPixelSize(static_cast<int>(pixelSize));
  return font;
}

void progressGauge(QPainter& p, int step, Look look) {
  const QPointF centre(kPictureWidth / 2.0, kPictureHeight / 2.0);
  const qreal face = 108;
  const qreal ring = 90;
  const qreal width = 18;
  const bool dark = look == Look::dark;

  dropShadow(p, centre, face);
  p.setPen(Qt::NoPen);
  // On a dark window a white face would glare; a slate one, a shade above the window, with a
  // faint rim keeps the same gauge without lighting up the room.
  QRadialGradient faceFill(centre - QPointF(30, 40), face * 1.6);
  faceFill.setColorAt(0, dark ? QColor(0x2b, 0x38, 0x4d) : QColor(Qt::white));
  faceFill.setColorAt(1, dark ? QColor(0x1c, 0x26, 0x37) : QColor(0xf1, 0xf4, 0xf8));
  p.setBrush(faceFill);
  if (dark) p.setPen(QPen(QColor(255, 255, 255, 40), 1.5));
  p.drawEllipse(centre, face, face);

  const QRectF arcBox(centre.x() - ring, centre.y() - ring, 2 * ring, 2 * ring);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(dark ? kTrackDark : kTrack, width, Qt::SolidLine, Qt::FlatCap));
  p.drawEllipse(arcBox);

  // Quiet marks at every 25 % give the eye a scale without cluttering the face.
  p.setPen(QPen(dark ? QColor(0x56, 0x66, 0x7e) : QColor(0xc5, 0xcd, 0xd8), 2, Qt::SolidLine,
                Qt::RoundCap));
  for (int quarter = 0; quarter < 4; ++quarter) {
    p.save();
    p.translate(centre);
    p.rotate(quarter * 90.0);
    p.drawLine(QPointF(0, -ring + width / 2 + 5), QPointF(0, -ring + width / 2 + 11));
    p.restore();
  }

  if (step > 0) {
    // Clockwise from twelve o'clock; the gradient turns with the arc so its head is brightest.
    // A full ring is drawn in the finishing colour alone: the sweep would meet itself at the top.
    const bool full = step == kProgressSteps;
    QConicalGradient sweep(centre, 90);
    sweep.setColorAt(0, kAccent);
    sweep.setColorAt(1.0 - step / double(kProgressSteps) * 0.999, kAccentEnd);
    sweep.setColorAt(1, kAccent);
    const int span = -static_cast<int>(360.0 * 16 * step / kProgressSteps);
    p.setPen(QPen(full ? QBrush(kAccentEnd) : QBrush(sweep), width, Qt::SolidLine,
                  full ? Qt::FlatCap : Qt::RoundCap));
    p.drawArc(arcBox, 90 * 16, span);
  }

  const QString figure = QString::number(step * 100 / kProgressSteps);
  const QFont numberFont = boldFont(46);
  const QFont percentFont = boldFont(22);
  const qreal numberWidth = QFontMetricsF(numberFont).horizontalAdvance(figure);
  const qreal percentWidth = QFontMetricsF(percentFont).horizontalAdvance("%");
  const qreal left = centre.x() - (numberWidth + percentWidth + 2) / 2;
  const qreal baseline = centre.y() + 16;
  p.setPen(dark ? kInkDark : kInk);
  p.setFont(numberFont);
  p.drawText(QPointF(left, baseline), figure);
  p.setPen(dark ? QColor(0x94, 0xa3, 0xb8) : QColor(0x64, 0x74, 0x8b));
  p.setFont(percentFont);
  p.drawText(QPointF(left + numberWidth + 2, baseline), "%");
}

// The result marks: a coloured disc with a white glyph, readable at a glance from across a room.
void resultDisc(QPainter& p, QColor light, QColor dark, const QPainterPath& glyph) {
  const QPointF centre(kPictureWidth / 2.0, kPictureHeight / 2.0);
  const qreal radius = 100;
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(light.red(), light.green(), light.blue(), 40));
  p.drawEllipse(centre, radius + 12, radius + 12);
  dropShadow(p, centre, radius);
  QLinearGradient fill(centre - QPointF(0, radius), centre + QPointF(0, radius));
  fill.setColorAt(0, light);
  fill.setColorAt(1, dark);
  p.setBrush(fill);
  p.drawEllipse(centre, radius, radius);
  // A faint sheen across the top half.
  QLinearGradient sheen(centre - QPointF(0, radius), centre);
  sheen.setColorAt(0, QColor(255, 255, 255, 70));
  sheen.setColorAt(1, QColor(255, 255, 255, 0));
  p.setBrush(sheen);
  p.drawEllipse(centre - QPointF(0, radius * 0.35), radius * 0.8, radius * 0.6);

  p.translate(centre);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(0, 0, 0, 40), 24, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawPath(glyph.translated(0, 3));
  p.setPen(QPen(Qt::white, 22, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawPath(glyph);
}

void completeMark(QPainter& p) {
  QPainterPath check;
  check.moveTo(-44, 2);
  check.lineTo(-12, 34);
  check.lineTo(48, -30);
  resultDisc(p, QColor(0x3d, 0xd6, 0x6f), QColor(0x17, 0x9c, 0x4a), check);
}

void failedMark(QPainter& p) {
  QPainterPath cross;
  cross.moveTo(-36, -36);
  cross.lineTo(36, 36);
  cross.moveTo(36, -36);
  cross.lineTo(-36, 36);
  resultDisc(p, QColor(0xff, 0x5a, 0x5f), QColor(0xc6, 0x24, 0x2b), cross);
}

// One arcade button seen from above: a bezel ring, a concave cap and a highlight.
void arcadeButton(QPainter& p, QPointF centre, qreal radius, QColor cap) {
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0, 0, 0, 90));
  p.drawEllipse(centre + QPointF(0, 2.5), radius + 2, radius + 2);
  p.setBrush(cap.darker(160));
  p.drawEllipse(centre, radius + 2, radius + 2);
  QRadialGradient fill(centre - QPointF(radius * 0.35, radius * 0.4), radius * 1.4);
  fill.setColorAt(0, cap.lighter(150));
  fill.setColorAt(0.6, cap);
  fill.setColorAt(1, cap.darker(130));
  p.setBrush(fill);
  p.drawEllipse(centre, radius, radius);
  p.setBrush(QColor(255, 255, 255, 70));
  p.drawEllipse(centre - QPointF(radius * 0.3, radius * 0.38), radius * 0.35, radius * 0.22);
}

void devicePicture(QPainter& p, Look look) {
  // A dark case and cable would melt into a dark window: there they are a grey lighter, and the
  // case's edge catches the light.
  const bool dark = look == Look::dark;
  // The board's cable leaves the top edge and ends in its USB plug, ready to be connected.
  QPainterPath cable;
  cable.moveTo(214, 64);
  cable.cubicTo(214, 36, 246, 40, 250, 20);
  p.setPen(QPen(dark ? QColor(0x6b, 0x75, 0x87) : QColor(0x33, 0x38, 0x44), 7, Qt::SolidLine,
                Qt::RoundCap));
  p.drawPath(cable);
  p.save();
  p.translate(250, 16);
  p.rotate(12);
  p.setPen(Qt::NoPen);
  p.setBrush(dark ? QColor(0x55, 0x5e, 0x6e) : QColor(0x2a, 0x2e, 0x38));
  p.drawRoundedRect(QRectF(-9, -6, 18, 20), 4, 4);
  p.setBrush(QColor(0xc9, 0xd1, 0xdc));
  p.drawRect(QRectF(-7, -16, 14, 11));
  p.setBrush(QColor(0x8a, 0x94, 0xa3));
  p.drawRect(QRectF(-4, -13, 3, 3));
  p.drawRect(QRectF(1, -13, 3, 3));
  p.restore();

  // The case, seen from above: a dark top panel with a lighter bevel.
  const QRectF body(14, 62, 252, 160);
  shadedSlab(p, body, 22, QLinearGradient(body.topLeft(), body.bottomLeft()),
             dark ? QColor(0x4b, 0x53, 0x64) : QColor(0x3a, 0x40, 0x4e),
             dark ? QColor(0x2a, 0x2f, 0x3b) : QColor(0x1c, 0x1f, 0x27));
  if (dark) {
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 255, 255, 70), 1.5));
    p.drawRoundedRect(body.adjusted(0.75, 0.75, -0.75, -0.75), 21, 21);
  }
  const QRectF panel = body.adjusted(8, 8, -8, -8);
  QLinearGradient plate(panel.topLeft(), panel.bottomRight());
  plate.setColorAt(0, QColor(0x2c, 0x32, 0x3f));
  plate.setColorAt(1, QColor(0x22, 0x26, 0x30));
  p.setBrush(plate);
  p.setPen(QPen(QColor(255, 255, 255, 28), 1.2));
  p.drawRoundedRect(panel, 16, 16);

  // Lever: dust washer, then the ball top.
  const QPointF lever(72, 146);
  p.setPen(Qt::NoPen);
  QRadialGradient washer(lever, 34);
  washer.setColorAt(0, QColor(0x12, 0x14, 0x1a));
  washer.setColorAt(1, QColor(0x2e, 0x33, 0x3f));
  p.setBrush(washer);
  p.drawEllipse(lever, 34, 34);
  p.setBrush(QColor(0, 0, 0, 110));
  p.drawEllipse(lever + QPointF(3, 5), 21, 21);
  QRadialGradient ball(lever - QPointF(7, 8), 28);
  ball.setColorAt(0, QColor(0xff, 0x8a, 0x80));
  ball.setColorAt(0.5, QColor(0xe5, 0x39, 0x35));
  ball.setColorAt(1, QColor(0x9a, 0x1b, 0x1b));
  p.setBrush(ball);
  p.drawEllipse(lever, 21, 21);
  p.setBrush(QColor(255, 255, 255, 150));
  p.drawEllipse(lever - QPointF(7, 9), 6, 4);

  // Eight play buttons in the usual curved two-row arrangement.
  const QColor playTop(0x3b, 0x82, 0xf6);
  const QColor playBottom(0xf5, 0xf7, 0xfa);
  const qreal xs[] = {132, 164, 198, 232};
  const qreal lift[] = {8, 0, 0, 4};
  for (int i = 0; i < 4; ++i) {
    arcadeButton(p, QPointF(xs[i], 130 - lift[i]), 13, playTop);
    arcadeButton(p, QPointF(xs[i] - 4, 170 - lift[i]), 13, playBottom);
  }

  // The board's own button, the one to hold while plugging in, glows so it is found at once.
  const QPointF hold(150, 88);
  for (int ring = 4; ring > 0; --ring) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xff, 0xc1, 0x07, 26 + 8 * (4 - ring)));
    p.drawEllipse(hold, 8 + ring * 4.0, 8 + ring * 4.0);
  }
  p.setPen(QPen(QColor(0xff, 0xd5, 0x4f), 2));
  p.setBrush(QColor(0xff, 0xb3, 0x00));
  p.drawEllipse(hold, 7, 7);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 255, 255, 160));
  p.drawEllipse(hold - QPointF(2, 2.5), 2.5, 1.8);

  // A pointer from above says "this one".
  QPainterPath arrow;
  arrow.moveTo(150, 62);
  arrow.lineTo(140, 48);
  arrow.lineTo(146, 48);
  arrow.lineTo(146, 30);
  arrow.lineTo(154, 30);
  arrow.lineTo(154, 48);
  arrow.lineTo(160, 48);
  arrow.closeSubpath();
  p.setPen(QPen(QColor(0x8a, 0x5a, 0x00), 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(QColor(0xff, 0xc1, 0x07));
  p.drawPath(arrow);
}

void loadingPicture(QPainter& p) {
  const QPointF centre(kPictureWidth / 2.0, 108);
  // A cloud built from overlapping circles, then a download arrow falling out of it.
  QPainterPath cloud;
  cloud.setFillRule(Qt::WindingFill);  // so that simplified() unites the puffs into one outline
  cloud.addEllipse(centre + QPointF(-52, 10), 40, 34);
  cloud.addEllipse(centre + QPointF(-8, -16), 52, 50);
  cloud.addEllipse(centre + QPointF(46, 6), 42, 38);
  cloud.addRoundedRect(QRectF(centre.x() - 92, centre.y() + 4, 184, 40), 20, 20);
  cloud = cloud.simplified();
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(15, 23, 42, 30));
  p.drawPath(cloud.translated(0, 6));
  QLinearGradient sky(centre - QPointF(0, 66), centre + QPointF(0, 44));
  sky.setColorAt(0, QColor(0xe3, 0xf0, 0xff));
  sky.setColorAt(1, QColor(0xbf, 0xdb, 0xfe));
  p.setBrush(sky);
  p.setPen(QPen(QColor(0x93, 0xc5, 0xfd), 2));
  p.drawPath(cloud);

  QPainterPath arrow;
  arrow.moveTo(centre + QPointF(-11, -20));
  arrow.lineTo(centre + QPointF(11, -20));
  arrow.lineTo(centre + QPointF(11, 24));
  arrow.lineTo(centre + QPointF(30, 24));
  arrow.lineTo(centre + QPointF(0, 58));
  arrow.lineTo(centre + QPointF(-30, 24));
  arrow.lineTo(centre + QPointF(-11, 24));
  arrow.closeSubpath();
  QLinearGradient fall(centre - QPointF(0, 20), centre + QPointF(0, 58));
  fall.setColorAt(0, kAccent.lighter(120));
  fall.setColorAt(1, kAccent);
  p.setBrush(fall);
  p.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawPath(arrow);

  // Three dots of rising strength: a picture of "under way" that needs no animation.
  for (int i = 0; i < 3; ++i) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(kAccent.red(), kAccent.green(), kAccent.blue(), 90 + 70 * i));
    p.drawEllipse(QPointF(centre.x() - 24 + 24 * i, 210), 6, 6);
  }
}

void applicationIcon(QPainter& p) {
  const QRectF tile(8, 8, kIconSize - 16, kIconSize - 16);
  shadedSlab(p, tile, 52, QLinearGradient(tile.topLeft(), tile.bottomRight()),
             QColor(0x1e, 0x3a, 0x8a), QColor(0x0f, 0x76, 0x6e));

  const QPointF centre = tile.center();
  // The update arrow circles an arcade button: this tool renews what is under the button.
  const qreal orbit = 78;
  const QRectF orbitBox(centre.x() - orbit, centre.y() - orbit, 2 * orbit, 2 * orbit);
  const qreal start = 100;  // degrees, counter-clockwise from three o'clock as Qt counts them
  const qreal sweep = 290;  // drawn clockwise, leaving the gap at the top
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(Qt::white, 16, Qt::SolidLine, Qt::FlatCap));
  p.drawArc(orbitBox, static_cast<int>(start * 16), static_cast<int>(-sweep * 16));
  // The head sits on the arc's end and points on along it, clockwise.
  const qreal end = qDegreesToRadians(start - sweep);
  const QPointF radial(std::cos(end), -std::sin(end));
  const QPointF along(std::sin(end), std::cos(end));
  const QPointF tip = centre + radial * orbit;
  QPainterPath head;
  head.moveTo(tip + along * 30);
  head.lineTo(tip + radial * 22 - along * 2);
  head.lineTo(tip - radial * 22 - along * 2);
  head.closeSubpath();
  p.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::white);
  p.drawPath(head);

  arcadeButton(p, centre, 46, QColor(0xef, 0x44, 0x44));
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: trident-make-artwork IMAGES_DIR ICON_FILE\n");
    return 2;
  }
  const QString icon = QString::fromLocal8Bit(argv[2]);
  if (!icon.endsWith(".png")) {
    std::fprintf(stderr, "trident-make-artwork: %s: the icon must be a .png file\n", argv[2]);
    return 2;
  }
  const QDir images(QString::fromLocal8Bit(argv[1]));
  if (!images.mkpath(".")) {
    std::fprintf(stderr, "trident-make-artwork: cannot create %s\n", argv[1]);
    return 1;
  }
  // NAME.png and NAME@2x.png.
  const auto bothScales = [](const QString& file, int width, int height, const Painting& paint) {
    const QString base = file.chopped(4);  // without ".png"
    return save(base + ".png", width, height, 1, paint) &&
           save(base + "@2x.png", width, height, 2, paint);
  };
  auto picture = [&](const QString& name, const Painting& paint) {
    return bothScales(images.filePath(name + ".png"), kPictureWidth, kPictureHeight, paint);
  };
  // The light look under NAME, the dark one under NAME-dark.
  auto lookPicture = [&](const QString& name, const std::function<void(QPainter&, Look)>& paint) {
    return picture(name, [&](QPainter& p) { paint(p, Look::light); }) &&
           picture(name + "-dark", [&](QPainter& p) { paint(p, Look::dark); });
  };

  bool ok = true;
  for (int step = 0; step <= kProgressSteps; ++step) {
    ok &= lookPicture(QString::number(step),
                      [step](QPainter& p, Look look) { progressGauge(p, step, look); });
  }
  ok &= picture("complete", completeMark);
  ok &= picture("failed", failedMark);
  ok &= lookPicture("device", devicePicture);
  ok &= picture("loading", loadingPicture);
  ok &= bothScales(icon, kIconSize, kIconSize, applicationIcon);
  return ok ? 0 : 1;
}
