// The selection picture: rendered by rsvg-convert and decoded here, so the
// outline's width, the boxes, the dimming and the area are measured in
// pixels.
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "simhost/svg/SvgDocument.h"

using namespace simhost;

namespace {

struct Image {
    int width = 0, height = 0;
    std::vector<unsigned char> rgba;  // 4 bytes a pixel, rows top down
    const unsigned char* at(int x, int y) const { return &rgba[(static_cast<std::size_t>(y) * width + x) * 4]; }
};

std::uint32_t bigEndian(const unsigned char* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

int paeth(int a, int b, int c) {
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// An 8-bit RGB or RGBA PNG, as rsvg-convert writes them (RGB with a
// background colour).
Image decodePng(const std::string& bytes) {
    Image image;
    std::size_t channels = 4;
    std::string compressed;
    for (std::size_t i = 8; i + 12 <= bytes.size();) {
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + i);
        const std::uint32_t length = bigEndian(p);
        const std::string type = bytes.substr(i + 4, 4);
        if (type == "IHDR") {
            image.width = static_cast<int>(bigEndian(p + 8));
            image.height = static_cast<int>(bigEndian(p + 12));
            if (p[16] != 8 || (p[17] != 6 && p[17] != 2)) throw std::runtime_error("not 8-bit RGB(A)");
            channels = p[17] == 6 ? 4 : 3;
        } else if (type == "IDAT") {
            compressed += bytes.substr(i + 8, length);
        }
        i += 12 + length;
    }
    const std::size_t stride = static_cast<std::size_t>(image.width) * channels;
    std::vector<unsigned char> raw((stride + 1) * static_cast<std::size_t>(image.height));
    uLongf size = static_cast<uLongf>(raw.size());
    if (uncompress(raw.data(), &size, reinterpret_cast<const Bytef*>(compressed.data()),
                   static_cast<uLong>(compressed.size())) != Z_OK)
        throw std::runtime_error("bad PNG data");
    std::vector<unsigned char> pixels(stride * static_cast<std::size_t>(image.height));
    for (int y = 0; y < image.height; ++y) {
        const unsigned char* line = &raw[static_cast<std::size_t>(y) * (stride + 1)];
        unsigned char* out = &pixels[static_cast<std::size_t>(y) * stride];
        const unsigned char* up = y > 0 ? out - stride : nullptr;
        for (std::size_t x = 0; x < stride; ++x) {
            const int a = x >= channels ? out[x - channels] : 0, b = up ? up[x] : 0;
            const int c = up && x >= channels ? up[x - channels] : 0;
            const int predictors[5] = {0, a, b, (a + b) / 2, paeth(a, b, c)};
            out[x] = static_cast<unsigned char>(line[1 + x] + predictors[line[0] % 5]);
        }
    }
    for (std::size_t i = 0; i < pixels.size(); i += channels) {
        image.rgba.insert(image.rgba.end(), &pixels[i], &pixels[i] + 3);
        image.rgba.push_back(channels == 4 ? pixels[i + 3] : 255);
    }
    return image;
}

// The options for a picture of the page `width` pixels wide.
PictureOptions page(int width) {
    PictureOptions options;
    options.area = PictureOptions::Area::kPage;
    options.width = width;
    return options;
}

// The picture of `text`, read from `path`, with the objects `ids` selected.
Image picture(const std::string& text, const std::vector<std::string>& ids, const PictureOptions& options,
              const std::string& path = "") {
    const SvgDocument svg = svgDocumentFromText(text, path.empty() ? "picture" : path);
    std::vector<ArtIndex> objects;
    for (const std::string& id : ids) objects.push_back(svg.document.find(id));
    const std::string png = ::testing::TempDir() + "picture.png";
    writeSelectionPng(svg, text, path, objects, options, png);
    Image image = decodePng(readDocumentBytes(png));
    std::remove(png.c_str());
    return image;
}

bool isOutline(const unsigned char* p) { return p[0] > 180 && p[1] < 120 && p[2] > 120; }  // #ff00c8

// The widest run of outline pixels across row `y`.
int outlineRun(const Image& image, int y) {
    int best = 0, run = 0;
    for (int x = 0; x < image.width; ++x) {
        run = isOutline(image.at(x, y)) ? run + 1 : 0;
        best = std::max(best, run);
    }
    return best;
}

// A drawing `size` units wide whose square from 20% to 80% is selected, drawn
// under a transform that quarters it, beside an unselected black square.
std::string scaled(double size) {
    auto n = [](double v) { return std::to_string(v); };
    return "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 " + n(size) + " " + n(size) + "'>"
           "<g transform='scale(0.25)'><rect id='s' x='" + n(size * 0.8) + "' y='" + n(size * 0.8) + "' width='" +
           n(size * 2.4) + "' height='" + n(size * 2.4) + "' fill='none' stroke='none'/></g>"
           "<rect id='other' x='0' y='0' width='" + n(size * 0.1) + "' height='" + n(size * 0.1) + "'/></svg>";
}

TEST(SvgPicture, OutlinesAreAboutTwoPixelsWideWhateverTheDrawingsScale) {
    for (const double size : {1.0, 1e6}) {
        const Image image = picture(scaled(size), {"s"}, page(400));
        EXPECT_EQ(image.width, 400) << size;
        const int run = outlineRun(image, image.height / 2);
        EXPECT_GE(run, 2) << size;
        EXPECT_LE(run, 3) << size;
    }
}

TEST(SvgPicture, UnselectedArtIsDimmedUnlessAskedAndSelectedObjectsGetABox) {
    PictureOptions options = page(200);
    const Image dimmed = picture(scaled(100), {"s"}, options);
    options.dim = false;
    const Image plain = picture(scaled(100), {"s"}, options);
    // The black square near the top left corner.
    const int x = 15, y = 15;
    EXPECT_GT(dimmed.at(x, y)[0], 150);
    EXPECT_LT(plain.at(x, y)[0], 60);
    // The box is orange (#ff7a00) and dashed around the outline.
    int orange = 0;
    for (int i = 0; i < plain.width * plain.height; ++i) {
        const unsigned char* p = &plain.rgba[static_cast<std::size_t>(i) * 4];
        orange += p[0] > 200 && p[1] > 80 && p[1] < 170 && p[2] < 80;
    }
    EXPECT_GT(orange, 100);
}

TEST(SvgPicture, TheAreaIsTheDrawingThePageOrTheSelection) {
    // A 200 x 100 page; a square selected object off the page to the right.
    const std::string text = "<svg xmlns='http://www.w3.org/2000/svg' width='200' height='100'>"
                             "<rect width='200' height='100' fill='#0f0'/>"
                             "<rect id='off' x='300' y='0' width='100' height='100' fill='#00f'/></svg>";
    PictureOptions options = page(400);
    // Each area gets a margin of 3% of its longer side all round.
    const Image page = picture(text, {"off"}, options);
    EXPECT_EQ(page.height, 211);  // 400 * 112 / 212
    options.area = PictureOptions::Area::kSelection;
    EXPECT_EQ(picture(text, {"off"}, options).height, 400);
    options.area = PictureOptions::Area::kDrawing;
    options.dim = false;
    const Image drawing = picture(text, {"off"}, options);
    EXPECT_EQ(drawing.height, 117);  // 400 * 124 / 424
    const unsigned char* blue = drawing.at(350, 50);  // the object off the page is seen
    EXPECT_LT(blue[0], 60);
    EXPECT_GT(blue[2], 200);
}

TEST(SvgPicture, LinkedImagesAreDrawnFromTheDrawingsFolder) {
    const std::string folder = ::testing::TempDir() + "linked-picture";
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/blue.svg") << "<svg xmlns='http://www.w3.org/2000/svg' width='10' height='10'>"
                                           "<rect width='10' height='10' fill='#00f'/></svg>";
    const std::string text = "<svg xmlns='http://www.w3.org/2000/svg' xmlns:xlink='http://www.w3.org/1999/xlink' "
                             "width='100' height='100'><image id='i' xlink:href='blue.svg' width='100' height='100'/>"
                             "</svg>";
    const std::string drawingPath = folder + "/drawing.svg";
    std::ofstream(drawingPath) << text;
    const Image image = picture(text, {"i"}, page(100), drawingPath);
    const unsigned char* middle = image.at(50, 50);
    EXPECT_LT(middle[0], 60);
    EXPECT_GT(middle[2], 200);
    // The temporary drawing beside the input is gone.
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) files += entry.is_regular_file();
    EXPECT_EQ(files, 2u);
    std::filesystem::remove_all(folder);
}

}  // namespace
