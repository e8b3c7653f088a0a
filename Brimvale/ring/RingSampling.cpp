#include "ring/RingSampling.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QQuickWindow>
#include <QSurfaceFormat>

#include <cstdlib>
#include <optional>

namespace brimvale {

bool RingSampling::isSoftwareRenderer(const QString& name) {
    for (const char* soft : {"llvmpipe", "softpipe", "swiftshader", "software rasterizer"})
        if (name.contains(QLatin1String(soft), Qt::CaseInsensitive)) return true;
    return false;
}

namespace {

// The OpenGL renderer's name, or nothing when no context can be made current.
std::optional<QString> rendererName() {
    QOpenGLContext context;
    if (!context.create()) return std::nullopt;
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    if (!surface.isValid() || !context.makeCurrent(&surface)) return std::nullopt;
    const auto* name = reinterpret_cast<const char*>(context.functions()->glGetString(GL_RENDERER));
    QString out = name ? QString::fromLatin1(name) : QString();
    context.doneCurrent();
    return out;
}

}  // namespace

int RingSampling::samplesForThisMachine() {
    if (const char* forced = std::getenv("BRIMVALE_RING_SAMPLES")) {
        const int n = std::atoi(forced);
        if (n == 1 || n == 2 || n == 4 || n == 8) return n;
    }
    const auto name = rendererName();
    return !name || name->isEmpty() || isSoftwareRenderer(*name) ? 1 : 4;
}

bool RingSampling::openGLWorks() {
    return rendererName().has_value();
}

void RingSampling::applyToDefaultFormat() {
    if (!std::getenv("QSG_RHI_BACKEND") && !std::getenv("QT_QUICK_BACKEND") && !openGLWorks()) {
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        return;
    }
    QSurfaceFormat format = QSurfaceFormat::defaultFormat();
    format.setSamples(samplesForThisMachine());
    QSurfaceFormat::setDefaultFormat(format);
}

}  // namespace brimvale
