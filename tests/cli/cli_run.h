// Running the real tesselo-convert from a test, and the small pictures it converts.
#pragma once

#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "imglib/api/images.h"

namespace clirun {

namespace fs = std::filesystem;

struct Finished {
    int status = -1;  // the exit status
    std::string out, err;
};

inline std::string readText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Starts tesselo-convert with `args` in the folder `cwd`, its standard output and error going to
// files in `cwd` named .out and .err (hidden, so folder runs leave them alone).
inline pid_t start(const std::vector<std::string>& args, const fs::path& cwd)
{
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    if (::chdir(cwd.c_str()) != 0)
        ::_exit(127);
    const int out = ::open(".out", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(".err", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out, 1);
    ::dup2(err, 2);
    std::vector<char*> argv{const_cast<char*>(TESSELO_CONVERT)};
    for (const auto& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(TESSELO_CONVERT, argv.data());
    ::_exit(127);
}

inline Finished finish(pid_t pid, const fs::path& cwd)
{
    int status = 0;
    ::waitpid(pid, &status, 0);
    Finished done;
    done.status = WIFEXITED(status) ? WEXITSTATUS(status) : 256 + WTERMSIG(status);
    done.out = readText(cwd / ".out");
    done.err = readText(cwd / ".err");
    fs::remove(cwd / ".out");
    fs::remove(cwd / ".err");
    return done;
}

inline Finished run(const std::vector<std::string>& args, const fs::path& cwd) { return finish(start(args, cwd), cwd); }

// A picture of many colours, different for each `seed`, written as a 24-bit bitmap by the library.
inline void writePicture(const fs::path& path, std::uint32_t width = 96, std::uint32_t height = 64, unsigned seed = 1)
{
    imglib::Image image;
    (void)imglib::allocate(image, width, height, imglib::PixelFormat::rgb);
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x) {
            std::uint8_t* p = image.row(y) + 3 * x;
            p[0] = std::uint8_t(x * 255 / width + seed * 31);
            p[1] = std::uint8_t(y * 255 / height + seed * 17);
            p[2] = std::uint8_t((x * y + seed * 7) % 256);
        }
    fs::create_directories(path.parent_path());
    (void)imglib::writeImage(image, path.c_str(), 0);
}

inline void writeText(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// The files under `folder`, relative, sorted; hidden ones too (a temporary would show).
inline std::vector<std::string> filesUnder(const fs::path& folder)
{
    std::vector<std::string> names;
    if (fs::exists(folder))
        for (const auto& entry : fs::recursive_directory_iterator(folder))
            if (!entry.is_directory())
                names.push_back(entry.path().lexically_relative(folder).string());
    std::sort(names.begin(), names.end());
    return names;
}

inline std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

}  // namespace clirun
