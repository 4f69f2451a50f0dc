// The host support layer: lists, arrays, words, data files, log. (Byte order
// is read by every big-endian format: their oracle tests and the C API test.)
#include "arrays.h"
#include "datafile.h"
#include "elog.h"
#include "redblack.h"
#include "words.h"

#include "log_capture.hpp"
#include "test_files.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

using vorpix::test::LogCapture;
using vorpix::test::ScopedEnv;
using vorpix::test::TempDir;
using vorpix::test::write_file;

TEST(HostList, AppendsAtMinusOneOrTheCountAndReplacesInside) {
    Tbl *t = newtbl(0), *reserved = newtbl(1);
    int a, b, c;
    EXPECT_EQ(settbl(t, -1, &a), 0);
    EXPECT_EQ(settbl(t, 1, &b), 1);
    EXPECT_EQ(settbl(t, 0, &c), 0);
    EXPECT_EQ(settbl(t, 5, &c), -1);
    EXPECT_EQ(cnttbl(t), 2);
    EXPECT_EQ(gettbl(t, 0), &c);
    EXPECT_EQ(gettbl(t, 1), &b);
    EXPECT_EQ(gettbl(t, 2), nullptr);
    clrtbl(t, nullptr);
    EXPECT_EQ(cnttbl(t), 0);
    EXPECT_EQ(settbl(reserved, 0, &a), 0);  // room set aside is not an item yet
    EXPECT_EQ(cnttbl(reserved), 1);
    freetbl(reserved, nullptr);
    settbl(t, -1, std::malloc(8));
    settbl(t, -1, std::malloc(8));
    freetbl(t, std::free);  // the sanitizer build checks both are released
}

// Keys around 16 bytes that differ before, at and after that length, bytes
// above 127 among them, in an order unrelated to theirs, a few and in
// numbers that outgrow any first buffer. Each key is copied (the caller's
// buffer is overwritten), a key given again replaces its value, and a
// lookup, also right after a store, finds only the same text, not a prefix
// or an extension of it.
TEST(HostArray, KeepsItsOwnKeysInByteOrder) {
    std::vector<std::string> all;
    for (const std::string stem : {"", "a", "abcdefg", "abcdefgh", "abcdefghijklmno", "abcdefghijklmnop",
                                   "abcdefghijklmnopq", "abcdefghijklmnopqrstuvwxyz0123456789"})
        for (const char *tail : {"", "\x01", "A", "z", "\x7f", "\x80", "\xff", "zz\xff", "\xff\x01"})
            for (int n = 0; n < 40; n += 13) all.push_back(stem + tail + (n ? std::to_string(n) : ""));
    for (const size_t count : {size_t{3}, size_t{15}, size_t{17}, all.size()}) {
        SCOPED_TRACE(count);
        std::vector<std::string> keys;
        for (size_t i = 0; i < count; ++i) keys.push_back(all[i * 37 % all.size()]);
        std::map<std::string, void *> held;  // std::string compares bytes as unsigned char
        auto holds = [&](const std::string &key) { return held.count(key) ? held[key] : nullptr; };
        Arr *a = newarr(nullptr);
        std::vector<int> values(count);
        int other = 0;
        for (size_t i = 0; i < count; ++i) {
            const size_t k = i * 101 % count;
            std::string buffer = keys[k];
            EXPECT_EQ(setarr(a, buffer.c_str(), &other), nullptr) << i;
            buffer.assign(buffer.size(), '#');
            EXPECT_EQ(setarr(a, keys[k].c_str(), &values[k]), &other) << i;
            held[keys[k]] = &values[k];
            EXPECT_EQ(getarr(a, (keys[k] + "?").c_str()), nullptr) << i;
            const std::string shorter = keys[k].substr(0, keys[k].size() ? keys[k].size() - 1 : 0);
            EXPECT_EQ(getarr(a, shorter.c_str()), holds(shorter)) << i;
        }
        ASSERT_EQ(held.size(), count);
        ASSERT_EQ(cntarr(a), static_cast<int>(count));
        Tbl *listed = keysarr(a);
        ASSERT_EQ(cnttbl(listed), static_cast<int>(count));
        int i = 0;
        for (const auto &[key, value] : held) {
            EXPECT_EQ(static_cast<char *>(gettbl(listed, i++)), key);
            EXPECT_EQ(getarr(a, key.c_str()), value) << key;
            EXPECT_EQ(getarr(a, (key + "?").c_str()), nullptr) << key;
        }
        freetbl(listed, nullptr);
        freearr(a, nullptr);
    }
}

