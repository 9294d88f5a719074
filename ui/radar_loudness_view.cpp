#include "ui/radar_loudness_view.h"

#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "ui/canvas_painting.h"
#include "ui/item_property.h"
#include "ui/paint_layer.h"
#include "ui/theme.h"
#include "ui/view_values.h"

namespace orvinta {

namespace {

constexpr double kStubRadius = 2.5;
constexpr double kMinSide = 220.0;
// A wedge whose corner moves by less than this many points looks the same.
constexpr double kVisibleRadiusStep = 0.1;
// Device rows of one band of the sweep line.
constexpr double kSweepBandRows = 24.0;

// Draws text centred on a point.
void drawCentredText(QPainter* painter, QPointF centre, const QString& text) {
    constexpr double kBox = 400.0;
    painter->drawText(QRectF(centre.x() - kBox / 2, centre.y() - kBox / 2, kBox, kBox),
                      Qt::AlignCenter, text);
}

}  // namespace

int radarBucketIndex(double elapsedSeconds, double cycleSeconds, int bucketCount) {
    if (bucketCount <= 0) {
        return 0;
    }
    double phase = cycleSeconds > 0.0 ? std::fmod(elapsedSeconds, cycleSeconds) : 0.0;
    if (std::isnan(phase)) {
        phase = 0.0;
    }
    const double position = phase / std::max(cycleSeconds, 0.001) * bucketCount;
    const double whole = std::trunc(position);
    if (!(whole > 0.0)) {
        return 0;
    }
    if (whole >= bucketCount - 1) {
        return bucketCount - 1;
    }
    return static_cast<int>(whole);
}

double radarBucketAngle(int index, int bucketCount) {
    if (bucketCount <= 0) {
        return -90.0;
    }
    return static_cast<double>(index) / bucketCount * 360.0 - 90.0;
}

QPointF radarPoint(QPointF centre, double radius, double angleDegrees) {
    const double radians = angleDegrees * std::numbers::pi / 180.0;
    return {centre.x() + radius * std::cos(radians), centre.y() + radius * std::sin(radians)};
}

double radarBucketRadius(const std::optional<double>& value, double minLUFS, double maxLUFS,
                         double dialRadius) {
    if (!value) {
        return 0.0;
    }
    if (!std::isfinite(*value)) {
        return kStubRadius;
    }
    const double f = (*value - minLUFS) / (maxLUFS - minLUFS);
    if (!(f > 0.0)) {
        return kStubRadius;
    }
    if (f > 1.0) {
        return std::max(dialRadius, kStubRadius);
    }
    return std::max(dialRadius * f, kStubRadius);
}

double radarWedgeOpacity(int index, int currentBucket, int bucketCount) {
    if (bucketCount <= 1) {
        return 0.9;
    }
    const int age = ((currentBucket - index) % bucketCount + bucketCount) % bucketCount;
    return 0.9 - 0.6 * age / (bucketCount - 1);
}

double radarTargetFraction(double targetLUFS, double minLUFS, double maxLUFS) {
    if (!std::isfinite(targetLUFS)) {
        return 0.0;
    }
    const double t = (targetLUFS - minLUFS) / (maxLUFS - minLUFS);
    if (!(t > 0.0)) {
        return 0.0;
    }
    return std::min(t, 1.0);
}

QPolygonF radarTracePolygon(const RadarBuckets& buckets, QPointF centre, double dialRadius,
                            double minLUFS, double maxLUFS) {
    QPolygonF polygon;
    const int count = static_cast<int>(buckets.size());
    polygon.reserve(count);
    for (int i = 0; i < count; ++i) {
        const double r =
            radarBucketRadius(buckets[static_cast<std::size_t>(i)], minLUFS, maxLUFS, dialRadius);
        polygon.append(radarPoint(centre, r, radarBucketAngle(i, count)));
    }
    return polygon;
}

int radarPixelBucket(double dx, double dy, int bucketCount) {
    if (bucketCount <= 0) {
        return 0;
    }
    // Clockwise from twelve o'clock with y pointing down: atan2(dx, -dy), in 0 ... 2 pi.
    double turn = std::atan2(dx, -dy) / (2.0 * std::numbers::pi);
    if (turn < 0.0) {
        turn += 1.0;
    }
    const int index = static_cast<int>(turn * bucketCount);
    return std::clamp(index, 0, bucketCount - 1);
}

void radarRecord(RadarBuckets& buckets, double& lastElapsed, double elapsedSeconds,
                 double momentaryLUFS, double minLUFS, double cycleSeconds) {
    if (elapsedSeconds < lastElapsed - 1.0) {
        std::fill(buckets.begin(), buckets.end(), std::nullopt);
    }
    lastElapsed = elapsedSeconds;
    if (buckets.empty()) {
        return;
    }
    const int count = static_cast<int>(buckets.size());
    const int index = radarBucketIndex(elapsedSeconds, cycleSeconds, count);
    buckets[static_cast<std::size_t>(index)] =
        std::isfinite(momentaryLUFS) ? momentaryLUFS : minLUFS;
}

QRectF radarDrawingRect(QSizeF size) {
    const double side = std::max(0.0, std::min(size.width(), size.height()));
    return QRectF((size.width() - side) / 2.0, (size.height() - side) / 2.0, side, side);
}

RadarLoudnessView::RadarLoudnessView(QQuickItem* parent)
    : OnScreenPaintedItem(parent), momentaryLUFS_(-std::numeric_limits<double>::infinity()) {
    setAntialiasing(true);
    setImplicitWidth(kMinSide);
    setImplicitHeight(kMinSide);
    buckets_.assign(static_cast<std::size_t>(bucketCount_), std::nullopt);
}

void RadarLoudnessView::classBegin() {
    OnScreenPaintedItem::classBegin();
    building_ = true;
}

void RadarLoudnessView::componentComplete() {
    building_ = false;
    OnScreenPaintedItem::componentComplete();
}

void RadarLoudnessView::geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) {
    OnScreenPaintedItem::geometryChange(newGeometry, oldGeometry);
    if (radarDrawingRect(newGeometry.size()) != radarDrawingRect(oldGeometry.size())) {
        emit drawingFrameChanged();
    }
}

