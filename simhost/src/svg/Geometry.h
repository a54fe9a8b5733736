// Affine transforms and bounding boxes, for outlines drawn at one width on
// screen and for the boxes and areas of the selection picture.
#pragma once

#include <limits>
#include <string_view>

namespace simhost::svg {

struct Matrix {
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;

    // This transform applied after `inner`: outer.then(inner) maps inner's
    // coordinates to outer's outside.
    Matrix then(const Matrix& inner) const;
    void apply(double x, double y, double& outX, double& outY) const;
    // How much lengths grow, on average over directions: the square root of
    // the area factor.
    double scale() const;
};

// An SVG transform list ("translate(1 2) rotate(30)"); an invalid list is
// the identity, as a viewer ignores it.
Matrix parseTransform(std::string_view text);

struct Box {
    double x0 = std::numeric_limits<double>::infinity(), y0 = x0;
    double x1 = -std::numeric_limits<double>::infinity(), y1 = x1;

    bool empty() const { return !(x0 <= x1 && y0 <= y1); }
    void add(double x, double y);
    void add(const Box& box);
    // The box of `box`'s corners under `m`.
    void add(const Box& box, const Matrix& m);
    double width() const { return x1 - x0; }
    double height() const { return y1 - y0; }
};

}  // namespace simhost::svg
