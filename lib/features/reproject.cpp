// Projected coordinates to longitude and latitude through PROJ.
#include "vorpix/reproject.hpp"

#include "input_file.hpp"
#include "proj_library.hpp"

#include <proj.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <initializer_list>
#include <utility>
#include <vector>

namespace vorpix::features {

ToLonLat::ToLonLat(const std::string &wkt, const std::string &file) {
    const ProjLibrary &proj = [&]() -> const ProjLibrary & {
        try {
            return proj_library();
        } catch (const Error &e) {
            throw Error(ErrorCode::Unsupported, file, "", e.what());
        }
    }();
    PJ_CONTEXT *ctx = proj.context_create();
    proj.log_level(ctx, PJ_LOG_NONE);
    context_ = ctx;
    PJ *source = proj.create(ctx, wkt.c_str());
    auto fail = [&](const std::string &why) {
        if (source) proj.destroy(source);
        proj.context_destroy(ctx);
        context_ = nullptr;
        throw Error(ErrorCode::Unsupported, file, "", why);
    };
    if (!source) fail("PROJ cannot read the coordinate system");
    switch (proj.get_type(source)) {
    case PJ_TYPE_GEOGRAPHIC_2D_CRS:
    case PJ_TYPE_GEOGRAPHIC_3D_CRS:
    case PJ_TYPE_GEOGRAPHIC_CRS: geographic_ = true; break;
    case PJ_TYPE_PROJECTED_CRS:
    case PJ_TYPE_COMPOUND_CRS:
    case PJ_TYPE_BOUND_CRS:
    case PJ_TYPE_GEOCENTRIC_CRS: break;
    default: fail("not a coordinate system PROJ can transform");
    }
    PJ *target = proj.create(ctx, "EPSG:4326");
    if (geographic_ && target) {
        // Degrees on WGS 84 (or a datum PROJ holds the same) pass unchanged;
        // other datums are shifted as ogr2ogr -t_srs EPSG:4326 shifts them.
        PJ *datum = proj.crs_get_datum_forced(ctx, source);
        PJ *wgs84 = proj.crs_get_datum_forced(ctx, target);
        const bool same = datum && wgs84 &&
                          (proj.is_equivalent_to(datum, wgs84, PJ_COMP_EQUIVALENT_EXCEPT_AXIS_ORDER_GEOGCRS) || [&] {
                              const char *name = proj.get_name(datum);
                              return name && (std::strstr(name, "WGS_1984") || std::strstr(name, "WGS 1984") ||
                                              std::strstr(name, "World Geodetic System 1984"));
                          }());
        if (datum) proj.destroy(datum);
        if (wgs84) proj.destroy(wgs84);
        if (same) {
            proj.destroy(target);
            proj.destroy(source);
            return;
        }
    }
    PJ *raw = target ? proj.create_crs_to_crs_from_pj(ctx, source, target, nullptr, nullptr) : nullptr;
    if (target) proj.destroy(target);
    PJ *lonlat = raw ? proj.normalize_for_visualization(ctx, raw) : nullptr;
    if (raw) proj.destroy(raw);
    if (!lonlat) fail("PROJ finds no way to longitude and latitude");
    proj.destroy(source);
    transform_ = lonlat;
}

ToLonLat::~ToLonLat() {
    if (!transform_ && !context_) return;
    const ProjLibrary &proj = proj_library();
    if (transform_) proj.destroy(static_cast<PJ *>(transform_));
    if (context_) proj.context_destroy(static_cast<PJ_CONTEXT *>(context_));
}

void ToLonLat::apply(double *x, double *y, std::size_t stride, std::size_t n) const {
    if (!transform_ || n == 0) return;
    const ProjLibrary &proj = proj_library();
    const std::size_t bytes = stride * sizeof(double);
    proj.trans_generic(static_cast<PJ *>(transform_), PJ_FWD, x, bytes, n, y, bytes, n, nullptr, 0, 0, nullptr, 0, 0);
}

namespace {

// Whether WKT text names plain longitude and latitude in degrees on WGS 84,
// as most geographic .prj files do: coordinates that pass unchanged, known
// without asking PROJ (whose database lookups cost more than reading a
// small file).
bool plain_wgs84(const std::string &wkt) {
    std::string t;
    for (const char c : wkt)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
            t += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const auto one_of = [&t](std::initializer_list<const char *> words) {
        for (const char *w : words)
            if (t.find(w) != std::string::npos) return true;
        return false;
    };
    return t.rfind("GEOGCS[", 0) == 0 && t.find("PROJCS[") == std::string::npos &&
           t.find("TOWGS84") == std::string::npos && one_of({"DATUM[\"D_WGS_1984\"", "DATUM[\"WGS_1984\""}) &&
           one_of({"SPHEROID[\"WGS_1984\",6378137.0,298.257223563]", "SPHEROID[\"WGS84\",6378137,298.257223563]",
                   "SPHEROID[\"WGS_1984\",6378137,298.257223563]"}) &&
           one_of({"PRIMEM[\"GREENWICH\",0.0]", "PRIMEM[\"GREENWICH\",0]"}) &&
           one_of({"UNIT[\"DEGREE\",0.0174532925199433]", "UNIT[\"DEGREE\",0.017453292519943295]"}) &&
           t.find("AXIS[") == std::string::npos;
}

// The transformation of a system, made once per thread for the last few
// systems asked for (PROJ objects are not shared between threads).
std::shared_ptr<const ToLonLat> transformation(const std::string &wkt, const std::string &file) {
    thread_local std::vector<std::pair<std::string, std::shared_ptr<const ToLonLat>>> made;
    for (auto it = made.begin(); it != made.end(); ++it)
        if (it->first == wkt) {
            std::rotate(made.begin(), it, it + 1);  // the latest first
            return made.front().second;
        }
    auto t = std::make_shared<const ToLonLat>(wkt, file);
    made.insert(made.begin(), {wkt, t});
    if (made.size() > 8) made.pop_back();
    return t;
}

}  // namespace

Coordinates coordinates_of(const std::string &shp, const Warn &warn) {
    Coordinates c;
    const std::string prj = file_beside(shp, {".prj", ".PRJ"});
    if (prj.empty()) return c;
    c.prj = prj;
    try {
        // The longest real .prj files hold a few kilobytes of WKT.
        InputFile file(prj);
        bool whole = false;
        const std::string text = file.head(1 << 16, &whole);
        if (!whole) throw Error(ErrorCode::Invalid, prj, "", "longer than 64 KiB, which no coordinate system takes");
        if (plain_wgs84(text)) {
            c.lonlat = c.geographic = true;
            return c;
        }
        const std::shared_ptr<const ToLonLat> made = transformation(text, prj);
        c.lonlat = true;
        c.geographic = made->geographic();
        if (made->transforms()) c.transform = made;
    } catch (const Error &e) {
        if (warn) warn(std::string(e.what()) + "; coordinates are written as stored");
    }
    return c;
}

}  // namespace vorpix::features
