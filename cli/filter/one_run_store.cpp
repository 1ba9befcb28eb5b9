#include "filter/one_run_store.h"

#include <stdlib.h>

#include <filesystem>

#include "settings/settings_store.h"
#include "settings/store_file.h"
#include "vocabulary.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kStoreVariable = "KIVREL_REGISTRY";
constexpr const char* kStoreFileName = "registry.reg";
constexpr const char* kMaxIreName = "maxIRE";  // the store's value name

}  // namespace

std::string storeName() { return settingsStorePath().text; }

std::string storeProblemNote(int problem) {
    return problem != 0 ? std::string(" (") + storeProblemText(problem) + ")" : "";
}

void warnIfStoreUnreadable() {
    if (const int problem = settingsStoreProblem(); problem != 0)
        logLine("the settings store " + storeName() + " could not be read" + storeProblemNote(problem) +
                "; using the factory defaults");
}

Status OneRunStore::open(int maxIre) {
    const StorePath user = settingsStorePath();
    const fs::path tmp = fs::temp_directory_path();
    std::string pattern = (tmp / "kivrel-store-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        return Status::fail("cannot make a folder for this run's settings in " + tmp.string());
    folder_ = pattern;
    file_ = (fs::path(folder_) / kStoreFileName).string();
    std::error_code ec;
    // An unreadable store gives the factory defaults (the run has said so).
    if (user.text[0] != '\0' && settingsStoreProblem() == 0 && fs::exists(user.text, ec)) {
        fs::copy_file(user.text, file_, ec);
        if (ec)
            return Status::fail(std::string("cannot copy the settings store ") + user.text + ": " +
                                ec.message());
    }
    if (const char* previous = std::getenv(kStoreVariable)) {
        previous_ = previous;
        hadPrevious_ = true;
    }
    ::setenv(kStoreVariable, file_.c_str(), 1);
    active_ = true;
    writeRegistryText(kSettingsKey, kMaxIreName, std::to_string(maxIre).c_str());
    if (readRegistryText(kSettingsKey, kMaxIreName).text != std::to_string(maxIre))
        return Status::fail("cannot write this run's settings in " + folder_);
    return {};
}

OneRunStore::~OneRunStore() {
    if (active_) {
        if (hadPrevious_)
            ::setenv(kStoreVariable, previous_.c_str(), 1);
        else
            ::unsetenv(kStoreVariable);
    }
    if (!folder_.empty()) {
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
}
