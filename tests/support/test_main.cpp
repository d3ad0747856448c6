#include "tests/support/test_main.h"

#include "app/application_identity.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

static const char *const sandboxVariable = "TARNLOW_TEST_SANDBOX";

bool TarnlowTest::insideSandbox()
{
    return std::getenv(sandboxVariable) != nullptr;
}

static int waitForChild(pid_t child)
{
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    std::fprintf(stderr, "test killed by signal %d\n", WTERMSIG(status));
    return 128 + WTERMSIG(status);
}

int TarnlowTest::runInSandbox(int argc, char **argv)
{
    (void)argc;
    char pattern[] = "/tmp/tarnlow-test-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path sandbox(pattern);
    const fs::path executable = fs::read_symlink("/proc/self/exe");
    const fs::path copy = sandbox / "bin" / executable.filename();
    fs::create_directories(sandbox / "bin");
    fs::create_directories(sandbox / "config");
    fs::copy_file(executable, copy);

    setenv(sandboxVariable, sandbox.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (sandbox / "config").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);

    const pid_t child = fork();
    if (child == 0) {
        execv(copy.c_str(), argv);
        std::perror("execv");
        _exit(127);
    }
    const int status = waitForChild(child);
    if (!std::getenv("TARNLOW_KEEP_SANDBOX"))
        fs::remove_all(sandbox);
    else
        std::fprintf(stderr, "sandbox kept: %s\n", sandbox.c_str());
    return status;
}

void TarnlowTest::prepareApplication()
{
    ApplicationIdentity::apply();
}
