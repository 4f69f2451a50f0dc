// The vector code paths against the portable ones, in one program: every
// decoder with both gives the same bits either way, on the real data files
// and on inputs made to meet the edges of the vector paths' checks. Built
// from the library's sources, which lets it switch between the paths.
#include "dds.h"
#include "esri.h"
#include "gshhsmap.h"

#include "arrays.h"
#include "esri_writer.hpp"
#include "esri_release.hpp"
#include "redblack.h"
#include "shoreline_writer.hpp"
#include "test_files.hpp"
#include "vector_paths.hpp"
#include "words.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <utility>
#include <vector>

using vorpix::test::fixture_path;
using vorpix::test::Polygon;
using vorpix::test::read_file;
using vorpix::test::shoreline_file;

namespace {

using vorpix::on_both_paths;

TEST(VectorPaths, PortableSetToAnythingButZeroKeepsThePortablePaths) {
    const vorpix::test::ScopedEnv restored("VORPIX_PORTABLE", "");
    unsetenv("VORPIX_PORTABLE");
    vorpix::force_portable_paths(false);
    const auto chosen_by_processor = vorpix::vector_level();
#if defined(VORPIX_VECTOR_SSE2) && defined(VORPIX_VECTOR_AVX2)
    EXPECT_NE(chosen_by_processor, vorpix::VectorLevel::portable);
#endif
    const std::pair<const char *, bool> cases[] = {
        {nullptr, false}, {"", false}, {"0", false}, {"1", true}, {"yes", true}};
    for (const auto &[value, portable] : cases) {
        if (value) setenv("VORPIX_PORTABLE", value, 1);
        vorpix::force_portable_paths(false);  // decided again, from the environment
        EXPECT_EQ(vorpix::vector_level(), portable ? vorpix::VectorLevel::portable : chosen_by_processor) << value;
        vorpix::force_portable_paths(true);
        EXPECT_EQ(vorpix::vector_level(), vorpix::VectorLevel::portable);
    }
    unsetenv("VORPIX_PORTABLE");
    vorpix::force_portable_paths(false);
}

// Random polygons of every kind the vector path must refuse or accept exactly:
// long runs inside a box, runs outside it, seam crossings as stored, many
// turns of drift, steps of about half a turn, the extremes of 32-bit
// micro-degrees, and all lengths.
class PolygonMaker {
public:
    explicit PolygonMaker(unsigned seed) : rng_(seed) {}

    Polygon make() {
        const int sizes[] = {1, 2, 3, 7, 8, 9, 15, 16, 17, 31, 33, 64, 65, 97, 150, 451, 1000, 2049};
        const int n = pick(8) == 0 ? static_cast<int>(uniform(1, 300)) : sizes[pick(std::size(sizes))];
        Polygon p;
        // Often near a turn from a frame's edge, where one turn more or less decides the frame.
        const double anchors[] = {-540, -360, -180, 0, 180, 360, 540, 720};
        double lon = pick(3) == 0 ? anchors[pick(std::size(anchors))] + uniform(-3, 3) : uniform(-540, 540);
        double lat = uniform(-95, 95);
        const int kind = pick(8);
        double step = kind == 0 ? 0.02 : kind == 1 ? 1 : kind == 2 ? 30 : kind == 3 ? 200 : 5;
        for (int i = 0; i < n; ++i) {
            if (kind == 4 && pick(50) == 0) step = pick(2) ? 0.01 : 90;
            // Back and forth by about half a turn, where one way round is as near as the other.
            lon += kind == 7 ? (i % 2 ? 1 : -1) * uniform(179, 181) : uniform(-step, step);
            lat += uniform(-step, step);
            if (lat > 100 || lat < -100) lat = uniform(-90, 90);
            std::int64_t x = std::llround(lon * 1e6), y = std::llround(lat * 1e6);
            // Stored as a reader of the world sees it: always within -180 to 180.
            if (kind == 5) x = std::llround((std::remainder(lon, 360.0)) * 1e6);
            if (kind == 6 && pick(20) == 0) {
                x = pick(2) ? INT32_MAX - static_cast<std::int64_t>(pick(3))
                            : INT32_MIN + static_cast<std::int64_t>(pick(3));
                y = pick(2) ? INT32_MAX : INT32_MIN;
            }
            x = std::clamp<std::int64_t>(x, INT32_MIN, INT32_MAX);
            y = std::clamp<std::int64_t>(y, INT32_MIN, INT32_MAX);
            p.emplace_back(static_cast<std::int32_t>(x), static_cast<std::int32_t>(y));
        }
        return p;
    }

    double uniform(double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng_); }
    size_t pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }

private:
    std::mt19937 rng_;
};

struct Box {
    double w, e, s, n, lonref, latref;
};

// Everything delivered for a box, bit for bit: per polygon its id, point
// count, the arrays' capacity, level, type and antipode flag (the even-odd
// test of the reference's antipode on the delivered points), then its points.
struct Delivery {
    std::vector<std::int64_t> counts;
    std::vector<std::uint32_t> bits;
    bool operator==(const Delivery &) const = default;
};

