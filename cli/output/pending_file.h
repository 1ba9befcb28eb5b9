// A file written under a temporary name beside its target and moved into
// place by commit(), so a failed run never leaves a half-written output nor
// replaces a good one. Removed if never committed.
#pragma once

#include <string>

#include "pluginhost/status.h"

class PendingFile {
public:
    PendingFile() = default;
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    ~PendingFile();

    // Fails early when `target` is taken (and not to be overwritten) or its
    // folder cannot be written.
    Status create(const std::string& target, bool overwrite);
    Status commit(bool overwrite);

    const std::string& temp() const { return temp_; }
    const std::string& target() const { return target_; }

private:
    std::string target_, temp_;
};

// "x exists; use --overwrite (-y) to replace it"
std::string existsMessage(const std::string& path);
