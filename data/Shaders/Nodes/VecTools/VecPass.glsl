// The shared frame of the VecTools programs: the full-screen pass and the input units. Inputs are
// read at the same normalised coordinate, so smaller ones are stretched over the output.
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
#endif
