// Border and river segments a feature at a time, as the library's selection
// and delivery give them, clipped to the box.
#include "map_support.hpp"
#include "vorpix/clip.hpp"
#include "vorpix/map_readers.hpp"

#include "datafile.h"
#include "netcdf.h"

#include <cstdlib>
#include <cstring>
#include <sstream>

namespace vorpix::features {

namespace {

// Level 0 of the river files (double-lined rivers and river-lakes) has no
// bit of its own: it comes with a mask that asks for every river level.
bool all_river_levels(const std::string &kinds) {
    std::istringstream words(kinds);
    for (std::string word; words >> word;)
        if (word[0] == 'r' && word.size() > 2 && (std::strtoul(word.c_str() + 2, nullptr, 10) & 0x3ffu) == 0x3ffu)
            return true;
    return false;
}

// A file that the library's messages name without a directory, such as
// "border_c.cdf", as the data directories hold it.
std::string data_file_named(const std::string &name) {
    char *path = datafile(nullptr, ("maps/vorpix/binned_" + name).c_str());
    std::string found = path ? path : name;
    std::free(path);
    return found;
}

}  // namespace

const std::vector<Field> &BorderReader::fields() {
    static const std::vector<Field> fields = {{"kind", 'C', 6, 0}, {"level", 'N', 2, 0}, {"type", 'C', 1, 0}};
    return fields;
}

struct BorderReader::Impl {
    BorderOptions options;
    geo::Frame frame{};
    void *map = nullptr;
    float *lon = nullptr, *lat = nullptr;
    int size = 0;
    long given = 0;
    geo::Line line;

    ~Impl() {
        gmtmap_close(map);
        std::free(lon);
        std::free(lat);
    }

    [[noreturn]] void fail(const MapLog &log) const {
        const vorpix_failure failure = log.failure();
        if (failure.kind == VORPIX_FAILURE_CANNOT_OPEN && std::strcmp(failure.step, "datafile") == 0) {
            const std::string name = failure.file;
            throw Error(options.missing ? options.missing(name) : name + ": not found in the data directories",
                        ErrorCode::Io);
        }
        if (log.lines().empty()) throw Error("border selection failed");
        throw Error(log.describe(data_file_named), log.code());
    }

    void select() {
        MapLog log;
        if (gmtmap_open(&map) < 0) fail(log);
        const Box &box = options.box;
        std::string types = options.kinds, resolution = options.resolution;
        // The library reads an east edge below the west one as an empty
        // window; here it means the box runs east across the 180-degree meridian.
        const double east = box.east < box.west ? box.east + 360 : box.east;
        const auto choose = all_river_levels(options.kinds) ? gmtmap_select_with_level0 : gmtmap_select;
        if (choose(map, types.data(), resolution.data(), box.west, east, box.south, box.north) < 0) fail(log);
        if (!options.opened) return;
        std::istringstream words(options.kinds);
        // The file of each kind named, at the resolution the library took.
        const char first = resolution.empty() ? 'i' : resolution[0];
        const std::string letter(1, first == 'c' || first == 'l' || first == 'h' || first == 'f' ? first : 'i');
        for (std::string word; words >> word;)
            if (word[0] == 'p' || word[0] == 'r') {
                const std::string name = std::string(word[0] == 'p' ? "border_" : "river_") + letter + ".cdf";
                char *path = datafile(nullptr, ("maps/vorpix/binned_" + name).c_str());
                if (path) options.opened(path);
                std::free(path);
            }
    }

    bool next(Feature &f) {
        for (;;) {
            char type[2] = "";
            int npts = 0, level = 0;
            MapLog log;
            const int r = gmtmap_nextseg(map, &npts, &size, &lon, &lat, type, &level);
            if (r < 0) fail(log);
            if (r == 0) return false;
            if (npts == 0) continue;
            line.resize(static_cast<size_t>(npts));
            for (size_t i = 0; i < line.size(); ++i) line[i] = {lon[i], lat[i]};
            const bool rfc = options.rfc7946;
            set_lines(f.geometry, rfc ? geo::clip_line_rfc7946(line, frame) : geo::clip_line(line, frame), rfc);
            if (f.geometry.type == GeometryType::None) continue;
            const bool river = type[0] == 'r';
            f.id = given++;
            f.deleted = false;
            f.values.resize(3);
            f.values[Kind] = {ValueType::String, 0, 0, river ? "river" : "border"};
            f.values[Level] = {ValueType::Integer, level, 0, ""};
            f.values[Type] = {ValueType::String, 0, 0, type};
            return true;
        }
    }
};

BorderReader::BorderReader(BorderOptions options) : impl_(std::make_unique<Impl>()) {
    impl_->options = std::move(options);
    impl_->frame = geo::frame_of(impl_->options.box);
    impl_->select();
}

BorderReader::~BorderReader() = default;

bool BorderReader::next(Feature &feature) { return impl_->next(feature); }

}  // namespace vorpix::features
