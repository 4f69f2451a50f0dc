// Every exported entry point meets failing allocations: the k-th allocation
// fails, once or from then on, for every k up to the number the call makes
// when nothing fails. Each call must come back with its success or failure
// value, a failure with a message in the log. The library and host are built
// into this program with their malloc, calloc and realloc routed through
// fail_next(); operator new is replaced for the whole process.
#include "dds.h"
#include "elog.h"
#include "esri.h"
#include "esri_release.hpp"
#include "gshhsmap.h"
#include "netcdf.h"

#include "arrays.h"
#include "db.h"
#include "redblack.h"
#include "hostile_files.hpp"
#include "test_files.hpp"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <vector>

namespace {

// The failing allocator's state. Plain globals: the counting must itself
// never allocate.
struct Faults {
    bool armed = false;
    bool persist = false;  // every allocation from the k-th on fails
    long count = 0;
    long fail_at = 0;
    long long bytes = 0;  // asked for while armed
} faults;

bool fail_next(size_t n) {
    if (!faults.armed) return false;
    ++faults.count;
    faults.bytes += static_cast<long long>(n);
    return faults.count == faults.fail_at || (faults.persist && faults.count >= faults.fail_at);
}

}  // namespace

extern "C" {
void *__real_malloc(size_t);
void *__real_calloc(size_t, size_t);
void *__real_realloc(void *, size_t);
void *__wrap_malloc(size_t n) { return fail_next(n) ? nullptr : __real_malloc(n); }
void *__wrap_calloc(size_t n, size_t size) { return fail_next(n * size) ? nullptr : __real_calloc(n, size); }
void *__wrap_realloc(void *p, size_t n) { return fail_next(n) ? nullptr : __real_realloc(p, n); }
}

