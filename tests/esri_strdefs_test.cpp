// Shapefiles and dBase files: the engine on hand-worked layouts, the file
// decoders against what shapelib's dump tools print for files written by
// shapelib, pyshp and real data, truncation at every byte, and the listings.
#include "esri.h"
#include "esri_release.hpp"

#include "arrays.h"
#include "byte_writer.hpp"
#include "log_capture.hpp"
#include "redblack.h"
#include "test_files.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <stdexcept>
#include <sstream>
#include <string>
#include <vector>

using vorpix::test::fixture_path;
using vorpix::test::LogCapture;
using vorpix::test::printed;
using vorpix::test::read_file;
using vorpix::test::read_text;

namespace {

using Bytes = std::vector<unsigned char>;

Bytes fixture(const std::string &name) { return read_file(fixture_path("esri/" + name)); }

// Little- and big-endian writers for layouts that no tool writes.
struct Builder {
    Bytes b;
    Builder &le32(std::int32_t v) {
        vorpix::test::put_le32(b, static_cast<std::uint32_t>(v));
        return *this;
    }
    Builder &be32(std::int32_t v) {
        vorpix::test::put_be32(b, static_cast<std::uint32_t>(v));
        return *this;
    }
    Builder &le16(int v) {
        vorpix::test::put_le(b, static_cast<std::uint16_t>(v), 2);
        return *this;
    }
    Builder &f64(double v) {
        std::uint64_t bits;
        std::memcpy(&bits, &v, 8);
        vorpix::test::put_le(b, bits, 8);
        return *this;
    }
    Builder &bytes(const std::string &s) {
        b.insert(b.end(), s.begin(), s.end());
        return *this;
    }
    Builder &zeros(size_t n) {
        b.insert(b.end(), n, 0);
        return *this;
    }
};

// Decoded by the sized decoder, which must succeed, or left empty.
struct Shapefile {
    ESRISHPStr shp{};
    Shapefile() = default;
    explicit Shapefile(const Bytes &bytes) {
        if (esri_decode_shapefile_sized(&shp, bytes.data(), static_cast<long>(bytes.size())) != 0)
            throw std::runtime_error("the shapefile does not decode");
    }
    ~Shapefile() { vorpix::esri::release_shapefile(&shp); }
    int count() const { return cnttbl(shp.records); }
    ESRISHPRECStr *at(int i) const { return static_cast<ESRISHPRECStr *>(gettbl(shp.records, i)); }
};

struct Dbase {
    ESRIDBASEStr dbf{};
    Dbase() = default;
    explicit Dbase(const Bytes &bytes) {
        if (esri_decode_dbase_file_sized(&dbf, bytes.data(), static_cast<long>(bytes.size())) != 0)
            throw std::runtime_error("the dBase file does not decode");
    }
    ~Dbase() { vorpix::esri::release_dbase_file(&dbf); }
    const ESRIDBASEFIELDDESCRStr *field(int i) const {
        return static_cast<const ESRIDBASEFIELDDESCRStr *>(gettbl(dbf.field_descriptors, i));
    }
    std::map<std::string, std::string> fields(int recno) {
        Arr *a = nullptr;
        EXPECT_EQ(esri_get_dbase_fields(&dbf, recno, &a), 0);
        std::map<std::string, std::string> out;
        Tbl *keys = keysarr(a);
        for (int i = 0; i < cnttbl(keys); ++i) {
            auto *key = static_cast<const char *>(gettbl(keys, i));
            out[key] = static_cast<const char *>(getarr(a, key));
        }
        freetbl(keys, nullptr);
        freearr(a, std::free);
        return out;
    }
};

// Whatever the shape structure, the points, parts, Z and M it holds.
struct Geometry {
    int type = 0;
    ESRISHPBOXStr bbox{};
    std::vector<int> parts;
    std::vector<ESRISHPPOINTStr> points;
    std::vector<double> z, m;
};

Geometry geometry(const ESRISHPRECStr *rec) {
    Geometry g;
    g.type = rec->shape_type;
    const vorpix::esri::ShapeView v = vorpix::esri::view_shape(rec->shape_type, rec->record);
    if (v.bbox) g.bbox = *v.bbox;
    if (v.parts) g.parts.assign(v.parts, v.parts + v.numparts);
    if (const ESRISHPPOINTStr *p = v.first_point()) g.points.assign(p, p + v.numpoints);
    if (v.zarray) g.z.assign(v.zarray, v.zarray + v.numpoints);
    if (v.marray) g.m.assign(v.marray, v.marray + v.numpoints);
    return g;
}

// What shpdump prints for one shape.
struct DumpedShape {
    int vertices = 0, nparts = 0;
    std::vector<int> parts;
    std::vector<std::vector<double>> points;  // x, y, z[, m]
};

std::vector<DumpedShape> parse_shpdump(const std::string &text) {
    std::vector<DumpedShape> shapes;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("Shape:", 0) == 0) {
            DumpedShape s;
            std::sscanf(line.c_str() + line.find("nVertices="), "nVertices=%d, nParts=%d", &s.vertices, &s.nparts);
            shapes.push_back(s);
            continue;
        }
        const auto open = line.find('(');
        if (shapes.empty() || open == std::string::npos || line.find("Bounds") != std::string::npos ||
            line.find("to (") != std::string::npos)
            continue;
        DumpedShape &s = shapes.back();
        if (line.find('+') != std::string::npos && line.find('+') < open)
            s.parts.push_back(static_cast<int>(s.points.size()));
        else if (s.points.empty() && s.nparts > 0) s.parts.push_back(0);
        std::string inside = line.substr(open + 1, line.find(')') - open - 1);
        for (char &c : inside)
            if (c == ',') c = ' ';
        std::istringstream values(inside);
        std::vector<double> point;
        double v;
        while (values >> v) point.push_back(v);
        s.points.push_back(point);
    }
    return shapes;
}

bool near(double a, double b) { return std::fabs(a - b) <= 1e-13 * std::max(1.0, std::fabs(b)); }

bool has_m(int type) {
    return type == 21 || type == 23 || type == 25 || type == 28 || type == 11 || type == 13 || type == 15 ||
           type == 18 || type == 31;
}
bool has_z(int type) { return type == 11 || type == 13 || type == 15 || type == 18 || type == 31; }

