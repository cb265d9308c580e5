// The console line: any typed keys and characters, Enter running each line as a command, leave
// the console consistent: the input within its limit and the scroll position within the log.
#include "FuzzSupport.h"

#include "GameConsole.h"
#include "GameWindow.h"

namespace
{
// Bytes that stand for keys rather than characters.
const u8 KEY_BYTES[][2] = {
    {'\n', KEY_Enter}, {0x7F, KEY_Backspace}, {0x01, KEY_PageUp}, {0x02, KEY_PageDown},
    {0x03, KEY_Home},  {0x04, KEY_End},       {0x05, KEY_Delete},
};
const int CONSOLE_WIDTH = 640, CONSOLE_HEIGHT = 200;
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzStart({
        "r_drawStats 1\nr_drawStats\n__nothing -3.5e+006\n",
        "unknown_var 2\n 12\nname value\n\x01\x01\x04\x7f\x7fx\n",
        "r_drawStats 1e39\nr_drawStats -inf\n\x05\n",
    });
    ConsoleInit();
    ConsoleSetFont(nullptr);
    ConsoleResize(CONSOLE_WIDTH, CONSOLE_HEIGHT);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (!IsConsoleOpen())
        ConsoleKey(CONSOLE_TOGGLE_KEY, true);
    GConsole.Input = "";
    for (size_t i = 0; i < size; ++i)
    {
        int key = 0;
        for (const auto& k : KEY_BYTES)
            if (data[i] == k[0])
                key = k[1];
        if (key)
        {
            ConsoleKey(key, true);
            ConsoleKey(key, false);
        }
        else
            ConsoleChar(data[i], true);
        if (GConsole.Input.Length() > CONSOLE_MAX_INPUT)
            FuzzFail("the console line grew beyond its limit");
        if (GConsole.Scroll < 0 || (GConsole.Scroll > 0 && GConsole.Scroll > GConsole.TotalRows))
            FuzzFail("the console scrolled outside its log");
        if (GConsole.Lines.Count() > CONSOLE_MAX_LINES)
            FuzzFail("the console keeps more lines than its limit");
    }
    float y0 = 0, y1 = 0;
    ConsoleScrollThumb(y0, y1);
    if (y0 > y1 || y0 < 0)
        FuzzFail("the scroll thumb is inverted");
    return 0;
}
