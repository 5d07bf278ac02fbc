#include "shapes.h"

int rect_area(const struct rect *r) {
  return r->width * r->height;
}

int square_area(int side) {
  return SQUARE(side);
}