int decode_plain(ESRISHPStr *shp, Bytes &bytes) {
    unsigned char *stream = bytes.data();
    return esri_decode_shapefile(shp, bytes.data(), &stream);
}

// ---------------------------------------------------------------------------
// Names and the engine

// The listings below show most names; these are the ends of the table and codes outside it.
TEST(EsriNames, FirstMatchingRowNamesACode) {
    const std::vector<std::pair<int, std::string>> cases = {
        {0, "Null"}, {31, "RecordMultiPatch"}, {106, "DbaseFieldProperties"}, {2, "Unknown"}, {200, "Unknown"}};
    for (const auto &[code, name] : cases) EXPECT_EQ(esri_get_shapetype(code), name) << code;
}

TEST(EsriEngine, UndefinedStructureTypesFailNamingTheTypeInHexAndConsumeNothing) {
    for (const auto &[type, hex] :
         std::vector<std::pair<int, std::string>>{{2, "0x2"}, {200, "0xc8"}, {-5, "0xfffffffb"}}) {
        LogCapture log;
        Bytes bytes(64, 0);
        unsigned char *stream = bytes.data();
        void *out = nullptr;
        EXPECT_EQ(esri_unstuff_stream(type, &out, bytes.data(), &stream), -1);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(stream, bytes.data());
        ASSERT_EQ(log.entries().size(), 1u);
        EXPECT_EQ(log.entries()[0].message, "esri_unstuff_stream: str_type " + hex + " not defined.\n");
        EXPECT_EQ(log.entries()[0].flags, 0);
    }
    EXPECT_EQ(esri_strdefs_init(), 0);
    EXPECT_EQ(esri_strdefs_init(), 0);
}

// Counted shapes: bytes consumed worked out from the record layouts by hand.
TEST(EsriEngine, CountedShapesConsumeWhatTheirCountsSay) {
    struct Case {
        int type, numparts, numpoints;
        size_t bytes;
    };
    const std::vector<Case> cases = {{8, -1, 0, 40},
                                     {8, -1, 3, 88},
                                     {28, -1, 2, 40 + 32 + 16 + 16},
                                     {18, -1, 2, 40 + 32 + 2 * (16 + 16)},
                                     {3, 2, 5, 132},
                                     {5, 1, 0, 48},
                                     {23, 1, 2, 44 + 4 + 32 + 16 + 16},
                                     {15, 2, 3, 44 + 8 + 48 + 2 * (16 + 24)},
                                     {31, 2, 3, 44 + 16 + 48 + 2 * (16 + 24)}};
    for (const Case &c : cases) {
        Builder b;
        b.le32(c.type).zeros(32);
        if (c.numparts >= 0) b.le32(c.numparts);
        b.le32(c.numpoints).zeros(1000);
        unsigned char *stream = b.b.data();
        void *out = nullptr;
        ASSERT_EQ(esri_unstuff_stream(c.type, &out, b.b.data(), &stream), 0) << c.type;
        EXPECT_EQ(static_cast<size_t>(stream - b.b.data()), c.bytes) << esri_get_shapetype(c.type);
        vorpix::esri::release_shape(c.type, out);
    }
}

TEST(EsriEngine, HeaderRowsKeepTheirOwnByteOrder) {
    Builder b;
    b.be32(9994).zeros(20).bytes(std::string("\0\0\0\x32", 4)).bytes(std::string("\x01\0\0\0", 4)).le32(5).zeros(64);
    unsigned char *stream = b.b.data();
    ESRISHPFILEHDRStr hdr;
    std::memset(&hdr, 0x5a, sizeof hdr);  // a caller's destination is zeroed first
    void *out = &hdr;
    ASSERT_EQ(esri_unstuff_stream(59, &out, b.b.data(), &stream), 0);
    EXPECT_EQ(out, &hdr);
    EXPECT_EQ(hdr.magic, 9994);
    EXPECT_EQ(hdr.unused3, 0);
    EXPECT_EQ(hdr.length, 50);
    EXPECT_EQ(hdr.version, 1);
    EXPECT_EQ(hdr.shape_type, 5);
    EXPECT_EQ(hdr.mmax, 0);
}

TEST(EsriEngine, TypesWithoutATableAllocateZeroedAndConsumeNothing) {
    for (int type : {63, 101, 106}) {
        Bytes bytes(8, 0xff);
        unsigned char *stream = bytes.data();
        void *out = nullptr;
        ASSERT_EQ(esri_unstuff_stream(type, &out, bytes.data(), &stream), 0);
        EXPECT_EQ(stream, bytes.data());
        const Bytes zero(type == 63    ? sizeof(ESRISHPStr)
                         : type == 101 ? sizeof(ESRIDBASEStr)
                                       : sizeof(ESRIDBASEFIELDDESCRStr),
                         0);
        EXPECT_EQ(std::memcmp(out, zero.data(), type == 106 ? sizeof(ESRIDBASEFIELDPROPSStr) : zero.size()), 0);
        std::free(out);
    }
}

TEST(EsriEngine, NegativeCountFailsAsAnAllocation) {
    Builder b;
    b.le32(8).zeros(32).le32(-3).zeros(64);
    unsigned char *stream = b.b.data();
    void *out = nullptr;
    LogCapture log;
    EXPECT_EQ(esri_unstuff_stream(8, &out, b.b.data(), &stream), -1);
    ASSERT_EQ(log.entries().size(), 1u);
    EXPECT_EQ(log.entries()[0].message, "esri_unstuff_stream: malloc() error.\n");
    EXPECT_EQ(log.entries()[0].flags, 1);
    vorpix::esri::release_shape(8, out);
}

// ---------------------------------------------------------------------------
// Shapefiles

class ShapefileOracle : public testing::TestWithParam<const char *> {};

