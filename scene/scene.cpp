#include "scene/scene.h"

scene* current_scene = nullptr;

void destroy_scene(scene* s) {
    if (s == nullptr) return;
    for (int i = 0; i < s->object_count; ++i) delete s->objects[i];
    for (int i = 0; i < s->light_count; ++i) delete s->lights[i];
    delete[] s->objects;
    delete[] s->lights;
}
