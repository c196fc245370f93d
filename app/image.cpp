#include "app/image.h"

#include "scene/large_allocator.h"

float image[image_width * image_height * 3];

namespace {

// The picture is written once, by every render thread: huge pages save the
// first-touch faults of its 5.8 MB, where the system offers them. Asked for
// at start-up, before anything writes it.
const bool advised = (advise_huge_pages(image, sizeof image), true);

}  // namespace
