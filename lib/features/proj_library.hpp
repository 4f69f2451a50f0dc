// PROJ, opened the first time a coordinate system or a map projection needs
// it rather than when the program starts: PROJ and the libraries it brings
// (network, TLS, TIFF) take longer to load than most files take to read.
#ifndef VORPIX_FEATURES_PROJ_LIBRARY_HPP
#define VORPIX_FEATURES_PROJ_LIBRARY_HPP

#include <proj.h>

namespace vorpix::features {

// The PROJ functions the layer calls, by their own names.
struct ProjLibrary {
    decltype(&::proj_context_create) context_create;
    decltype(&::proj_context_destroy) context_destroy;
    decltype(&::proj_log_level) log_level;
    decltype(&::proj_create) create;
    decltype(&::proj_destroy) destroy;
    decltype(&::proj_get_type) get_type;
    decltype(&::proj_get_name) get_name;
    decltype(&::proj_crs_get_datum_forced) crs_get_datum_forced;
    decltype(&::proj_is_equivalent_to) is_equivalent_to;
    decltype(&::proj_create_crs_to_crs_from_pj) create_crs_to_crs_from_pj;
    decltype(&::proj_normalize_for_visualization) normalize_for_visualization;
    decltype(&::proj_trans_generic) trans_generic;
};

// PROJ, loaded once per process; an Error (Unsupported) naming the library
// and why when it cannot be.
const ProjLibrary &proj_library();

}  // namespace vorpix::features

#endif
