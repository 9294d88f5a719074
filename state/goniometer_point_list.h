#pragma once

#include <QMetaType>

#include <memory>
#include <vector>

#include "measurement/loudness_snapshot.h"

namespace orvinta {

// The latest goniometer points as one opaque value that QML passes from AppState to the
// goniometer item without converting them to a script array. Copies share the data.
class GoniometerPointList {
    Q_GADGET
    Q_PROPERTY(int size READ size)

public:
    GoniometerPointList() = default;
    explicit GoniometerPointList(std::vector<GoniometerPoint> points)
        : points_(std::make_shared<const std::vector<GoniometerPoint>>(std::move(points))) {}

    const std::vector<GoniometerPoint>& points() const {
        static const std::vector<GoniometerPoint> empty;
        return points_ ? *points_ : empty;
    }
    int size() const { return static_cast<int>(points().size()); }

    friend bool operator==(const GoniometerPointList& a, const GoniometerPointList& b) {
        return a.points_ == b.points_ || a.points() == b.points();
    }

private:
    std::shared_ptr<const std::vector<GoniometerPoint>> points_;
};

}  // namespace orvinta

Q_DECLARE_METATYPE(orvinta::GoniometerPointList)
