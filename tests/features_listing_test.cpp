// Listings of shapefiles and dBase tables read a record at a time, against
// the library's listing of the same file decoded whole: every fixture, the
// corpus of real files where it has been fetched, and generated files whose
// records the whole-file decoder walks by the bytes it decoded rather than
// by their content lengths, or that span many windows of the reader.
#include "esri_writer.hpp"
#include "hostile_files.hpp"
#include "log_capture.hpp"
#include "test_files.hpp"

#include "vorpix/listing.hpp"

#include "arrays.h"
#include "esri.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using vorpix::features::Error;
using vorpix::features::ErrorCode;
using vorpix::features::FileKind;
using vorpix::test::fixture_path;
using vorpix::test::MainFile;
using vorpix::test::point_shape;
using vorpix::test::polygon_shape;
using vorpix::test::set_word;
using vorpix::test::TempDir;
using vorpix::test::text_table;
using vorpix::test::written;
using Bytes = std::vector<unsigned char>;

std::string extension_of(const std::string &path) {
    std::string e = fs::path(path).extension().string();
    for (char &c : e) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return e;
}

// The library's listing of the file decoded whole, or nothing when it does
// not decode.
std::optional<std::string> whole_listing(const std::string &path) {
    const vorpix::test::LogCapture quiet;
    Bytes bytes = vorpix::test::read_file(path);
    char prefix[] = "";
    if (extension_of(path) == ".dbf") {
        ESRIDBASEStr dbf{};
        const bool decoded = esri_decode_dbase_file_sized(&dbf, bytes.data(), static_cast<long>(bytes.size())) == 0;
        const std::string text = written([&](FILE *out) { esri_fprint_dbase_file(out, prefix, &dbf); });
        esri_release_dbase_file(&dbf);
        return decoded ? std::optional(text) : std::nullopt;
    }
    ESRISHPStr shp{};
    const bool decoded = esri_decode_shapefile_sized(&shp, bytes.data(), static_cast<long>(bytes.size())) == 0;
    const std::string text = written([&](FILE *out) { esri_fprint_shapefile(out, prefix, &shp); });
    for (int i = 0; i < cnttbl(shp.records); ++i) {
        auto *rec = static_cast<ESRISHPRECStr *>(gettbl(shp.records, i));
        esri_release_shapefile_record(rec);
        std::free(rec);
    }
    if (shp.records) freetbl(shp.records, nullptr);
    return decoded ? std::optional(text) : std::nullopt;
}

// The layer's listing into out, or into a temporary file; the error's
// message when it fails.
struct Listed {
    std::string text, error;
    ErrorCode code = ErrorCode::Invalid;
};
Listed layer_listing(const std::string &path, FILE *out = nullptr) {
    Listed r;
    const auto list = [&](FILE *f) {
        try {
            if (extension_of(path) == ".dbf") vorpix::features::list_dbase_file(path, f);
            else vorpix::features::list_shapefile(path, f);
        } catch (const Error &e) {
            r.error = e.what();
            r.code = e.code();
        }
    };
    if (out) list(out);
    else r.text = written(list);
    return r;
}

// The first line where two listings part, for a readable failure.
std::string first_difference(const std::string &a, const std::string &b) {
    const size_t at = static_cast<size_t>(std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first - a.begin());
    const size_t line = a.rfind('\n', at == 0 ? 0 : at - 1);
    const size_t from = line == std::string::npos ? 0 : line + 1;
    return "byte " + std::to_string(at) + ": \"" + a.substr(from, 80) + "\" against \"" + b.substr(from, 80) + "\"";
}

// ---------------------------------------------------------------------------
// Generated files

// The generated files, made once for the program.
class Generated {
public:
    Generated() {
        // A record whose content length (4 bytes) is shorter than its point:
        // the next record starts after the 20 bytes decoded.
        add("outrun_content.shp",
            MainFile().record(1, 2, point_shape(1, 2)).record(2, 10, point_shape(3, 4)).finish(1, 140));
        // A record of no content, whose shape type is read past it.
        add("empty_content.shp", MainFile().record(1, 0, Bytes(4, 0)).record(2, 10, point_shape(5, 6)).finish(1, 136));
        {
            MainFile f;
            for (int i = 0; i < 3; ++i) f.record(i + 1, 10, point_shape(i, -i));
            const long long length = static_cast<long long>(f.b.size());
            f.b.insert(f.b.end(), 40, 0xee);
            add("trailing_bytes.shp", f.finish(1, length));
        }
        {
            MainFile f;
            for (int i = 0; i < 100000; ++i) f.record(i + 1, 10, point_shape(i * 0.001, -i * 0.002));
            many_points = add("many_points.shp", f.finish(1));
        }
        {
            // One record larger than the reader's window.
            MainFile f;
            const Bytes big = polygon_shape(150000);
            f.record(1, static_cast<std::int32_t>(big.size() / 2), big).record(2, 10, point_shape(7, 8));
            add("big_polygon.shp", f.finish(5));
        }
        add("no_end_mark.dbf", text_table(6, {"Lisbon", std::string("Po\0to", 5), "Faro"}, false));
        add("padded_header.dbf", text_table(6, {"Lisbon", "Porto"}, true, true));
        std::vector<std::string> names;
        for (int i = 0; i < 120000; ++i) names.push_back("name " + std::to_string(i * 7919));
        many_records = add("many_records.dbf", text_table(22, names));
    }
    Generated(const Generated &) = delete;
    Generated &operator=(const Generated &) = delete;

