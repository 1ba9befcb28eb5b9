// What the end of a file says of whether it is whole, for a container whose
// muxer closes every file it finishes the same way.
#pragma once

#include <cstdint>
#include <string>

// Whether the NUT file at `path`, `size` bytes long, ends with the index
// NUT's muxer writes last in every file it finishes, to a pipe as well: one
// without it was cut. True when the file cannot be read to tell.
bool nutEndsWithIndex(const std::string& path, int64_t size);
