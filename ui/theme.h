#pragma once

#include <QColor>
#include <QFont>
#include <QObject>
#include <QSizeF>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <array>

namespace orvinta {

// One stop of a colour ramp: a location in 0 ... 1 and its opaque sRGB colour.
struct ColorStop {
    double location;
    QColor color;
};

// Colour of a segment of a level meter at position p = i / (segmentCount - 1) in 0 ... 1:
// blue-green up to 0.65, green above 0.65, yellow above 0.80, red above 0.92. Shared by the
// loudness meter bar and the correlation meter (which passes the distance from its centre).
QColor segmentPaletteColor(double position);

// The five stops of the loudness colour ramp (0.0, 0.65, 0.8, 0.92, 1.0).
const std::array<ColorStop, 5>& loudnessRampStops();

// The loudness colour ramp at t (clamped to 0 ... 1), linearly interpolated in sRGB between
// the neighbouring stops. Opaque.
QColor loudnessRampColor(double t);

// The dashboard's shared colours and fonts, one QML singleton for QML and static functions for
// the painted items, so both draw the same values. Stateless; usable from the UI thread only
// because QFont and QColor are built on demand.
class Theme : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

    // The platform's named colours.
    Q_PROPERTY(QColor accent READ accent CONSTANT FINAL)
    Q_PROPERTY(QColor red READ red CONSTANT FINAL)
    Q_PROPERTY(QColor orange READ orange CONSTANT FINAL)
    Q_PROPERTY(QColor yellow READ yellow CONSTANT FINAL)
    Q_PROPERTY(QColor green READ green CONSTANT FINAL)
    Q_PROPERTY(QColor cyan READ cyan CONSTANT FINAL)
    Q_PROPERTY(QColor pink READ pink CONSTANT FINAL)
    Q_PROPERTY(QColor white READ white CONSTANT FINAL)
    Q_PROPERTY(QColor black READ black CONSTANT FINAL)
    // Default text colour of the dark scheme.
    Q_PROPERTY(QColor text READ text CONSTANT FINAL)

    // Dashboard surfaces.
    Q_PROPERTY(QColor windowBackground READ windowBackground CONSTANT FINAL)
    Q_PROPERTY(QColor panelFill READ panelFill CONSTANT FINAL)
    Q_PROPERTY(QColor panelSurface READ panelSurface CONSTANT FINAL)
    Q_PROPERTY(QColor panelBorder READ panelBorder CONSTANT FINAL)
    Q_PROPERTY(QColor chipFill READ chipFill CONSTANT FINAL)
    Q_PROPERTY(QColor chipBorder READ chipBorder CONSTANT FINAL)
    Q_PROPERTY(QColor caption READ caption CONSTANT FINAL)
    Q_PROPERTY(QColor canvasBackground READ canvasBackground CONSTANT FINAL)

    // Segment palette and loudness ramp stops, for QML swatches and legends.
    Q_PROPERTY(QColor segmentBlueGreen READ segmentBlueGreen CONSTANT FINAL)
    Q_PROPERTY(QColor segmentGreen READ segmentGreen CONSTANT FINAL)
    Q_PROPERTY(QColor segmentYellow READ segmentYellow CONSTANT FINAL)
    Q_PROPERTY(QColor segmentRed READ segmentRed CONSTANT FINAL)

    // Fonts: the system font maps to DejaVu Sans (whose digits all share one advance, so
    // "monospaced digits" needs nothing more) and the monospaced design to DejaVu Sans Mono.
    Q_PROPERTY(QString fontFamily READ fontFamily CONSTANT FINAL)
    Q_PROPERTY(QString monoFontFamily READ monoFontFamily CONSTANT FINAL)

