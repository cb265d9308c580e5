// The shared part of the blend programs; each program includes it and defines BlendRGB, the
// formula of its mode per colour, named after the mode as image editors use it.
//   Input 1 (unit 0) is the base b, input 2 (unit 1) the layer s; both are stretched over the
//   output, which is as large as the larger of the two on each axis.
//   Colours first pass BSAT3 (clamped to 0..1 when "Clamp val." is on, else as they are).
//   Colour: mix(b, BlendRGB(b, s), Opacity); alpha: mix(base alpha, layer alpha, Opacity). So
//   Opacity 0 gives the base unchanged and Opacity 1 the blend with the layer's alpha.
//   The result passes OSAT4 (clamped to 0..1 when "Clamp out." is on).
// Where a formula would divide by zero the limit the mode's name suggests is taken and stated.
#fail PASS_SHADOW
#fail PASS_SPOTLIGHT
#fail PASS_IMPOSTER
#fail VS_SKINNED
#fail VS_INSTANCED

varying vec2 vTexCoord;

#ifdef VSHADER
void main()
{
    vTexCoord = GLTexCoord0.xy;
    gl_Position = vec4(GLVertex.xyz, 1.0);
}
#endif

#ifdef PSHADER
uniform sampler2D InputTexture[8];
uniform float Opacity;

vec3 SAT3(vec3 x)
{
    return clamp(x, 0.0, 1.0);
}

vec4 SAT4(vec4 x)
{
    return clamp(x, 0.0, 1.0);
}

// Colour burn of one channel: 1 - (1 - b) / s, at most 1 darkening; with s 0 only a white base
// stays white.
float BurnChannel(float b, float s)
{
    if (s <= 0.0)
        return b >= 1.0 ? 1.0 : 0.0;
    return 1.0 - min(1.0, (1.0 - b) / s);
}

// Colour dodge of one channel: b / (1 - s), at most 1; with s 1 only a black base stays black.
float DodgeChannel(float b, float s)
{
    if (s >= 1.0)
        return b <= 0.0 ? 0.0 : 1.0;
    return min(1.0, b / (1.0 - s));
}

// Hue, saturation and lightness (each 0..1, hue in turns from red) of a colour and back.
vec3 RGBToHSL(vec3 c)
{
    float hi = max(c.r, max(c.g, c.b));
    float lo = min(c.r, min(c.g, c.b));
    float l = (hi + lo) * 0.5;
    float d = hi - lo;
    if (d <= 0.0)
        return vec3(0.0, 0.0, l);
    float sat = l > 0.5 ? d / (2.0 - hi - lo) : d / (hi + lo);
    float h;
    if (hi == c.r)
        h = (c.g - c.b) / d + (c.g < c.b ? 6.0 : 0.0);
    else if (hi == c.g)
        h = (c.b - c.r) / d + 2.0;
    else
        h = (c.r - c.g) / d + 4.0;
    return vec3(h / 6.0, sat, l);
}

float HueToChannel(float p, float q, float t)
{
    if (t < 0.0)
        t += 1.0;
    if (t > 1.0)
        t -= 1.0;
    if (t < 1.0 / 6.0)
        return p + (q - p) * 6.0 * t;
    if (t < 0.5)
        return q;
    if (t < 2.0 / 3.0)
        return p + (q - p) * (2.0 / 3.0 - t) * 6.0;
    return p;
}

vec3 HSLToRGB(vec3 hsl)
{
    if (hsl.y <= 0.0)
        return vec3(hsl.z);
    float q = hsl.z < 0.5 ? hsl.z * (1.0 + hsl.y) : hsl.z + hsl.y - hsl.z * hsl.y;
    float p = 2.0 * hsl.z - q;
    return vec3(HueToChannel(p, q, hsl.x + 1.0 / 3.0), HueToChannel(p, q, hsl.x),
                HueToChannel(p, q, hsl.x - 1.0 / 3.0));
}

vec3 BlendRGB(vec3 b, vec3 s);

void main()
{
    vec4 base = texture2D(InputTexture[0], vTexCoord);
    vec4 layer = texture2D(InputTexture[1], vTexCoord);
    vec3 b = BSAT3(base.rgb);
    vec3 s = BSAT3(layer.rgb);
    vec3 rgb = mix(b, BlendRGB(b, s), Opacity);
    float a = mix(base.a, layer.a, Opacity);
    gl_FragColor = OSAT4(vec4(rgb, a));
}
#endif
