// Where the settings live on systems without a registry: a registry-export
// text file, the form the registry editor writes and imports, so the values
// move between machines and import on Windows with a double click.
#pragma once

inline constexpr int kStorePathSize = 4096;

struct StorePath {
    char text[kStorePathSize];  // empty when there is no store
};

// $KIVREL_REGISTRY when set and not empty (a host points the module at
// another store this way), else $XDG_CONFIG_HOME/kivrel/registry.reg when
// that is an absolute path, else $HOME/.config/kivrel/registry.reg. Read
// afresh on every call.
StorePath settingsStorePath();

// Why the file could not be read or written: an errno value, or one of the
// store's own reasons below; 0 for none.
inline constexpr int kStoreNotAFile = -1;  // a folder, pipe or device stands in its place
inline constexpr int kStoreBadUtf16 = -2;  // marked as UTF-16 but not valid UTF-16
inline constexpr int kStoreNotUtf8 = -3;   // a value a UTF-16 file cannot hold
inline constexpr int kStoreNoPath = -4;    // no variable names a place for the file

// The reason in words, as the host prints it after the file's name.
const char* storeProblemText(int problem);
// 0 when the file can be read or is not there yet (both give the values it
// holds, or the defaults); otherwise why its values are out of reach.
int settingsStoreProblem();
// Why the last write of this thread that failed, failed (a later write that
// goes through keeps it); 0 before any failed.
int lastStoreWriteProblem();
