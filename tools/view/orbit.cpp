#include "tools/view/orbit.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double degrees = 3.14159265358979323846 / 180.0;
constexpr double most_down = 85.0 * degrees;
constexpr double most_up = 45.0 * degrees;
constexpr double nearest = 0.1;
constexpr double farthest = 10.0;

dvec operator+(const dvec& a, const dvec& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
dvec operator-(const dvec& a, const dvec& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
dvec operator*(double s, const dvec& a) { return {s * a.x, s * a.y, s * a.z}; }
double dot(const dvec& a, const dvec& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
dvec cross(const dvec& a, const dvec& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double length(const dvec& a) { return std::sqrt(dot(a, a)); }
dvec unit(const dvec& a) { return (1.0 / length(a)) * a; }
dvec widen(const vector3& v) { return {v.x, v.y, v.z}; }
vector3 narrow(const dvec& v) { return {static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)}; }

const dvec vertical{0.0, 1.0, 0.0};

// `v` turned `angle` radians about the unit `axis` (right-handed). An angle
// of 0 gives `v` back exactly: its cosine is 1 and its sine 0.
dvec rotated(const dvec& v, const dvec& axis, double angle) {
    const double c = std::cos(angle);
    const double s = std::sin(angle);
    return c * v + s * cross(axis, v) + ((1.0 - c) * dot(axis, v)) * axis;
}

dvec forward_of(const camera_view& view) { return unit(widen(view.look_at) - widen(view.position)); }

// The horizontal axis the pitch turns about: home's right, level. Turning
// about it by a positive angle raises the camera (up × F points to its
// right, and (up × F) × F has a negative y).
dvec pitch_axis(const camera_view& home) { return unit(cross(vertical, forward_of(home))); }

// A point of home's rig where the orbit `o` carries it.
dvec carried(const orbit_rig& rig, const orbit& o, const vector3& point) {
    const dvec from_pivot = widen(point) - rig.pivot;
    const dvec turned = rotated(rotated(from_pivot, pitch_axis(rig.home), o.pitch), vertical, o.yaw);
    return rig.pivot + o.pan + o.zoom * turned;
}

}  // namespace

camera_view view_of(const orbit_rig& rig, const orbit& o) {
    camera_view view = rig.home;
    view.position = narrow(carried(rig, o, rig.home.position));
    view.look_at = narrow(carried(rig, o, rig.home.look_at));
    // The screen's world size is its local size times |up × F|: an up that
    // long over |home up × F| keeps home's field of view (the ratio is
    // exactly 1 at home's own direction).
    const dvec home_up = widen(rig.home.up);
    const double ratio = length(cross(home_up, forward_of(rig.home))) / length(cross(home_up, forward_of(view)));
    view.up = narrow(ratio * home_up);
    return view;
}

orbit turned(const orbit_rig& rig, const orbit& o, double yaw, double pitch) {
    // Pitch turns the view square to its own horizontal direction, so the
    // view's elevation falls by exactly the pitch.
    const double elevation = std::asin(std::clamp(forward_of(rig.home).y, -1.0, 1.0));
    orbit t = o;
    t.yaw += yaw;
    t.pitch = std::clamp(o.pitch + pitch, elevation - most_up, elevation + most_down);
    return t;
}

orbit zoomed(const orbit& o, double factor) {
    orbit z = o;
    z.zoom = std::clamp(o.zoom * factor, nearest, farthest);
    return z;
}

orbit panned(const orbit_rig& rig, const orbit& o, double right, double down, int height) {
    const camera_view view = view_of(rig, o);
    const dvec forward = forward_of(view);
    const dvec up = widen(view.up);
    const dvec eye = widen(view.position) - 5.0 * forward;
    // A pixel at the pivot's depth: the screen, 5 units from the eye, is
    // 2·half_height·|up × F| high in the world.
    const double depth = dot(rig.pivot + o.pan - eye, forward);
    const double pixel = depth / 5.0 * 2.0 * view.half_height * length(cross(up, forward)) / height;
    const dvec screen_right = unit(cross(up, forward));
    const dvec screen_up = cross(screen_right, -1.0 * forward);
    // The camera moves against the way the pivot is to move.
    orbit p = o;
    p.pan = o.pan - (right * pixel) * screen_right + (down * pixel) * screen_up;
    return p;
}
