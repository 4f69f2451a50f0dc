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

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <utility>
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

// One call of an entry point: returns 0 when it succeeded, -1 when it
// reported failure, anything else for a value it must never give.
using Call = std::function<int()>;

struct Outcome {
    int result;
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

// Runs call with no failure to count its allocations, then with each one
// failing, once and from then on. cleanup releases what a call left.
void sweep(
    const char *name, const Call &call, const std::function<void()> &cleanup = [] {}) {
    const elog_handler previous = elog_set_handler(collect, nullptr, nullptr);
    const Outcome clean = run_armed(call, 0, false);
    cleanup();
    ASSERT_EQ(clean.result, 0) << name << " fails with no allocation failing: " << messages.last;
    ASSERT_GT(clean.allocations, 0) << name << " allocates nothing: the sweep would test nothing";
    for (const bool persist : {false, true}) {
        for (long k = 1; k <= clean.allocations; ++k) {
            const Outcome o = run_armed(call, k, persist);
            cleanup();
            const char *mode = persist ? "from then on" : "once";
            ASSERT_TRUE(o.result == 0 || o.result == -1)
                << name << ": allocation " << k << " failing " << mode << " gives " << o.result;
            if (o.result == -1) {
                EXPECT_GT(o.logged, 0) << name << ": allocation " << k << " failing " << mode
                                       << " fails without a message";
            }
        }
    }
    elog_set_handler(previous, nullptr, nullptr);
}

// The same sweep, each call in a process of its own: for first uses that
// leave process-wide state behind (registries, caches).
void sweep_fresh(const char *name, const Call &call) {
    const Outcome clean = [&] {
        const pid_t pid = fork();
        if (pid == 0) {
            elog_set_handler(collect, nullptr, nullptr);
            Outcome o{};
            try {
                o = run_armed(call, 0, false);
            } catch (...) {
                _exit(255);
            }
            _exit(o.result == 0 && o.allocations < 250 ? static_cast<int>(o.allocations) : 255);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return Outcome{WIFEXITED(status) && WEXITSTATUS(status) != 255 ? 0 : -1,
                       WIFEXITED(status) ? WEXITSTATUS(status) : 0, 0};
    }();
    ASSERT_EQ(clean.result, 0) << name << " fails or allocates too much with no allocation failing";
    for (const bool persist : {false, true}) {
        for (long k = 1; k <= clean.allocations; ++k) {
            const pid_t pid = fork();
            if (pid == 0) {
                elog_set_handler(collect, nullptr, nullptr);
                try {
                    const Outcome o = run_armed(call, k, persist);
                    _exit(o.result == 0 || (o.result == -1 && o.logged > 0) ? 0 : 1);
                } catch (...) {
                    _exit(2);  // an exception left the library
                }
            }
            int status = 0;
            waitpid(pid, &status, 0);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
                << name << ": allocation " << k << " failing " << (persist ? "from then on" : "once")
                << (WIFSIGNALED(status)                             ? " ends the process by a signal"
                    : WIFEXITED(status) && WEXITSTATUS(status) == 2 ? " lets an exception out"
                                                                    : " gives a wrong result or no message");
        }
    }
}

Bytes fixture(const std::string &relative) { return read_file(fixture_path(relative)); }
Bytes source_file(const std::string &relative) { return read_file(std::string(VORPIX_SOURCE_DIR) + "/" + relative); }

int status(int r) { return r < 0 ? -1 : 0; }

// Keeps map objects reachable: they live as long as the process.
std::vector<void *> &kept_maps() {
    static auto *maps = [] {
        auto *all = new std::vector<void *>;
        all->reserve(4096);  // filled while allocations fail
        return all;
    }();
    return *maps;
}

TEST(AllocationFailure, RegistriesBuildOrFailCleanly) {
    sweep_fresh("esri_strdefs_init", [] { return status(esri_strdefs_init()); });
    sweep_fresh("dds_strdefs_init", [] { return status(dds_strdefs_init()); });
}

TEST(AllocationFailure, ShorelineSelectionAndDelivery) {
    const Bytes file = fixture("gshhs/many.b");
    void *map = nullptr;
    ASSERT_EQ(gshhsmap_open(&map), 0);
    kept_maps().push_back(map);
    float *lon = nullptr, *lat = nullptr;
    int size = 0;
    sweep(
        "gshhsmap_select+nextseg",
        [&] {
            if (gshhsmap_use_data(map, "c", reinterpret_cast<const char *>(file.data()),
                                  static_cast<long>(file.size())) < 0)
                return -1;
            char kinds[] = "c:0 f:0", res[] = "c";
            if (gshhsmap_select(map, kinds, res, -180, 180, -90, 90, 0, 0) < 0) return -1;
            int npts, level, antipode, r;
            char type[2];
            while ((r = gshhsmap_nextseg(map, &npts, &size, &lon, &lat, type, &level, &antipode)) == 1) {}
            return r;
        },
        [&] {
            std::free(std::exchange(lon, nullptr));
            std::free(std::exchange(lat, nullptr));
            size = 0;
        });
    sweep("gshhsmap_open", [] {
        void *fresh = nullptr;
        const int r = gshhsmap_open(&fresh);
        if (fresh) kept_maps().push_back(fresh);
        return status(r);
    });
    GSHHSHdr *hdr = nullptr;
    sweep(
        "gshhs_unstuff_hdr",
        [&] {
            char *at = reinterpret_cast<char *>(const_cast<unsigned char *>(file.data()));
            return status(gshhs_unstuff_hdr(&hdr, &at));
        },
        [&] { std::free(std::exchange(hdr, nullptr)); });
}

TEST(AllocationFailure, BorderSelectionAndDelivery) {
    const Bytes file = source_file("maps/vorpix/binned_border_c.cdf");
    void *map = nullptr;
    ASSERT_EQ(gmtmap_open(&map), 0);
    kept_maps().push_back(map);
    float *lon = nullptr, *lat = nullptr;
    int size = 0;
    sweep(
        "gmtmap_select+nextseg",
        [&] {
            if (gmtmap_use_data(map, 'p', "c", file.data(), static_cast<long>(file.size())) < 0) return -1;
            char kinds[] = "p:7", res[] = "c";
            if (gmtmap_select(map, kinds, res, -20, 40, 30, 60) < 0) return -1;
            int npts, level, r;
            char type[2];
            while ((r = gmtmap_nextseg(map, &npts, &size, &lon, &lat, type, &level)) == 1) {}
            return r;
        },
        [&] {
            std::free(std::exchange(lon, nullptr));
            std::free(std::exchange(lat, nullptr));
            size = 0;
        });
}

TEST(AllocationFailure, NetcdfHeaders) {
    Bytes file = fixture("netcdf/example.nc");
    NETCDFHdr *hdr = nullptr;
    const auto release = [&] {
        if (hdr) netcdf_clear_header(hdr);
        std::free(std::exchange(hdr, nullptr));
    };
    sweep(
        "netcdf_unstuff_header",
        [&] {
            unsigned char *at = file.data();
            return status(netcdf_unstuff_header(&at, &hdr));
        },
        release);
    sweep(
        "netcdf_unstuff_header_sized",
        [&] { return status(netcdf_unstuff_header_sized(file.data(), static_cast<long>(file.size()), &hdr)); },
        release);

    // An attribute list of one text attribute "units" = "km", then a string.
    Bytes attrs = {0,   0, 0, 12, 0, 0, 0, 1, 0, 0, 0, 5, 'u', 'n', 'i', 't',
                   's', 0, 0, 0,  0, 0, 0, 2, 0, 0, 0, 2, 'k', 'm', 0,   0};
    int nattrs = 0;
    NETCDFAttr *list = nullptr;
    sweep(
        "netcdf_unstuff_attrs",
        [&] {
            unsigned char *at = attrs.data();
            return status(netcdf_unstuff_attrs(&at, &nattrs, &list));
        },
        [&] {
            for (int i = 0; list && i < nattrs; ++i) {
                std::free(list[i].name);
                std::free(list[i].values.values);
            }
            std::free(std::exchange(list, nullptr));
            nattrs = 0;
        });
    NETCDFValues values{};
    sweep(
        "netcdf_unstuff_values",
        [&] {
            values.type = 2;  // text
            values.n = 2;
            unsigned char *at = attrs.data() + 28;
            return status(netcdf_unstuff_values(&at, &values));
        },
        [&] { std::free(std::exchange(values.values, nullptr)); });
    char *text = nullptr;
    sweep(
        "netcdf_unstuff_string",
        [&] {
            unsigned char *at = attrs.data() + 8;
            text = netcdf_unstuff_string(&at);
            return text ? 0 : -1;
        },
        [&] { std::free(std::exchange(text, nullptr)); });
}

TEST(AllocationFailure, ShapefilesAndDbaseFiles) {
    Bytes shp = fixture("esri/arcz.shp"), dbf = fixture("esri/cities.dbf");
    ESRISHPStr decoded{};
    const auto release_shp = [&] { release_shapefile(&decoded); };
    sweep(
        "esri_decode_shapefile",
        [&] {
            unsigned char *at = shp.data();
            return status(esri_decode_shapefile(&decoded, shp.data(), &at));
        },
        release_shp);
    sweep(
        "esri_decode_shapefile_sized",
        [&] { return status(esri_decode_shapefile_sized(&decoded, shp.data(), static_cast<long>(shp.size()))); },
        release_shp);

    ESRIDBASEStr table{};
    const auto release_dbf = [&] { release_dbase_file(&table); };
    sweep(
        "esri_decode_dbase_file",
        [&] {
            unsigned char *at = dbf.data();
            return status(esri_decode_dbase_file(&table, dbf.data(), &at));
        },
        release_dbf);
    sweep(
        "esri_decode_dbase_file_sized",
        [&] { return status(esri_decode_dbase_file_sized(&table, dbf.data(), static_cast<long>(dbf.size()))); },
        release_dbf);

    ASSERT_EQ(esri_decode_dbase_file_sized(&table, dbf.data(), static_cast<long>(dbf.size())), 0);
    Arr *fields = nullptr;
    sweep(
        "esri_get_dbase_fields",
        [&] {
            for (int i = 0; i < table.hdr.numrecs; ++i)
                if (esri_get_dbase_fields(&table, i, &fields) < 0) return -1;  // the array is handed back each time
            return 0;
        },
        [&] {
            if (fields) freearr(fields, std::free);
            fields = nullptr;
        });
    release_dbf();

    void *header = nullptr;
    sweep(
        "esri_unstuff_stream",
        [&] {
            unsigned char *at = shp.data();
            return status(esri_unstuff_stream(59, &header, shp.data(), &at));
        },
        [&] { std::free(std::exchange(header, nullptr)); });
}

TEST(AllocationFailure, FirstDatabaseFetch) {
    vorpix::test::TempDir dir;
    const std::string db_path = dir.file("shapes.db");
    Dbptr db;
    ASSERT_EQ(dbopen(db_path.c_str(), "r+", &db), 0);
    const std::string sql =
        "CREATE TABLE filename (fileid INTEGER, filename TEXT);"
        "INSERT INTO filename VALUES (1, '" +
        fixture_path("esri/arcz.shp") +
        "');"
        "CREATE TABLE shapes (fileid INTEGER, offset INTEGER);"
        "INSERT INTO shapes VALUES (1, 100);";
    ASSERT_EQ(dbexec(db, sql.c_str()), 0);
    Dbptr row = dblookup(db, nullptr, "shapes", nullptr, "1");
    sweep_fresh("esri_get_db_shp_record", [row] {
        ESRISHPRECStr record{};
        const int r = esri_get_db_shp_record(row, &record);
        release_shape(record.shape_type, record.record);
        return status(r);
    });
}

TEST(AllocationFailure, HostDatabaseCalls) {
    vorpix::test::TempDir dir;
    const std::string path = dir.file("rows.db");
    Dbptr db;
    ASSERT_EQ(dbopen(path.c_str(), "r+", &db), 0);
    ASSERT_EQ(dbexec(db,
                     "CREATE TABLE rows (fileid INTEGER, offset INTEGER, filename TEXT);"
                     "INSERT INTO rows VALUES (3, 100, 'a.shp');"),
              0);
    sweep("dbopen", [&] {
        Dbptr other;
        const int r = dbopen(path.c_str(), "r", &other);
        if (r == 0) dbclose(other);
        return status(r);
    });
    sweep("dblookup+dbgetv+dbquery", [&] {
        Dbptr row = dblookup(db, nullptr, "rows", "fileid", "3");
        if (row.record < 0) return -1;
        long fileid = 0, offset = 0, count = 0;
        char name[256];
        if (dbgetv(row, nullptr, "fileid", &fileid, "offset", &offset, "filename", name, nullptr) < 0) return -1;
        return status(dbquery(row, dbRECORD_COUNT, &count));
    });
    sweep("dbexec", [&] { return status(dbexec(db, "UPDATE rows SET offset = 100;")); });
    dbclose(db);
}

TEST(AllocationFailure, Textures) {
    Bytes dds = fixture("dds/dxt1_13x7.dds");
    DDSFILEStr *file = nullptr;
    const auto release = [&] {
        if (file && file->argb_mipmaps) freetbl(file->argb_mipmaps, std::free);
        std::free(std::exchange(file, nullptr));
    };
    sweep(
        "dds_decode_file",
        [&] {
            unsigned char *at = dds.data();
            return status(dds_decode_file(&file, -1, dds.data(), &at));
        },
        release);
    sweep(
        "dds_decode_file_sized",
        [&] { return status(dds_decode_file_sized(&file, -1, dds.data(), static_cast<long>(dds.size()))); }, release);
    void *header = nullptr;
    sweep(
        "dds_unstuff_stream",
        [&] {
            unsigned char *at = dds.data() + 4;
            return status(dds_unstuff_stream(DDS_HEADER, &header, dds.data(), &at));
        },
        [&] { std::free(std::exchange(header, nullptr)); });
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
    const auto bytes_asked = [](const Call &call) {
        faults = Faults{true, false, 0, 0, 0};
        call();
        faults.armed = false;
        return faults.bytes;
    };
    const auto within = [](long long asked, size_t size) { return asked <= 65536 + 16 * static_cast<long long>(size); };
    for (const char *name : {"many_levels.dds", "huge_dxt5.dds"}) {
        const Bytes file = read_file(vorpix::test::hostile_file(name));
        DDSFILEStr *decoded = nullptr;
        const long long asked = bytes_asked(
            [&] { return dds_decode_file_sized(&decoded, -1, file.data(), static_cast<long>(file.size())); });
        if (decoded && decoded->argb_mipmaps) freetbl(decoded->argb_mipmaps, std::free);
        std::free(decoded);
        EXPECT_TRUE(within(asked, file.size())) << name << ": " << asked << " bytes for " << file.size();
    }
    {
        const Bytes file = read_file(vorpix::test::hostile_file("huge_numrecs.dbf"));
        ESRIDBASEStr table{};
        const long long asked = bytes_asked(
            [&] { return esri_decode_dbase_file_sized(&table, file.data(), static_cast<long>(file.size())); });
        release_dbase_file(&table);
        EXPECT_TRUE(within(asked, file.size())) << asked;
        EXPECT_NE(std::string(messages.last).find("records area: 2147483647 records of 2 bytes need 4294967294 bytes"),
                  std::string::npos)
            << messages.last;
    }
    for (const char *name : {"border_shared_segments.cdf", "border_shared_points.cdf"}) {
        const Bytes file = read_file(vorpix::test::hostile_file(name));
        void *map = nullptr;
        ASSERT_EQ(gmtmap_open(&map), 0);
        kept_maps().push_back(map);
        float *lon = nullptr, *lat = nullptr;
        int size = 0;
        const long long asked = bytes_asked([&] {
            if (gmtmap_use_data(map, 'p', "c", file.data(), static_cast<long>(file.size())) < 0) return -1;
            char kinds[] = "p:7", res[] = "c";
            if (gmtmap_select(map, kinds, res, -180, 180, -90, 90) < 0) return -1;
            int npts, level, r;
            char type[2];
            while ((r = gmtmap_nextseg(map, &npts, &size, &lon, &lat, type, &level)) == 1) {}
            return r;
        });
        std::free(lon);
        std::free(lat);
        EXPECT_TRUE(within(asked, file.size())) << name << ": " << asked << " bytes for " << file.size();
    }
    elog_set_handler(previous, nullptr, nullptr);
}

}  // namespace
