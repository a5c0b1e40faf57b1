// The third drop's first half: a colour grade over the opening flower (iChannel0, the picture of
// the effect linked with TRIGGER Shader2 LINK "Flower"). Shadows go teal and highlights amber by
// Param1, the corners darken by Param2, and every kick the Spectrum hears (iBeat) splits the
// colours apart for a moment, like a lens.

void mainImage(out vec4 fragColor, in vec2 fragCoord)
{
    vec2 uv = fragCoord / iResolution.xy;
    vec2 fromCentre = uv - 0.5;
    float split = 0.006 + 0.03 * iBeat;
    vec3 colour = vec3(texture(iChannel0, uv + fromCentre * split).r, texture(iChannel0, uv).g,
                       texture(iChannel0, uv - fromCentre * split).b);
    float luma = dot(colour, vec3(0.299, 0.587, 0.114));
    vec3 graded = mix(vec3(0.02, 0.22, 0.28), vec3(1.1, 0.78, 0.45), smoothstep(0.05, 0.8, luma)) * (0.5 + luma);
    colour = mix(colour, graded, Param1);
    colour *= 1.0 - Param2 * 2.2 * dot(fromCentre, fromCentre);
    fragColor = vec4(colour, 1.0);
}
