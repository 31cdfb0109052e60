// The whole 2D overlay of one frame, in drawing order: the sector transfer screen while a
// sector is being transferred, otherwise the gameplay HUD with its minimap, the adventure
// overlay, the first-person weapon and, last, the expedition layer.
#pragma once

#include <string_view>
#include <vector>

#include "render/frame.h"
#include "render/vertex.h"

namespace kestrel {

// The label of the selected weapon in the bottom-left corner.
std::string_view weapon_name(unsigned weapon);

// Appends the overlay geometry of `frame` in device coordinates; the renderer draws it after
// the 3D part with the depth test off, so later vertices cover earlier ones.
void overlay_pass(std::vector<Vertex>& out, const Frame& frame);

} // namespace kestrel
