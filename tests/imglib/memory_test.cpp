// A file that claims a huge image but whose data stops early fails without the reader ever
// holding memory for the image it claims.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "imglib/formats/registry.h"
#include "tests/support/testkit.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
constexpr bool kSanitized = __has_feature(address_sanitizer);
#else
constexpr bool kSanitized = false;
#endif

// A field of /proc/self/status in kB ("VmRSS", "VmHWM"), -1 when absent.
long statusKb(const std::string& field)
{
    std::ifstream status("/proc/self/status");
    for (std::string name; status >> name;) {
        long value = -1;
        if (name == field + ":" && status >> value)
            return value;
        status.ignore(1 << 20, '\n');
    }
    return -1;
}

enum Outcome { failedSmall = 0, decoded = 2, tooMuchMemory = 3, unmeasured = 4 };

// Decodes in a child process, so that its peak resident memory is the decode's alone.
int decodeInChild(const std::vector<std::uint8_t>& file, long limitKb)
{
    const pid_t child = fork();
    if (child != 0) {
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::ofstream("/proc/self/clear_refs") << "5";  // restarts the peak from the current size
    const long before = statusKb("VmRSS");
    imglib::Image image;
    const bool ok = imglib::decodeAny(file, image).ok();
    const long peak = statusKb("VmHWM");
    _exit(ok ? decoded : before < 0 || peak < 0 ? unmeasured : peak - before > limitKb ? tooMuchMemory : failedSmall);
}

TEST(CutFiles, FailHoldingNoMemoryForTheImageTheyClaim)
{
    if (kSanitized)
        GTEST_SKIP() << "skipped: the sanitizers' own memory would hide the reader's";
    constexpr long kLimitKb = 100 * 1024;  // the claimed images take 256 to 768 MB
    for (const char* name : {"progressive.jpg", "utah.rle", "four_planes.img", "rle8.bmp", "one_strip_deflate.tif",
                             "one_bit.png", "noise.gif", "noise.webp", "noise.jxl", "heif.heic", "codestream.j2k"}) {
        SCOPED_TRACE(name);
        const auto file = testkit::readBytes(testkit::testData(std::string("cut/") + name));
        EXPECT_EQ(decodeInChild(file, kLimitKb), failedSmall) << "2: decoded, 3: over 100 MB, 4: not measured";
    }
}

}  // namespace
