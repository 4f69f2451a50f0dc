// The first use of each lazily built part of the library, from eight threads
// that start together in a process that has not used the library yet: what
// builds itself on first use must be built once, and whole, before any
// thread reads it. This program itself never calls the library; each run is
// a child process of its own.
#include "dds.h"
#include "elog.h"
#include "esri.h"
#include "esri_release.hpp"
#include "redblack.h"

#include "test_files.hpp"
#include "under_valgrind.hpp"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <latch>
#include <thread>
#include <vector>

namespace {

using vorpix::test::fixture_path;
using vorpix::test::read_file;
using Bytes = std::vector<unsigned char>;

// Runs decode (0 for success) on eight threads in a new child process, 40
// times, and expects no child in which a decode failed or anything was
// logged. Under valgrind, which runs one thread at a time, a few runs check
// the rest.
void expect_clean_first_uses(const std::function<int()> &decode) {
    int failed = 0;
    for (int run = 0, n = RUNNING_ON_VALGRIND ? 3 : 40; run < n; ++run) {
        const pid_t pid = fork();
        if (pid == 0) {
            static std::atomic<int> logged{0};
            elog_set_handler([](int, const char *, void *) { ++logged; }, nullptr, nullptr);
            std::atomic<int> failures{0};
            std::latch start(8);
            std::vector<std::thread> threads;
            for (int i = 0; i < 8; ++i)
                threads.emplace_back([&] {
                    start.arrive_and_wait();
                    if (decode() != 0) ++failures;
                });
            for (auto &t : threads) t.join();
            _exit(failures == 0 && logged == 0 ? 0 : 1);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failed;
    }
    EXPECT_EQ(failed, 0) << "children in which a first use failed or logged";
}

TEST(FirstUse, EightThreadsDecodeTheirFirstTexture) {
    const Bytes dds = read_file(fixture_path("dds/dxt1_13x7.dds"));
    expect_clean_first_uses([&] {
        DDSFILEStr *file = nullptr;
        const int r = dds_decode_file_sized(&file, -1, dds.data(), static_cast<long>(dds.size()));
        if (file && file->argb_mipmaps) freetbl(file->argb_mipmaps, std::free);
        std::free(file);
        return r;
    });
}

TEST(FirstUse, EightThreadsDecodeTheirFirstShapefileAndDbaseFile) {
    const Bytes shp = read_file(fixture_path("esri/arcz.shp")), dbf = read_file(fixture_path("esri/cities.dbf"));
    expect_clean_first_uses([&] {
        ESRISHPStr shapes{};
        ESRIDBASEStr table{};
        int r = esri_decode_shapefile_sized(&shapes, shp.data(), static_cast<long>(shp.size()));
        if (esri_decode_dbase_file_sized(&table, dbf.data(), static_cast<long>(dbf.size())) < 0) r = -1;
        Arr *fields = nullptr;
        for (int i = 0; r == 0 && i < table.hdr.numrecs; ++i)
            if (esri_get_dbase_fields(&table, i, &fields) < 0) r = -1;
        if (fields) freearr(fields, std::free);
        vorpix::esri::release_shapefile(&shapes);
        vorpix::esri::release_dbase_file(&table);
        return r;
    });
}

}  // namespace