// Z files that shapelib writes without measures (shpadd -z, "_nom") decode
// by their content lengths, with no M values. (The plain decoder decodes as
// the sized one: the shapefile fuzz target checks that.)
TEST_P(ShapefileOracle, DecodesWhatShpdumpPrints) {
    const std::string name = GetParam();
    const bool without_m = name.ends_with("_nom");
    Bytes bytes = fixture(name + ".shp");
    const auto dumped = parse_shpdump(read_text(fixture_path("esri/" + name + ".shpdump")));
    Shapefile sized(bytes);
    ASSERT_EQ(sized.count(), static_cast<int>(dumped.size()));
    EXPECT_EQ(sized.shp.hdr.magic, 9994);
    EXPECT_EQ(sized.shp.hdr.length * 2, static_cast<int>(bytes.size()));
    unsigned long offset = 100;
    for (int i = 0; i < sized.count(); ++i) {
        const ESRISHPRECStr *rec = sized.at(i);
        SCOPED_TRACE(name + " shape " + std::to_string(i));
        EXPECT_EQ(rec->offset, offset);
        offset += 8 + 2 * static_cast<unsigned long>(rec->hdr.length);
        EXPECT_EQ(rec->hdr.number, i + 1);
        EXPECT_EQ(rec->shape_type, *static_cast<int *>(rec->record));
        const Geometry g = geometry(rec);
        const DumpedShape &d = dumped[static_cast<size_t>(i)];
        ASSERT_EQ(static_cast<int>(g.points.size()), d.vertices);
        if (without_m) {
            EXPECT_TRUE(g.type == 11 ? g.m == std::vector<double>{0} : g.m.empty());
        }
        EXPECT_EQ(static_cast<int>(g.parts.size()), d.nparts);
        if (d.nparts) {
            EXPECT_EQ(g.parts, d.parts);
        }
        for (size_t k = 0; k < g.points.size(); ++k) {
            EXPECT_TRUE(near(g.points[k].x, d.points[k][0])) << g.points[k].x << " vs " << d.points[k][0];
            EXPECT_TRUE(near(g.points[k].y, d.points[k][1]));
            if (has_z(g.type)) {
                EXPECT_TRUE(near(g.z[k], d.points[k][2]));
            }
            if (has_m(g.type) && d.points[k].size() == 4) {
                EXPECT_TRUE(near(g.m[k], d.points[k][3]));
            }
        }
    }
    EXPECT_EQ(offset, bytes.size());
}

INSTANTIATE_TEST_SUITE_P(EveryShapeType, ShapefileOracle,
                         testing::Values("point", "arc", "polygon", "multipoint", "pointz", "arcz", "polygonz",
                                         "multipointz", "pointm", "arcm", "polygonm", "multipointm", "multipatch",
                                         "nulls", "fieldtypes", "areas", "nc", "pointz_nom", "arcz_nom", "polygonz_nom",
                                         "multipointz_nom"));

TEST(ShapefileDecode, RealCountiesMatchTheirHeaderAndIndex) {
    Bytes bytes = fixture("nc.shp");
    const Bytes index = fixture("nc.shx");
    Shapefile f(bytes);
    EXPECT_EQ(f.shp.hdr.shape_type, 5);
    EXPECT_NEAR(f.shp.hdr.xmin, -84.3238525390625, 1e-12);
    ASSERT_EQ(f.count(), static_cast<int>((index.size() - 100) / 8));
    for (int i = 0; i < f.count(); ++i) {
        // The index file holds each record's offset in 16-bit words, big-endian.
        const size_t at = 100 + 8 * static_cast<size_t>(i);
        const unsigned long words = (static_cast<unsigned long>(index[at]) << 24) | (index[at + 1] << 16) |
                                    (index[at + 2] << 8) | index[at + 3];
        EXPECT_EQ(f.at(i)->offset, 2 * words);
    }
}

TEST(ShapefileDecode, HeaderOfFiftyWordsGivesAnEmptyList) {
    Bytes bytes = fixture("point.shp");
    bytes.resize(100);
    bytes[24] = bytes[25] = bytes[26] = 0;
    bytes[27] = 50;
    Shapefile f;
    ASSERT_EQ(esri_decode_shapefile_sized(&f.shp, bytes.data(), 100), 0);
    EXPECT_NE(f.shp.records, nullptr);
    EXPECT_EQ(f.count(), 0);
}

TEST(ShapefileDecode, RecordLengthsPastTheFileLengthStopAfterTheRecordThatReachesIt) {
    Bytes bytes = fixture("point.shp");  // three records of 28 bytes
    bytes[27] = static_cast<unsigned char>((100 + 28 + 10) / 2);
    Shapefile f;
    ASSERT_EQ(decode_plain(&f.shp, bytes), 0);
    EXPECT_EQ(f.count(), 2);
}

TEST(ShapefileDecode, ASecondFileReplacesTheRecordsOfTheFirst) {
    Bytes first = fixture("point.shp"), second = fixture("arc.shp");
    Shapefile f;
    ASSERT_EQ(decode_plain(&f.shp, first), 0);
    std::vector<ESRISHPRECStr *> old;
    for (int i = 0; i < f.count(); ++i) old.push_back(f.at(i));
    ASSERT_EQ(decode_plain(&f.shp, second), 0);
    EXPECT_EQ(f.count(), 2);
    EXPECT_EQ(f.at(0)->shape_type, 3);
    for (auto *r : old) vorpix::esri::release_record(r);  // dropped from the list, not released
}

// An undefined type, and the framing types, in the second record's shape.
TEST(ShapefileDecode, UndefinedAndFramingShapeTypesFailTheFileWithEveryLevelsMessage) {
    for (const auto &[type, hex] : std::vector<std::pair<int, std::string>>{
             {2, "0x2"}, {58, "0x3a"}, {62, "0x3e"}, {63, "0x3f"}, {101, "0x65"}}) {
        Bytes bytes = fixture("point.shp");
        bytes[100 + 28 + 8] = static_cast<unsigned char>(type);
        Shapefile f;
        LogCapture log;
        ASSERT_EQ(decode_plain(&f.shp, bytes), -1) << type;
        EXPECT_EQ(log.messages()[1], "esri_decode_shapefile_record: esri_unstuff_stream() error.\n") << type;
        EXPECT_EQ(log.messages().size(), 3u) << type;
        if (type == 2) {
            EXPECT_EQ(log.messages()[0], "esri_unstuff_stream: str_type " + hex + " not defined.\n");
            EXPECT_EQ(log.messages()[2], "esri_decode_shapefile: esri_unstuff_stream() error.\n");
        }
        EXPECT_EQ(f.count(), 1);  // the failing record is not appended
    }
}

