// Projected coordinates to longitude and latitude through PROJ.
#include "vorpix/reproject.hpp"

#include "input_file.hpp"
#include "proj_library.hpp"

#include <proj.h>

#include <algorithm>
#include <cmath>
#include <cctype>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <utility>
#include <vector>

namespace vorpix::features {

namespace {

// The operation PROJ would apply to every point of an extent in degrees, when
// one can be named: among the operations whose area meets the extent, the
// one PROJ prefers point by point (the best known accuracy, then the first
// listed) when its own area covers the whole extent. Normalised to longitude
// before latitude; nullptr when there is no such operation and the choice
// must stay per point. Listing the candidates for the extent alone, and
// building one of them rather than each with its area, halves the time PROJ
// spends before the first point.
PJ *one_operation(const ProjLibrary &proj, PJ_CONTEXT *ctx, PJ *source, PJ *target, const Extent &e) {
    const bool degrees = std::isfinite(e.xmin) && std::isfinite(e.xmax) && std::isfinite(e.ymin) &&
                         std::isfinite(e.ymax) && -180 <= e.xmin && e.xmin <= e.xmax && e.xmax <= 180 &&
                         -90 <= e.ymin && e.ymin <= e.ymax && e.ymax <= 90;
    if (!degrees) return nullptr;
    PJ_OPERATION_FACTORY_CONTEXT *factory = proj.create_operation_factory_context(ctx, nullptr);
    if (!factory) return nullptr;
    // The choices PROJ makes for a transformation between two systems.
    proj.set_spatial_criterion(ctx, factory, PROJ_SPATIAL_CRITERION_PARTIAL_INTERSECTION);
    proj.set_grid_availability_use(ctx, factory,
                                   proj.context_is_network_enabled(ctx) != 0
                                       ? PROJ_GRID_AVAILABILITY_KNOWN_AVAILABLE
                                       : PROJ_GRID_AVAILABILITY_DISCARD_OPERATION_IF_MISSING_GRID);
    proj.set_area_of_interest(ctx, factory, e.xmin, e.ymin, e.xmax, e.ymax);
    PJ_OBJ_LIST *list = proj.create_operations(ctx, source, target, factory);
    proj.operation_factory_context_destroy(factory);
    if (!list) return nullptr;
    PJ *best = nullptr;
    double best_accuracy = 0;
    bool best_covers = false;
    const int count = proj.list_get_count(list);
    for (int i = 0; i < count; ++i) {
        PJ *op = proj.list_get(ctx, list, i);
        if (!op) continue;
        if (proj.coordoperation_is_instantiable(ctx, op) == 0) {
            proj.destroy(op);
            continue;
        }
        // An unknown accuracy ranks after every known one.
        double accuracy = proj.coordoperation_get_accuracy(ctx, op);
        if (accuracy < 0) accuracy = HUGE_VAL;
        if (best && accuracy >= best_accuracy) {
            proj.destroy(op);
            continue;
        }
        double west = 0, south = 0, east = 0, north = 0;
        const bool area = proj.get_area_of_use(ctx, op, &west, &south, &east, &north, nullptr) != 0;
        if (best) proj.destroy(best);
        best = op;
        best_accuracy = accuracy;
        best_covers = area && west <= east && west <= e.xmin && e.xmax <= east && south <= e.ymin && e.ymax <= north;
    }
    proj.list_destroy(list);
    PJ *chosen = best && best_covers ? proj.normalize_for_visualization(ctx, best) : nullptr;
    if (best) proj.destroy(best);
    return chosen;
}

}  // namespace

ToLonLat::ToLonLat(const std::string &wkt, const std::string &file, const Extent *extent) {
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
    PJ *lonlat = target && geographic_ && extent ? one_operation(proj, ctx, source, target, *extent) : nullptr;
    per_point_ = !lonlat;
    if (!lonlat && target) {
        PJ *raw = proj.create_crs_to_crs_from_pj(ctx, source, target, nullptr, nullptr);
        lonlat = raw ? proj.normalize_for_visualization(ctx, raw) : nullptr;
        if (raw) proj.destroy(raw);
    }
    if (target) proj.destroy(target);
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

// Whether WKT text names plain longitude and latitude in degrees whose
// numbers PROJ passes unchanged to WGS 84: on WGS 84 itself, as most
// geographic .prj files are, or on a datum that is not known, which PROJ
// takes to WGS 84 by a null offset. Known without asking PROJ, whose
// database lookups cost more than reading a small file (a datum named
// "D_unknown" alone costs PROJ some 20 ms to look for).
bool passes_unchanged(const std::string &wkt) {
    std::string t;
    for (const char c : wkt)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
            t += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const auto one_of = [&t](std::initializer_list<const char *> words) {
        for (const char *w : words)
            if (t.find(w) != std::string::npos) return true;
        return false;
    };
    const bool wgs84 = one_of({"DATUM[\"D_WGS_1984\"", "DATUM[\"WGS_1984\""}) &&
                       one_of({"SPHEROID[\"WGS_1984\",6378137.0,298.257223563]",
                               "SPHEROID[\"WGS84\",6378137,298.257223563]",
                               "SPHEROID[\"WGS_1984\",6378137,298.257223563]"});
    const bool unknown = one_of({"DATUM[\"D_UNKNOWN\"", "DATUM[\"UNKNOWN\""});
    return t.rfind("GEOGCS[", 0) == 0 && t.find("PROJCS[") == std::string::npos &&
           t.find("TOWGS84") == std::string::npos && (wgs84 || unknown) &&
           one_of({"PRIMEM[\"GREENWICH\",0.0]", "PRIMEM[\"GREENWICH\",0]"}) &&
           one_of({"UNIT[\"DEGREE\",0.0174532925199433]", "UNIT[\"DEGREE\",0.017453292519943295]"}) &&
           t.find("AXIS[") == std::string::npos;
}

// The text with a datum of unknown name written as other dialects write it:
// "unknown" rather than the ESRI form "D_unknown", which PROJ reads as the
// same datum but only after a search of its database for the name that
// takes longer than the rest of the reading.
std::string unknown_datum_plainly(std::string wkt) {
    static const std::string esri = "DATUM[\"D_unknown\"", plain = "DATUM[\"unknown\"";
    for (std::size_t at = wkt.find(esri); at != std::string::npos; at = wkt.find(esri, at + plain.size()))
        wkt.replace(at, esri.size(), plain);
    return wkt;
}

// The transformation of a system, made once per thread for the last few
// systems asked for (PROJ objects are not shared between threads). One that
// chooses per point serves any extent; one chosen for an extent, that extent.
std::shared_ptr<const ToLonLat> transformation(const std::string &wkt, const std::string &file, const Extent *extent) {
    struct Made {
        std::string wkt;
        std::optional<Extent> extent;
        std::shared_ptr<const ToLonLat> transform;
    };
    thread_local std::vector<Made> made;
    for (auto it = made.begin(); it != made.end(); ++it)
        if (it->wkt == wkt && (it->transform->per_point() || (extent && it->extent == *extent))) {
            std::rotate(made.begin(), it, it + 1);  // the latest first
            return made.front().transform;
        }
    auto t = std::make_shared<const ToLonLat>(wkt, file, extent);
    made.insert(made.begin(), {wkt, extent ? std::optional<Extent>(*extent) : std::nullopt, t});
    if (made.size() > 8) made.pop_back();
    return t;
}

}  // namespace

Coordinates coordinates_of(const std::string &shp, const Warn &warn, const Extent *extent) {
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
        if (passes_unchanged(text)) {
            c.lonlat = c.geographic = true;
            return c;
        }
        const std::shared_ptr<const ToLonLat> made = transformation(unknown_datum_plainly(text), prj, extent);
        c.lonlat = true;
        c.geographic = made->geographic();
        if (made->transforms()) c.transform = made;
    } catch (const Error &e) {
        if (warn) warn(std::string(e.what()) + "; coordinates are written as stored");
    }
    return c;
}

}  // namespace vorpix::features
