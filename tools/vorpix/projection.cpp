// Projected coordinates to longitude and latitude through PROJ.
#include "projection.hpp"

#include "cli.hpp"
#include "dbase_values.hpp"

#include <proj.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace vorpix::cli {

ToLonLat::ToLonLat(const std::string &wkt, const std::string &file) {
    PJ_CONTEXT *ctx = proj_context_create();
    proj_log_level(ctx, PJ_LOG_NONE);
    context_ = ctx;
    PJ *source = proj_create(ctx, wkt.c_str());
    auto fail = [&](const std::string &why) {
        if (source) proj_destroy(source);
        proj_context_destroy(ctx);
        context_ = nullptr;
        throw InputError(file + ": " + why);
    };
    if (!source) fail("PROJ cannot read the coordinate system");
    switch (proj_get_type(source)) {
    case PJ_TYPE_GEOGRAPHIC_2D_CRS:
    case PJ_TYPE_GEOGRAPHIC_3D_CRS:
    case PJ_TYPE_GEOGRAPHIC_CRS: proj_destroy(source); return;
    case PJ_TYPE_PROJECTED_CRS:
    case PJ_TYPE_COMPOUND_CRS:
    case PJ_TYPE_BOUND_CRS:
    case PJ_TYPE_GEOCENTRIC_CRS: break;
    default: fail("not a coordinate system PROJ can transform");
    }
    PJ *target = proj_create(ctx, "EPSG:4326");
    PJ *raw = target ? proj_create_crs_to_crs_from_pj(ctx, source, target, nullptr, nullptr) : nullptr;
    if (target) proj_destroy(target);
    PJ *lonlat = raw ? proj_normalize_for_visualization(ctx, raw) : nullptr;
    if (raw) proj_destroy(raw);
    if (!lonlat) fail("PROJ finds no way to longitude and latitude");
    proj_destroy(source);
    transform_ = lonlat;
}

ToLonLat::~ToLonLat() {
    if (transform_) proj_destroy(static_cast<PJ *>(transform_));
    if (context_) proj_context_destroy(static_cast<PJ_CONTEXT *>(context_));
}

void ToLonLat::apply(double *x, double *y, size_t stride, size_t n) const {
    if (!transform_ || n == 0) return;
    const size_t bytes = stride * sizeof(double);
    proj_trans_generic(static_cast<PJ *>(transform_), PJ_FWD, x, bytes, n, y, bytes, n, nullptr, 0, 0, nullptr, 0, 0);
}

Coordinates coordinates_of(const std::string &shp) {
    Coordinates c;
    const std::string prj = file_beside(shp, {".prj", ".PRJ"});
    if (prj.empty()) return c;
    try {
        // The longest real .prj files hold a few kilobytes of WKT.
        bool whole = false;
        const std::string text = read_side_file(prj, 1 << 16, &whole);
        if (!whole) throw InputError(prj + ": longer than 64 KiB, which no coordinate system takes");
        c.transform = std::make_unique<ToLonLat>(text, prj);
        c.lonlat = true;
        if (!c.transform->transforms()) c.transform.reset();
    } catch (const InputError &e) {
        std::fprintf(stderr, "vorpix: warning: %s; coordinates are written as stored\n", e.what());
    }
    return c;
}

}  // namespace vorpix::cli
