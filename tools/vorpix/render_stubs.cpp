// Layers whose readers are not in the library yet.
#include "render_layers.hpp"

namespace vorpix::cli {


}  // namespace vorpix::cli
