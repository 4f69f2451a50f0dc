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
    decltype(&::proj_context_is_network_enabled) context_is_network_enabled;
    decltype(&::proj_create_operation_factory_context) create_operation_factory_context;
    decltype(&::proj_operation_factory_context_destroy) operation_factory_context_destroy;
    decltype(&::proj_operation_factory_context_set_grid_availability_use) set_grid_availability_use;
    decltype(&::proj_operation_factory_context_set_spatial_criterion) set_spatial_criterion;
    decltype(&::proj_operation_factory_context_set_area_of_interest) set_area_of_interest;
    decltype(&::proj_create_operations) create_operations;
    decltype(&::proj_list_get_count) list_get_count;
    decltype(&::proj_list_get) list_get;
    decltype(&::proj_list_destroy) list_destroy;
    decltype(&::proj_coordoperation_is_instantiable) coordoperation_is_instantiable;
    decltype(&::proj_get_area_of_use) get_area_of_use;
    decltype(&::proj_coordoperation_get_accuracy) coordoperation_get_accuracy;
};

// PROJ, loaded once per process; an Error (Unsupported) naming the library
// and why when it cannot be.
const ProjLibrary &proj_library();

}  // namespace vorpix::features

#endif