void RadarLoudnessView::clearTrace() {
    buckets_.assign(static_cast<std::size_t>(std::clamp(bucketCount_, 0, kMaxRadarBucketCount)),
                    std::nullopt);
    lastElapsed_ = -1.0;
}

// The loudness is drawn only once an elapsed time records it, so a new value alone does not
// repaint.
void RadarLoudnessView::setMomentaryLUFS(double lufs) {
    if (sameDouble(momentaryLUFS_, lufs)) {
        return;
    }
    momentaryLUFS_ = lufs;
    emit momentaryLUFSChanged();
}

bool RadarLoudnessView::traceMovesVisibly(const RadarBuckets& before) const {
    if (before.size() != buckets_.size()) {
        return true;
    }
    const double dial = radarDialRadius(radarDrawingRect(size()).width());
    for (std::size_t i = 0; i < before.size(); ++i) {
        if (before[i].has_value() != buckets_[i].has_value() ||
            !(std::abs(radarBucketRadius(before[i], minLUFS_, maxLUFS_, dial) -
                       radarBucketRadius(buckets_[i], minLUFS_, maxLUFS_, dial)) <
              kVisibleRadiusStep)) {
            return true;
        }
    }
    return false;
}

// A new elapsed time repaints only when the picture changes: the sweep reaches another bucket,
// or the loudness recorded in a bucket moves its wedge visibly (at most once a hop).
void RadarLoudnessView::setElapsedSeconds(double seconds) {
    if (sameDouble(elapsedSeconds_, seconds)) {
        return;
    }
    const int count = static_cast<int>(buckets_.size());
    const int sweepBefore = radarBucketIndex(elapsedSeconds_, cycleSeconds_, count);
    const RadarBuckets before = building_ ? RadarBuckets() : buckets_;
    elapsedSeconds_ = seconds;
    if (!building_) {
        radarRecord(buckets_, lastElapsed_, seconds, momentaryLUFS_, minLUFS_, cycleSeconds_);
    }
    if (building_ || traceMovesVisibly(before) ||
        sweepBefore != radarBucketIndex(seconds, cycleSeconds_, count)) {
        update();
    }
    emit elapsedSecondsChanged();
}

