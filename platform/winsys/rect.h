#pragma once
// Rectangles and points in pixels. A rectangle includes its left and top
// edges and excludes its right and bottom edges, so its width is
// right - left. Which coordinate system a rectangle is in (screen, a
// window's client area, a surface) is said where it is used.

#include <algorithm>
#include <cstdint>
#include <vector>

namespace lumvara::winsys {

struct Point {
  int32_t x = 0;
  int32_t y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

struct Rect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;

  int32_t width() const { return right - left; }
  int32_t height() const { return bottom - top; }
  // No pixel inside: zero or negative width or height.
  bool empty() const { return right <= left || bottom <= top; }
  bool contains(Point p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
  Rect offset(int32_t dx, int32_t dy) const { return {left + dx, top + dy, right + dx, bottom + dy}; }
  friend bool operator==(const Rect&, const Rect&) = default;
};

// The common part of two rectangles; an empty rectangle (all zero) when they
// do not overlap.
inline Rect Intersect(const Rect& a, const Rect& b) {
  Rect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
  return r.empty() ? Rect{} : r;
}

// The smallest rectangle holding both; an empty rectangle does not count.
inline Rect Union(const Rect& a, const Rect& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}

// What is left of `base` once `hole` is cut out, as up to four disjoint
// rectangles (bands above and below the hole, pieces left and right of it).
inline std::vector<Rect> Subtract(const Rect& base, const Rect& hole) {
  const Rect cut = Intersect(base, hole);
  if (cut.empty()) return base.empty() ? std::vector<Rect>{} : std::vector<Rect>{base};
  std::vector<Rect> pieces;
  const Rect candidates[] = {
      {base.left, base.top, base.right, cut.top},
      {base.left, cut.bottom, base.right, base.bottom},
      {base.left, cut.top, cut.left, cut.bottom},
      {cut.right, cut.top, base.right, cut.bottom},
  };
  for (const Rect& r : candidates) {
    if (!r.empty()) pieces.push_back(r);
  }
  return pieces;
}

}  // namespace lumvara::winsys
