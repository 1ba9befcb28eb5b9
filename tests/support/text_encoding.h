// Text from one encoding to another through the C library's converter, so
// tests judge the store's own UTF-16 handling by someone else's.
#pragma once

#include <string>

// iconv's names ("UTF-8", "UTF-16LE", which writes no byte-order mark).
// Fails the running test when the text cannot be converted.
std::string convertText(const std::string& text, const char* from, const char* to);
