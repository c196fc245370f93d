#include "app/image.h"

float image[image_width * image_height * 3];
