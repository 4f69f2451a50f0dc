// Shapefiles read through the feature layer against GDAL, and "vorpix
// shapes" writing GeoJSON against "ogr2ogr -f GeoJSON", on two sets of data:
// a generated file of 200,000 small polygons with five fields
// (bench/make_polygons.py writes it into build-data/bench) and the real
// shapefiles that tests/fixtures/esri/fetch_corpus.sh fetches into
// build-data/esri-corpus/files. Without either, its benchmarks are skipped.
//
// Read*: every feature in this process, its geometry and its typed
// attributes, with no output: the layer's ShapefileReader loop against
// GDAL's OGR_L_GetNextFeature loop that takes each feature's points out of
// its geometry and reads every field by its type. Both sides then add up the
// coordinates and the numbers and text lengths of the fields, so that neither
// can leave work undone. ReadLayer uses the layer's defaults (coordinates to
// longitude and latitude where a .prj asks, longitudes kept within 180);
// ReadLayerStored reads the coordinates as stored, as GDAL does.
//
// Tool*/Ogr2ogr*: the two programs as child processes writing GeoJSON to a
// pipe that this process drains, as a shell pipeline would: the child's wall
// time (the benchmark's time), its user and system CPU time and peak
// resident memory as wait4 gives them, the time to the first byte on the
// pipe, and the GeoJSON written per CPU-second. The corpus runs one child per
// file and reports the sums of the times, the highest peak memory and the
// slowest first byte. The tool is the one built beside this benchmark
// (VORPIX_BENCH_TOOL overrides it); ogr2ogr is found on PATH.
#include "bench_ratio.hpp"

#include "vorpix/features.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#ifdef VORPIX_HAVE_GDAL
#include <cpl_error.h>
#include <gdal.h>
#include <ogr_api.h>
#endif