TEST(HostWords, SplitsOnWhiteSpaceAndLeavesTheInputAlone) {
    const char *input = "  c:1\tf:15\n x  ";
    const std::string before = input;
    int n = -1;
    char **words = nullptr;
    ASSERT_EQ(splitlist(input, &n, &words), 0);
    EXPECT_EQ(before, input);
    EXPECT_EQ(std::vector<std::string>(words, words + n), (std::vector<std::string>{"c:1", "f:15", "x"}));
    freeargs(n, words);
    ASSERT_EQ(splitlist("", &n, &words), 0);
    EXPECT_EQ(n, 0);
    freeargs(n, words);
    EXPECT_EQ(splitlist(nullptr, &n, &words), -1);
    char text[] = " \t padded value \n";
    EXPECT_STREQ(strtrim(text), "padded value");
    char blank[] = "   ";
    EXPECT_STREQ(strtrim(blank), "");
}

TEST(HostDataFile, SearchesTheListedDirectoriesInOrder) {
    const auto found = [](const char *env, const char *name) {
        char *path = datafile(env, name);
        const std::string out = path ? path : "(none)";
        std::free(path);
        return out;
    };
    TempDir first, second;
    write_file(second.file("maps/vorpix/x.b"), "2", 1);
    write_file(first.file("maps/vorpix/y.b"), "1", 1);
    write_file(second.file("maps/vorpix/y.b"), "2", 1);
    {
        ScopedEnv env(VORPIX_DATA_PATH_ENV, first.path() + "::" + second.path() + "/");
        EXPECT_EQ(found(nullptr, "maps/vorpix/x.b"), second.path() + "/maps/vorpix/x.b");
        EXPECT_EQ(found(nullptr, "maps/vorpix/y.b"), first.path() + "/maps/vorpix/y.b");
        EXPECT_EQ(found(nullptr, "maps/vorpix/none.b"), "(none)");
        EXPECT_EQ(found(nullptr, "maps/vorpix"), "(none)");  // directories are not data files
    }
    ScopedEnv other("VORPIX_OTHER_PATH", second.path());
    EXPECT_EQ(found("VORPIX_OTHER_PATH", "maps/vorpix/y.b"), second.path() + "/maps/vorpix/y.b");
    // The source tree is searched by default: it holds the sample shorelines.
    ScopedEnv none(VORPIX_DATA_PATH_ENV, "");
    EXPECT_EQ(found(nullptr, "maps/vorpix/gshhs_c.b"), std::string(VORPIX_SOURCE_DIR) + "/maps/vorpix/gshhs_c.b");
}

