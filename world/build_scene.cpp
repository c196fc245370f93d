#include "world/build_scene.h"

#include <cstdio>
#include <new>
#include <stdexcept>
#include <string>

#include "mesh/load_mesh.h"
#include "scene/light.h"
#include "scene/model.h"
#include "scene/plane.h"
#include "scene/scene.h"

namespace {

// The mesh from `path`, or null with the reason in `error`.
owned_mesh load_mesh(const char* path, std::string* error) {
    owned_mesh m;
    try {
        m.reset(new mesh);
    } catch (const std::bad_alloc&) {
        *error = std::string(path) + ": out of memory before loading";
        return nullptr;
    }
    if (!load_mesh_file(path, m.get(), error)) return nullptr;
    return m;
}

}  // namespace

bool build_scene(std::string* error) { return build_scene("bunny.obj", error); }

bool build_scene(const char* mesh_path, std::string* error) { return build_scene(mesh_path, mesh_placement{}, error); }

bool build_scene(const char* mesh_path, const mesh_placement& placement, std::string* error) {
    return build_scene(mesh_path, placement, error, 0);
}

bool build_scene(const char* mesh_path, const mesh_placement& placement, std::string* error, long long primary_rays) {
    std::string ignored;
    if (!error) error = &ignored;
    scene* s = current_scene;
    try {
        // One light: the picture is defined with one. Both arrays start
        // empty, so that a scene left half built is still freed whole.
        s->lights = new light*[1]();
        s->light_count = 1;
        s->lights[0] = new light{{0.94f, 0.94f, 0.737f}, {-2000.0f, 1500.0f, -3000.0f}};

        std::printf("initialising scene...\n");
        std::printf("\tloading model\n");

        s->objects = new object*[2]();
        s->object_count = 2;

        // The floor: the points whose y is 170, a dark blue mirror.
        plane* floor = new plane;
        floor->normal = {0.0f, 1.0f, 0.0f};
        floor->offset = 170.0f;
        floor->color = {0.05f, 0.02f, 0.65f};
        floor->specular = {0.0f, 0.0f, 0.0f};
        floor->reflection = 0.6f;
        floor->specular_power = 500.0f;
        floor->refraction_index = 0.0f;
        s->objects[1] = floor;
    } catch (const std::bad_alloc&) {
        *error = "out of memory building the scene";
        return false;
    }

    // The loader prints its lines once the whole file is read; the mesh's
    // material is set only once the model exists.
    owned_mesh loaded = load_mesh(mesh_path, error);
    if (!loaded) return false;
    place_mesh(*loaded, placement);
    const int triangles = loaded->face_count;
    model* bunny = nullptr;
    // The mesh goes to the model only once the model's memory is had; a
    // model that fails to build frees it.
    try {
        bunny = new model(std::move(loaded), automatic_method(triangles, primary_rays));
    } catch (const std::bad_alloc&) {
        *error = std::string(mesh_path) + ": out of memory building the model (" + std::to_string(triangles) +
                 " triangles)";
        return false;
    } catch (const std::length_error&) {
        *error = std::string(mesh_path) + ": too many triangles for the hierarchy (" + std::to_string(triangles) + ")";
        return false;
    }
    bunny->color = {0.0f, 1.0f, 1.0f};
    bunny->specular = {0.7f, 0.7f, 0.7f};
    bunny->reflection = 0.0f;
    bunny->specular_power = 70.0f;
    bunny->refraction_index = 0.0f;
    s->objects[0] = bunny;

    std::printf("\tfinished loading model\n");
    std::printf("finished initialising scene\n\n");
    return true;
}
