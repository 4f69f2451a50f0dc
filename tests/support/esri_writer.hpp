// Shapefiles and dBase tables written byte by byte, for the layouts that no
// tool writes, and the lists of the ones that tools wrote.
#ifndef VORPIX_TEST_ESRI_WRITER_HPP
#define VORPIX_TEST_ESRI_WRITER_HPP

#include "byte_writer.hpp"
#include "test_files.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace vorpix::test {

// A main file: its header, then records as given.
struct MainFile {
    std::vector<unsigned char> b = std::vector<unsigned char>(100, 0);
    MainFile &record(int number, std::int32_t content_words, const std::vector<unsigned char> &contents) {
        put_be32(b, static_cast<std::uint32_t>(number));
        put_be32(b, static_cast<std::uint32_t>(content_words));
        b.insert(b.end(), contents.begin(), contents.end());
        return *this;
    }
    MainFile &bounds(double xmin, double ymin, double xmax, double ymax) {
        for (int k = 0; const double v : {xmin, ymin, xmax, ymax})
            set_word(b, 36 + 8 * k++, std::bit_cast<std::uint64_t>(v), 8, false);
        return *this;
    }
    // With the file length given in bytes, or the whole file's.
    std::vector<unsigned char> finish(int shape_type, long long length = -1) {
        set_word(b, 0, 9994, 4, true);
        set_word(b, 24, static_cast<std::uint64_t>((length < 0 ? static_cast<long long>(b.size()) : length) / 2), 4,
                 true);
        set_word(b, 28, 1000, 4, false);
        set_word(b, 32, static_cast<std::uint64_t>(shape_type), 4, false);
        return b;
    }
};

inline void put_f64(std::vector<unsigned char> &b, double v) { put_le(b, std::bit_cast<std::uint64_t>(v), 8); }

// The contents of a point record, and of a polygon of one ring.
inline std::vector<unsigned char> point_shape(double x, double y) {
    std::vector<unsigned char> c;
    put_le32(c, 1);
    put_f64(c, x), put_f64(c, y);
    return c;
}

// A polygon of one ring, its box taken from the points.
inline std::vector<unsigned char> ring_shape(const std::vector<std::pair<double, double>> &ring) {
    std::vector<unsigned char> c;
    put_le32(c, 5);
    double box[4] = {ring[0].first, ring[0].second, ring[0].first, ring[0].second};
    for (const auto &[x, y] : ring)
        box[0] = std::min(box[0], x), box[1] = std::min(box[1], y), box[2] = std::max(box[2], x),
        box[3] = std::max(box[3], y);
    for (const double v : box) put_f64(c, v);
    put_le32(c, 1), put_le32(c, static_cast<std::uint32_t>(ring.size())), put_le32(c, 0);
    for (const auto &[x, y] : ring) put_f64(c, x), put_f64(c, y);
    return c;
}

inline std::vector<unsigned char> polygon_shape(int points) {
    std::vector<unsigned char> c;
    put_le32(c, 5);
    for (const double v : {0.0, 0.0, 1.0, 1.0}) put_f64(c, v);
    put_le32(c, 1), put_le32(c, static_cast<std::uint32_t>(points)), put_le32(c, 0);
    for (int i = 0; i < points; ++i) put_f64(c, i * 1e-5), put_f64(c, (i % 7) * 0.125);
    return c;
}

// A level-5 table of one character field TEXT: the usual layout (header
// length odd, counting the terminator), or one byte more of header; records
// as given, each after its deletion flag, then the end-of-file mark when asked.
inline std::vector<unsigned char> text_table(int width, const std::vector<std::string> &records, bool end_mark = true,
                                             bool padded_header = false) {
    std::vector<unsigned char> b;
    const int header = 32 + 32 + 1 + (padded_header ? 1 : 0);
    put_le(b, 0x7b0103, 4);
    put_le32(b, static_cast<std::uint32_t>(records.size()));
    put_le(b, static_cast<std::uint64_t>(header), 2), put_le(b, static_cast<std::uint64_t>(width + 1), 2);
    b.resize(64, 0);
    std::copy_n("TEXT", 4, b.begin() + 32);
    b[43] = 'C', b[48] = static_cast<unsigned char>(width);
    b.push_back(0x0d);
    if (padded_header) b.push_back(' ');
    for (const std::string &r : records) {
        b.push_back(' ');
        for (int i = 0; i < width; ++i)
            b.push_back(i < static_cast<int>(r.size()) ? static_cast<unsigned char>(r[i]) : ' ');
    }
    if (end_mark) b.push_back(0x1a);
    return b;
}

// The fixtures' files with these extensions (in lower case, matched in any), then the real ones from Debian
// packages where the corpus has been fetched, sorted.
inline std::vector<std::string> esri_files(const std::vector<std::string> &extensions) {
    namespace fs = std::filesystem;
    std::vector<std::string> files;
    const auto take = [&](const fs::path &p) {
        std::string e = p.extension().string();
        for (char &c : e) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        if (std::find(extensions.begin(), extensions.end(), e) != extensions.end()) files.push_back(p.string());
    };
    for (const auto &entry : fs::directory_iterator(fixture_path("esri"))) take(entry.path());
    const fs::path corpus = std::string(VORPIX_SOURCE_DIR) + "/build-data/esri-corpus/files";
    if (fs::is_directory(corpus))
        for (const auto &entry : fs::recursive_directory_iterator(corpus)) take(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace vorpix::test

#endif
