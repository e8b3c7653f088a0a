#version 440

// The centre quad, in ring units; the fragment stage draws the disc inside it.
layout(location = 0) in vec4 qt_VertexPosition;
// The same point in ring units: the scene graph may move positions into another coordinate
// system when it merges batches, but passes this through untouched.
layout(location = 1) in vec2 ringUnits;
layout(location = 0) out vec2 ringPos;

layout(std140, binding = 0) uniform buf {
    mat4 qt_Matrix;
    float qt_Opacity;
    float spare0;
    float spare1;
    float spare2;
    vec2 scale;
    float time;
    float level;
    float amp;
    float centerR;
    float pxPerUnit;
    float pad;
    vec4 discColor;
    vec4 arcColor;
    vec4 trackColor;
    vec4 unused;
};

out gl_PerVertex { vec4 gl_Position; };

void main() {
    ringPos = ringUnits;
    gl_Position = qt_Matrix * qt_VertexPosition;
}
