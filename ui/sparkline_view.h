#pragma once

#include <QColor>
#include <QImage>
#include <QPolygonF>
#include <QSizeF>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <optional>
#include <vector>

#include "state/history_point_list.h"
#include "ui/on_screen_painted_item.h"

namespace orvinta {

// Which loudness of a history point a sparkline draws, named by the meter selector's raw values:
// "M" the momentary loudness, "S" the short-term loudness. Anything else draws no line.
enum class SparklineMetric { momentary, shortTerm };
std::optional<SparklineMetric> sparklineMetricFromRawValue(const QString& rawValue);
double sparklineValue(const HistoryPoint& point, SparklineMetric metric);

// Vertical position of loudness v in a drawing of height h: the top edge for maxLUFS and above,
// the bottom edge for minLUFS and below (and for anything that is not a number).
double sparklineY(double v, double minLUFS, double maxLUFS, double h);

// Levels of the horizontal grid lines: 0, -15, -30, ... down to minLUFS; none when minLUFS is
// above 0 or not finite. At most 400 lines, so an absurd range cannot stall the UI thread.
std::vector<double> sparklineGridLevels(double minLUFS);

// Positions of the line's points in a drawing of the given size. The time axis ends at the
// newest point; until a full window has elapsed it starts at 0 s, so the line is stretched over
// the whole width. Points before the window and points whose value is not finite are skipped,
// so the line bridges silence with a straight segment between the neighbouring finite points.
QPolygonF sparklinePoints(const QList<HistoryPoint>& history, double windowSeconds,
                          SparklineMetric metric, double minLUFS, double maxLUFS, QSizeF size);

// Whether a new history moves the drawn line enough to repaint, given the newest point of the
// history last drawn (none when nothing was drawn): the newest loudness changed, time went
// back (a reset), or the line has scrolled by a pixel column of a drawing `width` wide and by a
// hop (100 ms) since. A history that only gains points carrying the same loudness (as between
// two hops) does not repaint at every hand-over.
bool sparklineMovesVisibly(const std::optional<HistoryPoint>& drawnNewest,
                           const QList<HistoryPoint>& history, double windowSeconds,
                           SparklineMetric metric, double width);

// A short loudness history as one line over a fixed time window ending at the newest point, on
// a small dark panel with a faint grid. Lives on the UI thread; redrawn whenever a property
// changes. The grid is cached per size and scale.
class SparklineView : public OnScreenPaintedItem {
    Q_OBJECT
    QML_ELEMENT

    Q_PROPERTY(
        orvinta::HistoryPointList history READ history WRITE setHistory NOTIFY historyChanged FINAL)
    Q_PROPERTY(double windowSeconds READ windowSeconds WRITE setWindowSeconds NOTIFY
                   windowSecondsChanged FINAL)
    // The loudness to draw: "M" (momentary) or "S" (short-term).
    Q_PROPERTY(QString metric READ metric WRITE setMetric NOTIFY metricChanged FINAL)
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY colorChanged FINAL)
    Q_PROPERTY(double minLUFS READ minLUFS WRITE setMinLUFS NOTIFY minLUFSChanged FINAL)
    Q_PROPERTY(double maxLUFS READ maxLUFS WRITE setMaxLUFS NOTIFY maxLUFSChanged FINAL)

public:
    explicit SparklineView(QQuickItem* parent = nullptr);

    HistoryPointList history() const { return history_; }
    void setHistory(const HistoryPointList& history);
    double windowSeconds() const { return windowSeconds_; }
    void setWindowSeconds(double seconds);
    QString metric() const { return metric_; }
    void setMetric(const QString& metric);
    QColor color() const { return color_; }
    void setColor(const QColor& color);
    double minLUFS() const { return minLUFS_; }
    void setMinLUFS(double lufs);
    double maxLUFS() const { return maxLUFS_; }
    void setMaxLUFS(double lufs);

    void paint(QPainter* painter) override;

signals:
    void historyChanged();
    void windowSecondsChanged();
    void metricChanged();
    void colorChanged();
    void minLUFSChanged();
    void maxLUFSChanged();

private:
    void drawGrid(QPainter* painter, QSizeF size) const;

    HistoryPointList history_;
    double windowSeconds_ = 60.0;
    QString metric_ = QStringLiteral("S");
    QColor color_;
    double minLUFS_ = -60.0;
    double maxLUFS_ = 0.0;

    // The newest point of the history when a repaint was last scheduled for it.
    std::optional<HistoryPoint> drawnNewest_;
    // Background and grid, rebuilt when the size, the scale or the level range changes.
    QImage gridCache_;
    double gridCacheMin_ = 0.0;
    double gridCacheMax_ = 0.0;
};

}  // namespace orvinta