void RadarLoudnessView::setCycleSeconds(double seconds) {
    setItemProperty(this, cycleSeconds_, seconds, &RadarLoudnessView::cycleSecondsChanged);
}

void RadarLoudnessView::setTargetLUFS(const QVariant& lufs) {
    setItemProperty(this, targetLUFS_, lufs, &RadarLoudnessView::targetLUFSChanged);
}

void RadarLoudnessView::setMinLUFS(double lufs) {
    setItemProperty(this, minLUFS_, lufs, &RadarLoudnessView::minLUFSChanged);
}

void RadarLoudnessView::setMaxLUFS(double lufs) {
    setItemProperty(this, maxLUFS_, lufs, &RadarLoudnessView::maxLUFSChanged);
}

void RadarLoudnessView::setBucketCount(int count) {
    // The stored steps belong to the old angular grid; start a fresh trace on the new one.
    setItemProperty(this, bucketCount_, count, &RadarLoudnessView::bucketCountChanged,
                    [this] { clearTrace(); });
}

void RadarLoudnessView::setIdentity(int identity) {
    setItemProperty(this, identity_, identity, &RadarLoudnessView::identityChanged,
                    [this] { clearTrace(); });
}

void RadarLoudnessView::ensureCache(QSizeF side, qreal dpr) {
    const CacheKey key{side, dpr, minLUFS_, maxLUFS_, targetLUFS_, layerBase(*this)};
    if (key == cacheKey_ && !dialLayer_.isNull()) {
        return;
    }
    cacheKey_ = key;
    dialLayer_ = makeBaseLayer(side, dpr, key.base);
    // The disc is used as a brush texture, placed by a transform, so it carries no pixel ratio.
    rampDisc_ = makeTransparentLayer(side * dpr, 1.0);
    wedgeLayer_ = makeTransparentLayer(side, dpr);
    if (dialLayer_.isNull() || rampDisc_.isNull() || wedgeLayer_.isNull()) {
        return;
    }

    const double w = side.width();
    const double h = side.height();
    const QPointF c(w / 2.0, h / 2.0);
    const double R = radarDialRadius(std::min(w, h));
    const double span = maxLUFS_ - minLUFS_;

    {
        QPainter disc(&rampDisc_);
        disc.scale(dpr, dpr);
        QRadialGradient ramp(c, R);
        for (const ColorStop& stop : loudnessRampStops()) {
            ramp.setColorAt(stop.location, stop.color);
        }
        ramp.setSpread(QGradient::PadSpread);
        disc.fillRect(QRectF(0.0, 0.0, w, h), ramp);
    }

    QPainter p(&dialLayer_);
    drawLayerInPoints(p);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    // Framing: grey 0.1 on a rounded square that also clips everything drawn over it.
    QPainterPath frame;
    frame.addRoundedRect(QRectF(0.0, 0.0, w, h), 8.0, 8.0);
    p.fillPath(frame, Theme::canvasBackground());
    p.setClipPath(frame);

    // Dial.
    QRadialGradient dial(c, R);
    dial.setColorAt(0.0, QColor::fromRgbF(0.05f, 0.11f, 0.09f));
    dial.setColorAt(1.0, QColor::fromRgbF(0.015f, 0.02f, 0.02f));
    p.setPen(Qt::NoPen);
    p.setBrush(dial);
    p.drawEllipse(c, R, R);

    // Spokes every 45 degrees from twelve o'clock; the four main ones stronger.
    for (int k = 0; k < 8; ++k) {
        const bool main = k % 2 == 0;
        QPen pen(Theme::whiteAlpha(main ? 0.22 : 0.1), main ? 1.8 : 1.2);
        p.setPen(pen);
        p.drawLine(c, radarPoint(c, R, k * 45.0 - 90.0));
    }

    // Scale rings at a quarter and half of the radius, each labelled top, right and left.
    p.setBrush(Qt::NoBrush);
    p.setFont(Theme::font(13));
    for (double fraction : {0.25, 0.5}) {
        const double r = R * fraction;
        p.setPen(QPen(Theme::whiteAlpha(0.18), 1.4));
        p.drawEllipse(c, r, r);
        const QString text = QString::asprintf("%.0f", minLUFS_ + span * fraction);
        p.setPen(Theme::whiteAlpha(0.6));
        drawCentredText(&p, QPointF(c.x(), c.y() - r), text);
        drawCentredText(&p, QPointF(c.x() + r, c.y()), text);
        drawCentredText(&p, QPointF(c.x() - r, c.y()), text);
    }

    // Rim.
    p.setPen(QPen(Theme::whiteAlpha(0.15), 2.0));
    p.drawEllipse(c, R, R);

    // Captions of the two ends of the scale.
    p.setFont(Theme::font(12));
    p.setPen(Theme::whiteAlpha(0.55));
    drawCentredText(&p, QPointF(c.x(), c.y() - R + 11.0),
                    QStringLiteral("OUTER (MAX) ") + QString::asprintf("%.0f", maxLUFS_));
    drawCentredText(&p, QPointF(c.x(), c.y() + 12.0),
                    QStringLiteral("CENTER (MIN) ") + QString::asprintf("%.0f", minLUFS_));

    // Centre dot.
    p.setPen(Qt::NoPen);
    p.setBrush(Theme::whiteAlpha(0.5));
    p.drawEllipse(c, 2.0, 2.0);

    // Target ring: dashed 8 on, 5 off (the pattern is given in units of the pen width).
    if (const std::optional<double> target = optionalDouble(targetLUFS_)) {
        const double r = R * radarTargetFraction(*target, minLUFS_, maxLUFS_);
        QPen pen(Theme::yellow(), 2.0, Qt::CustomDashLine, Qt::FlatCap, Qt::MiterJoin);
        pen.setMiterLimit(10.0);
        pen.setDashPattern({8.0 / 2.0, 5.0 / 2.0});
        pen.setDashOffset(0.0);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(c, r, r);
    }
}

