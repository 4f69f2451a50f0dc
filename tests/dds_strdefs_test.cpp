// DDS files: names and flag words, the table-driven header decoder, mipmap
// chains (hand-made files and ImageMagick's, against Pillow), truncation of
// the sized entry point at every byte, and the listing.
#include "dds.h"

#include "arrays.h"
#include "byte_writer.hpp"
#include "dds_oracle.hpp"
#include "log_capture.hpp"
#include "test_files.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

namespace {

using namespace vorpix::test;

using Bytes = std::vector<unsigned char>;

// Solid colours of successive levels, as 5:6:5 and decoded.
constexpr unsigned level_565[] = {0xF800, 0x07E0, 0x001F, 0xFFFF, 0x0000};
constexpr std::uint32_t level_argb[] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFFFFu, 0xFF000000u};

std::uint64_t level_blocks(std::uint64_t w, std::uint64_t h) {
    return std::max<std::uint64_t>(1, (w + 3) / 4) * std::max<std::uint64_t>(1, (h + 3) / 4);
}

struct Layout {
    std::uint32_t width = 8, height = 8, count = 4;
    std::uint32_t flags = DSD_CAPS | DSD_HEIGHT | DSD_WIDTH | DSD_PIXELFORMAT | DSD_MIPMAPCOUNT;
    std::uint32_t pf_flags = DPF_FOURCC, fourcc = DDS_FOURCC_DXT1;
    std::uint32_t caps = DDSCAPS_COMPLEX | DDSCAPS_TEXTURE | DDSCAPS_MIPMAP;
    std::uint32_t magic = 0x20534444u;  // "DDS "
    bool dx10 = false;
    std::uint32_t levels_written = ~0u;  // default: count
};

