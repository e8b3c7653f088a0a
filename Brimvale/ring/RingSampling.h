#pragma once

#include <QString>

// How many samples a pixel of the ring's window gets: four on a real GPU (smooth arc edges),
// one on a software rasteriser such as Mesa's llvmpipe, where four samples cost four times the
// frame and morphs would stutter. BRIMVALE_RING_SAMPLES (1, 2, 4 or 8) overrides the choice.
// GUI thread, after the application object exists and before the first window is made.
namespace brimvale {

class RingSampling {
public:
    RingSampling() = delete;

    // True for renderer names of software rasterisers ("llvmpipe", "softpipe", "SwiftShader").
    [[nodiscard]] static bool isSoftwareRenderer(const QString& rendererName);
    // The sample count for this machine's OpenGL (1 when no OpenGL context can be made).
    [[nodiscard]] static int samplesForThisMachine();
    // True when an OpenGL context can be made and made current.
    [[nodiscard]] static bool openGLWorks();
    // Sets the default surface format's samples to samplesForThisMachine(). Where no OpenGL
    // context can be made at all (and no backend was asked for through QSG_RHI_BACKEND or
    // QT_QUICK_BACKEND), switches Qt Quick to its software scene graph, so the windows still
    // show and the ring says why it is missing.
    static void applyToDefaultFormat();
};

}  // namespace brimvale
