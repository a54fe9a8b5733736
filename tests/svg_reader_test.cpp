// The SVG reader: one fixture per mapping rule (tests/data/svg) and tables
// of cases (tests/data/tables/svg_reader.jsonc), the path
// data and style sheet parts on their own, bad input, and the marked drawing.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include "Css.h"
#include "PathData.h"
#include "Tables.h"
#include "simhost/XmlText.h"
#include "simhost/svg/SvgDocument.h"

using namespace simhost;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using nlohmann::json;
using test_tables::rows;

namespace {

std::string fixture(const std::string& name) { return std::string(WENDLOW_SVG_FIXTURES) + "/" + name; }

SvgDocument load(const std::string& name) { return loadSvgDocument(fixture(name)); }

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}


const ArtNode& art(const SvgDocument& svg, const std::string& id) {
    const ArtIndex index = svg.document.find(id);
    if (index == kNone) throw std::runtime_error("no object " + id);
    return svg.document.art(index);
}

bool has(const SvgDocument& svg, const std::string& id) { return svg.document.find(id) != kNone; }

std::string layerOf(const SvgDocument& svg, const std::string& id) {
    return svg.document.layer(art(svg, id).layer).name;
}

// Fill, stroke and dash count of a path, as "fill stroke dashes".
std::string paint(const ArtNode& node) {
    return std::to_string(node.fillPaint) + " " + std::to_string(node.strokePaint) + " " +
           std::to_string(node.dashCount);
}
std::string paint(const SvgDocument& svg, const std::string& id) { return paint(art(svg, id)); }

std::vector<std::uint8_t> closedOfChildren(const SvgDocument& svg, const std::string& id) {
    std::vector<std::uint8_t> closed;
    for (ArtIndex c = art(svg, id).firstChild; c != kNone; c = svg.document.art(c).nextSibling)
        closed.push_back(svg.document.art(c).closed);
    return closed;
}

std::string errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const DocumentError& e) {
        return e.what();
    }
    return "no error";
}

// A drawing of `body` (with `rootAttributes` on its root), read from text.
SvgDocument drawing(const std::string& body, const std::string& rootAttributes = "", const std::string& version = "") {
    return svgDocumentFromText((version.empty() ? "" : "<?xml version='" + version + "'?>") +
                                   "<svg xmlns='http://www.w3.org/2000/svg' xmlns:xlink='http://www.w3.org/1999/xlink' " +
                                   rootAttributes + ">" + body + "</svg>",
                               "inline");
}

// ---- Layers and guides -------------------------------------------------------

// Each layer as its name, with "hidden" and "locked" when so.
std::string layers(const SvgDocument& svg) {
    std::string text;
    for (std::size_t i = 0; i < svg.document.layerCount(); ++i) {
        const auto& layer = svg.document.layer(static_cast<LayerIndex>(i));
        text += (i ? ", " : "") + layer.name + (layer.visible ? "" : " hidden") + (layer.editable ? "" : " locked");
    }
    return text;
}

// An object as "type on layer" with its marks, or "none" when it is no art.
std::string object(const SvgDocument& svg, const std::string& id) {
    if (!has(svg, id)) return "none";
    const ArtNode& node = art(svg, id);
    const ai::int32 rest = node.attributes & ~(kArtHidden | kArtLocked);
    return std::string(artTypeName(node.type)) + " on " + layerOf(svg, id) +
           (node.attributes & kArtHidden ? " hidden" : "") + (node.attributes & kArtLocked ? " locked" : "") +
           (node.guide ? " guide" : "") + (rest ? " attributes " + std::to_string(rest) : "");
}

// Inkscape layers carry their own flags (their objects stay unmarked); a
// nested layer or a plain group is a group. Without Inkscape layers every
// top-level group is one, and a plain group before the first is art. Guides
// are guide paths on a layer of their own, of the new form and the old.
TEST(SvgLayers, LayersGuidesAndTheLayerOfEachObject) {
    for (const json& c : rows("svg_reader", "layers")) {
        const SvgDocument svg = load(c[0]);
        EXPECT_EQ(layers(svg), c[1]) << c[0];
        for (const json& o : c[2]) EXPECT_EQ(object(svg, o[0]), o[1]) << c[0] << " " << o[0];
    }
    // The layer's element is the layer's root group, which has no parent.
    EXPECT_EQ(art(load("layers-inkscape.svg"), "l1").parent, kNone);
    const SvgDocument guides = load("guides.svg");
    EXPECT_EQ(guides.idOf(art(guides, "own-lock").nextSibling), "/svg/sodipodi:namedview/sodipodi:guide[3]");
}

