// Over the lattice, added (BlendAdd): the spectrum's lowest 128 bands as 64 bars along the
// bottom (iChannel1, first row) and the waveform as a thin glowing line across them (second
// row); the bars flare on every kick (iBeat).

void mainImage(out vec4 fragColor, in vec2 fragCoord)
{
    vec2 uv = fragCoord / iResolution.xy;
    float slot = floor(uv.x * 64.0);
    float level = pow(texture(iChannel1, vec2((slot * 2.0 + 1.0) / 512.0, 0.25)).r, 0.4);
    float height = 0.25 * level;
    float bar = step(uv.y, height) * step(0.2, fract(uv.x * 64.0));
    vec3 colour = bar * mix(vec3(0.1, 0.55, 1.0), vec3(1.0, 0.35, 0.6), uv.y / 0.25) * (0.7 + 0.6 * iBeat);
    float wave = texture(iChannel1, vec2(uv.x, 0.75)).r - 0.5;
    float line = abs(uv.y - 0.12 - 0.4 * wave);
    colour += vec3(0.7, 1.0, 0.85) * smoothstep(0.005, 0.0, line);
    fragColor = vec4(colour, 1.0);
}
