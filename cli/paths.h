// File names the host makes up: where the module is, and what an output is
// called when the command line names none.
#pragma once

#include <string>

// kivrel.so beside our own executable, as a plug-in host looks in its own folder.
std::string defaultModulePath();
// The input's file name without folder and extension; "testcard" for none.
std::string stemOf(const std::string& path);
