#include "ring/RingCenterMaterial.h"

#include <QSGMaterialShader>

#include <cstring>

namespace brimvale {
namespace {

// The block as the shaders declare it: the scene graph's matrix and opacity, three spare floats
// so the renderer's part starts on a 16-byte boundary (std140), then the renderer's part.
struct Block {
    float matrix[16];
    float opacity;
    float spare[3];
    RingRenderer::Uniforms ring;
};
static_assert(sizeof(Block) == 176);
static_assert(offsetof(Block, ring) == 80);

class RingCenterShader : public QSGMaterialShader {
public:
    RingCenterShader() {
        setShaderFileName(VertexStage, QStringLiteral(":/ring/shaders/center.vert.qsb"));
        setShaderFileName(FragmentStage, QStringLiteral(":/ring/shaders/center.frag.qsb"));
    }

    bool updateUniformData(RenderState& state, QSGMaterial* newMaterial, QSGMaterial*) override {
        QByteArray* buf = state.uniformData();
        if (buf->size() < static_cast<qsizetype>(sizeof(Block))) return false;
        Block block{};
        std::memcpy(block.matrix, state.combinedMatrix().constData(), sizeof block.matrix);
        block.opacity = state.opacity();
        block.ring = static_cast<RingCenterMaterial*>(newMaterial)->uniforms();
        std::memcpy(buf->data(), &block, sizeof block);
        return true;
    }
};

}  // namespace

RingCenterMaterial::RingCenterMaterial() {
    setFlag(Blending);
}

QSGMaterialType* RingCenterMaterial::type() const {
    static QSGMaterialType type;
    return &type;
}

QSGMaterialShader* RingCenterMaterial::createShader(QSGRendererInterface::RenderMode) const {
    return new RingCenterShader;
}

int RingCenterMaterial::compare(const QSGMaterial* other) const {
    return std::memcmp(&uniforms_, &static_cast<const RingCenterMaterial*>(other)->uniforms_,
                       sizeof uniforms_);
}

}  // namespace brimvale
