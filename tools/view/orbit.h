#pragma once

#include "render/camera.h"

// The viewer's camera: the program's view carried around a pivot (the
// model's centre) as one rigid rig, its screen and the point it looks at
// alike, so that the floor stays level and the pivot keeps its place in the
// picture while the camera circles it.

// Three doubles: the orbit's own arithmetic.
struct dvec {
    double x = 0.0, y = 0.0, z = 0.0;
};

// What the orbit starts from: the view that reset returns to, and the
// point the camera circles.
struct orbit_rig {
    camera_view home;
    dvec pivot;
};

// How far the camera has left home. The rig is turned `pitch` radians
// about the horizontal line through the pivot square to home's view
// (positive raises the camera, which then looks further down), then `yaw`
// radians about the vertical through the pivot (positive moves the camera
// counter-clockwise seen from above), brought `zoom` times home's distance
// from the pivot, and shifted by `pan` (the pivot moves with it). The
// default is home itself.
struct orbit {
    double yaw = 0.0;
    double pitch = 0.0;
    double zoom = 1.0;
    dvec pan;
};

// The view the camera has at `o`. Its up is the world's, of the length that
// keeps home's field of view whatever the elevation (camera.h): exactly
// (0, 1, 0) at home's elevation. At the default orbit every field is
// home's, bit for bit.
camera_view view_of(const orbit_rig& rig, const orbit& o);

// `o` turned by the angles given, the pitch held so that the camera never
// looks more than 85 degrees down or 45 degrees up (no roll, no flip over
// the top).
orbit turned(const orbit_rig& rig, const orbit& o, double yaw, double pitch);

// `o` brought `factor` times as far from the pivot, held to 0.1 to 10
// times home's distance.
orbit zoomed(const orbit& o, double factor);

// `o` shifted within the screen's plane so that the pivot moves `right`
// and `down` pixels of a picture `height` pixels high (the picture shows
// the pivot's depth at that scale).
orbit panned(const orbit_rig& rig, const orbit& o, double right, double down, int height);
