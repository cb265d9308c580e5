// What every fuzz target shares: nothing waits for a person, assertions are answered and counted
// instead of shown, and the target's own seed inputs are written into the folder that
// PW_FUZZ_SEEDS_DIR names (the run script passes it the corpus folder it then fuzzes).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

// Called from LLVMFuzzerInitialize with the target's seeds.
void FuzzStart(const std::vector<std::string>& seeds);
// A folder of the target's own for the files it needs, removed at exit.
const std::string& FuzzDir();
// Writes bytes to a file; stops with a finding when that fails.
void FuzzWriteFile(const std::string& path, const uint8_t* data, size_t size);
// Stops the run with a finding (libFuzzer keeps the input that caused it).
[[noreturn]] void FuzzFail(const char* what);
// Bytes of a little helper value inside a seed, big-endian as the engine's archives write them.
std::string FuzzBE32(uint32_t v);
