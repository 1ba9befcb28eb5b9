// File names kivrel makes up: where the module is, and what an output is
// called when the command line names none.
#pragma once

#include <string>

#include "pluginhost/status.h"

// The module to load: `given` (--module) when not empty; else the file
// KIVREL_MODULE names; else kivrel.so beside our own executable (the build
// folder), then in ../lib/kivrel/ from it (an install under any prefix, or a
// package unpacked anywhere). Fails naming the places it looked at.
Status findModule(const std::string& given, std::string& path);
// What findModule picks with nothing given, or the first place it looked at.
std::string defaultModulePath();
// The input's file name without folder and extension; "testcard" for none.
std::string stemOf(const std::string& path);