// Sized decoding: one message naming where the data went wrong.
TEST(ShapefileDecodeSized, BadCountsAndLengthsFailNamingTheRecord) {
    struct Case {
        const char *file;
        size_t at;
        std::int32_t value;
        bool big;
        std::string message;
    };
    const Bytes arc = fixture("arc.shp");
    const std::vector<Case> cases = {
        {"arc.shp", 256 + 4, 0x7fff, true,
         "esri_decode_shapefile_sized: record 1 at byte 256: content length 32767 words (65534 bytes) runs past the "
         "data, 80 remain.\n"},
        {"arc.shp", 256 + 4, -4, true,
         "esri_decode_shapefile_sized: record 1 at byte 256: content length -4 words is negative.\n"},
        {"arc.shp", 256 + 8 + 40, 1000, false,
         "esri_decode_shapefile_sized: record 1 at byte 256: RecordPolyLine points: 1000 points need 16000 bytes, "
         "32 remain.\n"},
        {"arc.shp", 256 + 8 + 36, -1, false,
         "esri_decode_shapefile_sized: record 1 at byte 256: RecordPolyLine parts: numparts -1 is negative.\n"},
        {"arc.shp", 24, 0x10000, true,
         "esri_decode_shapefile_sized: header: file length 65536 words (131072 bytes) runs past the data, which has "
         "344.\n"},
        {"arc.shp", 100 + 8, 2, false,
         "esri_decode_shapefile_sized: record 0 at byte 100: shape type 2 is not a shape type.\n"},
    };
    for (const Case &c : cases) {
        Bytes bytes = fixture(c.file);
        for (int i = 0; i < 4; ++i)
            bytes[c.at + static_cast<size_t>(i)] = static_cast<unsigned char>(static_cast<std::uint32_t>(c.value) >>
                                                                              (8 * (c.big ? 3 - i : i)));
        Shapefile f;
        LogCapture log;
        EXPECT_EQ(esri_decode_shapefile_sized(&f.shp, bytes.data(), static_cast<long>(bytes.size())), -1);
        EXPECT_EQ(log.text(), c.message);
    }
}

// Measures are optional in the format (shapelib's shpadd -z leaves them
// out): the sized decoder reads a Z record whose content length stops after
// its Z values without them, while the plain decoder keeps the full layout
// and reads the bytes that follow as measures.
TEST(ShapefileDecodeSized, ZRecordWithoutMeasuresStopsAtItsContentLength) {
    Bytes bytes = fixture("arcz_nom.shp");
    Shapefile f(bytes);
    ASSERT_EQ(f.count(), 1);
    const auto *z = static_cast<const ESRISHPRECPOLYGZStr *>(f.at(0)->record);
    ASSERT_EQ(z->numpoints, 3);
    EXPECT_EQ(std::vector<double>(z->zarray, z->zarray + 3), (std::vector<double>{1, 2, 3}));
    EXPECT_EQ(z->marray, nullptr);
    EXPECT_EQ(z->mmin, 0);

    Builder after;
    after.b = bytes;
    after.f64(-7).f64(7).f64(4).f64(5).f64(6);
    Shapefile plain;
    unsigned char *stream = after.b.data();
    ASSERT_EQ(esri_decode_shapefile(&plain.shp, after.b.data(), &stream), 0);
    const auto *m = static_cast<const ESRISHPRECPOLYGZStr *>(plain.at(0)->record);
    EXPECT_EQ(m->mmin, -7);
    EXPECT_EQ(std::vector<double>(m->marray, m->marray + 3), (std::vector<double>{4, 5, 6}));
}

class TruncatedFile : public testing::TestWithParam<const char *> {};

// Every cut fails with one message and reads nothing past the cut (the
// bytes are an exact-size copy, so the address sanitizer sees any stray read).
TEST_P(TruncatedFile, EveryCutFailsWithOneMessage) {
    const std::string name = GetParam();
    const Bytes whole = fixture(name);
    const bool dbf = name.ends_with(".dbf");
    vorpix::test::for_each_cut(whole, 0, false, [&](unsigned char *bytes, size_t cut) {
        LogCapture log;
        int status;
        if (dbf) {
            Dbase d;
            status = esri_decode_dbase_file_sized(&d.dbf, bytes, static_cast<long>(cut));
            // Without its end-of-file marker the last slot's final byte is taken as zero.
            if (cut + 1 == whole.size() && whole.back() == 0x1a) {
                EXPECT_EQ(status, 0);
                EXPECT_EQ(d.dbf.records[static_cast<size_t>(d.dbf.hdr.numrecs) * d.dbf.hdr.numbytesrec - 1], 0);
                return;
            }
        } else {
            Shapefile f;
            status = esri_decode_shapefile_sized(&f.shp, bytes, static_cast<long>(cut));
        }
        EXPECT_EQ(status, -1) << name << " cut at " << cut;
        EXPECT_EQ(log.entries().size(), 1u) << name << " cut at " << cut << ": " << log.text();
        EXPECT_EQ(log.text().rfind(dbf ? "esri_decode_dbase_file_sized: " : "esri_decode_shapefile_sized: ", 0), 0u);
    });
}

// With the file length in the header made to agree with the cut, decoding
// goes on into the records and must stop at the cut by itself: a cut between
// two records decodes the records before it, any other cut fails.
class TruncatedShapefile : public testing::TestWithParam<const char *> {};

