#pragma once

#include <QMetaType>
#include <QtGlobal>

namespace orvinta {

// One sample of the loudness history, one per applied snapshot; identity by id.
struct HistoryPoint {
    Q_GADGET
    Q_PROPERTY(quint64 id MEMBER id)
    Q_PROPERTY(double elapsedSeconds MEMBER elapsedSeconds)
    Q_PROPERTY(double momentaryLUFS MEMBER momentaryLUFS)
    Q_PROPERTY(double shortTermLUFS MEMBER shortTermLUFS)

public:
    quint64 id = 0;
    double elapsedSeconds = 0.0;
    double momentaryLUFS = 0.0;
    double shortTermLUFS = 0.0;

    friend bool operator==(const HistoryPoint&, const HistoryPoint&) = default;
};

}  // namespace orvinta

Q_DECLARE_METATYPE(orvinta::HistoryPoint)
