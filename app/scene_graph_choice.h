#pragma once

#include <QString>

namespace orvinta {

// Whether an OpenGL renderer string names a rasteriser that runs on the CPU (Mesa's llvmpipe,
// softpipe or swrast, SwiftShader, the generic "Software Rasterizer").
bool isSoftwareRasteriser(const QString& glRenderer);

// Chooses Qt Quick's scene graph for this machine before the first window opens. The
// instruments are painted on the CPU either way; the OpenGL scene graph then composites them
// on the GPU, which is cheaper where there is one, but on a software rasteriser it redraws and
// re-uploads the whole window at every snapshot and costs several times the CPU of the
// software scene graph, which copies only the regions that changed. So: the software scene
// graph when the machine has no GPU render node (as under Xvfb) or its OpenGL renderer is a
// software rasteriser, Qt's default otherwise. An explicit choice in the environment
// (QT_QUICK_BACKEND, QSG_RHI_BACKEND) wins. The frame-cost log line names the scene graph in
// use. Call after the QGuiApplication exists.
void chooseSceneGraph();

}  // namespace orvinta
