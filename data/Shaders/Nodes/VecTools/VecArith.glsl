// The shared part of the eight masked two-input programs; each includes it and defines Op, its
// operation on one channel of input 1 (a) and input 2 (b).
//   RGBA holds 0 or 1 per channel: where it is 1 the channel is Op(a, b), where it is 0 the
//   channel is input 1's, unchanged.
#include "VecPass.glsl"

#ifdef PSHADER
uniform vec4 RGBA;

float Op(float a, float b);

float Pick(float on, float a, float b)
{
    return on != 0.0 ? Op(a, b) : a;
}

void main()
{
    vec4 a = texture2D(InputTexture[0], vTexCoord);
    vec4 b = texture2D(InputTexture[1], vTexCoord);
    gl_FragColor = vec4(Pick(RGBA.x, a.x, b.x), Pick(RGBA.y, a.y, b.y), Pick(RGBA.z, a.z, b.z), Pick(RGBA.w, a.w, b.w));
}
#endif
