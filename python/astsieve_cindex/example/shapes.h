#ifndef SHAPES_H
#define SHAPES_H

#define SQUARE(x) ((x) * (x))

struct rect {
  int width;
  int height;
};

int rect_area(const struct rect *r);
int square_area(int side);

#endif
