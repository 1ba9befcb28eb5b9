#include "vocabulary.h"

#include <cstdio>

void logLine(const std::string& message) { std::fprintf(stderr, "kivrel: %s\n", message.c_str()); }