Delivery deliver(std::vector<unsigned char> &file, const Box &b) {
    // Map objects live as long as the process: one serves every delivery.
    static void *const map = [] {
        void *opened = nullptr;
        EXPECT_EQ(gshhsmap_open(&opened), 0);
        return opened;
    }();
    Delivery out;
    if (gshhsmap_use_data(map, "i", reinterpret_cast<const char *>(file.data()), static_cast<long>(file.size())) < 0)
        return out;
    char types[] = "c:0 f:0", resolution[] = "i";
    out.counts.push_back(gshhsmap_select(map, types, resolution, b.w, b.e, b.s, b.n, b.lonref, b.latref));
    float *lon = nullptr, *lat = nullptr;
    int npts = 0, capacity = 0, level = 0, antipode = 0;
    char type[4] = "";
    while (const GSHHSHdr *hdr = gshhsmap_peek(map)) {
        const int id = hdr->id;
        if (gshhsmap_nextseg(map, &npts, &capacity, &lon, &lat, type, &level, &antipode) != 1) break;
        out.counts.insert(out.counts.end(), {id, npts, capacity, level, type[0], antipode});
        for (int k = 0; k < npts; ++k)
            out.bits.insert(out.bits.end(),
                            {std::bit_cast<std::uint32_t>(lon[k]), std::bit_cast<std::uint32_t>(lat[k])});
    }
    std::free(lon);
    std::free(lat);
    gshhsmap_use_data(map, "i", nullptr, 0);
    return out;
}

std::vector<Box> boxes_to_deliver(PolygonMaker &maker, int random_boxes) {
    std::vector<Box> boxes = {
        {-180, 180, -90, 90, 0, 0},    {0, 360, -90, 90, 30, 10},        {-30, 30, -30, 30, 0, 0},
        {170, 190, -50, 50, 5, 0},     {-190, -170, -60, 60, 0, 0},      {100, 200, 0, 60, -80, -20},
        {-5, 5, -5, 5, 180, 0},        {350, 370, -10, 10, 0, 0},        {-720, -300, -95, 95, 1, 1},
        {1e300, 1e300, -90, 90, 0, 0}, {double(NAN), 10, -90, 90, 0, 0}, {-INFINITY, 10, -90, 90, 0, 0},
        {0, 10, double(NAN), 90, 0, 0}};
    for (int i = 0; i < random_boxes; ++i) {
        const double w = maker.uniform(-400, 400), width = maker.uniform(0.5, 380);
        const double s = maker.uniform(-95, 90), height = maker.uniform(0.5, 120);
        boxes.push_back({w, w + width, s, s + height, maker.uniform(-400, 400), maker.uniform(-90, 90)});
    }
    return boxes;
}

long expect_alike_on_both_paths(std::vector<unsigned char> &file, const std::vector<Box> &boxes) {
    long points = 0;
    for (const auto &b : boxes) {
        const auto [vector, portable] = on_both_paths([&] { return deliver(file, b); });
        EXPECT_TRUE(vector == portable) << "box " << b.w << "/" << b.e << "/" << b.s << "/" << b.n;
        points += static_cast<long>(vector.bits.size() / 2);
    }
    return points;
}

TEST(VectorPathsShorelines, WorldFilesDeliverEveryBitAlike) {
    PolygonMaker maker(7);
    const auto boxes = boxes_to_deliver(maker, 6);
    for (const char *name : {"gshhs_c.b", "gshhs_l.b", "gshhs_i.b"}) {
        auto file = read_file(std::string(VORPIX_SOURCE_DIR) + "/maps/vorpix/" + name);
        EXPECT_GT(expect_alike_on_both_paths(file, boxes), 1000) << name;
    }
}

TEST(VectorPathsShorelines, RandomPolygonsDeliverEveryBitAlike) {
    PolygonMaker maker(2024);
    std::vector<Polygon> polygons;
    for (int i = 0; i < 400; ++i) polygons.push_back(maker.make());
    auto file = shoreline_file(polygons);
    auto boxes = boxes_to_deliver(maker, 40);
    // Huge and non-finite sides (and references) end alike.
    for (double w : {1e300, -1e300, double(INFINITY), -double(INFINITY), double(NAN), 1e17})
        for (double e : {w, 0.0, 1e300, -double(INFINITY)}) boxes.push_back({w, e, -90, 90, w, 0});
    EXPECT_GT(expect_alike_on_both_paths(file, boxes), 100000);
}

std::vector<unsigned int> decode_dxt5(unsigned long width, unsigned long height, const unsigned char *blocks) {
    std::vector<unsigned int> image(width * ((height + 3) / 4 * 4), 0xDEADBEEFu);
    BlockDecompressImageDXT5(width, height, blocks, image.data());
    // Block by block too, the right edge's blocks cut to the width.
    const unsigned long across = (width + 3) / 4, blocks_n = across * ((height + 3) / 4);
    std::vector<unsigned int> one_by_one(image.size(), 0xDEADBEEFu);
    for (unsigned long k = 0; k < blocks_n; ++k)
        DecompressBlockDXT5(4 * (k % across), 4 * (k / across), width, blocks + 16 * k, one_by_one.data());
    image.insert(image.end(), one_by_one.begin(), one_by_one.end());
    return image;
}

