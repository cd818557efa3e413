#include "cli/options.h"

#include <charconv>
#include <getopt.h>
#include <optional>
#include <string>
#include <string_view>

#include "recipe/formats.h"

namespace cli {

namespace {

const char* const kHelpStart = R"(Usage: tesselo-convert [OPTIONS] INPUT...
Converts image files to a Windows bitmap or a TIFF file, the way Tesselo's window does.
INPUT is a file (converted whatever its name) or a folder (its files named, in any letter case,
)";

const char* const kHelpEnd = R"(

  -o, --output DIR        folder for the results (made if missing; default: the current folder)
  -t, --to FORMAT         bmp | tiff (LZW, the default) | tiff-none | tiff-packbits | tiff-ccitt
  -c, --colours N         reduce to N colours, 2..256, dithered (also --colors)
      --grey              grey levels (also --gray); not with --colours
  -s, --scale PERCENT     resize, 10..200 (100: unchanged)
  -r, --recursive         also convert the files of subfolders; their tree is kept under DIR
  -j, --jobs N            files converted at once (default: the number of cores)
  -n, --no-clobber        keep an existing output file; its input is reported as skipped
      --keep-dates        give each output the modification time of its input
      --first-page        convert only the first page of a multi-page TIFF or an animation
      --log FILE          also write the failed inputs to FILE, in the window's Log.txt format
  -q, --quiet             no progress display
  -h, --help              this text
      --version           the version

An output is named after its input without the extension, plus .bmp or .tif. The TIFF kinds
are reduced to 255 colours (tiff-ccitt: 2, black and white) before writing.
Every page of a multi-page TIFF or an animation is converted: into one multi-page TIFF, or into
one bitmap a page named <name>-<n>.bmp, n from 1 with as many digits as the page count has
(fax-1.bmp ... fax-3.bmp, anim-01.bmp ... anim-12.bmp). A page that fails fails its file, which
then leaves no output.
Exit status: 0 all converted (or skipped), 1 some file failed, 2 usage error,
130, 143 or 129 stopped by SIGINT, SIGTERM or SIGHUP (finished files stay, none is left half
written).
)";

// The folder extensions and the end of their sentence, as many words a line as fit in 95 columns.
std::string extensionLines()
{
    std::vector<std::string> words;
    for (const std::string_view extension : recipe::kFolderExtensions)
        words.push_back("." + std::string(extension));
    words.back() += ";";
    for (const char* word : {"hidden", "ones", "left", "out)."})
        words.emplace_back(word);
    std::string text, line;
    for (const std::string& word : words) {
        if (!line.empty() && line.size() + 1 + word.size() > 95) {
            text += line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
    }
    return text + line;
}

enum LongOnly { kGrey = 256, kLog, kVersion, kKeepDates, kFirstPage };

const option kLongOptions[] = {
    {"output", required_argument, nullptr, 'o'},
    {"to", required_argument, nullptr, 't'},
    {"colours", required_argument, nullptr, 'c'},
    {"colors", required_argument, nullptr, 'c'},
    {"grey", no_argument, nullptr, kGrey},
    {"gray", no_argument, nullptr, kGrey},
    {"scale", required_argument, nullptr, 's'},
    {"recursive", no_argument, nullptr, 'r'},
    {"jobs", required_argument, nullptr, 'j'},
    {"no-clobber", no_argument, nullptr, 'n'},
    {"keep-dates", no_argument, nullptr, kKeepDates},
    {"first-page", no_argument, nullptr, kFirstPage},
    {"log", required_argument, nullptr, kLog},
    {"quiet", no_argument, nullptr, 'q'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kVersion},
    {nullptr, 0, nullptr, 0},
};

}  // namespace

std::string helpText() { return kHelpStart + extensionLines() + kHelpEnd; }

namespace {

std::optional<int> number(std::string_view text, int low, int high)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high)
        return std::nullopt;
    return value;
}

Parsed usage(std::string error)
{
    Parsed parsed;
    parsed.action = Action::usageError;
    parsed.error = std::move(error);
    return parsed;
}

// The option getopt_long stopped at, as it was typed.
std::string offending(char** argv)
{
    const std::string_view typed = argv[::optind - 1];
    if (typed.starts_with("--"))
        return std::string(typed.substr(0, typed.find('=')));
    return std::string("-") + char(::optopt);
}

std::string range(const char* option, int low, int high, const char* text)
{
    return std::string(option) + " takes a number from " + std::to_string(low) + " to " + std::to_string(high) +
           ", not \"" + text + "\"";
}

// The names --to takes, from the format table: "bmp, tiff, … or tiff-ccitt".
std::string formatNames()
{
    std::string names;
    for (std::size_t i = 0; i < recipe::kOutputFormats.size(); ++i) {
        if (i > 0)
            names += i + 1 == recipe::kOutputFormats.size() ? " or " : ", ";
        names += recipe::kOutputFormats[i].name;
    }
    return names;
}

}  // namespace

Parsed parseArguments(int argc, char** argv, unsigned cores)
{
    Parsed parsed;
    Options& o = parsed.options;
    o.jobs = cores;
    bool grey = false;
    ::opterr = 0;  // the one line about a wrong option is ours
    ::optind = 1;
    int c = 0;
    while ((c = ::getopt_long(argc, argv, ":o:t:c:s:rj:nqh", kLongOptions, nullptr)) != -1) {
        const char* arg = ::optarg;
        switch (c) {
        case 'o':
            if (*arg == '\0')
                return usage("--output needs a folder");
            o.outputFolder = arg;
            break;
        case 't':
            o.format = recipe::formatNamed(arg);
            if (o.format == nullptr)
                return usage(std::string("unknown format \"") + arg + "\" (" + formatNames() + ")");
            break;
        case 'c':
            if (const auto n = number(arg, 2, 256))
                o.settings.colours = *n;
            else
                return usage(range("--colours", 2, 256, arg));
            break;
        case kGrey:
            grey = true;
            break;
        case 's':
            if (const auto n = number(arg, 10, 200))
                o.settings.scale = *n;
            else
                return usage(range("--scale", 10, 200, arg));
            break;
        case 'r':
            o.recursive = true;
            break;
        case 'j':
            if (const auto n = number(arg, 1, 1024))
                o.jobs = unsigned(*n);
            else
                return usage(range("--jobs", 1, 1024, arg));
            break;
        case 'n':
            o.noClobber = true;
            break;
        case kKeepDates:
            o.keepDates = true;
            break;
        case kFirstPage:
            o.firstPage = true;
            break;
        case kLog:
            if (*arg == '\0')
                return usage("--log needs a file");
            o.logFile = arg;
            break;
        case 'q':
            o.quiet = true;
            break;
        case 'h':
            parsed.action = Action::help;
            return parsed;
        case kVersion:
            parsed.action = Action::version;
            return parsed;
        case ':':
            return usage(offending(argv) + " needs a value");
        default:
            return usage("unknown option " + offending(argv));
        }
    }
    if (grey && o.settings.colours != 0)
        return usage("--colours and --grey do not go together");
    o.settings.grey = grey;
    for (int i = ::optind; i < argc; ++i)
        o.inputs.emplace_back(argv[i]);
    if (o.inputs.empty())
        return usage("no input: name the files or folders to convert");
    return parsed;
}

}  // namespace cli