// ---- Objects ---------------------------------------------------------------

// Elements map to their kinds; paths of several subpaths are compound paths
// of one path each; nothing in definitions or unknown elements is art.
TEST(SvgObjects, ElementsMapToTheirKinds) {
    const SvgDocument svg = load("objects.svg");
    const auto kindOf = [&svg](const std::string& id) -> std::string {
        if (!has(svg, id)) return "none";
        const ArtNode& node = art(svg, id);
        return artTypeName(node.type) + (node.type == kPathArt ? " " + std::to_string(node.closed) : "");
    };
    for (const json& kind : rows("svg_reader", "objects"))
        for (const json& id : kind[1]) EXPECT_EQ(kindOf(id), kind[0]) << id;
    EXPECT_EQ(art(svg, "deep").parent, svg.document.find("nested"));
    EXPECT_THAT(closedOfChildren(svg, "compound"), ElementsAre(1, 0, 1));
    // A drawing command right after a closepath starts the next subpath.
    EXPECT_THAT(closedOfChildren(svg, "reopened"), ElementsAre(1, 0));
}

// ---- Style -------------------------------------------------------------------

// Fill, stroke and dash count ("fill stroke dashes") of each path of
// style.svg: attributes, style attributes and inheritance; style sheet rules
// by specificity, order and importance; paint servers referenced anywhere.
TEST(SvgStyle, AttributesStyleSheetsAndInheritanceGiveFillStrokeAndDashes) {
    const SvgDocument svg = load("style.svg");
    for (const json& c : rows("svg_reader", "style")) EXPECT_EQ(paint(svg, c[0]), c[1]) << c[0];
    EXPECT_EQ(paint(load("late-style.svg"), "styled-later"), "0 0 0");
}

// Shapes filled with a mesh gradient are meshes.
TEST(SvgObjects, ShapesFilledWithAMeshAreMeshes) {
    const SvgDocument mesh = load("mesh.svg");
    const std::pair<const char*, AIArtType> cases[] = {{"mesh-rect", kMeshArt}, {"mesh-inherited", kMeshArt},
        {"mesh-compound", kMeshArt}, {"mesh-text", kTextArt}, {"stroke-only", kPathArt}};
    for (const auto& [id, type] : cases) EXPECT_EQ(art(mesh, id).type, type) << id;
    EXPECT_EQ(art(mesh, "mesh-compound").firstChild, kNone);
}

// ---- Hidden and locked ------------------------------------------------------------

// Hidden and locked as a viewer sees them; a switch shows only its first
// child an English viewer accepts.
TEST(SvgVisibility, HiddenAndLockedAsAViewerSeesThemAndSwitchesShowOneChild) {
    const SvgDocument svg = load("hidden-locked.svg");
    const std::map<std::string, ai::int32> attributes = {{"", 0}, {"hidden", kArtHidden}, {"locked", kArtLocked}};
    for (const json& c : rows("svg_reader", "visibility"))
        for (const json& id : c[1]) EXPECT_EQ(art(svg, id).attributes, attributes.at(c[0])) << id;
}

// ---- Drawings read as their authors saw them ---------------------------------------------

// Each guide of the old form is drawn where Inkscape shows it: y measured up
// from the bottom of the 100-unit-high page.
TEST(SvgOldInkscape, GuidesAreDrawnWhereInkscapeShowsThem) {
    const SvgDocument svg = load("old-inkscape.svg");
    pugi::xml_document xml;
    ASSERT_TRUE(xml.load_string(markedSvg(svg, readFile(fixture("old-inkscape.svg")),
                                          {svg.document.find("across"), svg.document.find("down"),
                                           svg.document.find("today")}).c_str()));
    for (const auto& [id, expected] : {std::pair{"across", "70,70 -1e+06,1e+06"}, {"down", "-999900,1000100 50,50"},
                                       {"today", "30,30 -1e+06,1e+06"}}) {
        const pugi::xml_node l = xml.select_node(("//g[@data-simhost-id='" + std::string(id) + "']/line").c_str()).node();
        EXPECT_EQ(std::string(l.attribute("y1").value()) + "," + l.attribute("y2").value() + " " +
                      l.attribute("x1").value() + "," + l.attribute("x2").value(), expected) << id;
    }
}

