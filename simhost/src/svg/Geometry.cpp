#include "Geometry.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <string>

namespace simhost::svg {

Matrix Matrix::then(const Matrix& m) const {
    return {a * m.a + c * m.b,       b * m.a + d * m.b,       a * m.c + c * m.d,
            b * m.c + d * m.d,       a * m.e + c * m.f + e,   b * m.e + d * m.f + f};
}

void Matrix::apply(double x, double y, double& outX, double& outY) const {
    outX = a * x + c * y + e;
    outY = b * x + d * y + f;
}

double Matrix::scale() const { return std::sqrt(std::abs(a * d - b * c)); }

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ','; }

// One function of the list: its name and up to six numbers.
bool readFunction(std::string_view text, std::size_t& i, std::string& name, double* v, int& count) {
    while (i < text.size() && isSpace(text[i])) ++i;
    name.clear();
    while (i < text.size() && std::isalpha(static_cast<unsigned char>(text[i]))) name += text[i++];
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r')) ++i;
    if (name.empty() || i >= text.size() || text[i] != '(') return false;
    ++i;
    count = 0;
    for (;;) {
        while (i < text.size() && isSpace(text[i])) ++i;
        if (i < text.size() && text[i] == ')') return ++i, true;
        if (count == 6) return false;
        if (i < text.size() && text[i] == '+') ++i;
        const auto [end, ec] = std::from_chars(text.data() + i, text.data() + text.size(), v[count]);
        if (ec != std::errc()) return false;
        i = static_cast<std::size_t>(end - text.data());
        ++count;
    }
}

bool functionMatrix(const std::string& name, const double* v, int n, Matrix& m) {
    constexpr double kDegree = 3.14159265358979323846 / 180;
    if (name == "matrix" && n == 6) m = {v[0], v[1], v[2], v[3], v[4], v[5]};
    else if (name == "translate" && (n == 1 || n == 2)) m = {1, 0, 0, 1, v[0], n == 2 ? v[1] : 0};
    else if (name == "scale" && (n == 1 || n == 2)) m = {v[0], 0, 0, n == 2 ? v[1] : v[0], 0, 0};
    else if (name == "rotate" && (n == 1 || n == 3)) {
        const double cs = std::cos(v[0] * kDegree), sn = std::sin(v[0] * kDegree);
        m = {cs, sn, -sn, cs, 0, 0};
        if (n == 3) m = Matrix{1, 0, 0, 1, v[1], v[2]}.then(m).then({1, 0, 0, 1, -v[1], -v[2]});
    } else if (name == "skewX" && n == 1) m = {1, 0, std::tan(v[0] * kDegree), 1, 0, 0};
    else if (name == "skewY" && n == 1) m = {1, std::tan(v[0] * kDegree), 0, 1, 0, 0};
    else return false;
    return true;
}

}  // namespace

Matrix parseTransform(std::string_view text) {
    Matrix result;
    std::size_t i = 0;
    std::string name;
    for (;;) {
        while (i < text.size() && isSpace(text[i])) ++i;
        if (i >= text.size()) return result;
        double v[6];
        int n = 0;
        Matrix m;
        if (!readFunction(text, i, name, v, n) || !functionMatrix(name, v, n, m)) return Matrix();
        result = result.then(m);
    }
}

void Box::add(double x, double y) {
    if (!std::isfinite(x) || !std::isfinite(y)) return;
    x0 = std::min(x0, x);
    y0 = std::min(y0, y);
    x1 = std::max(x1, x);
    y1 = std::max(y1, y);
}

void Box::add(const Box& box) {
    if (box.empty()) return;
    add(box.x0, box.y0);
    add(box.x1, box.y1);
}

void Box::add(const Box& box, const Matrix& m) {
    if (box.empty()) return;
    for (const double x : {box.x0, box.x1})
        for (const double y : {box.y0, box.y1}) {
            double tx = 0, ty = 0;
            m.apply(x, y, tx, ty);
            add(tx, ty);
        }
}

}  // namespace simhost::svg
