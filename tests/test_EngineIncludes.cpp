// The engine's include graph, read from the sources themselves: modules form layers without
// cycles, and nothing below the engine main includes it.
#include "TestSupport.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace
{
namespace fs = std::filesystem;

// The sources beside the tests' folder.
const fs::path kEngineDir = fs::path(PW_TEST_DATA_DIR).parent_path().parent_path() / "engine";
// Private headers of a module ("GameTextureInternal.h", "GameWindowBackend.h") belong to it.
const char* const kPrivateSuffixes[] = {"Internal", "Backend"};

std::string ModuleOf(std::string stem)
{
    for (const char* suffix : kPrivateSuffixes)
    {
        const std::string s(suffix);
        if (stem.size() > s.size() && stem.compare(stem.size() - s.size(), s.size(), s) == 0)
            return stem.substr(0, stem.size() - s.size());
    }
    return stem;
}

// The name of the header a line `#include "Name.h"` includes (letters, digits and '_' only);
// false for any other line.
bool IncludedHeader(const std::string& line, std::string& name)
{
    size_t i = line.find_first_not_of(" \t");
    if (i == std::string::npos || line[i] != '#')
        return false;
    i = line.find_first_not_of(" \t", i + 1);
    const std::string directive = "include";
    if (i == std::string::npos || line.compare(i, directive.size(), directive) != 0)
        return false;
    i = line.find_first_not_of(" \t", i + directive.size());
    if (i == std::string::npos || line[i] != '"')
        return false;
    const size_t end = line.find_first_not_of(
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_", i + 1);
    if (end == std::string::npos || end == i + 1 || line.compare(end, 3, ".h\"") != 0)
        return false;
    name = line.substr(i + 1, end - i - 1);
    return true;
}

// Module -> modules whose engine headers its files include.
std::map<std::string, std::set<std::string>> ReadGraph()
{
    std::map<std::string, std::set<std::string>> graph;
    for (const fs::directory_entry& e : fs::directory_iterator(kEngineDir))
    {
        const std::string ext = e.path().extension().string();
        if (ext != ".h" && ext != ".cpp")
            continue;
        const std::string from = ModuleOf(e.path().stem().string());
        graph[from];
        std::ifstream in(e.path());
        std::string line;
        std::string header;
        while (std::getline(in, line))
            if (IncludedHeader(line, header) && fs::exists(kEngineDir / (header + ".h")))
            {
                const std::string to = ModuleOf(header);
                if (to != from)
                    graph[from].insert(to);
            }
    }
    return graph;
}

std::set<std::string> Reachable(const std::map<std::string, std::set<std::string>>& graph, const std::string& from)
{
    std::set<std::string> seen;
    std::vector<std::string> todo(1, from);
    while (!todo.empty())
    {
        const std::string m = todo.back();
        todo.pop_back();
        auto it = graph.find(m);
        if (it == graph.end())
            continue;
        for (const std::string& next : it->second)
            if (seen.insert(next).second)
                todo.push_back(next);
    }
    return seen;
}
} // namespace

TEST(EngineIncludes, NoModuleReachesItselfThroughItsIncludes)
{
    const auto graph = ReadGraph();
    ASSERT_GT(graph.count("GameSys"), 0u) << kEngineDir;
    // The engine main includes the window layer: a reader that found no includes would see no cycle.
    ASSERT_EQ(Reachable(graph, "GameCore").count("GameWindow"), 1u) << "the includes were not read";
    for (const auto& [module, uses] : graph)
        EXPECT_EQ(Reachable(graph, module).count(module), 0u) << module << " is part of an include cycle";
}

TEST(EngineIncludes, LayersBelowTheEngineMainNeedNothingFromIt)
{
    const char* const below[] = {"GameSys", "GameFileIO", "GameParse", "GameWindow", "GameWindowEvents",
                                 "GameWindowSDL", "GameWindowEGL", "GameInput", "GameRT", "GameTexture",
                                 "GameShader", "GameConsole", "GameFont"};
    const auto graph = ReadGraph();
    for (const char* module : below)
    {
        ASSERT_GT(graph.count(module), 0u) << module;
        EXPECT_EQ(Reachable(graph, module).count("GameCore"), 0u) << module << " includes the engine main";
    }
}