TEST(SvgPaint, DashCountsFollowTheRenderingRules) {
    for (const json& c : rows("svg_reader", "dashes")) {
        const SvgDocument svg = drawing("<rect id='r' stroke='#000' stroke-dasharray='4 4 4' style='stroke-dasharray:" +
                                        c[0].get<std::string>() + "'/>");
        EXPECT_EQ(art(svg, "r").dashCount, c[1] < 0 ? 3 : c[1].get<int>()) << c[0];
    }
}

// The elements each style sheet reaches with "{}" (fill: none; display:
// none), as "root a c": the shapes whose fill becomes none (each has a fill of
// its own, so none is never inherited) and the root, whose display hides every
// layer. A selector alone stands for its rule. Each row was checked in a
// browser, with querySelectorAll and getComputedStyle, on the same markup.
TEST(SvgCascade, SheetsReachTheElementsABrowserMatches) {
    const char* body =
        "<rect id='a' class='x' fill='red'/><rect id='b' fill='red' lang='en-GB'/><title/>"
        "<circle id='c' class='x y' fill='red'/><g id='g'><path id='e' fill='red'/>"
        "<rect id='f' class='y' fill='red'/><rect id='h' fill='red'/><circle id='i' fill='red'/>"
        "<rect id='j' fill='red'/></g><rect id='d' fill='red'/>";
    for (const json& c : rows("svg_reader", "cascade")) {
        std::string sheet = c[0];
        if (sheet.find('{') == std::string::npos) sheet += " {}";
        for (std::size_t at = sheet.find("{}"); at != std::string::npos; at = sheet.find("{}", at))
            sheet.replace(at, 2, "{ fill: none; display: none }");
        const SvgDocument svg = drawing("<style>" + sheet + "</style>" + body, "id='root' class='sheet' data-kind='drawing'");
        std::string got = svg.document.layer(0).visible ? "" : "root";
        for (const char* id : {"a", "b", "c", "d", "e", "f", "h", "i", "j"})
            if (art(svg, id).fillPaint == 0) got += (got.empty() ? "" : " ") + std::string(id);
        EXPECT_EQ(got, c[1]) << c[0];
    }
}

// A drawing's #r as "type fill stroke dashes", and "hidden" when so:
// declarations that do not parse are dropped, paint that paints nothing is
// none, an unparsed display keeps the cascade, failed conditions hide any
// element, and objects that draw nothing stay objects.
TEST(SvgInline, WhatEachDeclarationAndConditionMakesOfAnObject) {
    for (const json& c : rows("svg_reader", "inline")) {
        const SvgDocument svg = drawing(c[0]);
        const ArtNode& r = art(svg, "r");
        EXPECT_EQ(artTypeName(r.type) + (" " + paint(r)) + (r.attributes & kArtHidden ? " hidden" : ""), c[1]) << c[0];
    }
    EXPECT_EQ(art(drawing("<path id='r' d='M 10 10'/>"), "r").closed, 0);
    const SvgDocument hiddenRoot = drawing("<style>:root { display: none }</style><rect id='r'/>");
    EXPECT_EQ(hiddenRoot.document.layer(0).visible, 0);
    const SvgDocument foreign = drawing("<g inkscape:groupmode='layer' systemLanguage='fr' "
                                        "xmlns:inkscape='http://www.inkscape.org/namespaces/inkscape'><rect/></g>");
    EXPECT_EQ(foreign.document.layer(0).visible, 0);
}

// Where systemLanguage holds for viewers of en, en-US and en-GB ("1" for
// each), as a browser run in each language decides.
TEST(SvgConditions, SystemLanguageHoldsForTheViewersLanguageAndItsSubtags) {
    for (const json& c : rows("svg_reader", "systemLanguage")) {
        const std::string list = c[0];
        std::string got;
        for (const char* language : {"en", "en-US", "en-GB"}) got += svg::systemLanguageMatches(list, language) ? '1' : '0';
        EXPECT_EQ(got, c[1]) << '"' << list << '"';
    }
}