    std::vector<std::string> files;
    std::string many_points, many_records;

private:
    std::string add(const std::string &name, const Bytes &bytes) {
        const std::string path = dir_.file(name);
        vorpix::test::write_file(path, bytes.data(), bytes.size());
        files.push_back(path);
        return path;
    }
    TempDir dir_;
};

const Generated &generated() {
    static const Generated g;
    return g;
}

std::vector<std::string> listed_files() {
    std::vector<std::string> files = vorpix::test::esri_files({".shp", ".dbf"});
    std::erase_if(files, [](const std::string &f) { return f.ends_with("dbf_record_length_zero.dbf"); });
    const auto &made = generated().files;
    files.insert(files.end(), made.begin(), made.end());
    return files;
}

// ---------------------------------------------------------------------------

TEST(Listing, ListsEveryFileAsTheLibraryListsItDecodedWhole) {
    size_t compared = 0;
    for (const std::string &path : listed_files()) {
        const std::optional<std::string> whole = whole_listing(path);
        const Listed got = layer_listing(path);
        if (!whole) {
            // Neither lists it: the layer says why, naming the file.
            EXPECT_EQ(got.error.rfind(path + ": ", 0), 0u) << path << ": " << got.error;
            continue;
        }
        EXPECT_EQ(got.error, "") << path;
        EXPECT_EQ(got.text.size(), whole->size()) << path;
        EXPECT_TRUE(got.text == *whole) << path << ": " << first_difference(got.text, *whole);
        ++compared;
    }
    EXPECT_GE(compared, 60u);
}

// Tables whose records of 0 bytes the whole-file listing would give as many
// empty lines as the header claims (two billion from 68 bytes), data that
// run past the file, and a stream that takes nothing: one error each.
TEST(Listing, RefusesWhatCannotBeListed) {
    TempDir dir;
    const auto made = [&](const std::string &name, const Bytes &bytes) {
        vorpix::test::write_file(dir.file(name), bytes.data(), bytes.size());
        return dir.file(name);
    };
    Bytes cut = vorpix::test::read_file(fixture_path("esri/nc.shp"));
    cut.resize(200);
    // A polygon that claims two billion points in a file of 172 bytes.
    const Bytes one = polygon_shape(1);
    Bytes huge = MainFile().record(1, static_cast<std::int32_t>(one.size() / 2), one).finish(5);
    set_word(huge, 100 + 8 + 40, 0x7fffffff, 4, false);
    FILE *full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    const std::string zero_width = "header: record length of 0 bytes leaves no room for the deletion flag";
    const struct {
        std::string file;
        FILE *out;
        std::string message;  // after "FILE: "
        ErrorCode code;
    } cases[] = {
        {fixture_path("esri/dbf_record_length_zero.dbf"), nullptr, zero_width, ErrorCode::Invalid},
        {vorpix::test::hostile_file("empty_records.dbf"), nullptr, zero_width, ErrorCode::Invalid},
        {vorpix::test::hostile_file("huge_numrecs.dbf"), nullptr,
         "records area: 2147483647 records of 2 bytes need 4294967294 bytes at byte 66, 2 remain", ErrorCode::Invalid},
        {made("cut.shp", cut), nullptr,
         "header: file length 23098 words (46196 bytes) runs past the data, which has 200", ErrorCode::Invalid},
        {made("past.shp", MainFile().record(1, 1000, point_shape(1, 1)).finish(1)), nullptr,
         "record 0 at byte 100: content length 1000 words (2000 bytes) runs past the data, 20 remain",
         ErrorCode::Invalid},
        {made("huge_count.shp", huge), nullptr, "", ErrorCode::Invalid},
        {generated().many_points, full, "its listing cannot be written", ErrorCode::Io},
        {generated().many_records, full, "its listing cannot be written", ErrorCode::Io},
    };
    for (const auto &c : cases) {
        const Listed got = layer_listing(c.file, c.out);
        EXPECT_EQ(got.code, c.code) << c.file;
        if (!c.message.empty()) {
            EXPECT_EQ(got.error, c.file + ": " + c.message);
        } else {
            EXPECT_NE(got.error, "") << c.file;
        }
    }
    std::fclose(full);
}

TEST(Listing, FileKindsComeFromFirstBytesThenNames) {
    TempDir dir;
    const struct {
        std::string name, bytes;
        FileKind kind;
    } cases[] = {
        {"a.nc", std::string("CDF\x01\0\0\0\0", 8), FileKind::NetcdfClassic},
        {"b.nc", std::string("CDF\x02\0\0\0\0", 8), FileKind::Netcdf64BitOffset},
        {"c.nc", std::string("CDF\x05\0\0\0\0", 8), FileKind::Netcdf64BitData},
        {"d.nc", "\x89HDF\r\n\x1a\n", FileKind::Netcdf4},
        {"e.bin", "DDS |", FileKind::Dds},
        {"f.dbf", std::string("\0\0\x27\x0a", 4), FileKind::Shapefile},
        {"g.DBF", "\x03", FileKind::Dbase},
        {"h.dbf", "", FileKind::Dbase},
        {"world.B", "\0\0\0\0", FileKind::Shoreline},
        {"notes.txt", "CDF", FileKind::Unknown},
        {"dbf", "x", FileKind::Unknown},
    };
    for (const auto &c : cases) {
        vorpix::test::write_file(dir.file(c.name), c.bytes.data(), c.bytes.size());
        EXPECT_EQ(vorpix::features::file_kind(dir.file(c.name)), c.kind) << c.name;
    }
    try {
        vorpix::features::file_kind(dir.path());
        ADD_FAILURE() << "a directory has a kind";
    } catch (const Error &e) {
        EXPECT_EQ(std::string(e.what()), dir.path() + ": is a directory");
    }
}

}  // namespace
