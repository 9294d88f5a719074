#pragma once

#include <QList>
#include <QMetaType>

#include "state/history_point.h"

namespace orvinta {

// The history as one opaque value that QML passes from AppState to the sparkline item
// without converting it to a script array. Copies share the data.
class HistoryPointList {
    Q_GADGET
    Q_PROPERTY(int size READ size)

public:
    HistoryPointList() = default;
    explicit HistoryPointList(QList<HistoryPoint> points) : points_(std::move(points)) {}

    const QList<HistoryPoint>& points() const { return points_; }
    int size() const { return static_cast<int>(points_.size()); }

    friend bool operator==(const HistoryPointList&, const HistoryPointList&) = default;

private:
    QList<HistoryPoint> points_;
};

}  // namespace orvinta

Q_DECLARE_METATYPE(orvinta::HistoryPointList)
