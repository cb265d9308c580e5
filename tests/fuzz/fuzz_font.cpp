// The font descriptor: any text parses without fault; every glyph kept lies on its page, and
// laying out text with the font gives finite quads.
#include "FuzzSupport.h"

#include <math.h>

#include "GameFont.h"

namespace
{
const char* const LAYOUT_TEXT = "Hello, World! 0123456789 ~_|";
const float BOX = 400.0f, SIZE = 16.0f;
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzStart({
        "info face=\"Test\" size=10\ncommon lineHeight=10 base=8 scaleW=100 scaleH=50 pages=1\n"
        "page id=0 file=\"test_0.png\"\nchars count=2\n"
        "char id=72 x=10 y=20 width=5 height=8 xoffset=1 yoffset=2 xadvance=6 page=0 chnl=15\n"
        "char id=101 x=20 y=20 width=5 height=8 xoffset=1 yoffset=2 xadvance=6 page=0 chnl=15\n",
        "common lineHeight=16 base=12 scaleW=64 scaleH=32 pages=1\npage id=0 file=\"p.png\"\n"
        "char id=65 x=2147483647 y=0 width=2147483647 height=1 xoffset=0 yoffset=0 xadvance=8 page=0\n",
        "common lineHeight=1 base=1 scaleW=1 scaleH=1 pages=2\npage id=1 file=\"q.png\"\r\n"
        "char id=32 x=0 y=0 width=1 height=1 xoffset=-2147483648 yoffset=0 xadvance=2147483647 page=1\r\n",
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SFont font;
    if (!font.ParseDescriptor(TString((const char*)data, (u32)size), "Fonts/"))
        return 0;
    for (int c = 0; c < 256; ++c)
    {
        const SFontGlyph* g = font.FindGlyph((u32)c);
        if (g && (g->S0 < 0.0f || g->T0 < 0.0f || g->S1 > 1.0f || g->T1 > 1.0f || g->S0 > g->S1 || g->T0 > g->T1))
            FuzzFail("a glyph reaches outside its page");
    }
    TPodArray<SFontQuad> quads;
    font.LayoutText(LAYOUT_TEXT, 0, 0, 0.0f, 0.0f, BOX, BOX, SIZE, quads);
    for (u32 i = 0; i < quads.Count(); ++i)
        if (!isfinite(quads[i].X0) || !isfinite(quads[i].Y0) || !isfinite(quads[i].X1) || !isfinite(quads[i].Y1))
            FuzzFail("a laid-out quad is not finite");
    return 0;
}