void *operator new(size_t n) {
    void *p = fail_next(n) ? nullptr : __real_malloc(n ? n : 1);
    if (!p) throw std::bad_alloc();
    return p;
}
void *operator new[](size_t n) { return operator new(n); }
void *operator new(size_t n, const std::nothrow_t &) noexcept {
    return fail_next(n) ? nullptr : __real_malloc(n ? n : 1);
}
void *operator new[](size_t n, const std::nothrow_t &t) noexcept { return operator new(n, t); }
// Not inlined: g++ would otherwise see free() meet a pointer from new and
// warn of a mismatch that these replacements make right.
[[gnu::noinline]] void operator delete(void *p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete[](void *p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void *p, size_t) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete[](void *p, size_t) noexcept { std::free(p); }

namespace {

using vorpix::esri::release_dbase_file;
using vorpix::esri::release_shape;
using vorpix::esri::release_shapefile;
using vorpix::test::fixture_path;
using vorpix::test::read_file;
using Bytes = std::vector<unsigned char>;

// The log while armed: the last message and a count, kept without allocating.
struct Messages {
    int count = 0;
    char last[512] = "";
} messages;

void collect(int, const char *message, void *) {
    ++messages.count;
    std::snprintf(messages.last, sizeof messages.last, "%s", message);
}

// One call of an entry point, releasing what it made: returns 0 when it
// succeeded, -1 when it reported failure, anything else for a value it must
// never give.
using Call = std::function<int()>;

struct Outcome {
    int result;  // the call's, or -2 when the process ended by a signal, -3 when an exception left the library
    long allocations;
    int logged;
};

Outcome run_armed(const Call &call, long fail_at, bool persist) {
    messages = Messages{};
    faults = Faults{true, persist, 0, fail_at, 0};
    const int result = call();
    const long allocations = faults.count;
    faults.armed = false;
    return {result, allocations, messages.count};
}

// The same in a process of its own: for first uses that leave process-wide
// state behind (registries, caches).
Outcome run_armed_in_child(const Call &call, long fail_at, bool persist) {
    int out[2];
    if (pipe(out) != 0) return {-2, 0, 0};
    const pid_t pid = fork();
    if (pid == 0) {
        Outcome o{-3, 0, 0};
        try {
            o = run_armed(call, fail_at, persist);
        } catch (...) {}
        _exit(write(out[1], &o, sizeof o) == sizeof o ? 0 : 1);
    }
    close(out[1]);
    Outcome o{-2, 0, 0};
    if (read(out[0], &o, sizeof o) != sizeof o) o = {-2, 0, 0};
    close(out[0]);
    waitpid(pid, nullptr, 0);
    return o;
}

// Runs call with no failure to count its allocations, then with each one
// failing, once and from then on.
void sweep(const char *name, const Call &call, bool fresh = false) {
    const auto run = fresh ? run_armed_in_child : run_armed;
    const elog_handler previous = elog_set_handler(collect, nullptr, nullptr);
    const Outcome clean = run(call, 0, false);
    ASSERT_EQ(clean.result, 0) << name << " fails with no allocation failing: " << messages.last;
    ASSERT_TRUE(fresh || clean.allocations > 0) << name << " allocates nothing: the sweep would test nothing";
    for (const bool persist : {false, true}) {
        for (long k = 1; k <= clean.allocations; ++k) {
            const Outcome o = run(call, k, persist);
            const char *mode = persist ? "from then on" : "once";
            ASSERT_TRUE(o.result == 0 || o.result == -1)
                << name << ": allocation " << k << " failing " << mode << " gives " << o.result;
            EXPECT_TRUE(o.result == 0 || o.logged > 0)
                << name << ": allocation " << k << " failing " << mode << " fails without a message";
        }
    }
    elog_set_handler(previous, nullptr, nullptr);
}

Bytes fixture(const std::string &relative) { return read_file(fixture_path(relative)); }

int status(int r) { return r < 0 ? -1 : 0; }

// A new map object, kept reachable: map objects live as long as the process.
void *kept_map(int (*open)(void **)) {
    static auto *maps = [] {
        auto *all = new std::vector<void *>;
        all->reserve(1 << 16);  // filled while allocations fail
        return all;
    }();
    void *map = nullptr;
    const int r = open(&map);
    if (map) maps->push_back(map);
    return r == 0 ? map : nullptr;
}

// Selection of every kind in the box and delivery of every segment, as a
// client does them.
int deliver_shorelines(void *map, const Bytes &file) {
    if (gshhsmap_use_data(map, "c", reinterpret_cast<const char *>(file.data()), static_cast<long>(file.size())) < 0)
        return -1;
    char kinds[] = "c:0 f:0", res[] = "c";
    if (gshhsmap_select(map, kinds, res, -180, 180, -90, 90, 0, 0) < 0) return -1;
    float *lon = nullptr, *lat = nullptr;
    int npts, size = 0, level, antipode, r;
    char type[2];
    while ((r = gshhsmap_nextseg(map, &npts, &size, &lon, &lat, type, &level, &antipode)) == 1) {}
    std::free(lon);
    std::free(lat);
    return r;
}

int deliver_borders(void *map, const Bytes &file, double w, double e, double s, double n) {
    if (gmtmap_use_data(map, 'p', "c", file.data(), static_cast<long>(file.size())) < 0) return -1;
    char kinds[] = "p:7", res[] = "c";
    if (gmtmap_select(map, kinds, res, w, e, s, n) < 0) return -1;
    float *lon = nullptr, *lat = nullptr;
    int npts, size = 0, level, r;
    char type[2];
    while ((r = gmtmap_nextseg(map, &npts, &size, &lon, &lat, type, &level)) == 1) {}
    std::free(lon);
    std::free(lat);
    return r;
}

// Each whole-file decoder, sized or plain, into a fresh result released after.
int decode_dbase_file(Bytes &file, bool sized) {
    ESRIDBASEStr table{};
    unsigned char *at = file.data();
    const int r = sized ? esri_decode_dbase_file_sized(&table, file.data(), static_cast<long>(file.size()))
                        : esri_decode_dbase_file(&table, file.data(), &at);
    release_dbase_file(&table);
    return status(r);
}

int decode_dds_file(Bytes &file, bool sized) {
    DDSFILEStr *decoded = nullptr;
    unsigned char *at = file.data();
    const int r = sized ? dds_decode_file_sized(&decoded, -1, file.data(), static_cast<long>(file.size()))
                        : dds_decode_file(&decoded, -1, file.data(), &at);
    if (decoded && decoded->argb_mipmaps) freetbl(decoded->argb_mipmaps, std::free);
    std::free(decoded);
    return status(r);
}

// One sweep per family of entry points: each call makes every call of the
// family in turn, all of them made whatever the earlier ones gave.
TEST(AllocationFailure, RegistriesBuildOrFailCleanly) {
    sweep(
        "esri_strdefs_init+dds_strdefs_init",
        [] { return std::min(status(esri_strdefs_init()), status(dds_strdefs_init())); }, true);
}

TEST(AllocationFailure, ShorelinesAndBorders) {
    const Bytes shorelines = fixture("gshhs/many.b");
    const Bytes borders = read_file(std::string(VORPIX_SOURCE_DIR) + "/maps/vorpix/binned_border_c.cdf");
    // The same maps serve every call, failed ones included.
    void *shore_map = kept_map(gshhsmap_open), *border_map = kept_map(gmtmap_open);
    ASSERT_TRUE(shore_map && border_map);
    sweep("gshhsmap_open+select+nextseg, gshhs_unstuff_hdr", [&] {
        GSHHSHdr *hdr = nullptr;
        char *at = reinterpret_cast<char *>(const_cast<unsigned char *>(shorelines.data()));
        const int header = status(gshhs_unstuff_hdr(&hdr, &at));
        std::free(hdr);
        return std::min({kept_map(gshhsmap_open) ? 0 : -1, header, deliver_shorelines(shore_map, shorelines)});
    });
    sweep("gmtmap_select+nextseg", [&] { return deliver_borders(border_map, borders, -20, 40, 30, 60); });
}

TEST(AllocationFailure, NetcdfHeaders) {
    Bytes file = fixture("netcdf/example.nc");
    // An attribute list of one text attribute "units" = "km", then a string.
    Bytes attrs = {0,   0, 0, 12, 0, 0, 0, 1, 0, 0, 0, 5, 'u', 'n', 'i', 't',
                   's', 0, 0, 0,  0, 0, 0, 2, 0, 0, 0, 2, 'k', 'm', 0,   0};
    sweep("netcdf_unstuff_header[_sized]+attrs+values+string", [&] {
        int r = 0;
        for (const bool sized : {false, true}) {
            NETCDFHdr *hdr = nullptr;
            unsigned char *at = file.data();
            r = std::min(r,
                         status(sized ? netcdf_unstuff_header_sized(file.data(), static_cast<long>(file.size()), &hdr)
                                      : netcdf_unstuff_header(&at, &hdr)));
            if (hdr) netcdf_clear_header(hdr);
            std::free(hdr);
        }
        int nattrs = 0;
        NETCDFAttr *list = nullptr;
        unsigned char *at = attrs.data();
        r = std::min(r, status(netcdf_unstuff_attrs(&at, &nattrs, &list)));
        for (int i = 0; list && i < nattrs; ++i) {
            std::free(list[i].name);
            std::free(list[i].values.values);
        }
        std::free(list);
        NETCDFValues values{2, 2, nullptr};  // text, 2 characters
        at = attrs.data() + 28;
        r = std::min(r, status(netcdf_unstuff_values(&at, &values)));
        std::free(values.values);
        at = attrs.data() + 8;
        char *text = netcdf_unstuff_string(&at);
        std::free(text);
        return text ? r : -1;
    });
}

TEST(AllocationFailure, ShapefilesAndDbaseFiles) {
    Bytes shp = fixture("esri/arcz.shp"), dbf = fixture("esri/cities.dbf");
    sweep("esri_decode_shapefile[_sized], esri_unstuff_stream", [&] {
        int r = 0;
        for (const bool sized : {false, true}) {
            ESRISHPStr decoded{};
            unsigned char *at = shp.data();
            r = std::min(r,
                         status(sized ? esri_decode_shapefile_sized(&decoded, shp.data(), static_cast<long>(shp.size()))
                                      : esri_decode_shapefile(&decoded, shp.data(), &at)));
            release_shapefile(&decoded);
        }
        void *header = nullptr;
        unsigned char *at = shp.data();
        r = std::min(r, status(esri_unstuff_stream(59, &header, shp.data(), &at)));
        std::free(header);
        return r;
    });
    ESRIDBASEStr table{};
    ASSERT_EQ(esri_decode_dbase_file_sized(&table, dbf.data(), static_cast<long>(dbf.size())), 0);
    sweep("esri_decode_dbase_file[_sized], esri_get_dbase_fields", [&] {
        int r = std::min(decode_dbase_file(dbf, false), decode_dbase_file(dbf, true));
        Arr *fields = nullptr;  // handed back for every record
        for (int i = 0; r == 0 && i < table.hdr.numrecs; ++i) r = status(esri_get_dbase_fields(&table, i, &fields));
        if (fields) freearr(fields, std::free);
        return r;
    });
    release_dbase_file(&table);
}

TEST(AllocationFailure, HostDatabaseCallsAndTheFirstFetch) {
    vorpix::test::TempDir dir;
    const std::string path = dir.file("rows.db");
    Dbptr db;
    ASSERT_EQ(dbopen(path.c_str(), "r+", &db), 0);
    const std::string sql =
        "CREATE TABLE rows (fileid INTEGER, offset INTEGER, filename TEXT);"
        "INSERT INTO rows VALUES (3, 100, 'a.shp');"
        "CREATE TABLE filename (fileid INTEGER, filename TEXT);"
        "INSERT INTO filename VALUES (1, '" +
        fixture_path("esri/arcz.shp") +
        "');"
        "CREATE TABLE shapes (fileid INTEGER, offset INTEGER);"
        "INSERT INTO shapes VALUES (1, 100);";
    ASSERT_EQ(dbexec(db, sql.c_str()), 0);
    sweep("dbopen+dblookup+dbgetv+dbquery+dbexec", [&] {
        Dbptr other;
        int r = status(dbopen(path.c_str(), "r", &other));
        if (r == 0) dbclose(other);
        const Dbptr row = dblookup(db, nullptr, "rows", "fileid", "3");
        long fileid = 0, offset = 0, count = 0;
        char name[256];
        if (row.record < 0 ||
            dbgetv(row, nullptr, "fileid", &fileid, "offset", &offset, "filename", name, nullptr) < 0 ||
            dbquery(row, dbRECORD_COUNT, &count) < 0)
            r = -1;
        return std::min(r, status(dbexec(db, "UPDATE rows SET offset = 100;")));
    });
    // The first fetch builds the shapefile registry: in a fresh process.
    const Dbptr shape = dblookup(db, nullptr, "shapes", nullptr, "1");
    sweep(
        "esri_get_db_shp_record",
        [shape] {
            ESRISHPRECStr record{};
            const int r = esri_get_db_shp_record(shape, &record);
            release_shape(record.shape_type, record.record);
            return status(r);
        },
        true);
    dbclose(db);
}

TEST(AllocationFailure, Textures) {
    Bytes dds = fixture("dds/dxt1_13x7.dds");
    sweep("dds_decode_file[_sized], dds_unstuff_stream", [&] {
        void *header = nullptr;
        unsigned char *at = dds.data() + 4;
        const int r = status(dds_unstuff_stream(DDS_HEADER, &header, dds.data(), &at));
        std::free(header);
        return std::min({r, decode_dds_file(dds, false), decode_dds_file(dds, true)});
    });
}

TEST(AllocationFailure, TheLogReportsWithNoMemoryLeft) {
    const std::string long_word(200, 'x');
    const elog_handler previous = elog_set_handler(collect, nullptr, nullptr);
    messages = Messages{};
    faults = Faults{true, true, 0, 1, 0};
    elog_log(0, "%s: %d %s.\n", "a message", 42, long_word.c_str());
    faults.armed = false;
    elog_set_handler(previous, nullptr, nullptr);
    EXPECT_EQ(messages.count, 1);
    EXPECT_EQ(std::strncmp(messages.last, "a message: 42 xxx", 17), 0) << messages.last;
}

// Small files that claim huge counts are refused, or read, without asking
// for more memory than their size can justify.
TEST(HostileFiles, AskForMemoryInProportionToTheirSize) {
    const elog_handler previous = elog_set_handler(collect, nullptr, nullptr);
    const auto expect_in_proportion = [](const char *name, const std::function<void(Bytes &)> &read) {
        Bytes file = read_file(vorpix::test::hostile_file(name));
        faults = Faults{true, false, 0, 0, 0};
        read(file);
        faults.armed = false;
        EXPECT_LE(faults.bytes, 65536 + 16 * static_cast<long long>(file.size())) << name;
    };
    for (const char *name : {"many_levels.dds", "huge_dxt5.dds"})
        expect_in_proportion(name, [](Bytes &file) { decode_dds_file(file, true); });
    expect_in_proportion("huge_numrecs.dbf", [](Bytes &file) { decode_dbase_file(file, true); });
    EXPECT_NE(std::string(messages.last).find("records area: 2147483647 records of 2 bytes need 4294967294 bytes"),
              std::string::npos)
        << messages.last;
    for (const char *name : {"border_shared_segments.cdf", "border_shared_points.cdf"}) {
        void *map = kept_map(gmtmap_open);
        ASSERT_NE(map, nullptr);
        expect_in_proportion(name, [map](Bytes &file) { deliver_borders(map, file, -180, 180, -90, 90); });
    }
    elog_set_handler(previous, nullptr, nullptr);
}

}  // namespace