TEST(SvgEncodings, SingleByteEncodingsAreReadAndMarkedAsUtf8) {
    const SvgDocument svg = load("windows-1252.svg");
    EXPECT_TRUE(has(svg, "caf\xC3\xA9"));
    const std::string marked = markedSvg(svg, readFile(fixture("windows-1252.svg")), {svg.document.find("caf\xC3\xA9")});
    EXPECT_THAT(marked, HasSubstr("encoding=\"UTF-8\""));
    EXPECT_THAT(marked, HasSubstr("Caf\xC3\xA9 \xE2\x82\xAC"));
    EXPECT_EQ(marked.find('\xE9'), std::string::npos);  // no byte of the old encoding is left
    EXPECT_THAT(errorOf([] { svgDocumentFromText("<?xml version='1.0' encoding='Shift_JIS'?><svg/>", "sjis"); }),
                HasSubstr("unknown encoding"));

    // An outline added to an svg:-prefixed drawing is in the SVG namespace.
    const SvgDocument prefixed = load("prefixed-marked.svg");
    pugi::xml_document xml;
    ASSERT_TRUE(xml.load_string(markedSvg(prefixed, readFile(fixture("prefixed-marked.svg")), {prefixed.document.find("r")}).c_str()));
    EXPECT_STREQ(xml.select_node("//g[@id='simhost-selection']").node().attribute("xmlns").value(),
                 "http://www.w3.org/2000/svg");
}

// ---- Ids -------------------------------------------------------------------------------

TEST(SvgIds, ElementsWithoutAnIdAreNamedByTheirPathFromTheRoot) {
    const SvgDocument svg = load("ids.svg");
    std::vector<std::string> ids;
    for (const ArtIndex index : svg.document.documentOrder()) ids.push_back(svg.idOf(index));
    // The default layer comes first: its rectangle is the first art.
    EXPECT_THAT(ids, ElementsAre("/svg", "/svg/rect[1]", "/svg/g[1]", "/svg/g[2]", "/svg/g[2]/path[1]",
                                 "/svg/g[2]/rect[1]", "/svg/g[2]/path[2]", "named", "named/subpath[1]",
                                 "named/subpath[2]", "/svg/g[2]/path[4]", "/svg/g[2]/path[4]/subpath[1]",
                                 "/svg/g[2]/path[4]/subpath[2]"));
}

// ---- Drawings as tools write them ----------------------------------------------------------

// An Illustrator export with entities, a switch and classes (its paths as
// "closed fill stroke dashes attributes"); a symbolic icon ending its paths
// with a lone moveto that is no subpath (each object's type and closed state).
TEST(SvgRealWorld, ExportsOfOtherToolsReadAsTheyLook) {
    const SvgDocument svg = load("illustrator.svg"), icon = load("icon-theme.svg");
    std::vector<std::string> paths, kinds;
    for (const ArtIndex index : svg.document.documentOrder()) {
        const ArtNode& node = svg.document.art(index);
        if (node.type == kPathArt)
            paths.push_back(svg.idOf(index) + " " + std::to_string(node.closed) + " " + paint(node) + " " +
                            std::to_string(node.attributes));
    }
    EXPECT_THAT(paths, ElementsAre("/svg/switch[1]/g[1]/g[1]/rect[1] 1 1 1 0 0",
                                   "/svg/switch[1]/g[1]/g[1]/polyline[1] 0 0 1 2 0",
                                   "/svg/switch[1]/g[1]/g[1]/path[1] 1 1 1 0 0"));
    for (const ArtIndex index : icon.document.documentOrder())
        kinds.push_back(icon.idOf(index) + " " + artTypeName(icon.document.art(index).type) + " " +
                        std::to_string(icon.document.art(index).closed));
    EXPECT_THAT(kinds, ElementsAre("/svg group 0", "/svg/path[1] compoundPath 0", "/svg/path[1]/subpath[1] path 1",
                                   "/svg/path[1]/subpath[2] path 1", "/svg/path[2] compoundPath 0",
                                   "/svg/path[2]/subpath[1] path 1", "/svg/path[2]/subpath[2] path 1",
                                   "/svg/rect[1] path 1"));
}

// ---- Path data and style sheets on their own -------------------------------------------------

// Each subpath drawn, "z" closed or "-" open.
TEST(SvgPathData, SubpathsAreCountedByCommandsAndMovetoNumbers) {
    for (const json& c : rows("svg_reader", "subpaths")) {
        const std::string d = c[0];
        std::vector<bool> closed;
        svg::scanSubpaths(d, closed);
        std::string got;
        for (const bool z : closed) got += z ? 'z' : '-';
        EXPECT_EQ(got, c[1]) << '"' << d << '"';
    }
    EXPECT_EQ(svg::drawnPathData("M 10 10 L 50 10 L 50 Z M 100 100 L 120 120"), "M 10 10 L 50 10");
    EXPECT_EQ(svg::drawnPathData("M 0 0 h 1 z 5"), "M 0 0 h 1 z");
}

