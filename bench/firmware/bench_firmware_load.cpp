// Loading a 1 MiB encrypted HEX firmware file, against openssl decrypting the same file: both as
// processes, start included, in one interleaved run, plus the load alone inside this process.
// Prints medians, spreads and the ratios to openssl measured in this run; fails when the tool
// takes more than twice openssl's time or the loaded image differs from the one written.
#include "firmware/hex_image.h"
#include "tests/support/firmware_builder.h"
#include "tests/support/sandbox_files.h"
#include "tests/support/test_main.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kImageBytes = 1024 * 1024;
constexpr int kRounds = 11;
constexpr double kAllowedRatio = 2.0;
constexpr const char *kHeader = "0702, V1, X=FALSE";
// The key as its 16 ASCII bytes, which openssl takes in hexadecimal.
constexpr const char *kKeyAscii = "5C3A9E07D21B84F6";

// Bytes without a pattern the loader could profit from: the HEX text is as varied as real code.
QByteArray randomImage()
{
    QByteArray image(kImageBytes, '\0');
    uint32_t state = 0x9E3779B9u;
    for (char &byte : image) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = char(state >> 24);
    }
    return image;
}

struct Timings {
    std::vector<double> ms;

    double median() const
    {
        std::vector<double> sorted = ms;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() / 2];
    }
    double least() const { return *std::min_element(ms.begin(), ms.end()); }
    double most() const { return *std::max_element(ms.begin(), ms.end()); }
};

// Runs a program with its output thrown away and returns its wall time from before the spawn
// to after the wait, or a negative value when it does not exit with 0.
double timedProcessMs(const std::vector<std::string> &command)
{
    std::vector<char *> argv;
    for (const std::string &argument : command)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    const Clock::time_point start = Clock::now();
    pid_t pid = 0;
    int status = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0)
        waitpid(pid, &status, 0);
    const double elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    posix_spawn_file_actions_destroy(&actions);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? elapsed : -1.0;
}

double timedLoadMs(const std::string &file, bool &imageMatches, const QByteArray &image)
{
    HexImage hex(HexPageProfile::coupler());
    hex.fileName = file;
    const Clock::time_point start = Clock::now();
    const bool loaded = loadHexImage(hex, HexPageProfile::coupler()).ok();
    const double elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    imageMatches = imageMatches && loaded && hex.imageLength == image.size()
                   && std::memcmp(image.constData(), hex.image.data(), size_t(image.size())) == 0;
    return elapsed;
}

QByteArray loadAverage()
{
    QFile file("/proc/loadavg");
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray("unknown");
}

// The tool's own report of the image, checked once outside the timing.
bool toolReportsImage(const QString &file, const QByteArray &image)
{
    QProcess tool;
    tool.start(TARNLOW_FW_PROGRAM, {"info", "--page", "coupler", file});
    tool.waitForFinished(30000);
    const QByteArray report = tool.readAllStandardOutput();
    return tool.exitCode() == 0 && report.contains("imageLength: " + QByteArray::number(image.size()) + "\n")
           && report.contains("sha256: " + QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex() + "\n");
}

void printTimings(const char *name, const Timings &timings)
{
    std::printf("  %-34s median %7.2f ms   spread %7.2f .. %7.2f ms\n", name, timings.median(), timings.least(),
                timings.most());
}

int run()
{
    const QString openssl = QStandardPaths::findExecutable("openssl");
    if (openssl.isEmpty()) {
        std::fprintf(stderr, "openssl is needed as the yardstick and was not found\n");
        return 2;
    }
    const QByteArray image = randomImage();
    const QByteArray encrypted = FirmwareBuilder::encryptedHex(image, kHeader);
    const std::string file = SandboxFiles::write("firmware/bench_1MiB.HEX", encrypted).toStdString();
    const std::vector<std::string> toolCommand{TARNLOW_FW_PROGRAM, "info", "--page", "coupler", file};
    const std::vector<std::string> opensslCommand{openssl.toStdString(), "enc", "-d", "-aes-128-ecb", "-K",
                                                  QByteArray(kKeyAscii).toHex().toStdString(), "-nopad", "-in",
                                                  file, "-out", "/dev/null"};

    bool imageMatches = toolReportsImage(QString::fromStdString(file), image);
    bool processesSucceeded = true;
    Timings tool, reference, inProcess;
    // One round of each first: the file in the page cache and the programs' libraries loaded.
    timedProcessMs(toolCommand);
    timedProcessMs(opensslCommand);
    const QByteArray loadBefore = loadAverage();
    // Each round runs the three in another order, so that a drift of the machine's load during
    // the run does not fall on one of them only.
    const std::vector<std::function<void()>> measures{
        [&] { tool.ms.push_back(timedProcessMs(toolCommand)); },
        [&] { reference.ms.push_back(timedProcessMs(opensslCommand)); },
        [&] { inProcess.ms.push_back(timedLoadMs(file, imageMatches, image)); }};
    for (int round = 0; round < kRounds; ++round)
        for (size_t step = 0; step < measures.size(); ++step)
            measures[(size_t(round) + step) % measures.size()]();
    const QByteArray loadAfter = loadAverage();
    for (const Timings *timings : {&tool, &reference})
        processesSucceeded = processesSucceeded && timings->least() >= 0;

    const double toolRatio = tool.median() / reference.median();
    const double inProcessRatio = inProcess.median() / reference.median();
    std::printf("Loading a 1 MiB encrypted HEX firmware file (%d bytes), %d interleaved rounds\n",
                int(encrypted.size()), kRounds);
    printTimings("(a) tarnlow-fw info --page coupler", tool);
    printTimings("(b) openssl enc -d -aes-128-ecb", reference);
    printTimings("(c) loadHexImage in this process", inProcess);
    std::printf("  ratio (a)/(b):                     %.2f (at most %.1f)\n", toolRatio, kAllowedRatio);
    std::printf("  ratio (c)/(b):                     %.2f\n", inProcessRatio);
    std::printf("  loaded image equals the one written: %s\n", imageMatches ? "yes" : "NO");
    std::printf("  load average before / after:       %s / %s\n", loadBefore.constData(), loadAfter.constData());
    if (!processesSucceeded)
        std::printf("  a process failed\n");
    return processesSucceeded && imageMatches && toolRatio <= kAllowedRatio ? 0 : 1;
}

} // namespace

TARNLOW_BENCH_MAIN(run)