TEST_P(TruncatedShapefile, CutsThatTheHeaderAgreesWithStopInsideTheRecords) {
    const std::string name = GetParam();
    const Bytes whole = fixture(name);
    std::vector<size_t> boundaries;
    {
        Shapefile f(whole);
        for (int i = 0; i < f.count(); ++i) boundaries.push_back(f.at(i)->offset);
    }
    vorpix::test::for_each_cut(whole, 102, false, [&](unsigned char *bytes, size_t cut) {
        const std::uint32_t words = static_cast<std::uint32_t>(cut / 2);
        for (int i = 0; i < 4; ++i)
            bytes[24 + static_cast<size_t>(i)] = static_cast<unsigned char>(words >> (8 * (3 - i)));
        const auto boundary = std::find(boundaries.begin(), boundaries.end(), cut & ~size_t{1});
        Shapefile f;
        LogCapture log;
        const int status = esri_decode_shapefile_sized(&f.shp, bytes, static_cast<long>(cut));
        EXPECT_EQ(status, boundary == boundaries.end() ? -1 : 0) << name << " cut at " << cut;
        if (boundary != boundaries.end()) {
            EXPECT_EQ(f.count(), boundary - boundaries.begin()) << name << " cut at " << cut;
        } else {
            EXPECT_EQ(log.entries().size(), 1u) << name << " cut at " << cut << ": " << log.text();
        }
    });
}

const char *const shapefiles[] = {"point.shp",      "arc.shp",   "polygon.shp",  "multipoint.shp",
                                  "pointz.shp",     "arcz.shp",  "polygonz.shp", "multipointz.shp",
                                  "pointm.shp",     "arcm.shp",  "polygonm.shp", "multipointm.shp",
                                  "multipatch.shp", "nulls.shp", "areas.shp",    "nc.shp"};
INSTANTIATE_TEST_SUITE_P(Shapefiles, TruncatedFile, testing::ValuesIn(shapefiles));
INSTANTIATE_TEST_SUITE_P(Tables, TruncatedFile,
                         testing::Values("cities.dbf", "fieldtypes.dbf", "nulls.dbf", "areas.dbf", "nc.dbf"));
INSTANTIATE_TEST_SUITE_P(Shapefiles, TruncatedShapefile, testing::ValuesIn(shapefiles));

// ---------------------------------------------------------------------------
// dBase files

// Field name, width and value of each record as dbfdump prints them.
struct DumpedTable {
    std::vector<std::pair<std::string, char>> fields;
    std::vector<std::map<std::string, std::string>> records;
};

std::string trimmed(std::string s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

DumpedTable parse_dbfdump(const std::string &text) {
    DumpedTable t;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("Field ", 0) == 0) {
            const auto title = line.find("Title=`") + 7;
            t.fields.emplace_back(line.substr(title, line.find('\'', title) - title), line[line.find("Type=") + 5]);
        } else if (line.rfind("Record: ", 0) == 0) {
            t.records.emplace_back();
        } else if (!t.records.empty() && line.find(": ") != std::string::npos) {
            const auto colon = line.find(": ");
            t.records.back()[line.substr(0, colon)] = trimmed(line.substr(colon + 2));
        }
    }
    return t;
}

class DbaseOracle : public testing::TestWithParam<const char *> {};

TEST_P(DbaseOracle, CharacterAndNumericFieldsAreWhatDbfdumpPrints) {
    const std::string name = GetParam();
    Bytes bytes = fixture(name + ".dbf");
    const DumpedTable dumped = parse_dbfdump(read_text(fixture_path("esri/" + name + ".dbfdump")));
    Dbase d(bytes);
    EXPECT_EQ(d.dbf.level, 5);
    ASSERT_EQ(cnttbl(d.dbf.field_descriptors), static_cast<int>(dumped.fields.size()));
    ASSERT_EQ(d.dbf.hdr.numrecs, static_cast<int>(dumped.records.size()));
    for (size_t i = 0; i < dumped.fields.size(); ++i) {
        EXPECT_EQ(d.field(static_cast<int>(i))->name, dumped.fields[i].first);
        EXPECT_EQ(d.field(static_cast<int>(i))->type, dumped.fields[i].second);
    }
    for (int r = 0; r < d.dbf.hdr.numrecs; ++r) {
        const auto ours = d.fields(r);
        std::map<std::string, std::string> expected;
        for (const auto &[field, type] : dumped.fields)
            if (type == 'C' || type == 'N') expected[field] = dumped.records[static_cast<size_t>(r)].at(field);
        EXPECT_EQ(ours, expected) << name << " record " << r;
    }
    Dbase plain;
    unsigned char *stream = bytes.data();
    ASSERT_EQ(esri_decode_dbase_file(&plain.dbf, bytes.data(), &stream), 0);
    EXPECT_EQ(stream - bytes.data(), d.dbf.hdr.numbyteshdr + 1);  // past the first deletion flag
    EXPECT_EQ(plain.fields(d.dbf.hdr.numrecs - 1), d.fields(d.dbf.hdr.numrecs - 1));
}

INSTANTIATE_TEST_SUITE_P(Tables, DbaseOracle,
                         testing::Values("cities", "fieldtypes", "nulls", "multipatch", "areas", "nc"));

// A two-field level-5 file laid out by hand: a 'C' of width 10, an 'N' of 6.
Builder two_field_file(int version, int numbyteshdr, const std::string &record) {
    Builder b;
    b.b.push_back(static_cast<unsigned char>(version));
    b.bytes("\x7c\x0c\x1f").le32(1).le16(numbyteshdr).le16(17).zeros(20);
    b.bytes(std::string("NAME\0\0\0\0\0\0\0C", 12)).zeros(4);
    b.b.push_back(10);
    b.zeros(15);
    b.bytes(std::string("VALUE\0\0\0\0\0\0N", 12)).zeros(4);
    b.b.push_back(6);
    b.b.push_back(1);
    b.zeros(14);
    b.b.push_back(0x0d);
    if (numbyteshdr % 2 == 0) b.b.push_back(' ');
    b.bytes(" " + record).bytes("\x1a");
    return b;
}

TEST(DbaseDecode, VersionBitsChooseTheLevel) {
    for (const auto &[first, level] :
         std::vector<std::pair<int, int>>{{0x03, 5}, {0x83, 5}, {0x8b, 5}, {0x04, 7}, {0x30, 0}}) {
        Bytes bytes = two_field_file(first, 97, "  LISBON    12.5").b;
        Dbase d;
        LogCapture log;
        unsigned char *stream = bytes.data();
        const int status = esri_decode_dbase_file(&d.dbf, bytes.data(), &stream);
        EXPECT_EQ(d.dbf.level, level);
        if (level == 5) {
            EXPECT_EQ(status, 0);
            EXPECT_TRUE(log.empty());
        } else {
            EXPECT_EQ(status, -1);
            EXPECT_EQ(stream, bytes.data());
            EXPECT_EQ(log.text(), "esri_decode_dbase_file: dbase level = " + std::to_string(level) +
                                      " - only level 5 supported.\n");
        }
    }
}

