// Listings of shapefiles and dBase tables a record at a time, through the
// library's printers; DDS textures whole.
#include "vorpix/listing.hpp"

#include "dds_file.hpp"
#include "input_file.hpp"
#include "vorpix/library_log.hpp"
#include "map_support.hpp"

#include "arrays.h"
#include "dds.h"
#include "esri.h"
#include "gshhsmap.h"
#include "netcdf.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

namespace vorpix::features {
namespace {

std::uint32_t big32(const unsigned char *p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

std::uint32_t little32(const unsigned char *p) {
    return p[0] | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

std::string at_byte(std::uint64_t offset) { return " at byte " + std::to_string(offset); }

// A listing whose stream fails stops there rather than going on into it.
void check_stream(FILE *out, const std::string &path) {
    if (std::ferror(out)) throw Error(ErrorCode::Io, path, "", "its listing cannot be written");
}

bool ends_with(const std::string &path, std::string_view suffix) {
    if (path.size() < suffix.size()) return false;
    return std::equal(suffix.begin(), suffix.end(), path.end() - static_cast<long>(suffix.size()),
                      [](char s, char c) { return s == std::tolower(static_cast<unsigned char>(c)); });
}

// ---------------------------------------------------------------------------
// Shapefiles

constexpr std::uint64_t header_bytes = 100;

struct ShapeRecord {
    ESRISHPRECStr rec{};
    ShapeRecord() = default;
    ShapeRecord(const ShapeRecord &) = delete;
    ShapeRecord &operator=(const ShapeRecord &) = delete;
    ~ShapeRecord() { esri_release_shapefile_record(&rec); }
};

// How many bytes of a shape's contents the library's record decoder reads:
// its fixed members and its arrays by the counts stored in it, which it
// takes from the file whatever the record's content length says. c holds
// the first available bytes of the contents, length is the content length
// in bytes. A count that cannot be read or is negative counts as 0; the
// decoder then fails anyway.
std::uint64_t shape_extent(const unsigned char *c, std::size_t available, std::uint64_t length) {
    if (available < 4) return 4;
    const auto count = [&](std::size_t at) -> std::uint64_t {
        if (at + 4 > available) return 0;
        const auto n = static_cast<std::int32_t>(little32(c + at));
        return n > 0 ? static_cast<std::uint64_t>(n) : 0;
    };
    const int type = static_cast<std::int32_t>(little32(c));
    // A Z shape may stop after its Z values, as the format allows; the
    // decoder reads no measures when the content length ends between the
    // two, going by the counts that lie within the content length.
    const auto framed = [&](std::size_t at) -> long long {
        return at + 4 <= length && at + 4 <= available ? static_cast<std::int32_t>(little32(c + at)) : -1;
    };
    long long head = 0, points = 0;
    switch (type) {
    case 11: head = 28; break;
    case 18: head = 40, points = framed(36); break;
    case 13:
    case 15: head = 44 + 4 * framed(36), points = framed(40); break;
    case 31: head = 44 + 8 * framed(36), points = framed(40); break;
    default: break;
    }
    const long long with_z = type == 11 ? 28 : head + 16 * points + 16 + 8 * points;
    const long long with_m = type == 11 ? 36 : with_z + 16 + 8 * points;
    const auto have = static_cast<long long>(length);
    const bool measures = !(points >= 0 && head >= 0 && have >= with_z && have < with_m);

    const std::uint64_t parts = count(36), n = count(40), m = count(36);
    const std::uint64_t zs = 16 + 8 * n, ms = 16 + 8 * n;
    switch (type) {
    case 0: return 4;
    case 1: return 20;
    case 21: return 28;
    case 11: return measures ? 36 : 28;
    case 8: return 40 + 16 * m;
    case 28: return 40 + 16 * m + 16 + 8 * m;
    case 18: return 40 + 16 * m + 16 + 8 * m + (measures ? 16 + 8 * m : 0);
    case 3:
    case 5: return 44 + 4 * parts + 16 * n;
    case 23:
    case 25: return 44 + 4 * parts + 16 * n + ms;
    case 13:
    case 15: return 44 + 4 * parts + 16 * n + zs + (measures ? ms : 0);
    case 31: return 44 + 8 * parts + 16 * n + zs + (measures ? ms : 0);
    default: return 4;
    }
}

// ---------------------------------------------------------------------------
// dBase tables

constexpr unsigned char field_terminator = 0x0d;
constexpr std::size_t chunk_bytes = 1 << 20;

struct DbaseTable {
    ESRIDBASEStr dbf{};
    DbaseTable() = default;
    DbaseTable(const DbaseTable &) = delete;
    DbaseTable &operator=(const DbaseTable &) = delete;
    ~DbaseTable() { esri_release_dbase_file(&dbf); }
};

// One structure of str_type from 32 bytes at p, through the library's engine.
void unstuff_32(int str_type, void **into, const unsigned char *p, const std::string &path, const std::string &place) {
    unsigned char bytes[32];
    std::memcpy(bytes, p, sizeof bytes);
    unsigned char *cursor = bytes;
    LibraryLog log;
    if (esri_unstuff_stream(str_type, into, bytes, &cursor) < 0) throw Error(log.code(), path, place, log.reason());
}

}  // namespace

FileKind file_kind(const std::string &path) {
    InputFile file(path);
    const std::string head = file.head(8, nullptr);
    const auto starts = [&head](std::string_view magic) { return std::string_view(head).starts_with(magic); };
    using namespace std::string_view_literals;
    if (starts("CDF\x01"sv)) return FileKind::NetcdfClassic;
    if (starts("CDF\x02"sv)) return FileKind::Netcdf64BitOffset;
    if (starts("CDF\x05"sv)) return FileKind::Netcdf64BitData;
    if (starts("\x89HDF\r\n\x1a\n"sv)) return FileKind::Netcdf4;
    if (starts("DDS "sv)) return FileKind::Dds;
    if (starts("\x00\x00\x27\x0a"sv)) return FileKind::Shapefile;
    if (ends_with(path, ".dbf")) return FileKind::Dbase;
    if (ends_with(path, ".b")) return FileKind::Shoreline;
    return FileKind::Unknown;
}

void list_shapefile(const std::string &path, FILE *out) {
    InputFile file(path);
    const std::uint64_t size = file.size();
    char prefix[] = "";
    ESRISHPFILEHDRStr header{};
    if (size < header_bytes) {
        // The library's own words for what is missing.
        const unsigned char *all = file.at(0, size);
        ESRISHPStr shp{};
        LibraryLog log;
        esri_decode_shapefile_sized(&shp, all, static_cast<long>(size));
        if (shp.records) freetbl(shp.records, nullptr);
        throw Error(log.code(), path, "", log.reason());
    }
    {
        void *into = &header;
        unsigned char bytes[header_bytes];
        std::memcpy(bytes, file.at(0, header_bytes), header_bytes);
        unsigned char *cursor = bytes;
        LibraryLog log;
        if (esri_unstuff_stream(59, &into, bytes, &cursor) < 0) throw Error(log.code(), path, "header", log.reason());
    }
    const long long words = header.length;
    if (words < 0)
        throw Error(ErrorCode::Invalid, path, "header", "file length " + std::to_string(words) + " words is negative");
    if (2 * static_cast<std::uint64_t>(words) > size)
        throw Error(ErrorCode::Invalid, path, "header",
                    "file length " + std::to_string(words) + " words (" + std::to_string(2 * words) +
                        " bytes) runs past the data, which has " + std::to_string(size));
    {
        ESRISHPStr shp{};
        shp.hdr = header;
        esri_fprint_shapefile(out, prefix, &shp);
    }
    check_stream(out, path);

    // Each record starts where the one before it stopped decoding, and the
    // records go on while the file length counts bytes not yet framed by one.
    std::uint64_t offset = header_bytes;
    long long remaining = 2 * words - static_cast<long long>(header_bytes);
    for (int index = 0; remaining > 0; ++index) {
        const std::string place = "record " + std::to_string(index) + at_byte(offset);
        const unsigned char *h = file.at(offset, 8);
        if (!h)
            throw Error(ErrorCode::Invalid, path, place,
                        "its header needs 8 bytes, " + std::to_string(size - std::min(size, offset)) + " remain");
        const auto content = static_cast<std::int32_t>(big32(h + 4));
        if (content < 0)
            throw Error(ErrorCode::Invalid, path, place,
                        "content length " + std::to_string(content) + " words is negative");
        const std::uint64_t length = 2 * static_cast<std::uint64_t>(content), left = size - offset - 8;
        if (length > left)
            throw Error(ErrorCode::Invalid, path, place,
                        "content length " + std::to_string(content) + " words (" + std::to_string(length) +
                            " bytes) runs past the data, " + std::to_string(left) + " remain");
        const std::size_t available = static_cast<std::size_t>(std::min<std::uint64_t>(left, 44));
        const std::uint64_t extent = shape_extent(file.at(offset + 8, available), available, length);
        // The shape's bytes past its content length are read from the file
        // as the whole-file decoder reads them; a shape that runs past the
        // file is given its content length alone, which it then outruns.
        std::uint64_t window = 8 + std::max(length, extent);
        if (window > size - offset) window = 8 + length;
        const unsigned char *bytes = file.at(offset, static_cast<std::size_t>(window));
        ShapeRecord record;
        {
            LibraryLog log;
            if (!bytes || esri_decode_shapefile_record_sized(&record.rec, bytes, static_cast<long>(window),
                                                             static_cast<long>(offset)) < 0)
                throw Error(log.code(), path, place, log.reason());
        }
        esri_fprint_shapefile_record(out, prefix, &record.rec, index);
        check_stream(out, path);
        remaining -= 2 * static_cast<long long>(record.rec.hdr.length) + 8;
        offset += 8 + extent;
    }
}

void list_dbase_file(const std::string &path, FILE *out) {
    InputFile file(path);
    const std::uint64_t size = file.size();
    char prefix[] = "";
    const unsigned char *h = file.at(0, 32);
    if (!h) throw Error(ErrorCode::Invalid, path, "header", "32 bytes needed, " + std::to_string(size) + " remain");
    const int version = h[0] & 7;
    const int level = version == 3 ? 5 : version == 4 ? 7 : version;
    if (level != 5)
        throw Error(ErrorCode::Invalid, path, "header",
                    "dBase level " + std::to_string(level) + "; only level 5 is read");
    DbaseTable table;
    ESRIDBASEStr &dbf = table.dbf;
    dbf.level = level;
    void *into = &dbf.hdr;
    unstuff_32(0x66, &into, h, path, "header");
    const ESRIDBASEHDRStr &hdr = dbf.hdr;
    if (hdr.numrecs < 0)
        throw Error(ErrorCode::Invalid, path, "header", "numrecs " + std::to_string(hdr.numrecs) + " is negative");
    if (hdr.numbytesrec < 0)
        throw Error(ErrorCode::Invalid, path, "header",
                    "numbytesrec " + std::to_string(hdr.numbytesrec) + " is negative");
    // Records of 0 bytes would list as many empty lines as the header
    // claims, from a file of a few bytes.
    if (hdr.numbytesrec == 0)
        throw Error(ErrorCode::Invalid, path, "header",
                    "record length of 0 bytes leaves no room for the deletion flag");

    if (!(dbf.field_descriptors = newtbl(0))) throw std::bad_alloc();
    std::uint64_t offset = 32;
    for (int index = 0;; ++index, offset += 32) {
        const std::string place = "field descriptor " + std::to_string(index) + at_byte(offset);
        const unsigned char *first = file.at(offset, 1);
        if (!first) throw Error(ErrorCode::Invalid, path, place, "the file ends before the descriptors' terminator");
        if (*first == field_terminator) break;
        const unsigned char *d = file.at(offset, 32);
        if (!d)
            throw Error(ErrorCode::Invalid, path, place,
                        "32 bytes needed, " + std::to_string(size - offset) + " remain");
        void *descriptor = nullptr;
        unstuff_32(0x68, &descriptor, d, path, place);
        if (settbl(dbf.field_descriptors, -1, descriptor) < 0) {
            std::free(descriptor);
            throw std::bad_alloc();
        }
    }

    // The records copy of the whole-file decoder starts after the
    // terminator, and one byte later when the header length is odd (the
    // usual layout, which counts the terminator): each slot then holds a
    // record's fields and the next one's deletion flag, and the last slot
    // takes the end-of-file mark, or a zero byte where the file ends
    // without one.
    std::uint64_t start = offset + 1;
    const bool odd = (hdr.numbyteshdr & 1) != 0;
    bool flag_missing = false;
    if (odd) {
        if (start < size) ++start;
        else flag_missing = true;
    }
    const auto width = static_cast<std::uint64_t>(hdr.numbytesrec);
    const auto count = static_cast<std::uint64_t>(hdr.numrecs);
    const std::uint64_t total = count * width, left = flag_missing ? 0 : size - start;
    if ((flag_missing || left < total) && !(odd && (flag_missing ? total == 0 : left + 1 == total)))
        throw Error(ErrorCode::Invalid, path, "records area",
                    std::to_string(hdr.numrecs) + " records of " + std::to_string(hdr.numbytesrec) + " bytes need " +
                        std::to_string(total) + " bytes" + at_byte(start + (flag_missing ? 1 : 0)) + ", " +
                        std::to_string(left) + " remain");

    esri_fprint_dbase_file(out, prefix, &dbf);
    check_stream(out, path);
    const std::uint64_t per_chunk = std::max<std::uint64_t>(1, chunk_bytes / width);
    for (std::uint64_t first = 0; first < count; first += per_chunk) {
        const std::uint64_t slots = std::min(per_chunk, count - first), at = start + first * width;
        const std::uint64_t held = std::min(slots * width, size - std::min(size, at));
        const unsigned char *p = held ? file.at(at, static_cast<std::size_t>(held)) : nullptr;
        for (std::uint64_t k = 0; k < slots; ++k) {
            const std::uint64_t from = k * width, n = from < held ? std::min(width, held - from) : 0;
            const char *slot = reinterpret_cast<const char *>(p) + from;
            if (n) std::fwrite(slot, 1, strnlen(slot, static_cast<std::size_t>(n)), out);
            std::fputc('\n', out);
        }
        check_stream(out, path);
    }
}

void list_dds_file(const std::string &path, FILE *out) {
    InputFile file(path);
    const auto size = static_cast<std::size_t>(file.size());
    const unsigned char *data = size ? file.at(0, size) : nullptr;
    DdsFile decoded;
    {
        LibraryLog log;
        if (dds_decode_file_sized(&decoded.file, -1, data, static_cast<long>(size)) < 0)
            throw Error(log.code(), path, "", log.reason());
    }
    char prefix[] = "";
    dds_fprint_file(out, prefix, decoded.file);
    check_stream(out, path);
}

void list_netcdf_file(const std::string &path, FILE *out) {
    InputFile file(path);
    const std::vector<unsigned char> bytes = file.all();
    NETCDFHdr *hdr = nullptr;
    {
        LibraryLog log;
        if (netcdf_unstuff_header_sized(bytes.data(), static_cast<long>(bytes.size()), &hdr) < 0) {
            netcdf_clear_header(hdr);
            std::free(hdr);
            throw Error(log.code(), path, "", log.reason());
        }
    }
    netcdf_print_header(hdr, out);
    netcdf_clear_header(hdr);
    std::free(hdr);
    check_stream(out, path);
}

void list_shoreline_file(const std::string &path, FILE *out) {
    InputFile file(path);
    std::fprintf(out, "%8s %8s %8s %5s %7s %11s %11s %10s %10s %12s\n", "offset", "id", "points", "level", "version",
                 "west", "east", "south", "north", "area");
    // A polygon's header is read from a window of the file that starts where
    // it does; its points are passed over by their count.
    constexpr std::uint64_t most_header = 64;
    std::uint64_t at = 0;
    while (at < file.size()) {
        const auto window = static_cast<long>(std::min<std::uint64_t>(most_header, file.size() - at));
        const char *data = reinterpret_cast<const char *>(file.at(at, static_cast<std::size_t>(window)));
        GSHHSHdr hdr;
        long position = 0;
        {
            LibraryLog log;
            if (!data || gshhs_unstuff_hdr_sized(&hdr, data, window, &position) < 0)
                throw Error(log.code(), path, "", at_file_bytes(log.reason(), static_cast<long>(at)));
        }
        // The points, counted from the end of the whole file.
        long end = static_cast<long>(at) + position;
        {
            LibraryLog log;
            if (gshhs_skip_pts_sized(&hdr, static_cast<long>(file.size()), &end) < 0)
                throw Error(log.code(), path, "", log.reason());
        }
        std::fprintf(out, "%8llu %8d %8d %5d %7d %11.6f %11.6f %10.6f %10.6f %12d\n",
                     static_cast<unsigned long long>(at), hdr.id, hdr.n, hdr.level, hdr.version, hdr.west * 1e-6,
                     hdr.east * 1e-6, hdr.south * 1e-6, hdr.north * 1e-6, hdr.area);
        check_stream(out, path);
        at = static_cast<std::uint64_t>(end);
    }
}

}  // namespace vorpix::features
