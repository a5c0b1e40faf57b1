// The third drop: flying down a corridor of a lattice, spheres on struts, raymarched. Every cell's
// sphere glows with one band of the music's spectrum (iChannel1, first row), the struts carry
// the grid picture (iChannel2) in stripes that ripple with the waveform (second row), and every
// kick the Spectrum hears (iBeat) swells the spheres and flares the light.
// Param1: roll of the view (turns), Param2: flight speed, Param3: warmth of the light.

mat2 turn(float a) {
    float c = cos(a), s = sin(a);
    return mat2(c, -s, s, c);
}

// Distance to the lattice: a sphere in every 2-unit cell, joined by struts along the three axes.
float lattice(vec3 p, out vec3 cell) {
    cell = floor(p * 0.5);
    vec3 q = mod(p, 2.0) - 1.0;
    float sphere = length(q) - (0.34 + 0.12 * iBeat);
    float strut = min(min(length(q.xy), length(q.yz)), length(q.zx)) - 0.08;
    return min(sphere, strut);
}

float lattice(vec3 p) {
    vec3 cell;
    return lattice(p, cell);
}

// Four samples on a tetrahedron's corners.
vec3 normalAt(vec3 p) {
    const vec2 k = vec2(1.0, -1.0) * 0.002;
    return normalize(k.xyy * lattice(p + k.xyy) + k.yyx * lattice(p + k.yyx) + k.yxy * lattice(p + k.yxy) +
                     k.xxx * lattice(p + k.xxx));
}

void mainImage(out vec4 fragColor, in vec2 fragCoord)
{
    vec2 uv = (2.0 * fragCoord - iResolution.xy) / iResolution.y;
    float t = iTime * (1.0 + 2.0 * Param2);
    vec3 origin = vec3(0.0, 0.0, t * 2.0);
    vec3 ray = normalize(vec3(uv, 1.5));
    ray.xy *= turn(6.2832 * Param1 + 0.15 * sin(t * 0.7));
    ray.xz *= turn(0.25 * sin(t * 0.31));

    float travelled = 0.0, glow = 0.0, near = 1e9;
    vec3 cell = vec3(0.0);
    for (int i = 0; i < 48; i++) {
        float d = lattice(origin + ray * travelled, cell);
        near = min(near, d);
        glow += 0.012 / (0.03 + d * d);
        if (d < 0.003 || travelled > 24.0) break;
        travelled += d;
    }

    vec3 warm = mix(vec3(0.35, 0.6, 1.0), vec3(1.0, 0.55, 0.25), Param3);
    vec3 colour = vec3(0.02, 0.03, 0.08);
    if (travelled < 24.0) {
        vec3 p = origin + ray * travelled;
        vec3 n = normalAt(p);
        vec3 q = mod(p, 2.0) - 1.0;
        bool onSphere = length(q) < 0.36 + 0.12 * iBeat + 0.01;
        float band = fract(dot(cell, vec3(0.131, 0.277, 0.411)));
        float level = sqrt(texture(iChannel1, vec2((1.5 + 48.0 * band) / 512.0, 0.25)).r);
        float light = max(dot(n, -ray), 0.0);
        vec3 surface = onSphere ? mix(warm * 0.3, warm * 2.5, min(level * 2.0, 1.0))
                                : texture(iChannel2, p.xz * 0.25 + p.y * 0.25).rgb * 0.8;
        if (!onSphere) {
            float wave = texture(iChannel1, vec2(fract(p.z * 0.05), 0.75)).r - 0.5;
            surface *= 1.0 + 1.2 * wave;
        }
        colour = surface * (0.25 + 0.9 * light) + pow(light, 24.0) * 0.6;
        colour = mix(colour, vec3(0.02, 0.03, 0.08), 1.0 - exp(-travelled * 0.09));
    }
    colour += warm * glow * (0.02 + 0.05 * iBeat);
    colour *= 1.0 - 0.25 * dot(uv, uv);
    fragColor = vec4(pow(colour, vec3(0.8)), 1.0);
}