namespace {

namespace fs = std::filesystem;
namespace features = vorpix::features;

const std::string source_dir = VORPIX_SOURCE_DIR;
const std::string polygons_path = source_dir + "/build-data/bench/polygons.shp";
const std::string corpus_dir = source_dir + "/build-data/esri-corpus/files";

// The shapefiles of a set, sorted; empty (and the benchmark skipped, saying
// how to make them) when there are none.
const std::vector<std::string> &polygons_files() {
    static const std::vector<std::string> files = fs::is_regular_file(polygons_path)
                                                      ? std::vector<std::string>{polygons_path}
                                                      : std::vector<std::string>{};
    return files;
}

const std::vector<std::string> &corpus_files() {
    static const std::vector<std::string> files = [] {
        std::vector<std::string> found;
        std::error_code error;
        if (!fs::is_directory(corpus_dir, error)) return found;
        for (const auto &entry : fs::recursive_directory_iterator(corpus_dir, error)) {
            std::string ext = entry.path().extension().string();
            std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
            if (entry.is_regular_file() && ext == ".shp") found.push_back(entry.path().string());
        }
        std::sort(found.begin(), found.end());
        return found;
    }();
    return files;
}

const std::vector<std::string> &files_of(const std::string &set) {
    return set == "polygons" ? polygons_files() : corpus_files();
}

// A failure is told once, not once per repetition.
void tell_once(const std::string &message) {
    static std::set<std::string> told;
    if (told.insert(message).second) std::fprintf(stderr, "%s\n", message.c_str());
}

bool have_files(benchmark::State &state, const std::string &set) {
    if (!files_of(set).empty()) return true;
    state.SkipWithError(set == "polygons" ? "no build-data/bench/polygons.shp: run bench/make_polygons.py"
                                          : "no shapefiles in build-data/esri-corpus/files: run "
                                            "tests/fixtures/esri/fetch_corpus.sh");
    return false;
}

// What both read loops add up from each feature.
struct Totals {
    long features = 0, points = 0, values = 0, failed = 0;
    double sum = 0;  // coordinates, numbers and text lengths
};

void counters(benchmark::State &state, const Totals &t, std::int64_t iterations) {
    const double n = static_cast<double>(std::max<std::int64_t>(iterations, 1));
    state.counters["features"] = static_cast<double>(t.features) / n;
    state.counters["points"] = static_cast<double>(t.points) / n;
    state.counters["values"] = static_cast<double>(t.values) / n;
    state.counters["failed"] = static_cast<double>(t.failed) / n;
}

// ---------------------------------------------------------------------------
// The layer's read loop

void read_layer(benchmark::State &state, const std::string &set, bool transform) {
    if (!have_files(state, set)) return;
    Totals t;
    features::Feature f;
    for (auto _ : state) {
        for (const std::string &path : files_of(set)) {
            try {
                features::ShapefileOptions options;
                options.transform = transform;
                options.rfc7946 = transform;
                features::ShapefileReader reader(path, options);
                while (reader.next(f)) {
                    ++t.features;
                    const features::Geometry &g = f.geometry;
                    t.points += static_cast<long>(g.x.size());
                    for (std::size_t i = 0; i < g.x.size(); ++i) t.sum += g.x[i] + g.y[i];
                    for (const features::Value &v : f.values) {
                        switch (v.type) {
                        case features::ValueType::Integer:
                        case features::ValueType::Boolean:
                        case features::ValueType::Date: t.sum += static_cast<double>(v.integer); break;
                        case features::ValueType::Real: t.sum += v.real; break;
                        case features::ValueType::String: t.sum += static_cast<double>(v.text.size()); break;
                        case features::ValueType::Null: continue;
                        }
                        ++t.values;
                    }
                }
            } catch (const features::Error &e) {
                tell_once(std::string("layer: ") + e.what());
                ++t.failed;
            }
        }
        benchmark::DoNotOptimize(t.sum);
    }
    counters(state, t, state.iterations());
}

// ---------------------------------------------------------------------------
// GDAL's read loop

#ifdef VORPIX_HAVE_GDAL
struct Points {
    std::vector<double> x, y, z, m;
};

// The points of a geometry and of the geometries within it, taken out as
// arrays (with Z and M, as the layer gives them), added up.
void gdal_points(OGRGeometryH g, Points &p, Totals &t) {
    switch (wkbFlatten(OGR_G_GetGeometryType(g))) {
    case wkbPoint:
    case wkbLineString:
    case wkbLinearRing: {
        const int n = OGR_G_GetPointCount(g);
        if (n <= 0) return;
        const auto size = static_cast<std::size_t>(n);
        if (p.x.size() < size) p.x.resize(size), p.y.resize(size), p.z.resize(size), p.m.resize(size);
        OGR_G_GetPointsZM(g, p.x.data(), sizeof(double), p.y.data(), sizeof(double), p.z.data(), sizeof(double),
                          p.m.data(), sizeof(double));
        t.points += n;
        for (std::size_t i = 0; i < size; ++i) t.sum += p.x[i] + p.y[i];
        return;
    }
    default:
        for (int i = 0, n = OGR_G_GetGeometryCount(g); i < n; ++i) gdal_points(OGR_G_GetGeometryRef(g, i), p, t);
    }
}

void read_gdal(benchmark::State &state, const std::string &set) {
    if (!have_files(state, set)) return;
    GDALAllRegister();
    CPLSetErrorHandler(CPLQuietErrorHandler);
    const char *const drivers[] = {"ESRI Shapefile", nullptr};
    Totals t;
    Points p;
    std::vector<OGRFieldType> types;
    for (auto _ : state) {
        for (const std::string &path : files_of(set)) {
            GDALDatasetH ds = GDALOpenEx(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, drivers, nullptr, nullptr);
            OGRLayerH layer = ds ? GDALDatasetGetLayer(ds, 0) : nullptr;
            if (!layer) {
                tell_once("GDAL: " + path + ": cannot be opened");
                ++t.failed;
                if (ds) GDALClose(ds);
                continue;
            }
            OGRFeatureDefnH defn = OGR_L_GetLayerDefn(layer);
            types.clear();
            for (int i = 0, n = OGR_FD_GetFieldCount(defn); i < n; ++i)
                types.push_back(OGR_Fld_GetType(OGR_FD_GetFieldDefn(defn, i)));
            OGRFeatureH f;
            while ((f = OGR_L_GetNextFeature(layer)) != nullptr) {
                ++t.features;
                if (OGRGeometryH g = OGR_F_GetGeometryRef(f)) gdal_points(g, p, t);
                for (int i = 0; i < static_cast<int>(types.size()); ++i) {
                    if (!OGR_F_IsFieldSetAndNotNull(f, i)) continue;
                    switch (types[static_cast<std::size_t>(i)]) {
                    case OFTInteger: t.sum += OGR_F_GetFieldAsInteger(f, i); break;
                    case OFTInteger64: t.sum += static_cast<double>(OGR_F_GetFieldAsInteger64(f, i)); break;
                    case OFTReal: t.sum += OGR_F_GetFieldAsDouble(f, i); break;
                    case OFTDate:
                    case OFTDateTime: {
                        int year, month, day, hour, minute, zone;
                        float second;
                        OGR_F_GetFieldAsDateTimeEx(f, i, &year, &month, &day, &hour, &minute, &second, &zone);
                        t.sum += year * 10000 + month * 100 + day;
                        break;
                    }
                    default: t.sum += static_cast<double>(std::strlen(OGR_F_GetFieldAsString(f, i)));
                    }
                    ++t.values;
                }
                OGR_F_Destroy(f);
            }
            GDALClose(ds);
        }
        benchmark::DoNotOptimize(t.sum);
    }
    counters(state, t, state.iterations());
}
#endif

// ---------------------------------------------------------------------------
// The programs as child processes

struct ChildRun {
    int status = -1;
    double wall = 0, cpu = 0;  // seconds
    double first_byte = -1;    // seconds from the start to the first byte read, -1 when none came
    double bytes = 0;
    double max_rss_mb = 0;
};

// Runs argv with its standard output into a pipe that is read to the end,
// its standard error to /dev/null. The child comes from fork, not vfork (as
// posix_spawn makes it): a child that shares its parent's memory until exec
// has the parent's peak resident memory counted in its ru_maxrss, and a
// forked one the parent's private pages.
ChildRun run_child(const std::vector<std::string> &argv) {
    ChildRun r;
    std::vector<char *> args;
    for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return r;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        if (::dup2(pipe_fds[1], STDOUT_FILENO) < 0 || null < 0 || ::dup2(null, STDERR_FILENO) < 0) ::_exit(126);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(pipe_fds[1]);
    if (pid < 0) {
        ::close(pipe_fds[0]);
        return r;
    }
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(pipe_fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (r.first_byte < 0)
            r.first_byte = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        r.bytes += static_cast<double>(n);
    }
    ::close(pipe_fds[0]);
    struct rusage usage {};
    while (::wait4(pid, &r.status, 0, &usage) < 0 && errno == EINTR) {}
    r.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    r.max_rss_mb = static_cast<double>(usage.ru_maxrss) / 1024;  // ru_maxrss is in KiB
    return r;
}

// The children are started by a process forked before this one loads GDAL's
// drivers or reads any file, so that the private memory a child starts with
// (and ru_maxrss counts) is that of a program just started, a few megabytes,
// less than either program measured ever holds. Requests go to it as argv
// lists, answers come back as ChildRun.
class Spawner {
public:
    // Forks the spawner; call before anything else.
    void start() {
        int request[2], answer[2];
        if (::pipe2(request, O_CLOEXEC) != 0 || ::pipe2(answer, O_CLOEXEC) != 0) return;
        const pid_t pid = ::fork();
        if (pid < 0) return;
        if (pid == 0) {
            ::close(request[1]);
            ::close(answer[0]);
            serve(request[0], answer[1]);
            ::_exit(0);
        }
        ::close(request[0]);
        ::close(answer[1]);
        to_ = request[1];
        from_ = answer[0];
        pid_ = pid;
    }