void RadarLoudnessView::fadeByAge(const QRectF& bounds, qreal dpr, int current, int count) {
    const int width = wedgeLayer_.width();
    const int height = wedgeLayer_.height();
    if (pixelBucketsCount_ != count || pixelBuckets_.size() != std::size_t(width) * height) {
        // Bucket of every pixel centre, by its angle around the centre of the square.
        pixelBuckets_.resize(std::size_t(width) * height);
        const double cx = width / 2.0;
        const double cy = height / 2.0;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                pixelBuckets_[std::size_t(y) * width + x] =
                    static_cast<quint16>(radarPixelBucket(x + 0.5 - cx, y + 0.5 - cy, count));
            }
        }
        pixelBucketsCount_ = count;
    }
    // Opacity of each bucket for this position of the sweep, in 1/256 steps.
    ageAlpha_.resize(static_cast<std::size_t>(count));
    for (int b = 0; b < count; ++b) {
        ageAlpha_[static_cast<std::size_t>(b)] =
            static_cast<quint32>(std::lround(radarWedgeOpacity(b, current, count) * 256.0));
    }
    const int top = std::clamp(static_cast<int>(std::floor(bounds.top() * dpr)) - 1, 0, height);
    const int bottom =
        std::clamp(static_cast<int>(std::ceil(bounds.bottom() * dpr)) + 1, 0, height);
    const int left = std::clamp(static_cast<int>(std::floor(bounds.left() * dpr)) - 1, 0, width);
    const int right = std::clamp(static_cast<int>(std::ceil(bounds.right() * dpr)) + 1, 0, width);
    const int rampStride = rampDisc_.bytesPerLine() / 4;
    const auto* rampBits = reinterpret_cast<const quint32*>(rampDisc_.constBits());
    for (int y = top; y < bottom; ++y) {
        auto* line = reinterpret_cast<quint32*>(wedgeLayer_.scanLine(y));
        const quint32* ramp = rampBits + std::ptrdiff_t(y) * rampStride;
        const quint16* buckets = pixelBuckets_.data() + std::size_t(y) * width;
        for (int x = left; x < right; ++x) {
            // The wedges were filled in white: each pixel's alpha is the trace's coverage.
            const quint32 coverage = qAlpha(line[x]);
            if (coverage == 0) {
                continue;
            }
            // The ramp's colour at this distance from the centre, covered and faded; premultiplied,
            // so all four channels scale alike, two at a time.
            const quint32 pixel = ramp[x];
            const quint32 alpha = (ageAlpha_[buckets[x]] * (coverage + (coverage >> 7))) >> 8;
            const quint32 redBlue = (((pixel & 0x00ff00ffu) * alpha) >> 8) & 0x00ff00ffu;
            const quint32 alphaGreen = (((pixel >> 8) & 0x00ff00ffu) * alpha) & 0xff00ff00u;
            line[x] = redBlue | alphaGreen;
        }
    }
}

