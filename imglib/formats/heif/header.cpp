#include "imglib/formats/heif/header.h"

#include <algorithm>
#include <array>
#include <vector>

#include "imglib/core/boxes.h"
#include "imglib/core/byte_reader.h"

namespace imglib::heif {

namespace {

// Still images and sequences in HEVC or AV1, and the brands for any coding (mif1, mif2, msf1).
constexpr std::array kBrands{fourcc("heic"), fourcc("heix"), fourcc("hevc"), fourcc("hevx"), fourcc("heim"),
                             fourcc("heis"), fourcc("hevm"), fourcc("hevs"), fourcc("mif1"), fourcc("mif2"),
                             fourcc("msf1"), fourcc("avif"), fourcc("avis")};

bool isKnownBrand(std::uint32_t brand) { return std::find(kBrands.begin(), kBrands.end(), brand) != kBrands.end(); }

// The body of a full box past its version and flags; false when it has none.
bool fullBox(std::span<const std::uint8_t> body, std::uint8_t& version, ByteReader& rest)
{
    rest = ByteReader(body);
    return rest.u8(version) && rest.skip(3);
}

// Item numbers are 16 bits wide in the boxes' first versions, 32 in later ones.
bool itemId(ByteReader& in, bool wide, std::uint32_t& id)
{
    std::uint16_t narrow = 0;
    if (wide)
        return in.u32be(id);
    if (!in.u16be(narrow))
        return false;
    id = narrow;
    return true;
}

// The box of that type among those of `in`, or an empty one.
std::span<const std::uint8_t> childBox(ByteReader in, std::uint32_t type)
{
    for (Box box; readBox(in, box) == BoxRead::ok && box.complete;)
        if (box.type == type)
            return box.body;
    return {};
}

// The items of type 'grid' that the item information box lists.
std::vector<std::uint32_t> gridItems(std::span<const std::uint8_t> iinf)
{
    std::vector<std::uint32_t> grids;
    std::uint8_t version = 0;
    ByteReader in({});
    if (!fullBox(iinf, version, in) || !in.skip(version == 0 ? 2 : 4))  // the entry count
        return grids;
    for (Box infe; readBox(in, infe) == BoxRead::ok && infe.complete;) {
        std::uint8_t entryVersion = 0;
        ByteReader entry({});
        std::uint32_t id = 0, type = 0;
        if (infe.type == fourcc("infe") && fullBox(infe.body, entryVersion, entry) && entryVersion >= 2 &&
            itemId(entry, entryVersion > 2, id) && entry.skip(2) && entry.u32be(type) && type == fourcc("grid"))
            grids.push_back(id);
    }
    return grids;
}

// Whether a grid's derivation ('dimg' reference) names one tile twice.
bool repeatsATile(std::span<const std::uint8_t> iref, const std::vector<std::uint32_t>& grids)
{
    std::uint8_t version = 0;
    ByteReader in({});
    if (!fullBox(iref, version, in))
        return false;
    for (Box reference; readBox(in, reference) == BoxRead::ok && reference.complete;) {
        ByteReader fields(reference.body);
        std::uint32_t from = 0;
        std::uint16_t count = 0;
        if (reference.type != fourcc("dimg") || !itemId(fields, version != 0, from) || !fields.u16be(count) ||
            std::find(grids.begin(), grids.end(), from) == grids.end())
            continue;
        std::vector<std::uint32_t> tiles(count);
        for (auto& tile : tiles)
            if (!itemId(fields, version != 0, tile))
                return false;
        std::sort(tiles.begin(), tiles.end());
        if (std::adjacent_find(tiles.begin(), tiles.end()) != tiles.end())
            return true;
    }
    return false;
}

}  // namespace

Status readHeader(std::span<const std::uint8_t> file, Header& header)
{
    ByteReader in(file);
    Box ftyp;
    const BoxRead read = readBox(in, ftyp);
    if (read == BoxRead::cut || (read == BoxRead::ok && !ftyp.complete))
        return failure(Error::truncated, "heif: the file ends inside its 'ftyp' box");
    if (read == BoxRead::broken || ftyp.type != fourcc("ftyp"))
        return failure(Error::badHeader, "heif: no 'ftyp' box first");
    ByteReader brands(ftyp.body);
    std::uint32_t major = 0, minorVersion = 0;
    if (!brands.u32be(major) || !brands.u32be(minorVersion))
        return failure(Error::badHeader, "heif: 'ftyp' box too short");
    header.knownBrand = isKnownBrand(major);
    for (std::uint32_t brand = 0; !header.knownBrand && brands.u32be(brand);)
        header.knownBrand = isKnownBrand(brand);
    return success();
}

Status validate(const Header& header)
{
    if (!header.knownBrand)
        return failure(Error::unsupported, "heif: 'ftyp' names no brand of image read here");
    return success();
}

Status holdsEnoughData(std::span<const std::uint8_t> file)
{
    ByteReader in(file);
    while (!in.atEnd()) {
        Box box;
        const BoxRead read = readBox(in, box);
        if (read == BoxRead::broken)
            return failure(Error::badHeader, "heif: a box smaller than its header");
        if (read == BoxRead::cut || !box.complete)
            return failure(Error::truncated, "heif: the file ends inside a box");
    }
    return success();
}

Status checkReferences(std::span<const std::uint8_t> file)
{
    const auto meta = childBox(ByteReader(file), fourcc("meta"));
    std::uint8_t version = 0;
    ByteReader children({});
    if (!fullBox(meta, version, children))
        return success();
    if (repeatsATile(childBox(children, fourcc("iref")), gridItems(childBox(children, fourcc("iinf")))))
        return failure(Error::badData, "heif: a grid names the same tile twice");
    return success();
}

}  // namespace imglib::heif
