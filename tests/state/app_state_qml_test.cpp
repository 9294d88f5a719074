#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>

#include <gtest/gtest.h>

#include <memory>

#include "state/app_state.h"

namespace orvinta {
namespace {

// Stands in for the instrument items: C++ properties of the opaque list types, bound in QML.
class ListReceiver : public QObject {
    Q_OBJECT
    Q_PROPERTY(orvinta::GoniometerPointList points MEMBER points NOTIFY pointsChanged)
    Q_PROPERTY(orvinta::SpectrumRows rows MEMBER rows NOTIFY rowsChanged)
    Q_PROPERTY(orvinta::HistoryPointList history MEMBER history NOTIFY historyChanged)

public:
    GoniometerPointList points;
    SpectrumRows rows;
    HistoryPointList history;

signals:
    void pointsChanged();
    void rowsChanged();
    void historyChanged();
};

TEST(AppStateInQml, ListValuesReachItemPropertiesIntactAndUnconverted) {
    qmlRegisterType<ListReceiver>("OrvintaStateTest", 1, 0, "ListReceiver");
    AppState state([](InputSource) { return nullptr; }, {});
    QQmlEngine engine;
    engine.rootContext()->setContextProperty(QStringLiteral("appState"), &state);
    QQmlComponent component(&engine);
    component.setData(R"(
        import OrvintaStateTest
        ListReceiver {
            points: appState.goniometerPoints
            rows: appState.spectrumDB
            history: appState.history
            property int pointCount: appState.goniometerPoints.size
            property int rowCount: appState.spectrumDB.rowCount
            property var correlation: appState.phaseCorrelation
            property bool busy: appState.isRunning || appState.isStarting
        }
    )",
                      QUrl());
    std::unique_ptr<QObject> object(component.create());
    ASSERT_TRUE(object) << component.errorString().toStdString();
    auto* receiver = qobject_cast<ListReceiver*>(object.get());
    EXPECT_FALSE(object->property("correlation").isValid());
    EXPECT_FALSE(object->property("busy").toBool());

    LoudnessSnapshot snapshot;
    snapshot.phaseCorrelation = 0.25;
    snapshot.goniometerPoints.assign(2000, {0.5f, -0.25f});
    snapshot.spectrumDB = {std::vector<float>(192, -60.0f), std::vector<float>(192, -75.5f)};
    state.readings().publish(snapshot);
    state.readings().publish(snapshot);

    EXPECT_EQ(receiver->points.points(), snapshot.goniometerPoints);
    // The very same storage: the value crossed QML without being converted.
    EXPECT_EQ(&receiver->points.points(), &state.goniometerPoints().points());
    EXPECT_EQ(receiver->rows.rows(), snapshot.spectrumDB);
    EXPECT_EQ(&receiver->rows.rows(), &state.spectrumDB().rows());
    ASSERT_EQ(receiver->history.size(), 2);
    EXPECT_EQ(object->property("pointCount").toInt(), 2000);
    EXPECT_EQ(object->property("rowCount").toInt(), 2);
    EXPECT_DOUBLE_EQ(object->property("correlation").toDouble(), 0.25);

    state.reset();
    EXPECT_EQ(receiver->points.size(), 0);
    EXPECT_EQ(receiver->rows.rowCount(), 0);
    EXPECT_EQ(receiver->history.size(), 0);
}

}  // namespace
}  // namespace orvinta

#include "app_state_qml_test.moc"
