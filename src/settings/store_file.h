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