    // Sizes in canvas points: the fixed design canvas, font sizes, corner radii and spacings.
    Q_PROPERTY(QSizeF canvasSize READ canvasSize CONSTANT FINAL)
    Q_PROPERTY(int fontHint READ fontHint CONSTANT FINAL)
    Q_PROPERTY(int fontSmall READ fontSmall CONSTANT FINAL)
    Q_PROPERTY(int fontLabel READ fontLabel CONSTANT FINAL)
    Q_PROPERTY(int fontTitle READ fontTitle CONSTANT FINAL)
    Q_PROPERTY(int fontBody READ fontBody CONSTANT FINAL)
    Q_PROPERTY(int fontEmphasis READ fontEmphasis CONSTANT FINAL)
    Q_PROPERTY(int fontResetButton READ fontResetButton CONSTANT FINAL)
    Q_PROPERTY(int fontStepValue READ fontStepValue CONSTANT FINAL)
    Q_PROPERTY(int fontStartStop READ fontStartStop CONSTANT FINAL)
    Q_PROPERTY(int fontHistoryValue READ fontHistoryValue CONSTANT FINAL)
    Q_PROPERTY(int fontHeaderValue READ fontHeaderValue CONSTANT FINAL)
    Q_PROPERTY(int fontMeterValue READ fontMeterValue CONSTANT FINAL)
    Q_PROPERTY(int fontIntegrated READ fontIntegrated CONSTANT FINAL)
    Q_PROPERTY(int radiusSmall READ radiusSmall CONSTANT FINAL)
    Q_PROPERTY(int radiusButton READ radiusButton CONSTANT FINAL)
    Q_PROPERTY(int radiusControl READ radiusControl CONSTANT FINAL)
    Q_PROPERTY(int radiusPopup READ radiusPopup CONSTANT FINAL)
    Q_PROPERTY(int radiusPanel READ radiusPanel CONSTANT FINAL)
    Q_PROPERTY(int radiusResetButton READ radiusResetButton CONSTANT FINAL)
    Q_PROPERTY(int canvasMargin READ canvasMargin CONSTANT FINAL)
    Q_PROPERTY(int sectionSpacing READ sectionSpacing CONSTANT FINAL)
    Q_PROPERTY(int panelPadding READ panelPadding CONSTANT FINAL)
    Q_PROPERTY(int columnSpacing READ columnSpacing CONSTANT FINAL)

    // The em dash shown for a missing or non-finite value.
    Q_PROPERTY(QString missingValueText READ missingValueText CONSTANT FINAL)

public:
    explicit Theme(QObject* parent = nullptr);

    static QColor accent();
    static QColor red();
    static QColor orange();
    static QColor yellow();
    static QColor green();
    static QColor cyan();
    static QColor pink();
    static QColor white();
    static QColor black();
    static QColor text();

    static QColor windowBackground();
    static QColor panelFill();
    // The panel fill as it shows over the window background, blended as the renderer blends
    // it: the opaque colour under the instruments.
    static QColor panelSurface();
    static QColor panelBorder();
    static QColor chipFill();
    static QColor chipBorder();
    static QColor caption();
    static QColor canvasBackground();

    static QColor segmentBlueGreen();
    static QColor segmentGreen();
    static QColor segmentYellow();
    static QColor segmentRed();

    static QString fontFamily();
    static QString monoFontFamily();
    // The design canvas, 1440 x 1150 points, scaled as a whole to the window.
    static QSizeF canvasSize() { return {1440.0, 1150.0}; }
    static constexpr int fontHint() { return 10; }
    static constexpr int fontSmall() { return 11; }
    static constexpr int fontLabel() { return 12; }
    static constexpr int fontTitle() { return 13; }
    static constexpr int fontBody() { return 14; }
    static constexpr int fontEmphasis() { return 16; }
    static constexpr int fontResetButton() { return 17; }
    static constexpr int fontStepValue() { return 19; }
    static constexpr int fontStartStop() { return 20; }
    static constexpr int fontHistoryValue() { return 21; }
    static constexpr int fontHeaderValue() { return 30; }
    static constexpr int fontMeterValue() { return 40; }
    static constexpr int fontIntegrated() { return 48; }
    static constexpr int radiusSmall() { return 5; }
    static constexpr int radiusButton() { return 6; }
    static constexpr int radiusControl() { return 7; }
    static constexpr int radiusPopup() { return 8; }
    static constexpr int radiusPanel() { return 10; }
    static constexpr int radiusResetButton() { return 14; }
    static constexpr int canvasMargin() { return 20; }
    static constexpr int sectionSpacing() { return 16; }
    static constexpr int panelPadding() { return 14; }
    static constexpr int columnSpacing() { return 10; }

    static QString missingValueText();

    // White at the given opacity (0 ... 1), the most common colour of the instruments.
    static QColor whiteAlpha(double opacity);
    static QColor withAlpha(QColor color, double opacity);

    // Font weights of the platform mapped onto the two weights DejaVu ships.
    enum class Weight { Regular, Medium, Semibold, Bold, Heavy };
    Q_ENUM(Weight)

    // A font of the given size in canvas points (set as pixels, so it scales with the canvas
    // and not with the screen's DPI).
    static QFont font(double points, Weight weight = Weight::Regular);
    static QFont monoFont(double points, Weight weight = Weight::Regular);

    // Formats a finite value with "%.1f"; anything else reads as the em dash.
    Q_INVOKABLE static QString formatValue(double value);

    Q_INVOKABLE static QColor alpha(const QColor& color, double opacity) {
        return withAlpha(color, opacity);
    }
};

}  // namespace orvinta
