#pragma once

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QPolygonF>
#include <QRectF>
#include <QVariant>
#include <QtQml/qqmlregistration.h>

#include <optional>
#include <vector>

#include "ui/on_screen_painted_item.h"

namespace orvinta {

// At most this many buckets per turn (a tenth of a degree each); a larger count is taken as
// this one.
inline constexpr int kMaxRadarBucketCount = 3600;

// The buckets of one turn of the radar: the loudness stored for each angular step, or nothing.
using RadarBuckets = std::vector<std::optional<double>>;

// Bucket of time e in a cycle: the phase fmod(e, cycleSeconds) (0 for a cycle that is not
// positive) as a share of the cycle times bucketCount, truncated and clamped to the buckets.
int radarBucketIndex(double elapsedSeconds, double cycleSeconds, int bucketCount);

// Screen angle of bucket k in degrees, y pointing down: bucket 0 at twelve o'clock (-90),
// growing clockwise.
double radarBucketAngle(int index, int bucketCount);

// The point at the given screen angle (degrees) and radius from the centre.
QPointF radarPoint(QPointF centre, double radius, double angleDegrees);

// Outer radius R of the dial in a square drawing of the given side: 88 % of half the side.
inline double radarDialRadius(double side) {
    return side / 2.0 * 0.88;
}

// Radius of a bucket's wedge corner: 0 when empty; a 2.5-point stub for a value that is not
// finite or not above minLUFS; the rim for a value above maxLUFS; otherwise in proportion,
// never below the stub.
double radarBucketRadius(const std::optional<double>& value, double minLUFS, double maxLUFS,
                         double dialRadius);

// Opacity of bucket i's wedge while the sweep stands at bucket c: 0.9 for the current bucket,
// falling linearly with age to 0.3 for the bucket just ahead of the sweep.
double radarWedgeOpacity(int index, int currentBucket, int bucketCount);

// Share of the dial radius at which the target ring is drawn: the target's place on the scale,
// at most 1, and 0 for a target that is not finite or not above minLUFS.
double radarTargetFraction(double targetLUFS, double minLUFS, double maxLUFS);

// The outline of all wedges at once: the corner of every bucket (the centre for an empty one)
// in bucket order. Wedge i is the triangle from the centre to corners i and i + 1, so the
// triangles tile this polygon.
QPolygonF radarTracePolygon(const RadarBuckets& buckets, QPointF centre, double dialRadius,
                            double minLUFS, double maxLUFS);

// Bucket whose angle a point at offset (dx, dy) from the centre lies in (screen coordinates, y
// down): bucket 0 from twelve o'clock clockwise for 1/bucketCount of a turn, and so on.
int radarPixelBucket(double dx, double dy, int bucketCount);

// Records a new elapsed time: clears every bucket when time went back by more than a second,
// then stores the momentary loudness (minLUFS in silence) in the bucket of e.
void radarRecord(RadarBuckets& buckets, double& lastElapsed, double elapsedSeconds,
                 double momentaryLUFS, double minLUFS, double cycleSeconds);

// The square drawing area of the radar: the largest centred square in an item of this size.
QRectF radarDrawingRect(QSizeF size);

// A loudness radar: momentary loudness over one turn of a sweep that goes clockwise from
// twelve o'clock, one wedge per angular step, the newest most opaque, with a dashed target
// ring. Lives on the UI thread and keeps the per-step history itself, which a change of
// `identity` discards. The dial, rings, captions and target ring are cached as one image per
// size and scale; the wedges are filled as one white polygon, whose coverage then takes each
// pixel's colour from a cached disc of the loudness ramp and its fade from the age of the
// pixel's bucket, so a frame builds no gradient and draws no seams between wedges.
class RadarLoudnessView : public OnScreenPaintedItem {
    Q_OBJECT
    QML_ELEMENT