    ~Spawner() {
        if (pid_ <= 0) return;
        ::close(to_);
        ::close(from_);
        int status;
        ::waitpid(pid_, &status, 0);
    }

    ChildRun run(const std::vector<std::string> &argv) {
        if (pid_ <= 0) return run_child(argv);
        std::string message;
        for (const std::string &a : argv) message += a + '\0';
        const auto size = static_cast<std::uint32_t>(message.size());
        ChildRun r;
        if (!put(to_, &size, sizeof size) || !put(to_, message.data(), size) || !get(from_, &r, sizeof r))
            return ChildRun{};
        return r;
    }

private:
    static bool put(int fd, const void *data, std::size_t n) {
        const auto *p = static_cast<const char *>(data);
        while (n > 0) {
            const ssize_t w = ::write(fd, p, n);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return false;
            p += w, n -= static_cast<std::size_t>(w);
        }
        return true;
    }
    static bool get(int fd, void *data, std::size_t n) {
        auto *p = static_cast<char *>(data);
        while (n > 0) {
            const ssize_t r = ::read(fd, p, n);
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) return false;
            p += r, n -= static_cast<std::size_t>(r);
        }
        return true;
    }
    static void serve(int in, int out) {
        std::uint32_t size;
        while (get(in, &size, sizeof size)) {
            std::string message(size, '\0');
            if (!get(in, message.data(), size)) break;
            std::vector<std::string> argv;
            for (std::size_t at = 0; at < message.size();) {
                const std::size_t end = message.find('\0', at);
                argv.push_back(message.substr(at, end - at));
                at = end + 1;
            }
            const ChildRun r = run_child(argv);
            if (!put(out, &r, sizeof r)) break;
        }
    }

    int to_ = -1, from_ = -1;
    pid_t pid_ = -1;
};

Spawner spawner;

std::string tool_path() {
    const char *given = std::getenv("VORPIX_BENCH_TOOL");
    return given && *given ? given : VORPIX_TOOL;
}

bool on_path(const std::string &program) {
    const char *path = std::getenv("PATH");
    std::string dirs = path ? path : "";
    for (std::size_t from = 0; from <= dirs.size();) {
        const std::size_t colon = std::min(dirs.find(':', from), dirs.size());
        if (::access((dirs.substr(from, colon - from) + "/" + program).c_str(), X_OK) == 0) return true;
        from = colon + 1;
    }
    return false;
}

