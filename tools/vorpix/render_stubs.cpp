// Layers whose readers are not in the library yet.
#include "render_layers.hpp"

namespace vorpix::cli {

void add_texture_layer(Picture &, const std::string &path, Progress &) {
    throw InputError(path + ": textures cannot be drawn yet");
}

}  // namespace vorpix::cli
