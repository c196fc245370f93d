// raytracer-scale-embree: one run of the scale table with Embree 3 in the
// mesh's place (scale_child.h), the yardstick for our own build and render.
//   raytracer-scale-embree MESH ROUNDS BUDGET [--renders KIND,...] [--variant medium|low]
// Embree builds with its default device (all hardware threads) at build
// quality MEDIUM (its default) or LOW, and answers through the same object
// interface, in the same scene, rendered by the same render_picture: single
// rays by rtcIntersect1, packets by rtcIntersect16 and rtcOccluded16 flagged
// coherent. The rays are the program's own, the shadow rays in packets
// started just off their surface (occluded_packet).

#include <embree3/rtcore.h>

#include <algorithm>
#include <chrono>
#include <cmath>
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

    // Sixteen rays in one rtcIntersect16, flagged coherent.
    void intersect_packet(const ray_packet& rays, unsigned active, float* distances, int* codes, hit_record* hits) override {
        RTCIntersectContext context;
        rtcInitIntersectContext(&context);
        context.flags = RTC_INTERSECT_CONTEXT_FLAG_COHERENT;
        alignas(64) int valid[16];
        alignas(64) RTCRayHit16 h;
        fill(rays, active, distances, valid, h.ray);
        for (int k = 0; k < 16; ++k) {
            h.hit.geomID[k] = RTC_INVALID_GEOMETRY_ID;
            h.hit.instID[0][k] = RTC_INVALID_GEOMETRY_ID;
        }
        rtcIntersect16(valid, scene, &context, &h);
        for (unsigned left = active; left != 0; left &= left - 1) {
            const int k = __builtin_ctz(left);
            codes[k] = hit_none;
            if (h.hit.geomID[k] == RTC_INVALID_GEOMETRY_ID || !(h.ray.tfar[k] < distances[k])) continue;
            distances[k] = h.ray.tfar[k];
            codes[k] = hit_outside;
            hits[k].normal = normals[h.hit.primID[k]];
            hits[k].surface = {};
            last[util::current_worker].primitive = h.hit.primID[k];
        }
    }

    // Sixteen rays in one rtcOccluded16, flagged coherent. These are the
    // shadow rays, and each starts a little way off the surface it leaves
    // (2^-16 of its origin's largest coordinate), as Embree's users start
    // them: Embree meets both sides of a triangle and knows nothing of the
    // surface a ray leaves, so from 0 on many lit points of the bunny
    // met their own triangle and came out shadowed (18,500 pixels of
    // the picture darker than ours, their shading skipped); from here on
    // a few dozen pixels of the two pictures differ by more than 1 in 255.
    unsigned occluded_packet(const ray_packet& rays, unsigned active, const float* distances) override {
        RTCIntersectContext context;
        rtcInitIntersectContext(&context);
        context.flags = RTC_INTERSECT_CONTEXT_FLAG_COHERENT;
        alignas(64) int valid[16];
        alignas(64) RTCRay16 r;
        fill(rays, active, distances, valid, r);
        for (int k = 0; k < 16; ++k) {
            const float largest = std::max({std::fabs(r.org_x[k]), std::fabs(r.org_y[k]), std::fabs(r.org_z[k])});
            r.tnear[k] = 0x1p-16f * largest;
        }
        rtcOccluded16(valid, scene, &context, &r);
        unsigned met = 0;
        // An occluded ray comes back with tfar set to -infinity.
        for (unsigned left = active; left != 0; left &= left - 1) {
            const int k = __builtin_ctz(left);
            if (r.tfar[k] < 0.0f) met |= 1u << k;
        }
        return met;
    }

    vector3 get_normal(const vector3&) const override { return normals[last[util::current_worker].primitive]; }

private:
    static void fill(const ray_packet& rays, unsigned active, const float* distances, int* valid, RTCRay16& r) {
        for (int k = 0; k < 16; ++k) {
            const bool on = (active >> k) & 1;
            valid[k] = on ? -1 : 0;
            r.org_x[k] = rays.origin[0][k];
            r.org_y[k] = rays.origin[1][k];
            r.org_z[k] = rays.origin[2][k];
            r.dir_x[k] = rays.direction[0][k];
            r.dir_y[k] = rays.direction[1][k];
            r.dir_z[k] = rays.direction[2][k];
            r.tnear[k] = 0.0f;
            r.tfar[k] = on ? distances[k] : 0.0f;
            r.time[k] = 0.0f;
            r.mask[k] = ~0u;
            r.id[k] = static_cast<unsigned>(k);
            r.flags[k] = 0;
        }
    }
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

object* build_embree(mesh* loaded, const std::string& variant, double* seconds, std::string* error) {
    if (!variant.empty() && variant != "medium" && variant != "low") {
        *error = "unknown Embree variant " + variant + " (medium or low)";
        return nullptr;
    }
    embree_mesh* e = new embree_mesh;
    e->device = rtcNewDevice(nullptr);
    if (!e->device) {
        *error = "rtcNewDevice failed: " + std::to_string(rtcGetDeviceError(nullptr));
        return nullptr;
    }
    rtcSetDeviceErrorFunction(e->device, report_error, nullptr);
    e->scene = rtcNewScene(e->device);
    rtcSetSceneBuildQuality(e->scene, variant == "low" ? RTC_BUILD_QUALITY_LOW : RTC_BUILD_QUALITY_MEDIUM);

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
    child_arguments a;
    if (!parse_child_arguments(argc, argv, 1, &a)) {
        std::fprintf(stderr, "usage: raytracer-scale-embree MESH ROUNDS BUDGET_SECONDS [--renders KIND,...] [--variant medium|low]\n");
        return 2;
    }
    run_scale_child(a, build_embree);
}