TEST(SvgPathData, EachSubpathStandsAloneWithAnAbsoluteStart) {
    EXPECT_THAT(svg::splitSubpaths("m 10 10 h 5 z m 5 5 l 1 1 m 0 0"), ElementsAre("M10 10 h 5 z ", "M15 15 l 1 1 "));
    EXPECT_THAT(svg::splitSubpaths("M1 2 3 4 5 6"), ElementsAre("M1 2 L 3 4 5 6"));
    EXPECT_THAT(svg::splitSubpaths("M0 0 L5 0 Z L 1 1"), ElementsAre("M0 0 L5 0 Z ", "M0 0 L 1 1"));
    EXPECT_THAT(svg::splitSubpaths("M0 0 a 5 5 0 1010 0 m 1 1 c1 1 2 2 3 3"),
                ElementsAre("M0 0 a 5 5 0 1010 0 ", "M11 1 c1 1 2 2 3 3"));
}

// ---- Bad input ------------------------------------------------------------------------------------

TEST(SvgBadInput, EachFailsWithAOneLineReasonAndExternalEntitiesAreNeverFetched) {
    for (const json& c : rows("svg_reader", "badFiles")) {
        const std::string error = errorOf([&c] { load(c[0]); });
        EXPECT_THAT(error, HasSubstr(c[1].get<std::string>())) << c[0];
        EXPECT_EQ(error.find('\n'), std::string::npos) << c[0];
    }
    // XML 1.0 reads the versions 1.x; the others are malformed.
    for (const json& c : rows("svg_reader", "versions"))
        EXPECT_THAT(errorOf([&c] { drawing("", "", c[0]); }), HasSubstr(c[1].get<std::string>())) << c[0];
    const SvgDocument svg = load("bad/external-entity.svg");
    EXPECT_TRUE(has(svg, "r"));
    EXPECT_EQ(art(svg, "t").type, kTextArt);
}

TEST(SvgBadInput, DeepNestingIsRefusedWithoutRecursionAndModerateNestingIsRead) {
    auto nested = [](int depth) {
        std::string text = "<svg xmlns='http://www.w3.org/2000/svg'>";
        for (int i = 0; i < depth; ++i) text += "<g>";
        text += "<rect width='1' height='1'/>";
        for (int i = 0; i < depth; ++i) text += "</g>";
        return text + "</svg>";
    };
    const SvgDocument fine = svgDocumentFromText(nested(1000), "fine");
    const ArtIndex bottom = fine.document.documentOrder().back();
    EXPECT_EQ(fine.idOf(bottom).size(), std::string("/svg").size() + 1000 * 5 + 8);  // "/g[1]" ... "/rect[1]"
    EXPECT_THAT(errorOf([&] { svgDocumentFromText(nested(1'000'000), "deep"); }),
                HasSubstr("nested more than 1024 levels deep"));
}

// ---- Compressed drawings ----------------------------------------------------------------------------


TEST(SvgCompressed, GzipDataIsInflatedWhateverTheName) {
    const std::string plain = readFile(fixture("objects.svg"));
    const std::string path = ::testing::TempDir() + "objects-compressed.svg";
    gzFile out = gzopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    gzwrite(out, plain.data(), static_cast<unsigned>(plain.size()));
    gzclose(out);
    const SvgDocument svg = loadSvgDocument(path);
    EXPECT_EQ(svg.document.artCount(), load("objects.svg").document.artCount());
    EXPECT_EQ(readDocumentBytes(path), plain);

    // Cut short: a clear error, not a partial drawing.
    const std::string compressed = readFile(path);
    const std::string cut = ::testing::TempDir() + "cut.svgz";
    std::ofstream(cut, std::ios::binary) << compressed.substr(0, compressed.size() / 2);
    EXPECT_THAT(errorOf([&] { loadSvgDocument(cut); }), HasSubstr("cut.svgz: broken gzip data: truncated"));
    std::ofstream(cut, std::ios::binary) << compressed.substr(0, 12);
    EXPECT_THAT(errorOf([&] { loadSvgDocument(cut); }), HasSubstr("broken gzip data: truncated"));
    std::remove(path.c_str());
    std::remove(cut.c_str());
}