// A DXT1 file whose level k is solid level_565[k % 5], written by halving the
// sides with no lower bound as the decoder reads them.
Bytes make_file(const Layout &s) {
    Bytes b;
    const auto put = [&b](std::initializer_list<std::uint32_t> words) {
        for (std::uint32_t w : words) put_le32(b, w);
    };
    const auto pitch = static_cast<std::uint32_t>(level_blocks(s.width, s.height) * 8);
    put({s.magic, 124, s.flags, s.height, s.width, pitch, 0, s.count, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    put({32, s.pf_flags, s.fourcc, 0, 0, 0, 0, 0, s.caps, 0, 0, 0, 0});
    if (s.dx10) put({DXGI_FORMAT_BC1_UNORM, D3D10_RESOURCE_DIMENSION_TEXTURE2D, 0, 1, 0});
    std::uint64_t w = s.width, h = s.height;
    const std::uint32_t levels = s.levels_written == ~0u ? s.count : s.levels_written;
    for (std::uint32_t k = 0; k < levels; ++k, w /= 2, h /= 2)
        for (std::uint64_t i = 0; i < level_blocks(w, h); ++i) {
            const unsigned c = level_565[k % 5];
            for (unsigned char byte : {c & 0xff, c >> 8, c & 0xff, c >> 8, 0u, 0u, 0u, 0u})
                b.push_back(static_cast<unsigned char>(byte));
        }
    return b;
}

// Image k of file holds pixels pixels of level's solid colour.
void expect_solid(const DDSFILEStr *file, int k, int level, int pixels) {
    const auto *image = static_cast<const std::uint32_t *>(gettbl(file->argb_mipmaps, k));
    for (int i = 0; i < pixels; ++i) ASSERT_EQ(image[i], level_argb[level]) << "image " << k << " pixel " << i;
}

void release(DDSFILEStr *&file) {
    if (file && file->argb_mipmaps) freetbl(file->argb_mipmaps, std::free);
    std::free(file);
    file = nullptr;
}

// Decodes through the length-less entry point; returns the bytes consumed.
long decode_plain(Bytes &bytes, DDSFILEStr *&file, int index) {
    unsigned char *stream = bytes.data();
    EXPECT_EQ(dds_decode_file(&file, index, bytes.data(), &stream), 0);
    return stream - bytes.data();
}

Layout with(const std::function<void(Layout &)> &change) {
    Layout s;
    change(s);
    return s;
}

const Layout dx10_layout = with([](Layout &s) { s.fourcc = DDS_FOURCC_DX10, s.dx10 = true; });

// The listing of the file made from layout, decoded keeping level index (-1:
// all). Written to a stream of its own, it is the same and standard output
// gets none of it.
std::string listing_of(const Layout &layout, int index = -1, const char *prefix = "") {
    Bytes bytes = make_file(layout);
    DDSFILEStr *file = nullptr;
    decode_plain(bytes, file, index);
    std::string out = printed([&] { dds_print_file(const_cast<char *>(prefix), file); });
    std::string streamed;
    EXPECT_EQ(
        printed([&] {
            streamed = vorpix::test::written([&](FILE *f) { dds_fprint_file(f, const_cast<char *>(prefix), file); });
        }),
        "");
    EXPECT_EQ(streamed, out);
    release(file);
    return out;
}

TEST(DdsUnstuff, HeaderTakes124BytesInFileOrderAndUndefinedCodesFail) {
    Bytes stream;
    for (std::uint32_t w = 1; w <= 40; ++w) put_le32(stream, w);
    unsigned char *p = stream.data();
    void *record = nullptr;
    ASSERT_EQ(dds_unstuff_stream(DDS_HEADER, &record, stream.data(), &p), 0);
    EXPECT_EQ(p - stream.data(), 124);
    std::uint64_t words[31];  // the pixel format's eight at bytes 72 to 103
    static_assert(sizeof words == sizeof(DDSHEADERStr));
    std::memcpy(words, record, sizeof words);
    for (std::uint64_t k = 0; k < 31; ++k) EXPECT_EQ(words[k], k + 1) << "the word at byte " << 4 * k;
    std::free(record);

    // Codes without a definition fail with their hex code.
    const std::pair<int, const char *> cases[] = {{1, "0x1"},     {0, "0x0"},     {5, "0x5"},        {199, "0xc7"},
                                                  {511, "0x1ff"}, {512, "0x200"}, {-1, "0xffffffff"}};
    for (const auto &c : cases) {
        Bytes stream(200, 0);
        unsigned char *p = stream.data();
        void *record = nullptr;
        EXPECT_EQ(one_message([&] { EXPECT_EQ(dds_unstuff_stream(c.first, &record, stream.data(), &p), -1); }),
                  std::string("dds_unstuff_stream: str_type ") + c.second + " not defined.\n");
        EXPECT_EQ(p, stream.data());
        EXPECT_EQ(record, nullptr);
    }
    EXPECT_EQ(dds_strdefs_init(), 0);
    EXPECT_EQ(dds_strdefs_init(), 0);
}

// Hand-made files decoded one after another into one object, which holds
// only the latest: the 8x8 chain ends 56 bytes behind the headers whichever
// levels are kept, a level index past the last keeps the last, and with no
// levels nothing; other formats and missing flags decode the headers and
// extract no image. The magic is kept but not checked.
TEST(DdsDecodeFile, KeepsTheChosenLevelsInOneReusedObject) {
    struct Case {
        const char *name;
        Layout layout;
        int index, first_level, images;  // images -1: no list
        long end;
    };
    const auto chain = [](std::uint32_t count) {
        return with([=](Layout &s) { s.count = count, s.magic = 0x12345678u; });
    };
    // clang-format off
    const Case cases[] = {
        {"Every", chain(4), -1, 0, 4, 184}, {"Dx10", dx10_layout, -1, 0, -1, 148}, {"Level2", chain(4), 2, 2, 1, 184},
        {"Level0", chain(4), 0, 0, 1, 184}, {"Level3", chain(4), 3, 3, 1, 184}, {"PastTheLast", chain(4), 9, 3, 1, 184},
        {"NoLevels", chain(0), -1, 0, 0, 128}, {"NoLevel0", chain(0), 0, 0, 0, 128}, {"NoLevel3", chain(0), 3, 0, 0, 128},
        {"NoMipmapCountFlag", with([](Layout &s) { s.flags &= ~DSD_MIPMAPCOUNT; }), -1, 0, -1, 128},
        {"NoPixelFormatFlag", with([](Layout &s) { s.flags &= ~DSD_PIXELFORMAT; }), -1, 0, -1, 128},
        {"NoFourCCFlag", with([](Layout &s) { s.pf_flags = DPF_RGB; }), -1, 0, -1, 128},
        {"Dxt5", with([](Layout &s) { s.fourcc = DDS_FOURCC_DXT5; }), -1, 0, -1, 128},
        {"UncompressedRgb", with([](Layout &s) { s.pf_flags = DPF_RGB, s.fourcc = 0; }), -1, 0, -1, 128},
    };
    // clang-format on
    DDSFILEStr *file = nullptr, *first = nullptr;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Bytes bytes = make_file(c.layout);
        LogCapture log;
        EXPECT_EQ(decode_plain(bytes, file, c.index), c.end);
        EXPECT_EQ(file, first ? first : (first = file));  // the leak checker sees the old images go
        EXPECT_TRUE(log.empty());
        EXPECT_EQ(file->dwMagic, c.layout.magic);
        EXPECT_EQ(file->header.dwWidth, 8u);
        EXPECT_EQ(file->header.dwMipMapCount, c.layout.count);
        EXPECT_EQ(file->header.ddspf.dwFourCC, c.layout.fourcc);
        EXPECT_EQ(file->header10.dxgiFormat, c.layout.dx10 ? DXGI_FORMAT_BC1_UNORM : DXGI_FORMAT_UNKNOWN);
        EXPECT_EQ(file->argb_first_level, c.first_level);
        if (c.images < 0) {
            EXPECT_EQ(file->argb_mipmaps, nullptr);
            continue;
        }
        ASSERT_NE(file->argb_mipmaps, nullptr);
        ASSERT_EQ(cnttbl(file->argb_mipmaps), c.images);
        for (int k = 0; k < c.images; ++k) expect_solid(file, k, c.first_level + k, 64 >> 2 * (c.first_level + k));
    }
    release(file);
}

// Every level of ImageMagick's files (and of random blocks) against Pillow's
// decode: block by block at the sides Pillow gives it, and for DXT1 chains
// through the file decoder too, which halves to 0 where ImageMagick and
// Pillow stop at 1 (those levels hold no pixels here).
class DdsAgainstPillow : public ::testing::TestWithParam<const char *> {};

TEST_P(DdsAgainstPillow, EveryLevelMatchesOrDiffersOnlyByOurRules) {
    const std::string name = GetParam();
    Bytes bytes = read_file(fixture_path("dds/" + name + ".dds"));
    const auto levels = read_pillow_levels(fixture_path("dds/" + name + ".pillow"));
    const bool dxt5 = name.rfind("dxt5", 0) == 0;
    const size_t block_size = dxt5 ? 16 : 8;
    DDSFILEStr *file = nullptr;
    if (!dxt5) {
        if (!(bytes[10] & 0x2)) {  // a single level without the mipmap-count flag: announce one
            bytes[10] |= 0x2;
            bytes[28] = 1;
        }
        ASSERT_EQ(dds_decode_file_sized(&file, -1, bytes.data(), static_cast<long>(bytes.size())), 0);
        ASSERT_EQ(cnttbl(file->argb_mipmaps), static_cast<int>(levels.size()));
    }
    std::uint64_t w = file ? file->header.dwWidth : 0, h = file ? file->header.dwHeight : 0;
    size_t offset = 128, exact = 0, opaque_black = 0, through_file = 0;
    for (size_t k = 0; k < levels.size(); ++k, w /= 2, h /= 2) {
        SCOPED_TRACE(name + " level " + std::to_string(k));
        const auto &level = levels[k];
        const size_t blocks = level_blocks(level.width, level.height);
        ASSERT_LE(offset + blocks * block_size, bytes.size());
        std::vector<std::uint32_t> ours(size_t(level.width) * ((level.height + 3) / 4 * 4));
        if (dxt5) BlockDecompressImageDXT5(level.width, level.height, bytes.data() + offset, ours.data());
        else BlockDecompressImageDXT1(level.width, level.height, bytes.data() + offset, ours.data());
        const auto c = compare_with_pillow(ours.data(), level, bytes.data() + offset, dxt5);
        EXPECT_EQ(c.unexplained, 0u) << "first at " << c.first_unexplained;
        exact += c.exact;
        opaque_black += c.opaque_black;
        if (file && (w == 0 || h == 0)) {
            EXPECT_TRUE(level.width == 1 || level.height == 1);
        } else if (file) {
            ASSERT_EQ(w, level.width);
            ASSERT_EQ(h, level.height);
            const auto *image = static_cast<const std::uint32_t *>(gettbl(file->argb_mipmaps, static_cast<int>(k)));
            const auto d = compare_with_pillow(image, level, bytes.data() + offset, false);
            EXPECT_EQ(d.unexplained, 0u) << "through the file decoder, first at " << d.first_unexplained;
            ++through_file;
        }
        offset += blocks * block_size;
    }
    EXPECT_EQ(offset, bytes.size());
    EXPECT_GT(exact, 0u);
    if (name.find("random") != std::string::npos && !dxt5) {
        EXPECT_GT(opaque_black, 0u);
    }
    EXPECT_EQ(through_file > 0, !dxt5);
    release(file);
}

INSTANTIATE_TEST_SUITE_P(ImageMagick, DdsAgainstPillow,
                         ::testing::Values("dxt1_64x32", "dxt1_13x7", "dxt1_32x8", "dxt1_disc_32x32",
                                           "dxt1_random_22x10", "dxt5_64x64", "dxt5_13x7", "dxt5_random_22x10"));

// Every prefix of a file shorter than what its header describes fails with
// one message, reading nothing outside the exact-size copy.
struct Truncation {
    const char *name;
    Bytes bytes;
    size_t needed;  // the bytes that decoding reads
};

std::vector<Truncation> truncation_cases() {
    std::vector<Truncation> cases;
    for (const char *name : {"dxt1_64x32", "dxt1_13x7", "dxt5_64x64", "dxt1_random_22x10"}) {
        Bytes b = read_file(fixture_path(std::string("dds/") + name + ".dds"));
        const bool chain = (b[10] & 0x2) && b[84] == 'D' && b[87] == '1';
        const size_t needed = chain ? b.size() : 128;
        cases.push_back({name, std::move(b), needed});
    }
    // 16x4 with 40 levels: 35 of them 0x0, 8 bytes each.
    const Layout long_chain = with([](Layout &s) { s.width = 16, s.height = 4, s.count = 40; });
    cases.push_back({"hand-made 8x8", make_file({}), 184});
    cases.push_back({"hand-made DX10", make_file(dx10_layout), 148});
    cases.push_back({"hand-made 16x4, 40 levels", make_file(long_chain), 128 + 32 + 16 + 8 * 38});
    return cases;
}

TEST(DdsDecodeSized, EveryTruncationFailsWithOneMessageAndNoStrayRead) {
    for (const auto &c : truncation_cases()) {
        ASSERT_LE(c.needed, c.bytes.size()) << c.name;
        for_each_cut(c.bytes, 0, true, [&](unsigned char *copy, size_t cut) {
            DDSFILEStr *file = nullptr;
            LogCapture log;
            const int result = dds_decode_file_sized(&file, -1, copy, static_cast<long>(cut));
            EXPECT_EQ(result, cut < c.needed ? -1 : 0) << c.name << " cut at " << cut << ": " << log.text();
            if (cut < c.needed) {
                EXPECT_EQ(log.entries().size(), 1u) << c.name << " cut at " << cut;
                EXPECT_EQ(log.text().rfind("dds_decode_file_sized: truncated file: ", 0), 0u) << log.text();
            }
            release(file);
        });
    }
}

TEST(DdsDecodeSized, MessagesNameThePartAndTheByte) {
    const Bytes bytes = make_file({});
    const std::pair<size_t, const char *> cases[] = {
        {0, "magic word at byte 0: 4 bytes needed, 0 remain"},
        {100, "header at byte 4: 124 bytes needed, 96 remain"},
        {150, "mipmap level 0 (8x8) at byte 128: 32 bytes needed, 22 remain"},
        {165, "mipmap level 1 (4x4) at byte 160: 8 bytes needed, 5 remain"},
        {183, "mipmap level 3 (1x1) at byte 176: 8 bytes needed, 7 remain"},
    };
    for (const auto &[cut, text] : cases) {
        Bytes copy(bytes.begin(), bytes.begin() + static_cast<long>(cut));
        DDSFILEStr *file = nullptr;
        LogCapture log;
        EXPECT_EQ(dds_decode_file_sized(&file, 1, copy.data(), static_cast<long>(cut)), -1);
        EXPECT_EQ(log.text(), std::string("dds_decode_file_sized: truncated file: ") + text + ".\n");
        release(file);
    }
    DDSFILEStr *file = nullptr;
    LogCapture log;
    EXPECT_EQ(dds_decode_file_sized(&file, -1, bytes.data(), -1), -1);
    EXPECT_EQ(log.text(), "dds_decode_file_sized: invalid arguments (size -1).\n");
}

TEST(DdsDecodeSized, HugeSidesAndCountsFailBeforeAllocating) {
    Bytes bytes = make_file(with([](Layout &s) { s.width = s.height = s.count = 0xFFFFFFFFu, s.levels_written = 0; }));
    DDSFILEStr *file = nullptr;
    LogCapture log;
    EXPECT_EQ(dds_decode_file_sized(&file, -1, bytes.data(), static_cast<long>(bytes.size())), -1);
    EXPECT_EQ(log.text(),
              "dds_decode_file_sized: truncated file: mipmap level 0 (4294967295x4294967295) at byte "
              "128: 9223372036854775808 bytes needed, 0 remain.\n");
    release(file);
    // Without a size, such a level's data could not even be addressed.
    log.clear();
    unsigned char *stream = bytes.data();
    EXPECT_EQ(dds_decode_file(&file, -1, bytes.data(), &stream), -1);
    EXPECT_EQ(log.text(), "dds_decode_file: data size beyond the address space.\n");
    EXPECT_EQ(stream - bytes.data(), 128);
    release(file);
}

// A prefix starts every line and the nested title repeats it; an empty flag
// word prints zero and a blank; a single level keeps its own number and size;
// sides halve to 0; the DX10 header is listed only with its FourCC flag.
TEST(DdsPrint, ListingsOfOtherLayoutsLevelsAndPrefixes) {
    struct Case {
        std::string listing, present, absent;
    };
    const std::string prefixed = listing_of({}, -1, "P>"),
                      empty = listing_of(with([](Layout &s) { s.caps = s.flags = 0; })), dx10 = listing_of(dx10_layout),
                      dx10_code = listing_of(with([](Layout &s) { s.pf_flags = 0, s.fourcc = DDS_FOURCC_DX10; })),
                      halving = listing_of(with([](Layout &s) { s.width = 16, s.height = 4, s.count = 5; }));
    // clang-format off
    const Case cases[] = {
        {prefixed, "P>Header:\nP>  dwSize=124\n", "\nHeader:"},
        {prefixed, "\nP>  ddspf=P>  PixelFormat:\nP>    dwSize=32\n", "\nmipmap"},
        {prefixed, "\nP>mipmap[3] = 1x1 ffffffff\n", "\n  dwSize"},
        {empty, "\n  dwFlags=0x0 \n  dwHeight", "mipmap"},
        {empty, "\n  dwCaps=0x0 \n", "DSD_"},
        {listing_of({}, 2), "\nmipmap[2] = 2x2 ff0000ff ff0000ff ff0000ff ff0000ff\n", "mipmap[0]"},
        {halving, "\nmipmap[2] = 4x1 ff0000ff ff0000ff ff0000ff ff0000ff\nmipmap[3] = 2x0\nmipmap[4] = 1x0\n", "mipmap[5]"},
        {dx10, "    dwFourCC=DX10\n", "mipmap"},
        {dx10, "\nHeader10:\n  dxgiFormat=71 DXGI_FORMAT_BC1_UNORM\n  resourceDimension=3 D3D10_RESOURCE_DIMENSION_TEXTURE2D\n"
               "  miscFlag=0\n  arraySize=1\n  miscFlag2=0\n", "mipmap"},
        {dx10_code, "    dwFourCC=DX10\n", "Header10:"},
    };
    // clang-format on
    for (const Case &c : cases) {
        EXPECT_NE(c.listing.find(c.present), std::string::npos) << c.listing;
        EXPECT_EQ(c.listing.find(c.absent), std::string::npos) << c.listing;
    }
}

// A listing with nowhere to go is refused, in one line, and nothing printed.
TEST(DdsPrint, NoStreamIsOneMessage) {
    EXPECT_EQ(one_message([] { dds_fprint_file(nullptr, const_cast<char *>(""), nullptr); }),
              "dds_fprint_file: no stream.\n");
}

}  // namespace