TEST(DbaseDecode, OddHeaderLengthSkipsTheFirstDeletionFlagEvenDoesNot) {
    for (int numbyteshdr : {97, 98}) {
        Bytes bytes = two_field_file(3, numbyteshdr, "  LISBON    12.5").b;
        Dbase d(bytes);
        ASSERT_EQ(cnttbl(d.dbf.field_descriptors), 2);
        const size_t start = numbyteshdr == 97 ? 98 : 97;
        EXPECT_EQ(std::memcmp(d.dbf.records, bytes.data() + start, 17), 0) << numbyteshdr;
        EXPECT_EQ(d.field(1)->length, 6);
        EXPECT_EQ(d.field(1)->count, 1);
    }
}

TEST(DbaseFields, ValuesAndNamesAreTrimmedAndOtherTypesLeftOut) {
    Bytes bytes = two_field_file(3, 97, "  LISBON    12.5").b;
    Dbase d(bytes);
    EXPECT_EQ(d.fields(0), (std::map<std::string, std::string>{{"NAME", "LISBON"}, {"VALUE", "12.5"}}));
    // A date before the name: left out, and the name's value taken 8 bytes on.
    Bytes dated = fixture("fieldtypes.dbf");
    Dbase f(dated);
    const auto fields = f.fields(1);
    EXPECT_EQ(fields.count("DATE"), 0u);
    EXPECT_EQ(fields.count("OPEN"), 0u);
    EXPECT_EQ(fields.at("CITY"), "Coimbra");
    EXPECT_EQ(fields.at("NOTE"), "");
}

// A level-5 file with the given descriptors (name, type letter, width), the
// given record length, and the records area as it stands.
struct DbfField {
    std::string name;
    char type;
    int length;
};
Bytes dbase_file(const std::vector<DbfField> &fields, int numrecs, int numbytesrec, const std::string &records) {
    Builder b;
    b.b.push_back(3);
    b.zeros(3).le32(numrecs).le16(32 + 32 * static_cast<int>(fields.size()) + 1).le16(numbytesrec).zeros(20);
    for (const auto &f : fields) {
        std::string name = f.name;
        name.resize(11, '\0');
        b.bytes(name);
        b.b.push_back(static_cast<unsigned char>(f.type));
        b.zeros(4);
        b.b.push_back(static_cast<unsigned char>(f.length));
        b.zeros(15);
    }
    b.b.push_back(0x0d);
    b.bytes(" " + records).bytes("\x1a");
    return b.b;
}

// One 'C' field of width 12 per record: values are cut at the first zero
// byte and lose leading and trailing white space of every kind.
TEST(DbaseFields, ValuesAreCutAtTheFirstZeroByteAndTrimmedOfWhiteSpace) {
    const std::vector<std::pair<std::string, std::string>> cases = {{"  LISBON    ", "LISBON"},
                                                                    {std::string("\tA B\t \0xyz  \n", 12), "A B"},
                                                                    {std::string(12, '\0'), ""},
                                                                    {"            ", ""},
                                                                    {"x           ", "x"},
                                                                    {"           y", "y"},
                                                                    {"12345678901\t", "12345678901"},
                                                                    {std::string("AB  \0\0\0\0\0\0\0\0", 12), "AB"},
                                                                    {"\v\f\r ok \r\f\v  ", "ok"}};
    std::string records;
    for (const auto &c : cases) records += (records.empty() ? "" : " ") + c.first;
    Bytes bytes = dbase_file({{"TEXT", 'C', 12}}, static_cast<int>(cases.size()), 13, records);
    Dbase d(bytes);
    for (size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(d.fields(static_cast<int>(i)).at("TEXT"), cases[i].second) << i;
}

// Fields that every record shares are worked out once per set of
// descriptors: records of two files read in turn, and descriptors changed in
// place between two reads, each give what their own descriptors say.
TEST(DbaseFields, RecordsOfFilesReadInTurnFollowTheirOwnDescriptors) {
    Bytes first = dbase_file({{"CITY", 'C', 6}, {"POP", 'N', 4}}, 2, 11, "Faro    60 Beja    20");
    Bytes second = dbase_file({{"POP", 'N', 3}, {"D", 'D', 2}, {"CITY", 'C', 5}}, 1, 11, "  9xxEvora");
    Dbase a(first), b(second);
    using Fields = std::map<std::string, std::string>;
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(a.fields(1), (Fields{{"CITY", "Beja"}, {"POP", "20"}}));
        EXPECT_EQ(b.fields(0), (Fields{{"CITY", "Evora"}, {"POP", "9"}}));
        EXPECT_EQ(a.fields(0), (Fields{{"CITY", "Faro"}, {"POP", "60"}}));
    }
    auto *city = static_cast<ESRIDBASEFIELDDESCRStr *>(gettbl(a.dbf.field_descriptors, 0));
    std::strcpy(city->name, "TOWN");
    EXPECT_EQ(a.fields(0), (Fields{{"TOWN", "Faro"}, {"POP", "60"}}));
    city->length = 8;  // the population now starts two bytes later
    EXPECT_EQ(a.fields(0), (Fields{{"TOWN", "Faro"}, {"POP", "60 B"}}));
    city->type = 'L';
    EXPECT_EQ(a.fields(0), (Fields{{"POP", "60 B"}}));
    auto *pop = static_cast<ESRIDBASEFIELDDESCRStr *>(gettbl(a.dbf.field_descriptors, 1));
    pop->type = 'C';
    pop->length = 2;
    EXPECT_EQ(a.fields(0), (Fields{{"POP", "60"}}));
    // Both entries the same descriptor: two fields of one name, the later kept.
    settbl(a.dbf.field_descriptors, 0, pop);
    EXPECT_EQ(a.fields(0), (Fields{{"POP", "ro"}}));
    settbl(a.dbf.field_descriptors, 0, city);
}