TEST(SvgStreams, StandardInputAndNamedPipesAreReadAsStreams) {
    // Its style sheet comes after the art it styles: read twice.
    const std::string text = "<svg xmlns='http://www.w3.org/2000/svg'><rect id='r'/><style>rect{fill:none}</style></svg>";
    auto feed = [&text](int fd) {
        return std::thread([fd, &text] {
            EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
            close(fd);
        });
    };
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const int saved = dup(STDIN_FILENO);
    dup2(fds[0], STDIN_FILENO);
    close(fds[0]);
    std::thread writer = feed(fds[1]);
    const std::string error = errorOf([] { EXPECT_EQ(paint(loadSvgDocument("-"), "r"), "0 0 0"); });
    writer.join();
    dup2(saved, STDIN_FILENO);
    close(saved);
    EXPECT_EQ(error, "no error");

    const std::string fifo = ::testing::TempDir() + "drawing-fifo.svg";
    std::remove(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::thread opener([&] { writer = feed(open(fifo.c_str(), O_WRONLY)); });
    EXPECT_EQ(readDocumentBytes(fifo), text);
    opener.join();
    writer.join();
    std::remove(fifo.c_str());
}

// ---- Marked drawings -------------------------------------------------------------------------------------

TEST(SvgMarked, OneOutlineOverEachObjectOnTopOfTheUnchangedDrawing) {
    const std::string text = readFile(fixture("objects.svg"));
    const SvgDocument svg = svgDocumentFromText(text, "objects.svg");
    const std::vector<ArtIndex> objects = {svg.document.find("group"), svg.document.find("rect"),
                                           svg.document.find("instance"),
                                           svg.document.art(svg.document.find("compound")).firstChild};
    const std::string marked = markedSvg(svg, text, objects);

    const std::size_t end = text.rfind("</svg>");
    EXPECT_EQ(marked.substr(0, end), text.substr(0, end));
    EXPECT_EQ(marked.substr(marked.size() - (text.size() - end)), text.substr(end));
    pugi::xml_document xml;
    ASSERT_TRUE(xml.load_string(marked.c_str()));
    std::vector<std::string> ids;
    for (const pugi::xpath_node& n : xml.select_nodes("/svg/g[@id='simhost-selection']/g[@class='simhost-outline']"))
        ids.push_back(n.node().attribute("data-simhost-id").value());
    EXPECT_THAT(ids, ElementsAre("group", "rect", "instance", "compound/subpath[1]"));
    // The subpath's outline is that subpath alone.
    const pugi::xml_node subpath = xml.select_node("//g[@data-simhost-id='compound/subpath[1]']/path").node();
    EXPECT_STREQ(subpath.attribute("d").value(), "M0 0 L1 1 Z ");
    // The group's outline repeats the shapes below it.
    EXPECT_EQ(xml.select_nodes("//g[@data-simhost-id='group']//path").size(), 1u);
    // The symbol instance's outline draws the symbol's shapes.
    EXPECT_EQ(xml.select_nodes("//g[@data-simhost-id='instance']//rect").size(), 1u);
}

}  // namespace

// Ids and reports carry whatever names a drawing or a plug-in gives: the
// escape must make well-formed XML of any of them that reads back as
// written (characters XML cannot hold as spaces). Read through expat, which
// refuses what a lenient parser would let by.
TEST(XmlText, AnyStringReadsBackThroughAStrictParser) {
    const std::string hostile = std::string("a&b<c>d\"e'f\tg\nh\x01i\x1fj&amp;") + "\xc3\xa9";
    // Attribute values normalise tab and line feed to spaces on reading.
    const std::string expected = std::string("a&b<c>d\"e'f g h i j&amp;") + "\xc3\xa9";
    const std::string xml = "<svg xmlns=\"http://www.w3.org/2000/svg\"><path id=\"" + simhost::xmlEscaped(hostile) +
                            "\" d=\"M0 0h1\"/><desc>" + simhost::xmlEscaped(hostile) + "</desc></svg>";
    const simhost::SvgDocument svg = simhost::svgDocumentFromText(xml, "escaped.svg");
    ASSERT_EQ(svg.document.layerCount(), 1u) << xml;
    EXPECT_EQ(svg.idOf(svg.document.art(svg.document.rootOf(0)).firstChild), expected);
}