    Q_PROPERTY(double momentaryLUFS READ momentaryLUFS WRITE setMomentaryLUFS NOTIFY
                   momentaryLUFSChanged FINAL)
    Q_PROPERTY(double elapsedSeconds READ elapsedSeconds WRITE setElapsedSeconds NOTIFY
                   elapsedSecondsChanged FINAL)
    Q_PROPERTY(double cycleSeconds READ cycleSeconds WRITE setCycleSeconds NOTIFY
                   cycleSecondsChanged FINAL)
    // A number, or undefined for no target ring.
    Q_PROPERTY(
        QVariant targetLUFS READ targetLUFS WRITE setTargetLUFS NOTIFY targetLUFSChanged FINAL)
    Q_PROPERTY(double minLUFS READ minLUFS WRITE setMinLUFS NOTIFY minLUFSChanged FINAL)
    Q_PROPERTY(double maxLUFS READ maxLUFS WRITE setMaxLUFS NOTIFY maxLUFSChanged FINAL)
    Q_PROPERTY(
        int bucketCount READ bucketCount WRITE setBucketCount NOTIFY bucketCountChanged FINAL)
    // Any change starts the view afresh: empty buckets.
    Q_PROPERTY(int identity READ identity WRITE setIdentity NOTIFY identityChanged FINAL)
    // The square the radar is drawn in, in item coordinates.
    Q_PROPERTY(QRectF drawingFrame READ drawingFrame NOTIFY drawingFrameChanged FINAL)

public:
    explicit RadarLoudnessView(QQuickItem* parent = nullptr);

    double momentaryLUFS() const { return momentaryLUFS_; }
    void setMomentaryLUFS(double lufs);
    double elapsedSeconds() const { return elapsedSeconds_; }
    void setElapsedSeconds(double seconds);
    double cycleSeconds() const { return cycleSeconds_; }
    void setCycleSeconds(double seconds);
    QVariant targetLUFS() const { return targetLUFS_; }
    void setTargetLUFS(const QVariant& lufs);
    double minLUFS() const { return minLUFS_; }
    void setMinLUFS(double lufs);
    double maxLUFS() const { return maxLUFS_; }
    void setMaxLUFS(double lufs);
    int bucketCount() const { return bucketCount_; }
    void setBucketCount(int count);
    int identity() const { return identity_; }
    void setIdentity(int identity);
    QRectF drawingFrame() const { return radarDrawingRect(size()); }

    const RadarBuckets& buckets() const { return buckets_; }
    double lastElapsed() const { return lastElapsed_; }

    void paint(QPainter* painter) override;

signals:
    void momentaryLUFSChanged();
    void elapsedSecondsChanged();
    void cycleSecondsChanged();
    void targetLUFSChanged();
    void minLUFSChanged();
    void maxLUFSChanged();
    void bucketCountChanged();
    void identityChanged();
    void drawingFrameChanged();

protected:
    void classBegin() override;
    void componentComplete() override;
    void geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) override;

private:
    void clearTrace();
    // Whether the wedges drawn from `before` differ visibly from those of the current buckets.
    bool traceMovesVisibly(const RadarBuckets& before) const;
    void ensureCache(QSizeF side, qreal dpr);
    // Turns the white trace on the wedge layer within bounds into the ramp's colours, each pixel
    // faded by its bucket's opacity.
    void fadeByAge(const QRectF& bounds, qreal dpr, int current, int count);

    double momentaryLUFS_;
    double elapsedSeconds_ = 0.0;
    double cycleSeconds_ = 60.0;
    QVariant targetLUFS_;
    double minLUFS_ = -60.0;
    double maxLUFS_ = 0.0;
    int bucketCount_ = 180;
    int identity_ = 0;

    RadarBuckets buckets_;
    double lastElapsed_ = -1.0;
    // True between classBegin and componentComplete: the elapsed time set while QML builds the
    // item is the one present when it is first shown and is not recorded.
    bool building_ = false;

    struct CacheKey {
        QSizeF size;
        qreal dpr = 0.0;
        double minLUFS = 0.0;
        double maxLUFS = 0.0;
        QVariant target;
        QColor base;
        bool operator==(const CacheKey&) const = default;
    };
    CacheKey cacheKey_;
    // Background, dial, spokes, rings, captions, centre dot and target ring, over the item's
    // opaque fill colour when it has one.
    QImage dialLayer_;
    // The loudness ramp as a disc: each pixel coloured by its distance from the centre.
    QImage rampDisc_;
    // The frame's wedges before they are drawn; reused.
    QImage wedgeLayer_;
    // Bucket of every pixel of the wedge layer, for pixelBucketsCount_ buckets.
    std::vector<quint16> pixelBuckets_;
    int pixelBucketsCount_ = -1;
    // Opacity of each bucket in the current frame, 0 ... 256.
    std::vector<quint32> ageAlpha_;
};

}  // namespace orvinta