// The array handed back for the next record is released by that call,
// whatever it holds: an array of the caller's with more values than a record
// has, one from another file with fewer, and one from the same file. The
// sanitizer build checks that each value is released exactly once.
TEST(DbaseFields, TheArrayHandedBackIsReleasedWhateverItHolds) {
    Bytes first = dbase_file({{"CITY", 'C', 6}, {"POP", 'N', 4}}, 2, 11, "Faro    60 Beja    20");
    Bytes second = dbase_file({{"A", 'C', 1}, {"B", 'C', 1}, {"C", 'C', 1}}, 1, 4, "xyz");
    Dbase a(first), b(second);
    Arr *fields = newarr(nullptr);
    for (const char *key : {"k1", "k2", "k3", "k4", "k5"}) setarr(fields, key, std::calloc(100, 1));
    ASSERT_EQ(esri_get_dbase_fields(&a.dbf, 1, &fields), 0);
    EXPECT_EQ(cntarr(fields), 2);
    EXPECT_STREQ(static_cast<char *>(getarr(fields, "CITY")), "Beja");
    ASSERT_EQ(esri_get_dbase_fields(&b.dbf, 0, &fields), 0);
    EXPECT_EQ(cntarr(fields), 3);
    EXPECT_STREQ(static_cast<char *>(getarr(fields, "C")), "z");
    ASSERT_EQ(esri_get_dbase_fields(&a.dbf, 0, &fields), 0);
    ASSERT_EQ(esri_get_dbase_fields(&a.dbf, 0, &fields), 0);
    EXPECT_EQ(cntarr(fields), 2);
    EXPECT_STREQ(static_cast<char *>(getarr(fields, "POP")), "60");
    LogCapture log;
    EXPECT_EQ(esri_get_dbase_fields(&a.dbf, 2, &fields), -1);  // past the last record
    EXPECT_EQ(fields, nullptr);
    EXPECT_FALSE(log.empty());
}

// An array handed back for the next record of the same file gives way to one
// with that record's values, whatever the caller put in it: a value of its
// own too small for the next one (the sanitizer build checks the bounds and
// that it is released), and values that grow and shrink from record to
// record.
TEST(DbaseFields, TheSameFilesArrayHandedBackHoldsTheNextRecordsValues) {
    const std::string long_name(40, 'L');
    Bytes bytes = dbase_file({{"CITY", 'C', 40}, {"POP", 'N', 4}}, 3, 45,
                             std::string("Faro") + std::string(36, ' ') + "  60" + " " + long_name + "1234" + " " +
                                 std::string(40, ' ') + "   7");
    Dbase d(bytes);
    Arr *fields = nullptr;
    ASSERT_EQ(esri_get_dbase_fields(&d.dbf, 0, &fields), 0);
    std::free(setarr(fields, "CITY", std::calloc(1, 1)));
    for (const int recno : {1, 2, 1, 0, 1}) {
        ASSERT_EQ(esri_get_dbase_fields(&d.dbf, recno, &fields), 0);
        ASSERT_EQ(cntarr(fields), 2);
        const char *city = recno == 0 ? "Faro" : recno == 1 ? long_name.c_str() : "";
        const char *pop = recno == 0 ? "60" : recno == 1 ? "1234" : "7";
        EXPECT_STREQ(static_cast<char *>(getarr(fields, "CITY")), city) << recno;
        EXPECT_STREQ(static_cast<char *>(getarr(fields, "POP")), pop) << recno;
    }
    freearr(fields, std::free);
}

// A name given twice keeps the later field's value, as setarr replaces it;
// names that differ only in blanks or after a zero byte are the same key.
TEST(DbaseFields, ANameGivenTwiceKeepsTheLaterField) {
    Bytes bytes = dbase_file({{"A", 'C', 3}, {"B", 'N', 2}, {" A", 'C', 3}, {std::string("B\0x", 3), 'N', 2}}, 1, 11,
                             "one 1two 2");
    Dbase d(bytes);
    EXPECT_EQ(d.fields(0), (std::map<std::string, std::string>{{"A", "two"}, {"B", "2"}}));
}

// More fields than a small array holds, in an order unrelated to their
// names' order, with empty values among them.
TEST(DbaseFields, ManyFieldsAllAppearUnderTheirNames) {
    std::vector<DbfField> fields;
    std::string record;
    std::map<std::string, std::string> expected;
    for (int i = 0; i < 40; ++i) {
        const int k = i * 17 % 40;
        const std::string name = "F" + std::to_string(k);
        fields.push_back({name, i % 2 ? 'N' : 'C', 4});
        const std::string value = i % 5 == 0 ? "" : std::to_string(k * 7);
        record += std::string(4 - value.size(), ' ') + value;
        expected[name] = value;
    }
    Bytes bytes = dbase_file(fields, 1, static_cast<int>(record.size()) + 1, record);
    Dbase d(bytes);
    EXPECT_EQ(d.fields(0), expected);
}

// Widths that add up to more than a record read on into the next slot, and
// at the last record stop at the end of the records copy.
TEST(DbaseFields, FieldsWiderThanTheRecordStopAtTheEndOfTheCopy) {
    Bytes bytes = dbase_file({{"NAME", 'C', 6}, {"CODE", 'N', 6}}, 2, 8, "Braga 12Porto 34");
    Dbase d(bytes);
    // The copy holds the 16 bytes of two slots; the last code has 2 of its 6.
    EXPECT_EQ(d.fields(0), (std::map<std::string, std::string>{{"NAME", "Braga"}, {"CODE", "12Port"}}));
    EXPECT_EQ(d.fields(1), (std::map<std::string, std::string>{{"NAME", "Porto"}, {"CODE", "34"}}));
}

TEST(DbaseFields, NoRecordsCopyGivesNoArrayAndReleasesTheOldOne) {
    ESRIDBASEStr empty{};
    Arr *a = newarr(nullptr);
    setarr(a, "x", std::malloc(4));
    EXPECT_EQ(esri_get_dbase_fields(&empty, 0, &a), 0);
    EXPECT_EQ(a, nullptr);
}

