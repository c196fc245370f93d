#include "world/build_scene.h"

#include <cstdio>

#include "scene/light.h"
#include "scene/model.h"
#include "scene/plane.h"
#include "scene/scene.h"

void build_scene() { build_scene("bunny.obj"); }

void build_scene(const char* mesh_path) {
    scene* s = current_scene;

    // One light: the picture is defined with one.
    s->lights = new light*[1];
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

    // The mesh prints the loader's lines while it is built; its material is
    // set only once it exists.
    model* bunny = new model(mesh_path);
    bunny->color = {0.0f, 1.0f, 1.0f};
    bunny->specular = {0.7f, 0.7f, 0.7f};
    bunny->reflection = 0.0f;
    bunny->specular_power = 70.0f;
    bunny->refraction_index = 0.0f;
    s->objects[0] = bunny;

    std::printf("\tfinished loading model\n");
    std::printf("finished initialising scene\n\n");
}
