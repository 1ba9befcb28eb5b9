// The command line of any words: each input's bytes, split at NUL bytes, are
// the arguments after the program's name. Parsing answers with options or
// one message, never anything else.
#include <cstdlib>
#include <string>
#include <vector>

#include "options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> words{"kivrel"};
    std::string word;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            words.push_back(word);
            word.clear();
        } else {
            word += static_cast<char>(data[i]);
        }
    }
    words.push_back(word);
    std::vector<const char*> argv;
    for (const std::string& w : words) argv.push_back(w.c_str());
    argv.push_back(nullptr);
    Options options;
    Action action = Action::Run;
    const Status s = parseCommandLine(static_cast<int>(words.size()), argv.data(), options, action);
    if (!s.ok() && s.message().empty()) std::abort();
    return 0;
}