void geojson_children(benchmark::State &state, const std::string &set, bool ours) {
    if (!have_files(state, set)) return;
    if (ours && ::access(tool_path().c_str(), X_OK) != 0) {
        state.SkipWithError(("no tool at " + tool_path()).c_str());
        return;
    }
    if (!ours && !on_path("ogr2ogr")) {
        state.SkipWithError("no ogr2ogr on PATH (Debian's gdal-bin)");
        return;
    }
    double wall = 0, cpu = 0, bytes = 0, rss = 0, first = 0;
    long failed = 0;
    for (auto _ : state) {
        double iteration_wall = 0;
        for (const std::string &path : files_of(set)) {
            const ChildRun r = ours ? spawner.run({tool_path(), "shapes", path})
                                    : spawner.run({"ogr2ogr", "-f", "GeoJSON", "/vsistdout/", path});
            if (!WIFEXITED(r.status) || WEXITSTATUS(r.status) != 0) {
                tell_once(std::string(ours ? "vorpix" : "ogr2ogr") + ": " + path + ": exit status " +
                          std::to_string(WIFEXITED(r.status) ? WEXITSTATUS(r.status) : -1));
                ++failed;
            }
            iteration_wall += r.wall;
            cpu += r.cpu;
            bytes += r.bytes;
            rss = std::max(rss, r.max_rss_mb);
            first = std::max(first, r.first_byte);
        }
        wall += iteration_wall;
        state.SetIterationTime(iteration_wall);
    }
    const double n = static_cast<double>(std::max<std::int64_t>(state.iterations(), 1));
    state.counters["wall_s"] = wall / n;
    state.counters["cpu_s"] = cpu / n;
    state.counters["rss_MB"] = rss;
    state.counters["first_byte_ms"] = first * 1000;
    state.counters["out_MB"] = bytes / n / 1e6;
    state.counters["MB_per_cpu_s"] = cpu > 0 ? bytes / 1e6 / cpu : 0;
    state.counters["failed"] = static_cast<double>(failed) / n;
}

// Each benchmark with the least and greatest of its repetitions beside the
// median, for the spread of the ratios.
benchmark::internal::Benchmark *with_spread(benchmark::internal::Benchmark *b) {
    return b
        ->ComputeStatistics("min", [](const std::vector<double> &v) { return *std::min_element(v.begin(), v.end()); })
        ->ComputeStatistics("max", [](const std::vector<double> &v) { return *std::max_element(v.begin(), v.end()); });
}

void register_all() {
    for (const std::string set : {"polygons", "corpus"}) {
        with_spread(benchmark::RegisterBenchmark(("ReadLayer/" + set).c_str(), [set](benchmark::State &s) {
            read_layer(s, set, true);
        }))->Unit(benchmark::kMillisecond);
        if (set == "corpus")
            with_spread(benchmark::RegisterBenchmark(("ReadLayerStored/" + set).c_str(), [set](benchmark::State &s) {
                read_layer(s, set, false);
            }))->Unit(benchmark::kMillisecond);
#ifdef VORPIX_HAVE_GDAL
        with_spread(benchmark::RegisterBenchmark(("ReadGdal/" + set).c_str(), [set](benchmark::State &s) {
            read_gdal(s, set);
        }))->Unit(benchmark::kMillisecond);
#endif
        with_spread(benchmark::RegisterBenchmark(("ToolGeoJson/" + set).c_str(),
                                                 [set](benchmark::State &s) { geojson_children(s, set, true); }))
            ->UseManualTime()
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
        with_spread(benchmark::RegisterBenchmark(("Ogr2ogrGeoJson/" + set).c_str(),
                                                 [set](benchmark::State &s) { geojson_children(s, set, false); }))
            ->UseManualTime()
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
    }
}

}  // namespace

int main(int argc, char **argv) {
    spawner.start();
    // What a child that holds almost nothing shows as its peak memory: the
    // least any measurement here can show.
    const ChildRun floor = spawner.run({"true"});
    std::printf("peak memory of true(1) as the children are measured: %.1f MB\n", floor.max_rss_mb);
    register_all();
    std::vector<vorpix::bench::CounterRatio> counter_ratios;
    for (const std::string set : {"polygons", "corpus"})
        for (const char *counter : {"wall_s", "cpu_s", "rss_MB", "first_byte_ms"})
            counter_ratios.push_back({"ToolGeoJson/" + set, "Ogr2ogrGeoJson/" + set, counter});
    return vorpix::bench::run_with_ratios(argc, argv,
                                          {{"ReadLayer/polygons", "ReadGdal/polygons"},
                                           {"ReadLayer/corpus", "ReadGdal/corpus"},
                                           {"ReadLayerStored/corpus", "ReadGdal/corpus"}},
                                          std::move(counter_ratios));
}