// A path is read once while its file stays the same and afresh once it
// changes; every copy handed out stays as it was read, whatever happens to
// the file.
TEST(HostMapFile, ReadsAgainOnlyAFileThatChangedAndOldCopiesStay) {
    TempDir dir;
    const std::string path = dir.file("data.bin");
    write_file(path, "first version", 13);
    write_file(dir.file("empty.bin"), "", 0);
    static Arr *cache = nullptr;  // a cache lives as long as the process
    char *first = nullptr, *data = nullptr, *zero = nullptr;
    EXPECT_EQ(mapfile(path.c_str(), nullptr, &data), 13);
    EXPECT_EQ(std::string(data, 13), "first version");
    ASSERT_EQ(mapfile(path.c_str(), &cache, &first), 13);
    EXPECT_EQ(mapfile(path.c_str(), &cache, &data), 13);
    EXPECT_EQ(data, first);  // not read again
    EXPECT_EQ(mapfile(dir.file("empty.bin").c_str(), nullptr, &zero), 0);
    EXPECT_NE(zero, nullptr);
    EXPECT_EQ(mapfile(dir.file("missing").c_str(), &cache, &zero), -1);
    EXPECT_EQ(mapfile(dir.path().c_str(), nullptr, &zero), -1);
    struct Step {
        const char *what;
        std::function<void()> change;
        std::string seen;
    };
    const std::vector<Step> steps = {
        {"rewritten in place", [&] { write_file(path, "second, longer version", 22); }, "second, longer version"},
        {"truncated in place", [&] { ASSERT_EQ(truncate(path.c_str(), 6), 0); }, "second"},
        {"the same size, later",
         [&] {
             timespec later[2] = {{0, UTIME_OMIT}, {2000000000, 123456789}};
             write_file(path, "SECOND", 6);
             ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), later, 0), 0);
         },
         "SECOND"},
        {"replaced by rename",
         [&] {
             write_file(dir.file("new.bin"), "renamed", 7);
             ASSERT_EQ(std::rename(dir.file("new.bin").c_str(), path.c_str()), 0);
         },
         "renamed"},
        {"emptied", [&] { ASSERT_EQ(truncate(path.c_str(), 0), 0); }, ""},
        {"removed: the last copy stays", [&] { std::filesystem::remove(path); }, ""},
    };
    for (const Step &step : steps) {
        step.change();
        const long size = mapfile(path.c_str(), &cache, &data);
        ASSERT_EQ(size, static_cast<long>(step.seen.size())) << step.what;
        EXPECT_EQ(std::string(data, static_cast<size_t>(size)), step.seen) << step.what;
    }
    EXPECT_EQ(std::string(first, 13), "first version");
}

// Opening a FIFO for reading waits for a writer, and a device may act when
// opened: neither is opened. Run in a child that an alarm ends if it waits.
TEST(HostMapFile, RefusesFifosAndDevicesWithoutOpeningThem) {
    TempDir dir;
    const std::string fifo = dir.file("pipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string &path : {fifo, std::string("/dev/zero"), std::string("/dev/null")}) {
        EXPECT_TRUE(vorpix::test::true_within(5, [&] {
            static Arr *cache = nullptr;
            char *data = nullptr;
            return mapfile(path.c_str(), nullptr, &data) == -1 && mapfile(path.c_str(), &cache, &data) == -1;
        })) << path;
    }
}

TEST(HostLog, CapturesMessagesWithFlagsAndDefaultsToStandardError) {
    {
        LogCapture log;
        elog_log(1, "f: malloc(%s,%ld) error.\n", "x", 12L);
        elog_log(0, "g: plain.\n");
        ASSERT_EQ(log.entries().size(), 2u);
        EXPECT_EQ(log.entries()[0].flags, 1);
        EXPECT_EQ(log.entries()[0].message, "f: malloc(x,12) error.\n");
        EXPECT_EQ(log.entries()[1].flags, 0);
    }
    // A thread's own handler takes its messages, whatever the process's
    // handler or other threads' are, and gives them back when cleared.
    {
        LogCapture process;
        std::vector<std::string> mine, theirs;
        const auto keep = [](int, const char *message, void *into) {
            static_cast<std::vector<std::string> *>(into)->push_back(message);
        };
        std::thread other([&] {
            elog_set_thread_handler(keep, &theirs, nullptr);
            elog_log(0, "theirs\n");
            elog_set_thread_handler(nullptr, nullptr, nullptr);
            elog_log(0, "to the process\n");
        });
        void *before = nullptr;
        const elog_handler previous = elog_set_thread_handler(keep, &mine, &before);
        elog_log(0, "mine\n");
        other.join();
        EXPECT_EQ(elog_set_thread_handler(previous, before, nullptr), static_cast<elog_handler>(keep));
        elog_log(0, "again to the process\n");
        EXPECT_EQ(mine, std::vector<std::string>{"mine\n"});
        EXPECT_EQ(theirs, std::vector<std::string>{"theirs\n"});
        ASSERT_EQ(process.entries().size(), 2u);
        EXPECT_EQ(process.entries()[1].message, "again to the process\n");
    }
    testing::internal::CaptureStderr();
    elog_log(0, "to stderr.\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "to stderr.\n");
    EXPECT_EXIT(elog_die(0, "inconsistent table %d.\n", 7), testing::ExitedWithCode(1), "inconsistent table 7");
}
