#version 440

// The centre disc: a thin track near its rim that fills clockwise from 12 o'clock to the
// fullness, with a round dot at the top for any fullness of at least 0.001.
layout(location = 0) in vec2 ringPos;
layout(location = 0) out vec4 fragColor;

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

const float fullTurn = 6.28318530718;

void main() {
    float R = centerR * 0.94;
    float aa = 1.2 / max(pxPerUnit, 1.0);
    float d = length(ringPos);
    float disc = 1.0 - smoothstep(R - aa, R, d);
    if (disc <= 0.0)
        discard;
    float w = R * 0.085;
    float mid = R - w / 2.0 - R * 0.035;
    float band = 1.0 - smoothstep(w / 2.0 - aa, w / 2.0 + aa, abs(d - mid));
    float t = atan(ringPos.x, ringPos.y) / fullTurn;
    if (t < 0.0)
        t += 1.0;
    float edge = (level - t) * fullTurn * mid;
    float shown = step(0.001, level);
    float filled = clamp(edge / aa + 0.5, 0.0, 1.0) * shown;
    float cap = 1.0 - smoothstep(w / 2.0 - aa, w / 2.0 + aa, distance(ringPos, vec2(0.0, mid)));
    vec3 color = mix(discColor.rgb, trackColor.rgb, band);
    color = mix(color, arcColor.rgb, max(band * filled, cap * shown));
    fragColor = vec4(color * disc, disc) * qt_Opacity;
}
