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

void chooseSceneGraph() {
    if (!qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND") ||
        !qEnvironmentVariableIsEmpty("QSG_RHI_BACKEND")) {
        return;
    }
    const bool noRenderNode = QDir(QStringLiteral("/dev/dri"))
                                  .entryList({QStringLiteral("renderD*")}, QDir::System)
                                  .isEmpty();
    if (noRenderNode) {
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        return;
    }
    const QString renderer = probeOpenGLRenderer();
    if (renderer.isEmpty() || isSoftwareRasteriser(renderer)) {
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    }
}

}  // namespace orvinta
