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
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

using vorpix::test::fixture_path;
using vorpix::test::LogCapture;
using vorpix::test::one_message;
using vorpix::test::printed;
using vorpix::test::read_file;
using vorpix::test::read_text;
using vorpix::test::set_word;

namespace {

using Bytes = std::vector<unsigned char>;
using Fields = std::map<std::string, std::string>;

Bytes fixture(const std::string &name) { return read_file(fixture_path("esri/" + name)); }

// Little- and big-endian writers for layouts that no tool writes.
struct Builder {
    Bytes b;
    Builder &le(std::uint64_t v, int n = 4) { return vorpix::test::put_le(b, v, n), *this; }
    Builder &be(std::uint64_t v, int n = 4) { return vorpix::test::put_be(b, v, n), *this; }
    Builder &f64(double v) { return le(std::bit_cast<std::uint64_t>(v), 8); }
    Builder &bytes(const std::string &s) { return b.insert(b.end(), s.begin(), s.end()), *this; }
    Builder &zeros(size_t n) { return b.insert(b.end(), n, 0), *this; }
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
    int decode_plain(Bytes &bytes) {
        unsigned char *stream = bytes.data();
        return esri_decode_shapefile(&shp, bytes.data(), &stream);
    }
};

struct Dbase {
    ESRIDBASEStr dbf{};
    Dbase() = default;
    explicit Dbase(const Bytes &bytes) {
        if (esri_decode_dbase_file_sized(&dbf, bytes.data(), static_cast<long>(bytes.size())) != 0)
            throw std::runtime_error("the dBase file does not decode");
    }
    ~Dbase() { vorpix::esri::release_dbase_file(&dbf); }
    ESRIDBASEFIELDDESCRStr *field(int i) const {
        return static_cast<ESRIDBASEFIELDDESCRStr *>(gettbl(dbf.field_descriptors, i));
    }
    Fields fields(int recno) {
        Arr *a = nullptr;
        EXPECT_EQ(esri_get_dbase_fields(&dbf, recno, &a), 0);
        Fields out;
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
        std::replace(inside.begin(), inside.end(), ',', ' ');
        std::istringstream values(inside);
        std::vector<double> point;
        for (double v; values >> v;) point.push_back(v);
        s.points.push_back(point);
    }
    return shapes;
}

bool near(double a, double b) { return std::fabs(a - b) <= 1e-13 * std::max(1.0, std::fabs(b)); }
bool has_z(int type) { return type == 11 || type == 13 || type == 15 || type == 18 || type == 31; }
bool has_m(int type) { return has_z(type) || type == 21 || type == 23 || type == 25 || type == 28; }

// ---------------------------------------------------------------------------
// Names and the engine

// An undefined type is named in hex and consumes nothing; a negative count
// fails as an allocation would.
TEST(EsriEngine, UndefinedTypesAndNegativeCountsFailWithOneMessage) {
    // clang-format off
    const std::tuple<int, Bytes, std::string, int> cases[] = {
        {2, Bytes(64, 0), "esri_unstuff_stream: str_type 0x2 not defined.\n", 0},
        {200, Bytes(64, 0), "esri_unstuff_stream: str_type 0xc8 not defined.\n", 0},
        {-5, Bytes(64, 0), "esri_unstuff_stream: str_type 0xfffffffb not defined.\n", 0},
        {8, Builder{}.le(8).zeros(32).le(-3).zeros(64).b, "esri_unstuff_stream: malloc() error.\n", 1},
    };
    // clang-format on
    for (auto [type, bytes, message, flags] : cases) {
        unsigned char *start = bytes.data(), *stream = start;
        void *out = nullptr;
        const int code = type;
        EXPECT_EQ(one_message([&] { EXPECT_EQ(esri_unstuff_stream(code, &out, start, &stream), -1); }, flags), message);
        EXPECT_TRUE(flags != 0 || (out == nullptr && stream == bytes.data())) << type;
        vorpix::esri::release_shape(type, out);
    }
    EXPECT_EQ(esri_strdefs_init(), 0);
    EXPECT_EQ(esri_strdefs_init(), 0);
}

// Sets without a table come back zeroed and consume nothing; empty shapes,
// which no fixture has, consume their fixed rows alone (the shpdump oracle
// below pins the layout of every shape type with points).
TEST(EsriEngine, EmptyStructuresConsumeTheirFixedRowsAlone) {
    // Type, the counts after its box, bytes consumed, and for a set without a
    // table the size of its structure.
    // clang-format off
    const std::tuple<int, std::vector<int>, size_t, size_t> cases[] = {
        {8, {0}, 40, 0}, {5, {1, 0}, 44 + 4, 0}, {31, {0, 0}, 44 + 16 + 16, 0}, {63, {}, 0, sizeof(ESRISHPStr)},
        {101, {}, 0, sizeof(ESRIDBASEStr)}, {106, {}, 0, sizeof(ESRIDBASEFIELDPROPSStr)}};
    // clang-format on
    for (const auto &[type, counts, consumed, zeroed] : cases) {
        Builder b;
        b.le(type).b.resize(36, 0xff);
        for (const int n : counts) b.le(n);
        b.b.resize(b.b.size() + 64, 0xff);
        unsigned char *stream = b.b.data();
        void *out = nullptr;
        ASSERT_EQ(esri_unstuff_stream(type, &out, b.b.data(), &stream), 0) << type;
        EXPECT_EQ(static_cast<size_t>(stream - b.b.data()), consumed) << type;
        EXPECT_EQ(Bytes(static_cast<unsigned char *>(out), static_cast<unsigned char *>(out) + zeroed),
                  Bytes(zeroed, 0));
        if (zeroed) std::free(out);
        else vorpix::esri::release_shape(type, out);
    }
}

// ---------------------------------------------------------------------------
// Shapefiles

class ShapefileOracle : public testing::TestWithParam<const char *> {};

// The header's bounds as shpdump prints them, every shape, and each record's
// offset and length as the index file (.shx) holds them. Z files that
// shapelib writes without measures (shpadd -z, "_nom") decode by their
// content lengths, with no M values. (The plain decoder decodes as the sized
// one: the shapefile fuzz target checks that.)
TEST_P(ShapefileOracle, DecodesWhatShpdumpPrints) {
    const std::string name = GetParam();
    const Bytes bytes = fixture(name + ".shp"), index = fixture(name + ".shx");
    const std::string text = read_text(fixture_path("esri/" + name + ".shpdump"));
    const auto dumped = parse_shpdump(text);
    Shapefile sized(bytes);
    ASSERT_EQ(sized.count(), static_cast<int>(dumped.size()));
    ASSERT_EQ(index.size(), 100 + 8 * dumped.size());
    const ESRISHPFILEHDRStr &h = sized.shp.hdr;
    EXPECT_EQ(h.magic, 9994);
    EXPECT_EQ(h.length * 2, static_cast<int>(bytes.size()));
    double b[8];
    ASSERT_EQ(
        std::sscanf(text.c_str() + text.find("File Bounds:"), "File Bounds: (%lf,%lf,%lf,%lf) to (%lf,%lf,%lf,%lf)",
                    &b[0], &b[1], &b[2], &b[3], &b[4], &b[5], &b[6], &b[7]),
        8);
    for (const auto &[ours, theirs] : {std::pair{h.xmin, b[0]},
                                       {h.ymin, b[1]},
                                       {h.zmin, b[2]},
                                       {h.mmin, b[3]},
                                       {h.xmax, b[4]},
                                       {h.ymax, b[5]},
                                       {h.zmax, b[6]},
                                       {h.mmax, b[7]}})
        EXPECT_TRUE(near(ours, theirs)) << ours << " vs " << theirs;
    const auto word = [&](size_t at) { return static_cast<int>(vorpix::test::big32(index, at)); };
    for (int i = 0; i < sized.count(); ++i) {
        const ESRISHPRECStr *rec = sized.at(i);
        SCOPED_TRACE(name + " shape " + std::to_string(i));
        EXPECT_EQ(rec->offset, 2ul * static_cast<unsigned long>(word(100 + 8 * static_cast<size_t>(i))));
        EXPECT_EQ(rec->hdr.length, word(104 + 8 * static_cast<size_t>(i)));
        EXPECT_EQ(rec->hdr.number, i + 1);
        EXPECT_EQ(rec->shape_type, *static_cast<int *>(rec->record));
        EXPECT_TRUE(rec->shape_type == 0 || rec->shape_type == h.shape_type);
        const auto v = vorpix::esri::view_shape(rec->shape_type, rec->record);
        const DumpedShape &d = dumped[static_cast<size_t>(i)];
        ASSERT_EQ(v.numpoints, d.vertices);
        EXPECT_TRUE(!name.ends_with("_nom") || (rec->shape_type == 11 ? *v.marray == 0 : v.marray == nullptr));
        EXPECT_EQ(v.numparts, d.nparts);
        EXPECT_EQ(std::vector<int>(v.parts, v.parts + v.numparts), d.parts);
        for (size_t k = 0; k < static_cast<size_t>(v.numpoints); ++k) {
            const ESRISHPPOINTStr &p = v.first_point()[k];
            EXPECT_TRUE(near(p.x, d.points[k][0])) << p.x << " vs " << d.points[k][0];
            EXPECT_TRUE(near(p.y, d.points[k][1]));
            EXPECT_TRUE(!has_z(rec->shape_type) || near(v.zarray[k], d.points[k][2]));
            EXPECT_TRUE(!has_m(rec->shape_type) || d.points[k].size() < 4 || near(v.marray[k], d.points[k][3]));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryShapeType, ShapefileOracle,
                         testing::Values("point", "arc", "polygon", "multipoint", "pointz", "arcz", "polygonz",
                                         "multipointz", "pointm", "arcm", "polygonm", "multipointm", "multipatch",
                                         "nulls", "fieldtypes", "areas", "nc", "pointz_nom", "arcz_nom", "polygonz_nom",
                                         "multipointz_nom"));

// Records are read while the file length in the header is not used up: the
// record that crosses it is read, none after. A second file decoded into the
// same structure replaces the records of the first.
TEST(ShapefileDecode, RecordsRunToTheFileLengthAndASecondFileReplacesThem) {
    Bytes first = fixture("point.shp"), second = fixture("arc.shp");  // point.shp: three records of 28 bytes
    first[27] = static_cast<unsigned char>((100 + 28 + 10) / 2);
    Shapefile f;
    ASSERT_EQ(f.decode_plain(first), 0);
    EXPECT_EQ(f.count(), 2);
    std::vector<ESRISHPRECStr *> old;
    old.reserve(static_cast<size_t>(f.count()));
    for (int i = 0; i < f.count(); ++i) old.push_back(f.at(i));
    ASSERT_EQ(f.decode_plain(second), 0);
    EXPECT_EQ(f.count(), 2);
    EXPECT_EQ(f.at(0)->shape_type, 3);
    for (auto *r : old) vorpix::esri::release_record(r);  // dropped from the list, not released
}

// An undefined type, and the framing types, in the second record's shape.
TEST(ShapefileDecode, UndefinedAndFramingShapeTypesFailTheFileWithEveryLevelsMessage) {
    for (const int type : {2, 58, 62, 63, 101}) {
        Bytes bytes = fixture("point.shp");
        bytes[100 + 28 + 8] = static_cast<unsigned char>(type);
        Shapefile f;
        LogCapture log;
        ASSERT_EQ(f.decode_plain(bytes), -1) << type;
        EXPECT_EQ(log.messages().size(), 3u) << type;
        EXPECT_EQ(log.messages()[1], "esri_decode_shapefile_record: esri_unstuff_stream() error.\n") << type;
        if (type == 2) {
            EXPECT_EQ(log.messages()[0], "esri_unstuff_stream: str_type 0x2 not defined.\n");
            EXPECT_EQ(log.messages()[2], "esri_decode_shapefile: esri_unstuff_stream() error.\n");
        }
        EXPECT_EQ(f.count(), 1);  // the failing record is not appended
    }
}

// Sized decoding: one message naming where the data went wrong.
TEST(ShapefileDecodeSized, BadCountsAndLengthsFailNamingTheRecord) {
    // Words of arc.shp changed (where, to what, big-endian): its second
    // record is at 256, 88 bytes long.
    // clang-format off
    const std::tuple<size_t, std::int32_t, bool, std::string> cases[] = {
        {256 + 4, 0x7fff, true, "record 1 at byte 256: content length 32767 words (65534 bytes) runs past the data, 80 remain.\n"},
        {256 + 4, -4, true, "record 1 at byte 256: content length -4 words is negative.\n"},
        {256 + 8 + 40, 1000, false, "record 1 at byte 256: RecordPolyLine points: 1000 points need 16000 bytes, 32 remain.\n"},
        {256 + 8 + 36, -1, false, "record 1 at byte 256: RecordPolyLine parts: numparts -1 is negative.\n"},
        {24, 0x10000, true, "header: file length 65536 words (131072 bytes) runs past the data, which has 344.\n"},
        {100 + 8, 2, false, "record 0 at byte 100: shape type 2 is not a shape type.\n"},
    };
    // clang-format on
    for (const auto &[at, value, big, message] : cases) {
        Bytes bytes = fixture("arc.shp");
        set_word(bytes, at, static_cast<std::uint32_t>(value), 4, big);
        Shapefile f;
        LogCapture log;
        EXPECT_EQ(esri_decode_shapefile_sized(&f.shp, bytes.data(), static_cast<long>(bytes.size())), -1);
        EXPECT_EQ(log.text(), "esri_decode_shapefile_sized: " + message);
    }
}

// Where the sized decoder reads a Z record whose content length stops after
// its Z values without measures (the "_nom" files above), the plain decoder
// keeps the full layout and reads the bytes that follow as measures.
TEST(ShapefileDecode, ZRecordWithoutMeasuresTakesTheBytesThatFollowAsMeasures) {
    Builder after{fixture("arcz_nom.shp")};
    after.f64(-7).f64(7).f64(4).f64(5).f64(6);
    Shapefile plain;
    ASSERT_EQ(plain.decode_plain(after.b), 0);
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
// two records decodes the records before it (none for a cut in the first two
// bytes after the header), any other cut fails.
class TruncatedShapefile : public testing::TestWithParam<const char *> {};

TEST_P(TruncatedShapefile, CutsThatTheHeaderAgreesWithStopInsideTheRecords) {
    const std::string name = GetParam();
    const Bytes whole = fixture(name);
    std::vector<size_t> boundaries;
    {
        Shapefile f(whole);
        for (int i = 0; i < f.count(); ++i) boundaries.push_back(f.at(i)->offset);
    }
    vorpix::test::for_each_cut(whole, 100, false, [&](unsigned char *bytes, size_t cut) {
        for (int i = 0; i < 4; ++i) bytes[24 + i] = static_cast<unsigned char>(cut / 2 >> (8 * (3 - i)));
        const auto boundary = std::find(boundaries.begin(), boundaries.end(), cut & ~size_t{1});
        Shapefile f;
        LogCapture log;
        const int status = esri_decode_shapefile_sized(&f.shp, bytes, static_cast<long>(cut));
        EXPECT_EQ(status, boundary == boundaries.end() ? -1 : 0) << name << " cut at " << cut;
        if (boundary != boundaries.end()) {
            EXPECT_NE(f.shp.records, nullptr);
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

// Field name and type, and the values of each record, as dbfdump prints them.
struct DumpedTable {
    std::vector<std::pair<std::string, char>> fields;
    std::vector<Fields> records;
};

DumpedTable parse_dbfdump(const std::string &text) {
    DumpedTable t;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("Field ", 0) == 0) {
            const auto title = line.find("Title=`") + 7;
            t.fields.emplace_back(line.substr(title, line.find('\'', title) - title), line[line.find("Type=") + 5]);
        } else if (line.rfind("Record: ", 0) == 0) {
            t.records.emplace_back();
        } else if (const auto colon = line.find(": "); !t.records.empty() && colon != std::string::npos) {
            const auto first = line.find_first_not_of(" \t", colon + 2);
            t.records.back()[line.substr(0, colon)] = first == std::string::npos
                                                          ? ""
                                                          : line.substr(first,
                                                                        line.find_last_not_of(" \t") - first + 1);
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
        Fields expected;
        for (const auto &[field, type] : dumped.fields)
            if (type == 'C' || type == 'N') expected[field] = dumped.records[static_cast<size_t>(r)].at(field);
        EXPECT_EQ(d.fields(r), expected) << name << " record " << r;
    }
    Dbase plain;
    unsigned char *stream = bytes.data();
    ASSERT_EQ(esri_decode_dbase_file(&plain.dbf, bytes.data(), &stream), 0);
    EXPECT_EQ(stream - bytes.data(), d.dbf.hdr.numbyteshdr + 1);  // past the first deletion flag
    EXPECT_EQ(plain.fields(d.dbf.hdr.numrecs - 1), d.fields(d.dbf.hdr.numrecs - 1));
}

INSTANTIATE_TEST_SUITE_P(Tables, DbaseOracle,
                         testing::Values("cities", "fieldtypes", "nulls", "multipatch", "areas", "nc"));

// A level-5 file laid out by hand: the header (updated 1994-12-31), the
// descriptors, the terminator (and a blank after it when numbyteshdr is
// even), the records area as it stands after the first deletion flag, and
// the end-of-file marker.
struct DbfField {
    std::string name;
    char type;
    int length, count = 0;
};
Bytes dbase_file(const std::vector<DbfField> &fields, int numrecs, int numbytesrec, const std::string &records,
                 int version = 3, int numbyteshdr = 0) {
    if (!numbyteshdr) numbyteshdr = 32 + 32 * static_cast<int>(fields.size()) + 1;
    Builder b;
    b.le(version, 1).bytes("\x7c\x0c\x1f").le(numrecs).le(numbyteshdr, 2).le(numbytesrec, 2).zeros(20);
    for (const auto &f : fields) {
        std::string name = f.name;
        name.resize(11, '\0');
        b.bytes(name + f.type).zeros(4).le(f.length, 1).le(f.count, 1).zeros(14);
    }
    b.le(0x0d, 1).bytes(numbyteshdr % 2 ? "" : " ");
    return b.bytes(" " + records + "\x1a").b;
}

// A 'C' of width 10 and an 'N' of 6 with one decimal.
Bytes lisbon(int version = 3, int numbyteshdr = 97) {
    return dbase_file({{"NAME", 'C', 10}, {"VALUE", 'N', 6, 1}}, 1, 17, "  LISBON    12.5", version, numbyteshdr);
}

TEST(DbaseDecode, VersionBitsChooseTheLevel) {
    for (const auto &[first, level] :
         std::vector<std::pair<int, int>>{{0x03, 5}, {0x83, 5}, {0x8b, 5}, {0x04, 7}, {0x30, 0}}) {
        Bytes bytes = lisbon(first);
        Dbase d;
        LogCapture log;
        unsigned char *stream = bytes.data();
        EXPECT_EQ(esri_decode_dbase_file(&d.dbf, bytes.data(), &stream), level == 5 ? 0 : -1);
        EXPECT_EQ(d.dbf.level, level);
        EXPECT_TRUE(level == 5 || stream == bytes.data());
        EXPECT_EQ(log.text(), level == 5 ? ""
                                         : "esri_decode_dbase_file: dbase level = " + std::to_string(level) +
                                               " - only level 5 supported.\n");
    }
}

// The records copy starts past the first deletion flag when the header
// length is odd, at it when even; with no records it is empty, not missing.
TEST(DbaseDecode, TheRecordsCopyStartsAfterTheHeader) {
    for (int numbyteshdr : {97, 98}) {
        const Bytes bytes = lisbon(3, numbyteshdr);
        Dbase d(bytes);
        ASSERT_EQ(cnttbl(d.dbf.field_descriptors), 2);
        EXPECT_EQ(std::memcmp(d.dbf.records, bytes.data() + (numbyteshdr == 97 ? 98 : 97), 17), 0) << numbyteshdr;
    }
    Dbase d(dbase_file({{"NAME", 'C', 10}}, 0, 11, ""));
    EXPECT_NE(d.dbf.records, nullptr);
    EXPECT_EQ(d.dbf.hdr.numrecs, 0);
}

TEST(DbaseDecodeSized, NegativeCountsAndShortRecordsFailWithAMessage) {
    // Where, how many bytes, the value.
    // clang-format off
    const std::tuple<size_t, int, int, std::string> cases[] = {
        {4, 4, -1, "header: numrecs -1 is negative.\n"},
        {4, 4, 3, "records area: 3 records of 17 bytes need 51 bytes at byte 98, 17 remain.\n"},
        {10, 2, 0xfff0, "header: numbytesrec -16 is negative.\n"},
    };
    // clang-format on
    for (const auto &[at, width, value, message] : cases) {
        Bytes bytes = lisbon();
        set_word(bytes, at, static_cast<std::uint32_t>(value), width, false);
        Dbase d;
        LogCapture log;
        EXPECT_EQ(esri_decode_dbase_file_sized(&d.dbf, bytes.data(), static_cast<long>(bytes.size())), -1);
        EXPECT_EQ(log.text(), "esri_decode_dbase_file_sized: " + message);
    }
}

// One 'C' field of width 12 per record: values are cut at the first zero
// byte and lose leading and trailing white space of every kind.
TEST(DbaseFields, ValuesAreCutAtTheFirstZeroByteAndTrimmedOfWhiteSpace) {
    // clang-format off
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"  LISBON    ", "LISBON"}, {std::string("\tA B\t \0xyz  \n", 12), "A B"}, {std::string(12, '\0'), ""},
        {"            ", ""}, {"x           ", "x"}, {"           y", "y"}, {"12345678901\t", "12345678901"},
        {std::string("AB  \0\0\0\0\0\0\0\0", 12), "AB"}, {"\v\f\r ok \r\f\v  ", "ok"}};
    // clang-format on
    std::string records;
    for (const auto &c : cases) records += (records.empty() ? "" : " ") + c.first;
    Dbase d(dbase_file({{"TEXT", 'C', 12}}, static_cast<int>(cases.size()), 13, records));
    for (size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(d.fields(static_cast<int>(i)).at("TEXT"), cases[i].second) << i;
}

// Fields that every record shares are worked out once per set of
// descriptors: records of two files read in turn, and descriptors changed in
// place between two reads, each give what their own descriptors say.
TEST(DbaseFields, RecordsOfFilesReadInTurnFollowTheirOwnDescriptors) {
    Dbase a(dbase_file({{"CITY", 'C', 6}, {"POP", 'N', 4}}, 2, 11, "Faro    60 Beja    20"));
    Dbase b(dbase_file({{"POP", 'N', 3}, {"D", 'D', 2}, {"CITY", 'C', 5}}, 1, 11, "  9xxEvora"));
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(a.fields(1), (Fields{{"CITY", "Beja"}, {"POP", "20"}}));
        EXPECT_EQ(b.fields(0), (Fields{{"CITY", "Evora"}, {"POP", "9"}}));
        EXPECT_EQ(a.fields(0), (Fields{{"CITY", "Faro"}, {"POP", "60"}}));
    }
    ESRIDBASEFIELDDESCRStr *city = a.field(0), *pop = a.field(1);
    std::strcpy(city->name, "TOWN");
    EXPECT_EQ(a.fields(0), (Fields{{"TOWN", "Faro"}, {"POP", "60"}}));
    city->length = 8;  // the population now starts two bytes later
    EXPECT_EQ(a.fields(0), (Fields{{"TOWN", "Faro"}, {"POP", "60 B"}}));
    city->type = 'L';
    EXPECT_EQ(a.fields(0), (Fields{{"POP", "60 B"}}));
    pop->type = 'C';
    pop->length = 2;
    EXPECT_EQ(a.fields(0), (Fields{{"POP", "60"}}));
}

// A name given twice keeps the later field's value, as setarr replaces it;
// names that differ only in blanks or after a zero byte are the same key.
// More fields than any fixture has (more than an array holds flat), in an
// order unrelated to their names' order, with empty values among them.
TEST(DbaseFields, FieldsAppearUnderTheirTrimmedNamesTheLaterOfTwoKept) {
    Dbase d(dbase_file({{"A", 'C', 3}, {"B", 'N', 2}, {" A", 'C', 3}, {std::string("B\0x", 3), 'N', 2}}, 1, 11,
                       "one 1two 2"));
    EXPECT_EQ(d.fields(0), (Fields{{"A", "two"}, {"B", "2"}}));
    std::vector<DbfField> fields;
    std::string record;
    Fields expected;
    for (int i = 0; i < 40; ++i) {
        const int k = i * 17 % 40;
        const std::string name = "F" + std::to_string(k), value = i % 5 == 0 ? "" : std::to_string(k * 7);
        fields.push_back({name, i % 2 ? 'N' : 'C', 4});
        record += std::string(4 - value.size(), ' ') + value;
        expected[name] = value;
    }
    EXPECT_EQ(Dbase(dbase_file(fields, 1, static_cast<int>(record.size()) + 1, record)).fields(0), expected);
}

// Widths that add up to more than a record read on into the next slot, and
// at the last record stop at the end of the records copy (16 bytes: the
// last code has 2 of its 6).
TEST(DbaseFields, FieldsWiderThanTheRecordStopAtTheEndOfTheCopy) {
    Dbase d(dbase_file({{"NAME", 'C', 6}, {"CODE", 'N', 6}}, 2, 8, "Braga 12Porto 34"));
    EXPECT_EQ(d.fields(0), (Fields{{"NAME", "Braga"}, {"CODE", "12Port"}}));
    EXPECT_EQ(d.fields(1), (Fields{{"NAME", "Porto"}, {"CODE", "34"}}));
}

// The array handed back for the next record is released by that call,
// whatever it holds: an array of the caller's with more values than a record
// has, one from another file with fewer, one from the same file, and one
// with a value of the caller's too small for the next one; values grow and
// shrink from record to record; with no records copy, or past the last
// record, no array comes back. The sanitizer build checks the bounds and
// that each value is released exactly once.
TEST(DbaseFields, TheArrayHandedBackIsReleasedWhateverItHolds) {
    const std::string long_name(40, 'L');
    Dbase a(dbase_file({{"CITY", 'C', 40}, {"POP", 'N', 4}}, 3, 45,
                       "Faro" + std::string(36, ' ') + "  60 " + long_name + "1234 " + std::string(40, ' ') + "   7"));
    Dbase b(dbase_file({{"A", 'C', 1}, {"B", 'C', 1}, {"C", 'C', 1}}, 1, 4, "xyz"));
    Arr *fields = newarr(nullptr);
    for (const char *key : {"k1", "k2", "k3", "k4", "k5"}) setarr(fields, key, std::calloc(100, 1));
    ASSERT_EQ(esri_get_dbase_fields(&a.dbf, 1, &fields), 0);
    EXPECT_EQ(cntarr(fields), 2);
    EXPECT_STREQ(static_cast<char *>(getarr(fields, "CITY")), long_name.c_str());
    ASSERT_EQ(esri_get_dbase_fields(&b.dbf, 0, &fields), 0);
    EXPECT_EQ(cntarr(fields), 3);
    EXPECT_STREQ(static_cast<char *>(getarr(fields, "C")), "z");
    ASSERT_EQ(esri_get_dbase_fields(&a.dbf, 0, &fields), 0);
    std::free(setarr(fields, "CITY", std::calloc(1, 1)));
    for (const int recno : {0, 1, 2, 1, 0, 1}) {
        ASSERT_EQ(esri_get_dbase_fields(&a.dbf, recno, &fields), 0);
        ASSERT_EQ(cntarr(fields), 2);
        const char *city = recno == 0 ? "Faro" : recno == 1 ? long_name.c_str() : "";
        const char *pop = recno == 0 ? "60" : recno == 1 ? "1234" : "7";
        EXPECT_STREQ(static_cast<char *>(getarr(fields, "CITY")), city) << recno;
        EXPECT_STREQ(static_cast<char *>(getarr(fields, "POP")), pop) << recno;
    }
    ESRIDBASEStr empty{};
    EXPECT_EQ(esri_get_dbase_fields(&empty, 0, &fields), 0);
    EXPECT_EQ(fields, nullptr);
    fields = newarr(nullptr);
    setarr(fields, "x", std::malloc(4));
    LogCapture log;
    EXPECT_EQ(esri_get_dbase_fields(&a.dbf, 3, &fields), -1);
    EXPECT_EQ(fields, nullptr);
    EXPECT_EQ(log.text(), "esri_get_dbase_fields: record 3 outside 0 to 2.\n");
}

// ---------------------------------------------------------------------------
// Listings

TEST(EsriPrint, ArraysShowTheirFirstItemsAndMarkTheRest) {
    Shapefile f(fixture("nc.shp"));
    char prefix[] = "> ";
    const auto all = vorpix::test::lines_of(printed([&] { esri_print_shapefile_record(prefix, f.at(0), -1); }));
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
    Dbase d(lisbon());
    char prefix[] = "";
    EXPECT_EQ(printed([&] { esri_print_dbase_file(prefix, &d.dbf); }),
              "DbaseFileHDR5:\n  flags=3\n  date_update=124, 12, 31\n  numrecs=1\n  numbyteshdr=97\n"
              "  numbytesrec=17\n  unused1=0\n  incomplete=0\n  encrypted=0\n  unused2=0\n  unused3=0\n  unused4=0\n"
              "  mdx=0\n  langid=0\n  unused5=0\n"
              "DbaseFieldDescriptor5(0):\n  name=NAME\n  type=C\n  unused4=0\n  length=10\n  count=0\n  workid=0\n"
              "  example=0\n  unused5=0, 0, 0, 0, 0, 0, 0, 0, 0, 0\n  mdx=0\n"
              "DbaseFieldDescriptor5(1):\n  name=VALUE\n  type=N\n  unused4=0\n  length=6\n  count=1\n  workid=0\n"
              "  example=0\n  unused5=0, 0, 0, 0, 0, 0, 0, 0, 0, 0\n  mdx=0\n"
              "  LISBON    12.5\x1a\n");
    // A record width of 0 still gives one (empty) line per record slot.
    Dbase empty(dbase_file({{"TEXT", 'C', 12}}, 3, 0, ""));
    const std::string text = printed([&] { esri_print_dbase_file(prefix, &empty.dbf); });
    EXPECT_EQ(text.substr(text.rfind("  mdx=0")), "  mdx=0\n\n\n\n");
}

// The stream forms write to their stream, and to it alone, what the others
// print on standard output, also from several threads at once, each with a
// stream and a file of its own.
TEST(EsriPrint, StreamFormsWriteWhatTheStandardOutputFormsPrint) {
    using vorpix::test::written;
    struct Listing {
        std::string name;
        std::function<void()> print;
        std::function<void(FILE *)> write;
    };
    std::vector<std::unique_ptr<Shapefile>> shapefiles;
    std::vector<std::unique_ptr<Dbase>> tables;
    std::vector<Listing> listings;
    static char prefix[] = "| ";
    for (const char *name : {"nc.shp", "multipatch.shp", "nulls.shp", "pointz_nom.shp", "arcz.shp"}) {
        const Shapefile &f = *shapefiles.emplace_back(std::make_unique<Shapefile>(fixture(name)));
        ESRISHPStr *shp = const_cast<ESRISHPStr *>(&f.shp);
        listings.push_back({name, [=] { esri_print_shapefile(prefix, shp); },
                            [=](FILE *out) { esri_fprint_shapefile(out, prefix, shp); }});
        for (const int recno : {-1, 7})
            listings.push_back({std::string(name) + " record 0 as " + std::to_string(recno),
                                [=, &f] { esri_print_shapefile_record(prefix, f.at(0), recno); },
                                [=, &f](FILE *out) { esri_fprint_shapefile_record(out, prefix, f.at(0), recno); }});
    }
    for (const char *name : {"nc.dbf", "cities.dbf", "fieldtypes.dbf"}) {
        ESRIDBASEStr *dbf = &tables.emplace_back(std::make_unique<Dbase>(fixture(name)))->dbf;
        listings.push_back({name, [=] { esri_print_dbase_file(prefix, dbf); },
                            [=](FILE *out) { esri_fprint_dbase_file(out, prefix, dbf); }});
    }
    std::vector<std::string> expected;
    for (const Listing &l : listings) {
        expected.push_back(printed(l.print));
        EXPECT_NE(expected.back().find("\n| "), std::string::npos) << l.name;
        std::string streamed;
        EXPECT_EQ(printed([&] { streamed = written(l.write); }), "") << l.name;
        EXPECT_EQ(streamed, expected.back()) << l.name;
    }
    std::vector<std::string> got(listings.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < listings.size(); ++i)
        threads.emplace_back([&, i] {
            got[i] = expected[i];
            for (int round = 0; round < 20 && got[i] == expected[i]; ++round) got[i] = written(listings[i].write);
        });
    for (std::thread &t : threads) t.join();
    for (size_t i = 0; i < listings.size(); ++i) EXPECT_EQ(got[i], expected[i]) << listings[i].name;
}

// Calls that cannot be right fail with one message each, flags 0.
TEST(EsriArguments, EachRefusalIsOneMessage) {
    ESRIDBASEStr dbf{};
    const std::pair<std::function<void()>, const char *> cases[] = {
        {[&] { EXPECT_EQ(esri_get_dbase_values(&dbf, nullptr, -1, nullptr, 0), -1); },
         "esri_get_dbase_values: invalid arguments.\n"},
        {[] { esri_fprint_shapefile(nullptr, const_cast<char *>(""), nullptr); },
         "esri_fprint_shapefile: no stream.\n"},
        {[] { esri_fprint_shapefile_record(nullptr, const_cast<char *>(""), nullptr, 0); },
         "esri_fprint_shapefile_record: no stream.\n"},
        {[] { esri_fprint_dbase_file(nullptr, const_cast<char *>(""), nullptr); },
         "esri_fprint_dbase_file: no stream.\n"},
    };
    for (const auto &[call, message] : cases) EXPECT_EQ(one_message(call), message);
}

}  // namespace
