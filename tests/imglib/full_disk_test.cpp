// A write to a full file system fails, leaves nothing behind and keeps the earlier file of the
// same name, for every write format: on a small tmpfs the test mounts for itself.
#include <gtest/gtest.h>

#include <sys/mount.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <random>
#include <set>
#include <string>

#include "imglib/api/handles.h"
#include "imglib/imglib.h"
#include "tests/support/testkit.h"

using namespace imglib;
namespace fs = std::filesystem;

namespace {

// A tmpfs of `size` mounted at `where` for the object's lifetime; mounted() is false when the
// system will not have it (no privilege, no tmpfs).
class SmallFileSystem {
public:
    SmallFileSystem(fs::path where, const char* size) : where_(std::move(where))
    {
        fs::create_directory(where_);
        const std::string options = std::string("size=") + size;
        mounted_ = mount("tmpfs", where_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
        error_ = mounted_ ? 0 : errno;
    }
    ~SmallFileSystem()
    {
        if (mounted_)
            umount2(where_.c_str(), MNT_DETACH);
    }
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;
    bool mounted() const { return mounted_; }
    const char* why() const { return std::strerror(error_); }

private:
    fs::path where_;
    bool mounted_ = false;
    int error_ = 0;
};

// Fills the file system with `file`, then frees `spare` bytes of it.
void fillLeaving(const fs::path& file, std::uintmax_t spare)
{
    {
        std::ofstream out(file, std::ios::binary);
        const std::string block(64 * 1024, 'f');
        while (out.write(block.data(), static_cast<std::streamsize>(block.size())))
            ;
    }
    fs::resize_file(file, fs::file_size(file) - std::min(spare, fs::file_size(file)));
}

std::set<std::string> namesIn(const fs::path& folder)
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

Image noise(std::uint32_t width, std::uint32_t height)
{
    Image image;
    EXPECT_TRUE(allocate(image, width, height, PixelFormat::rgb).ok());
    std::mt19937 random(7);
    for (auto& sample : image.pixels)
        sample = static_cast<std::uint8_t>(random());
    return image;
}

}  // namespace

TEST(FullDisk, EveryWriteFormatFailsAndLosesNothing)
{
    const testkit::ScratchDir scratch;
    const SmallFileSystem disk(scratch / "disk", "4m");
    if (!disk.mounted())
        GTEST_SKIP() << "skipped: no tmpfs could be mounted (" << disk.why() << ")";
    const fs::path root = scratch / "disk";
    const std::int32_t small = handleTable().add(noise(8, 8));
    const std::int32_t large = handleTable().add(noise(1000, 700));  // 2 MB of pixels; any format takes 80 KB
    for (const std::int16_t format : std::array<std::int16_t, 5>{0, 16, 17, 18, 19}) {
        SCOPED_TRACE("format " + std::to_string(format));
        const fs::path target = root / ("out" + std::to_string(format));
        ASSERT_NE(WriteDIBToFile(small, target.c_str(), format), 0);
        const auto earlier = testkit::readBytes(target);
        fillLeaving(root / "filler", 16 * 1024);
        const auto before = namesIn(root);

        EXPECT_EQ(WriteDIBToFile(large, target.c_str(), format), 0);
        EXPECT_EQ(testkit::readBytes(target), earlier);
        EXPECT_EQ(namesIn(root), before) << "nothing left behind";
        fs::remove(root / "filler");
    }
    handleTable().release(small);
    handleTable().release(large);
}
