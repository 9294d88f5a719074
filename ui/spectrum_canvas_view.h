#pragma once

#include <QImage>
#include <QList>
#include <QPointF>
#include <QPolygonF>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <array>
#include <optional>
#include <vector>

#include "state/spectrum_rows.h"
#include "ui/on_screen_painted_item.h"

namespace orvinta {

// The spectrum's channel selection. QML and the selector use the raw values, which are also
// the selector's labels: "L+R" (left, right and their average), "L" (left only), "R" (right
// only).
enum class ChannelMode { both, left, right };
QList<ChannelMode> allChannelModes();
QString rawValue(ChannelMode mode);
std::optional<ChannelMode> channelModeFromRawValue(const QString& rawValue);

// x of frequency f in a drawing w wide: logarithmic from 20 Hz at the left edge to 20 kHz at
// the right edge, clamped to the edges.
double spectrumX(double frequencyHz, double w);

// y of level v in a drawing h high: maxDB at the top edge, minDB and anything below (also NaN)
// at the bottom edge, anything above maxDB at the top edge.
double spectrumY(float v, float minDB, float maxDB, double h);

// Levels of the horizontal grid lines: maxDB, maxDB - 12, ... while >= minDB (at most 400).
std::vector<float> spectrumGridLevels(float minDB, float maxDB);

// Grid label texts: the level as a whole number ("12", "0", "-12"); a frequency as whole
// kilohertz with "k" from 1000 Hz on ("1k", "20k"), otherwise whole hertz ("20", "500").
QString spectrumLevelLabel(float level);
QString spectrumFrequencyLabel(double frequencyHz);

// Where a grid label of the given text size stands on a canvas: centred at `centre`, then moved
// just as far as it takes to lie whole inside the canvas, 2 points clear of its edges (so the
// 20 Hz and 20 kHz labels at the ends and the top level label keep all their characters).
QRectF spectrumLabelRect(QPointF centre, QSizeF textSize, QSizeF canvas);

// Which curves a channel mode draws from the given rows: the left curve needs a non-empty row 0,
// the right curve a non-empty row 1, the average both rows non-empty and of equal length.
struct SpectrumCurveSelection {
    bool left = false;
    bool right = false;
    bool average = false;
};
SpectrumCurveSelection spectrumCurvesToDraw(ChannelMode mode,
                                            const std::vector<std::vector<float>>& rows);

// Element-wise average of two dB rows ((a + b) / 2 of the dB values); nothing when the rows
// differ in length.
std::optional<std::vector<float>> spectrumAverage(const std::vector<float>& row0,
                                                  const std::vector<float>& row1);

// Polyline of one dB row: bin i of n at x = w * i / (n - 1) (0 for a single value), which is
// the bin's log-spaced frequency on the same axis as spectrumX.
QPolygonF spectrumCurve(const std::vector<float>& row, float minDB, float maxDB, QSizeF size);

// The dB spectrum of the left and right channel and their average over a logarithmic frequency
// axis, on a dark canvas with a level and a frequency grid. Lives on the UI thread; the
// background and grids are cached per size, level range and reference frequencies.
class SpectrumCanvasView : public OnScreenPaintedItem {
    Q_OBJECT
    QML_ELEMENT

    Q_PROPERTY(orvinta::SpectrumRows spectrumDB READ spectrumDB WRITE setSpectrumDB NOTIFY
                   spectrumDBChanged FINAL)
    // The channel mode by its raw value: "L+R", "L" or "R". Anything else draws no curve.
    Q_PROPERTY(QString mode READ mode WRITE setMode NOTIFY modeChanged FINAL)
    Q_PROPERTY(float minDB READ minDB WRITE setMinDB NOTIFY minDBChanged FINAL)
    Q_PROPERTY(float maxDB READ maxDB WRITE setMaxDB NOTIFY maxDBChanged FINAL)
    Q_PROPERTY(QList<double> referenceHz READ referenceHz WRITE setReferenceHz NOTIFY
                   referenceHzChanged FINAL)
    // Number of rows (channels) in spectrumDB, for the legend.
    Q_PROPERTY(int rowCount READ rowCount NOTIFY spectrumDBChanged FINAL)

public:
    explicit SpectrumCanvasView(QQuickItem* parent = nullptr);

    SpectrumRows spectrumDB() const { return spectrumDB_; }
    void setSpectrumDB(const SpectrumRows& rows);
    QString mode() const { return mode_; }
    void setMode(const QString& mode);
    float minDB() const { return minDB_; }
    void setMinDB(float db);
    float maxDB() const { return maxDB_; }
    void setMaxDB(float db);
    QList<double> referenceHz() const { return referenceHz_; }
    void setReferenceHz(const QList<double>& frequencies);
    int rowCount() const { return spectrumDB_.rowCount(); }

    void paint(QPainter* painter) override;

signals:
    void spectrumDBChanged();
    void modeChanged();
    void minDBChanged();
    void maxDBChanged();
    void referenceHzChanged();

private:
    // The rows (in points) that the curves of the current spectrum and mode may touch; empty
    // when no curve is drawn.
    struct CurveRows {
        double top = 0.0;
        double bottom = 0.0;
        bool empty() const { return !(bottom > top); }
    };
    CurveRows curveRows() const;
    void drawGrid(QPainter* painter, QSizeF size) const;

    // The curves' rows of the last two repaints for the screen, over which grid at which size.
    // An image that holds the picture of two repaints ago over the same grid needs the grid
    // again only where that picture's curves were.
    struct DrawnCurves {
        bool valid = false;
        qint64 grid = 0;
        QSizeF size;
        CurveRows rows;
    };
    std::array<DrawnCurves, 2> drawnCurves_;

    SpectrumRows spectrumDB_;
    QString mode_ = QStringLiteral("L+R");
    float minDB_ = -90.0f;
    float maxDB_ = 12.0f;
    QList<double> referenceHz_ = {20, 50, 100, 200, 500, 1000, 2000, 5000, 10000, 20000};

    QImage gridCache_;
    bool gridStale_ = true;
};

}  // namespace orvinta
