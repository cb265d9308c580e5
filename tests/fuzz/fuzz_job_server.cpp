// The job server's path assembly: the input is a run of datagrams (a sender byte, a byte of
// seconds that pass before it, a two-byte big-endian length and the bytes) from up to 256 senders
// on one host. Nothing faults, the senders tracked stay within their cap, and every path handed
// to the loader is as long as its begin announced (an empty one, which the server refuses,
// included), within the limit and without a gap, and is printed escaped.
#include "FuzzSupport.h"

#include "TexJobServer.h"

namespace
{
const u32 LOOPBACK = 0x7F000001u;
const u16 FIRST_PORT = 40000;

std::string Record(uint8_t sender, uint8_t seconds, const std::string& bytes)
{
    return std::string(1, (char)sender) + std::string(1, (char)seconds) + std::string(1, (char)(bytes.size() >> 8)) +
           std::string(1, (char)bytes.size()) + bytes;
}

std::string Header(uint8_t type)
{
    return std::string(5, '\0') + std::string(1, (char)type);
}

std::string BE16(uint32_t v)
{
    return std::string(1, (char)(v >> 8)) + std::string(1, (char)v);
}

// The loader the server would call: it sees only whole paths. The log prints them on one line
// that commands no terminal: no control byte, no C1 control, nothing but well-formed UTF-8.
void Load(const TPodArray<u8>& path)
{
    if (path.Count() > JOB_MAX_PATH)
        FuzzFail("a path outside the length limits was completed");
    if (path.Count() == 0)
        return;
    const TString shown = LogLineText((const char*)path.data, path.Count());
    bool c1 = false;
    for (const char* c = strstr(shown.Str(), "\xC2"); c && !c1; c = strstr(c + 1, "\xC2"))
        c1 = (u8)c[1] < 0xA0;
    if (c1 || strpbrk(shown.Str(), "\t\n") || !gSysIsDisplayText(shown.Str()))
        FuzzFail("a path prints a control byte or bytes that are not UTF-8");
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const std::string begin = Header(JOB_MSG_BEGIN) + BE16(4) + BE16(0);
    FuzzStart({
        Record(1, 0, begin) + Record(1, 0, Header(JOB_MSG_CHUNK) + BE16(2) + BE16(3) + "cd") +
            Record(1, 0, Header(JOB_MSG_CHUNK) + BE16(0) + BE16(1) + "ab"),
        Record(1, 0, begin) + Record(2, 0, begin) + Record(1, 61, Header(JOB_MSG_CHUNK) + BE16(0) + BE16(3) + "abcd"),
        Record(3, 0, Header(JOB_MSG_BEGIN) + BE16(0xFFFF)) + Record(3, 0, Header(JOB_MSG_CHUNK) + BE16(1) + BE16(0)),
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SJobAssembler jobs;
    double now = 0.0;
    size_t at = 0;
    while (size - at >= 4)
    {
        const u16 port = (u16)(FIRST_PORT + data[at]);
        now += data[at + 1];
        size_t len = (size_t)data[at + 2] << 8 | data[at + 3];
        at += 4;
        if (len > size - at)
            len = size - at;
        jobs.Expire(now);
        TPodArray<u8> path;
        if (jobs.Take(NetAddr(LOOPBACK, port), data + at, (u32)len, now, path))
            Load(path);
        if (jobs.SenderCount() > JOB_MAX_SENDERS)
            FuzzFail("more senders tracked than the cap");
        at += len;
    }
    return 0;
}