void RadarLoudnessView::paint(QPainter* painter) {
    blitCachedLayersPlainly(painter);
    const QRectF area = radarDrawingRect(size());
    if (area.width() <= 0.0) {
        return;
    }
    const qreal dpr = paintScale(painter);
    ensureCache(area.size(), dpr);
    painter->drawImage(area.topLeft(), dialLayer_);

    const QPointF c(area.width() / 2.0, area.height() / 2.0);
    const double R = radarDialRadius(area.width());
    const int count = static_cast<int>(buckets_.size());
    const int current = radarBucketIndex(elapsedSeconds_, cycleSeconds_, count);

    const bool anyStored =
        std::any_of(buckets_.begin(), buckets_.end(), [](const auto& v) { return v.has_value(); });
    if (count > 0 && anyStored && !rampDisc_.isNull() && !wedgeLayer_.isNull()) {
        // The wedges of neighbouring buckets share their edges, so together they form one
        // polygon around the centre: filled at once it shows no seams between wedges. Then every
        // covered pixel takes the cached ramp disc's colour, faded by the age of the bucket its
        // angle falls in, looked up in a cached map of pixel buckets.
        wedgeLayer_.fill(Qt::transparent);
        const QPolygonF trace = radarTracePolygon(buckets_, c, R, minLUFS_, maxLUFS_);
        {
            QPainter layer(&wedgeLayer_);
            drawLayerInPoints(layer);
            layer.setRenderHint(QPainter::Antialiasing);
            layer.setPen(Qt::NoPen);
            layer.setBrush(Qt::white);
            layer.drawPolygon(trace);
        }
        fadeByAge(trace.boundingRect(), dpr, current, count);
        painter->drawImage(area.topLeft(), wedgeLayer_);
    }

    // Sweep, in whole buckets.
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(QPen(Theme::whiteAlpha(0.5), 1.8));
    const QPointF centre = area.topLeft() + c;
    const QLineF sweep(centre,
                       radarPoint(centre, R, radarBucketAngle(current, std::max(count, 1))));
    // In bands of a few rows: the raster engine hands a line that makes a hundred spans or more
    // to QGuiApplication's thread pool and waits for it, which costs more than the line.
    const QRectF reach = QRectF(sweep.p1(), sweep.p2()).normalized().adjusted(-2, -2, 2, 2);
    // Bands that start and end on whole device rows, so that no pixel is drawn twice.
    const double scale = paintScale(painter);
    const double band = kSweepBandRows / scale;
    painter->save();
    for (double top = std::floor(reach.top() * scale) / scale; top < reach.bottom(); top += band) {
        painter->setClipRect(QRectF(reach.left(), top, reach.width(), band));
        painter->drawLine(sweep);
    }
    painter->restore();
}

}  // namespace orvinta