TEST(VectorPathsTextures, EveryAlphaPairAndRandomBlocksDecodeAlike) {
    std::vector<unsigned char> blocks;
    // Each pair of alpha endpoints, with every code of alpha and colour in turn.
    const unsigned char codes[14] = {0x88, 0xC6, 0xFA, 0x88, 0xC6, 0xFA, 0x1F,
                                     0xF8, 0xE0, 0x07, 0xE4, 0x1B, 0x4E, 0xB1};
    for (unsigned pair = 0; pair < 65536; ++pair) {
        blocks.insert(blocks.end(), {static_cast<unsigned char>(pair >> 8), static_cast<unsigned char>(pair)});
        blocks.insert(blocks.end(), codes, codes + 14);
    }
    std::mt19937 rng(5);
    for (int k = 0; k < 4096 * 16; ++k) blocks.push_back(static_cast<unsigned char>(rng()));
    const size_t count = blocks.size() / 16;
    // The first image holds every block; the others have sides that are not multiples of 4.
    for (const auto &sides : {std::pair{1024ul, 1088ul}, std::pair{1023ul, 318ul}, std::pair{5ul, 7ul}}) {
        ASSERT_LE(((sides.first + 3) / 4) * ((sides.second + 3) / 4), count);
        const auto [vector,
                    portable] = on_both_paths([&] { return decode_dxt5(sides.first, sides.second, blocks.data()); });
        EXPECT_TRUE(vector == portable) << sides.first << "x" << sides.second;
    }
}

// Every record's character and numeric fields, under the descriptors' names.
std::vector<std::string> fields_of(ESRIDBASEStr &dbf) {
    std::vector<std::string> out;
    Arr *fields = nullptr;
    for (int r = 0; r < dbf.hdr.numrecs; ++r) {
        EXPECT_EQ(esri_get_dbase_fields(&dbf, r, &fields), 0);
        for (int k = 0; k < cnttbl(dbf.field_descriptors); ++k) {
            const auto *d = static_cast<const ESRIDBASEFIELDDESCRStr *>(gettbl(dbf.field_descriptors, k));
            char name[sizeof d->name + 1] = {};
            std::memcpy(name, d->name, sizeof d->name);
            const auto *value = static_cast<const char *>(getarr(fields, strtrim(name)));
            out.push_back(value ? value : "(none)");
        }
    }
    if (fields) freearr(fields, std::free);
    return out;
}

TEST(VectorPathsDbase, EveryFieldOfEveryFileTrimsAlike) {
    size_t values = 0;
    for (const auto &path : vorpix::test::esri_files({".dbf"})) {
        auto bytes = read_file(path);
        ESRIDBASEStr dbf{};
        if (esri_decode_dbase_file_sized(&dbf, bytes.data(), static_cast<long>(bytes.size())) == 0) {
            const auto [vector, portable] = on_both_paths([&] { return fields_of(dbf); });
            EXPECT_TRUE(vector == portable) << path;
            values += vector.size();
        }
        vorpix::esri::release_dbase_file(&dbf);
    }
    EXPECT_GT(values, 1000u);
}

// Values of every width up to 80 bytes with blanks, control characters and
// zero bytes at every place the 16-byte steps and 64-byte masks turn on.
TEST(VectorPathsDbase, ValuesOfEveryWidthAndPaddingTrimAlike) {
    std::mt19937 rng(11);
    const char alphabet[] = {' ',  ' ', ' ', ' ', '\t', '\n',   '\v',   '\f',   '\r',
                             '\0', 'a', 'Z', '7', '.',  '\x80', '\xff', '\x08', '\x0e'};
    for (int width = 1; width <= 80; ++width) {
        const int records = 200;
        std::vector<std::string> values(records);
        for (std::string &value : values)
            // Runs of one kind of byte, so that long blank runs and short words both occur.
            while (static_cast<int>(value.size()) < width) {
                const char c = alphabet[rng() % sizeof alphabet];
                for (int run = 1 + static_cast<int>(rng() % (rng() % 2 ? 24 : 3));
                     run > 0 && static_cast<int>(value.size()) < width; --run)
                    value += c;
            }
        const std::vector<unsigned char> file = vorpix::test::text_table(width, values);
        ESRIDBASEStr dbf{};
        ASSERT_EQ(esri_decode_dbase_file_sized(&dbf, file.data(), static_cast<long>(file.size())), 0) << width;
        const auto [vector, portable] = on_both_paths([&] { return fields_of(dbf); });
        EXPECT_TRUE(vector == portable) << "width " << width;
        vorpix::esri::release_dbase_file(&dbf);
    }
}

}  // namespace
