// A radar contact on the minimap: an enemy that fired.
#pragma once

namespace kestrel {

struct RadarBlip {
    float x = 0; // cells
    float y = 0;
    float age = 0; // seconds since the shot; the minimap fades the dot out over 1.5 s
};

} // namespace kestrel
