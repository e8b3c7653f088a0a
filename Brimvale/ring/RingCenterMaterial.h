#pragma once

#include <QSGMaterial>

#include "ring/RingRenderer.h"

// The centre disc's material: the disc, its fullness track and arc, drawn by a fragment program
// from the renderer's uniform block. The scene graph owns the material through its node; GUI
// thread writes happen only while the render thread waits in the sync phase.
namespace brimvale {

class RingCenterMaterial : public QSGMaterial {
public:
    RingCenterMaterial();

    QSGMaterialType* type() const override;
    QSGMaterialShader* createShader(QSGRendererInterface::RenderMode mode) const override;
    int compare(const QSGMaterial* other) const override;

    void setUniforms(const RingRenderer::Uniforms& u) { uniforms_ = u; }
    const RingRenderer::Uniforms& uniforms() const { return uniforms_; }

private:
    RingRenderer::Uniforms uniforms_;
};

}  // namespace brimvale
