// Where kivrel finds its module when --module does not say: KIVREL_MODULE,
// then beside itself, then ../lib/kivrel/ as an install lays it out, run
// from a copy of kivrel in a prefix of its own and from another folder.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli/support/cli_runner.h"

namespace fs = std::filesystem;

namespace {

// The module that fails to register: loaded, it names its own path.
const std::string kFake = std::string(KIVREL_FAKE_MODULE_DIR) + "/fake_init_fails.so";

struct Place {
    std::string env;  // KIVREL_MODULE, "" for unset
    bool beside = false, installed = false;
};

}  // namespace

class ModuleLookup : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        prefix_ = path("prefix");
        fs::create_directories(prefix_ + "/bin");
        fs::create_directories(prefix_ + "/lib/kivrel");
        fs::copy_file(KIVREL_CLI_EXE, prefix_ + "/bin/kivrel");
        fs::create_directories(path("elsewhere"));
        fs::create_symlink(prefix_ + "/bin/kivrel", path("elsewhere/kivrel"));
    }
    void place(bool beside, bool installed) {
        fs::remove(prefix_ + "/bin/kivrel.so");
        fs::remove(prefix_ + "/lib/kivrel/kivrel.so");
        if (beside) fs::copy_file(kFake, prefix_ + "/bin/kivrel.so");
        if (installed) fs::copy_file(KIVREL_MODULE_PATH, prefix_ + "/lib/kivrel/kivrel.so");
    }
    // `exe` run with `args` in the folder "elsewhere"; the status and stderr.
    CliResult runAt(const std::string& exe, const std::string& env, Args args) {
        args.insert(args.begin(), exe);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string err = path("stderr");
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::setsid();  // no controlling terminal: the dialog cannot open on the one running the tests
            env.empty() ? ::unsetenv("KIVREL_MODULE") : ::setenv("KIVREL_MODULE", env.c_str(), 1);
            ::dup2(::open("/dev/null", O_RDONLY), STDIN_FILENO);
            ::dup2(::open("/dev/null", O_WRONLY), STDOUT_FILENO);
            ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
            if (::chdir(path("elsewhere").c_str()) == 0) ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        int raw = 0;
        ::waitpid(pid, &raw, 0);
        CliResult r;
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        r.err = readFile(err);
        return r;
    }
    std::string prefix_;
};

TEST_F(ModuleLookup, EnvironmentThenBesideThenInstalledFolder) {
    const std::string beside = prefix_ + "/bin/kivrel.so", installed = prefix_ + "/lib/kivrel/kivrel.so";
    const std::string missing = path("nosuch.so");
    const std::string fakeFails = "failed to register its filter";
    struct Case {
        const char* what;
        Place where;
        Args args;
        int status;
        std::string err;  // a part of stderr; "" for none at all
    };
    const Case cases[] = {
        {"installed only", {"", false, true}, {}, 0, ""},
        {"beside before installed", {"", true, true}, {}, 1, "module " + beside + " " + fakeFails},
        {"KIVREL_MODULE before beside", {KIVREL_MODULE_PATH, true, false}, {}, 0, ""},
        {"--module before KIVREL_MODULE", {kFake, false, false}, {"--module", KIVREL_MODULE_PATH}, 0, ""},
        {"KIVREL_MODULE wrong",
         {missing, false, true},
         {},
         1,
         "kivrel: module " + missing + " (from KIVREL_MODULE): No such file or directory\n"},
        {"nowhere",
         {"", false, false},
         {},
         1,
         "kivrel: no filter module: looked for " + beside + ", " + installed +
             " (KIVREL_MODULE or --module names another)\n"},
    };
    for (const Case& c : cases) {
        place(c.where.beside, c.where.installed);
        // Through a link on the PATH as much as by its own name.
        for (const std::string& exe : {prefix_ + "/bin/kivrel", path("elsewhere/kivrel")}) {
            SCOPED_TRACE(std::string(c.what) + ", run as " + exe);
            Args args = c.args;
            args.push_back("--print-config");
            const CliResult r = runAt(exe, c.where.env, args);
            EXPECT_EQ(r.status, c.status) << r.err;
            if (c.err.empty())
                EXPECT_EQ(r.err, "");
            else
                EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        }
    }
    // The same search for the dialog, which gets as far as asking for a terminal.
    place(false, true);
    const CliResult r = runAt(prefix_ + "/bin/kivrel", "", {"configure"});
    EXPECT_NE(r.err.find("it needs a terminal"), std::string::npos) << r.err;
}
