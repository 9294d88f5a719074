#include "app/scene_graph_choice.h"

#include <QDir>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QQuickWindow>
#include <QSGRendererInterface>

namespace orvinta {

namespace {

// The renderer string of a throw-away OpenGL context; empty when none can be made.
QString probeOpenGLRenderer() {
    QOffscreenSurface surface;
    surface.create();
    QOpenGLContext context;
    if (!surface.isValid() || !context.create() || !context.makeCurrent(&surface)) {
        return {};
    }
    const auto* renderer =
        reinterpret_cast<const char*>(context.functions()->glGetString(GL_RENDERER));
    QString name = renderer ? QString::fromLatin1(renderer) : QString();
    context.doneCurrent();
    return name;
}

}  // namespace

bool isSoftwareRasteriser(const QString& glRenderer) {
    for (const char* name :
         {"llvmpipe", "softpipe", "swrast", "software rasterizer", "swiftshader", "lavapipe"}) {
        if (glRenderer.contains(QLatin1String(name), Qt::CaseInsensitive)) {
            return true;
        }
    }
    return false;
}

QString chooseSceneGraph() {
    if (!qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND") ||
        !qEnvironmentVariableIsEmpty("QSG_RHI_BACKEND")) {
        return QStringLiteral("scene graph: as the environment asks");
    }
    if (QDir(QStringLiteral("/dev/dri"))
            .entryList({QStringLiteral("renderD*")}, QDir::System)
            .isEmpty()) {
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        return QStringLiteral("scene graph: software (no GPU render node)");
    }
    const QString renderer = probeOpenGLRenderer();
    if (renderer.isEmpty() || isSoftwareRasteriser(renderer)) {
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        return QStringLiteral("scene graph: software (OpenGL renderer: %1)")
            .arg(renderer.isEmpty() ? QStringLiteral("none") : renderer);
    }
    return QStringLiteral("scene graph: default (OpenGL renderer: %1)").arg(renderer);
}

}  // namespace orvinta