TEST(DbaseDecode, NoRecordsGivesAnEmptyCopy) {
    Builder b = two_field_file(3, 97, "");
    b.b[4] = 0;
    Dbase d;
    ASSERT_EQ(esri_decode_dbase_file_sized(&d.dbf, b.b.data(), static_cast<long>(b.b.size())), 0);
    EXPECT_NE(d.dbf.records, nullptr);
    EXPECT_EQ(d.dbf.hdr.numrecs, 0);
}

TEST(DbaseDecodeSized, NegativeCountsAndShortRecordsFailWithAMessage) {
    struct Case {
        size_t at;
        int value;
        std::string message;
    };
    const std::vector<Case> cases = {
        {4, -1, "esri_decode_dbase_file_sized: header: numrecs -1 is negative.\n"},
        {4, 3,
         "esri_decode_dbase_file_sized: records area: 3 records of 17 bytes need 51 bytes at byte 98, 17 remain.\n"},
        {10, 0xfff0, "esri_decode_dbase_file_sized: header: numbytesrec -16 is negative.\n"},
    };
    for (const Case &c : cases) {
        Bytes bytes = two_field_file(3, 97, "  LISBON    12.5").b;
        if (c.at == 4) {
            for (int i = 0; i < 4; ++i)
                bytes[4 + static_cast<size_t>(i)] = static_cast<unsigned char>(static_cast<std::uint32_t>(c.value) >>
                                                                               (8 * i));
        } else {
            bytes[c.at] = static_cast<unsigned char>(c.value & 0xff);
            bytes[c.at + 1] = static_cast<unsigned char>(c.value >> 8);
        }
        Dbase d;
        LogCapture log;
        EXPECT_EQ(esri_decode_dbase_file_sized(&d.dbf, bytes.data(), static_cast<long>(bytes.size())), -1);
        EXPECT_EQ(log.text(), c.message);
    }
}

// ---------------------------------------------------------------------------
// Listings

TEST(EsriPrint, OnePointFileListsHeaderRecordAndShape) {
    Builder b;
    b.be32(9994).zeros(20).be32(64).le32(1000).le32(1).f64(1.5).f64(2.25).f64(1.5).f64(2.25).zeros(32);
    b.be32(1).be32(10).le32(1).f64(1.5).f64(2.25);
    Shapefile f;
    ASSERT_EQ(esri_decode_shapefile_sized(&f.shp, b.b.data(), static_cast<long>(b.b.size())), 0);
    char prefix[] = "";
    const std::string text = printed([&] { esri_print_shapefile(prefix, &f.shp); });
    EXPECT_EQ(text,
              "FileHdr:\n  magic=9994\n  unused1=0\n  unused2=0\n  unused3=0\n  unused4=0\n  unused5=0\n"
              "  length=64\n  version=1000\n  shape_type=RecordPoint\n  xmin=1.500000\n  ymin=2.250000\n"
              "  xmax=1.500000\n  ymax=2.250000\n  zmin=0.000000\n  zmax=0.000000\n  mmin=0.000000\n  mmax=0.000000\n"
              "Record(0):\n  offset=100\n  RecordHdr:\n    number=1\n    length=10\n  RecordPoint(0):\n"
              "    shape_type=RecordPoint\n    x=1.500000\n    y=2.250000\n");
}

TEST(EsriPrint, ArraysShowTheirFirstItemsAndMarkTheRest) {
    Bytes bytes = fixture("nc.shp");
    Shapefile f(bytes);
    char prefix[] = "> ";
    const std::string text = printed([&] { esri_print_shapefile_record(prefix, f.at(0), -1); });
    std::istringstream lines(text);
    std::vector<std::string> all;
    for (std::string line; std::getline(lines, line);) all.push_back(line);
    ASSERT_EQ(all.size(), 11u);
    EXPECT_EQ(all[0], "> offset=100");
    EXPECT_EQ(all[1], "> RecordHdr:");
    EXPECT_EQ(all[4], "> RecordPolygon:");  // no record number with recno -1
    EXPECT_EQ(all[5], ">   shape_type=RecordPolygon");
    EXPECT_EQ(all[6], ">   bbox=(-81.741074, 36.234356, -81.239891, 36.589649)");
    EXPECT_EQ(all[9], ">   parts=0");
    EXPECT_EQ(all[10],
              ">   points=(-81.472755, 36.234356), (-81.540840, 36.272507), (-81.561981, 36.273594), "
              "(-81.633064, 36.340687), ...");
}

TEST(EsriPrint, DbaseListingShowsHeaderDescriptorsAndRecordSlots) {
    Bytes bytes = two_field_file(3, 97, "  LISBON    12.5").b;
    Dbase d(bytes);
    char prefix[] = "";
    const std::string text = printed([&] { esri_print_dbase_file(prefix, &d.dbf); });
    EXPECT_EQ(text,
              "DbaseFileHDR5:\n  flags=3\n  date_update=124, 12, 31\n  numrecs=1\n  numbyteshdr=97\n"
              "  numbytesrec=17\n  unused1=0\n  incomplete=0\n  encrypted=0\n  unused2=0\n  unused3=0\n  unused4=0\n"
              "  mdx=0\n  langid=0\n  unused5=0\n"
              "DbaseFieldDescriptor5(0):\n  name=NAME\n  type=C\n  unused4=0\n  length=10\n  count=0\n  workid=0\n"
              "  example=0\n  unused5=0, 0, 0, 0, 0, 0, 0, 0, 0, 0\n  mdx=0\n"
              "DbaseFieldDescriptor5(1):\n  name=VALUE\n  type=N\n  unused4=0\n  length=6\n  count=1\n  workid=0\n"
              "  example=0\n  unused5=0, 0, 0, 0, 0, 0, 0, 0, 0, 0\n  mdx=0\n"
              "  LISBON    12.5\x1a\n");
}

// A record width of 0 still gives one (empty) line per record slot.
TEST(EsriPrint, DbaseListingHasALinePerSlotWhenRecordsHaveNoWidth) {
    Bytes bytes = dbase_file({{"TEXT", 'C', 12}}, 3, 0, "");
    Dbase d(bytes);
    char prefix[] = "";
    const std::string text = printed([&] { esri_print_dbase_file(prefix, &d.dbf); });
    EXPECT_EQ(text.substr(text.rfind("  mdx=0")), "  mdx=0\n\n\n\n");
}

}  // namespace
