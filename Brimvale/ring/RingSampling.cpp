#include "ring/RingSampling.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QSurfaceFormat>

#include <cstdlib>

namespace brimvale {

bool RingSampling::isSoftwareRenderer(const QString& name) {
    for (const char* soft : {"llvmpipe", "softpipe", "swiftshader", "software rasterizer"})
        if (name.contains(QLatin1String(soft), Qt::CaseInsensitive)) return true;
    return false;
}

int RingSampling::samplesForThisMachine() {
    if (const char* forced = std::getenv("BRIMVALE_RING_SAMPLES")) {
        const int n = std::atoi(forced);
        if (n == 1 || n == 2 || n == 4 || n == 8) return n;
    }
    QOpenGLContext context;
    if (!context.create()) return 1;
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    if (!surface.isValid() || !context.makeCurrent(&surface)) return 1;
    const auto* name = reinterpret_cast<const char*>(context.functions()->glGetString(GL_RENDERER));
    const bool software = !name || isSoftwareRenderer(QString::fromLatin1(name));
    context.doneCurrent();
    return software ? 1 : 4;
}

void RingSampling::applyToDefaultFormat() {
    QSurfaceFormat format = QSurfaceFormat::defaultFormat();
    format.setSamples(samplesForThisMachine());
    QSurfaceFormat::setDefaultFormat(format);
}

}  // namespace brimvale
