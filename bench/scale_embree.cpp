// raytracer-scale-embree: one run of the scale table with Embree 3 in the
// mesh's place (scale_child.h), the yardstick for our own build and render.
//   raytracer-scale-embree MESH RENDERS BUDGET
// Embree builds with its default device (all hardware threads) at its
// default quality, MEDIUM, and answers single rays (rtcIntersect1) through
// the same object interface, in the same scene, rendered by the same
// render_rows on all threads: the rays are the program's own.

#include <embree3/rtcore.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/scale_child.h"
#include "mesh/face.h"
#include "mesh/mesh.h"
#include "util/worker.h"

namespace {

// One worker's latest hit, alone on its cache line.
struct alignas(64) primitive_slot {
    unsigned int primitive = 0;
};

class embree_mesh : public object {
public:
    RTCDevice device = nullptr;
    RTCScene scene = nullptr;
    // The unit face normal of every triangle: what the model's triangles
    // answer, made once here as they are made once there.
    std::vector<vector3> normals;
    primitive_slot last[util::max_workers];

    int get_type() const override { return 0; }

    // Plain rtcIntersect1 from 0 to the incoming distance, both sides of
    // every triangle: the yardstick, not a copy of our own rules.
    int intersect(const ray& r, float& distance) override {
        RTCIntersectContext context;
        rtcInitIntersectContext(&context);
        RTCRayHit h;
        h.ray.org_x = r.origin.x;
        h.ray.org_y = r.origin.y;
        h.ray.org_z = r.origin.z;
        h.ray.tnear = 0.0f;
        h.ray.dir_x = r.direction.x;
        h.ray.dir_y = r.direction.y;
        h.ray.dir_z = r.direction.z;
        h.ray.time = 0.0f;
        h.ray.tfar = distance;
        h.ray.mask = ~0u;
        h.ray.id = 0;
        h.ray.flags = 0;
        h.hit.geomID = RTC_INVALID_GEOMETRY_ID;
        h.hit.instID[0] = RTC_INVALID_GEOMETRY_ID;
        rtcIntersect1(scene, &context, &h);
        if (h.hit.geomID == RTC_INVALID_GEOMETRY_ID || !(h.ray.tfar < distance)) return hit_none;
        distance = h.ray.tfar;
        last[util::current_worker].primitive = h.hit.primID;
        return hit_outside;
    }

    vector3 get_normal(const vector3&) const override { return normals[last[util::current_worker].primitive]; }
};

void report_error(void*, RTCError code, const char* what) { std::fprintf(stderr, "embree error %d: %s\n", code, what); }

// The mesh as one Embree triangle geometry, in Embree's own buffers (it
// reads vertices with 16-byte loads, so its allocation is padded).
bool add_triangles(embree_mesh& e, const mesh& m) {
    const std::size_t vertices = static_cast<std::size_t>(m.vertex_count);
    const std::size_t faces = static_cast<std::size_t>(m.face_count);
    RTCGeometry g = rtcNewGeometry(e.device, RTC_GEOMETRY_TYPE_TRIANGLE);
    void* v = rtcSetNewGeometryBuffer(g, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3, sizeof(vector3), vertices);
    void* f = rtcSetNewGeometryBuffer(g, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3, sizeof(face_corners), faces);
    if (!v || !f) return false;
    std::memcpy(v, m.vertices, vertices * sizeof(vector3));
    std::memcpy(f, m.faces, faces * sizeof(face_corners));
    rtcCommitGeometry(g);
    rtcAttachGeometry(e.scene, g);
    rtcReleaseGeometry(g);
    return true;
}

object* build_embree(mesh* loaded, double* seconds, std::string* error) {
    embree_mesh* e = new embree_mesh;
    e->device = rtcNewDevice(nullptr);
    if (!e->device) {
        *error = "rtcNewDevice failed: " + std::to_string(rtcGetDeviceError(nullptr));
        return nullptr;
    }
    rtcSetDeviceErrorFunction(e->device, report_error, nullptr);
    e->scene = rtcNewScene(e->device);
    rtcSetSceneBuildQuality(e->scene, RTC_BUILD_QUALITY_MEDIUM);

    // The copy and the normals are not part of the build time. An empty
    // mesh (the fixed-cost run) gives an empty scene.
    const int faces = loaded->face_count;
    if (faces > 0 && !add_triangles(*e, *loaded)) {
        *error = "Embree could not allocate its buffers";
        return nullptr;
    }
    e->normals.resize(static_cast<std::size_t>(faces));
    for (int k = 0; k < faces; ++k) e->normals[static_cast<std::size_t>(k)] = normalize(make_face(*loaded, k).normal);
    // Embree holds its own copy now; the loader's arrays would only add to
    // Embree's peak.
    release_mesh(loaded);
    delete loaded;

    const auto start = std::chrono::steady_clock::now();
    rtcCommitScene(e->scene);
    *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (rtcGetDeviceError(e->device) != RTC_ERROR_NONE) {
        *error = "rtcCommitScene failed";
        return nullptr;
    }
    return e;
}

}  // namespace

int main(int argc, char** argv) {
    const char* path = nullptr;
    int renders = 0;
    double budget = 0.0;
    if (!parse_child_arguments(argc, argv, 1, &path, &renders, &budget)) {
        std::fprintf(stderr, "usage: raytracer-scale-embree MESH RENDERS BUDGET_SECONDS\n");
        return 2;
    }
    run_scale_child(path, renders, budget, build_embree);
}
