// PNG files written and read by libpng itself, an independent reference for the program's own codec.
#pragma once

#include <string>
#include <vector>

#include "GameSys.h"

// Writes 8-bit RGBA pixels (top row first, red in the low byte) as a PNG file.
bool WritePng(const std::string& path, u32 w, u32 h, const std::vector<u32>& px);
// The pixels of a PNG file as libpng decodes them, top row first; empty when it does not read.
std::vector<u32> ReadPng(const std::string& path, u32& w, u32& h);
