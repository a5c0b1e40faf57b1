#version 130
// Over the lattice: dark scanlines rolling slowly down the screen, blended over the frame
// (BlendMultiply) by their own alpha times the effect's Alpha. A plain program with its own
// main, so it declares the inputs it reads; the pass's colour (gl_Color) carries Alpha.

uniform vec3 iResolution;
uniform float iTime;

void main()
{
    float row = gl_FragCoord.y / iResolution.y * 150.0;
    float line = smoothstep(0.25, 0.5, abs(fract(row) - 0.5));
    float roll = 0.5 + 0.5 * sin(gl_FragCoord.y * 0.015 + iTime * 3.0);
    gl_FragColor = vec4(0.0, 0.0, 0.0, gl_Color.a * (0.6 * line + 0.25 * roll));
}
