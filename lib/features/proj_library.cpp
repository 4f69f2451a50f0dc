// PROJ loaded on first use.
#include "proj_library.hpp"

#include "vorpix/features.hpp"

#include <dlfcn.h>

#include <mutex>
#include <string>

namespace vorpix::features {

namespace {

struct Loaded {
    ProjLibrary functions{};
    std::string error;  // empty when loaded
};

Loaded load() {
    Loaded out;
    // Kept for the process's life: PROJ objects outlive any one reader.
    // Bound lazily: PROJ's network and TLS libraries are seldom called, and
    // resolving all their symbols at once took a third of the loading.
    void *library = dlopen(VORPIX_PROJ_SONAME, RTLD_LAZY | RTLD_LOCAL);
    if (!library) {
        const char *why = dlerror();
        out.error = std::string("PROJ (" VORPIX_PROJ_SONAME ") cannot be loaded: ") + (why ? why : "not found");
        return out;
    }
    bool complete = true;
    auto bind = [&](auto &function, const char *name) {
        function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(library, name));
        if (!function && complete) {
            complete = false;
            out.error = std::string("PROJ (" VORPIX_PROJ_SONAME ") has no ") + name;
        }
    };
    ProjLibrary &f = out.functions;
    bind(f.context_create, "proj_context_create");
    bind(f.context_destroy, "proj_context_destroy");
    bind(f.log_level, "proj_log_level");
    bind(f.create, "proj_create");
    bind(f.destroy, "proj_destroy");
    bind(f.get_type, "proj_get_type");
    bind(f.get_name, "proj_get_name");
    bind(f.crs_get_datum_forced, "proj_crs_get_datum_forced");
    bind(f.is_equivalent_to, "proj_is_equivalent_to");
    bind(f.create_crs_to_crs_from_pj, "proj_create_crs_to_crs_from_pj");
    bind(f.normalize_for_visualization, "proj_normalize_for_visualization");
    bind(f.trans_generic, "proj_trans_generic");
    bind(f.context_is_network_enabled, "proj_context_is_network_enabled");
    bind(f.create_operation_factory_context, "proj_create_operation_factory_context");
    bind(f.operation_factory_context_destroy, "proj_operation_factory_context_destroy");
    bind(f.set_grid_availability_use, "proj_operation_factory_context_set_grid_availability_use");
    bind(f.set_spatial_criterion, "proj_operation_factory_context_set_spatial_criterion");
    bind(f.set_area_of_interest, "proj_operation_factory_context_set_area_of_interest");
    bind(f.create_operations, "proj_create_operations");
    bind(f.list_get_count, "proj_list_get_count");
    bind(f.list_get, "proj_list_get");
    bind(f.list_destroy, "proj_list_destroy");
    bind(f.coordoperation_is_instantiable, "proj_coordoperation_is_instantiable");
    bind(f.get_area_of_use, "proj_get_area_of_use");
    bind(f.coordoperation_get_accuracy, "proj_coordoperation_get_accuracy");
    return out;
}

}  // namespace

const ProjLibrary &proj_library() {
    static std::once_flag once;
    static Loaded loaded;
    std::call_once(once, [] { loaded = load(); });
    if (!loaded.error.empty()) throw Error(loaded.error, ErrorCode::Unsupported);
    return loaded.functions;
}

}  // namespace vorpix::features
