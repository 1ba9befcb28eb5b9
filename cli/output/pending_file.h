// A file written under a temporary name beside its target and moved into
// place by commit(), so a failed run never leaves a half-written output nor
// replaces a good one. Removed if never committed, and registered with the
// crash handler meanwhile. A symbolic link is followed: the link's target is
// replaced and the link stays. What cannot be renamed onto (standard output,
// a FIFO, a character device) is written directly, in order.
#pragma once

#include <sys/types.h>

#include <string>

#include "output/output.h"
#include "pluginhost/status.h"

class PendingFile {
public:
    PendingFile() = default;
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    ~PendingFile();

    // Fails early when `target` is taken (and not to be overwritten), is the
    // input, is a folder, or its folder cannot be written.
    Status create(const std::string& target, const WriterSettings& settings);
    // `flushed`: the data is on the disk already (flushFileSystemOf).
    Status commit(bool flushed = false);
    // Undoes a commit that made a new file; one that replaced a file stays,
    // the old contents being gone.
    void withdraw();

    // Where to write: the temporary name, or the target itself when direct.
    const std::string& temp() const { return temp_; }
    // The same for FFmpeg's avio_open, which would read "name:..." as a protocol.
    std::string avioPath() const;
    const std::string& target() const { return target_; }
    bool direct() const { return direct_; }

private:
    std::string target_;    // as given, for messages
    std::string resolved_;  // the file the target names, links followed
    std::string temp_;
    bool overwrite_ = false;
    bool direct_ = false;
    bool replaces_ = false;   // the target was a file before
    bool committed_ = false;  // by this object
};

// One flush of the whole file system `file` is written on, for many files at once.
Status flushFileSystemOf(const PendingFile& file);

// Whether `target` may be written, without creating anything: the checks of
// create(), for names to be written later (an image sequence's frames).
Status checkOutputName(const std::string& target, const WriterSettings& settings);

// "x exists; use -y to replace it"
std::string existsMessage(const std::string& path);
