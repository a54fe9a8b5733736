// The SVG reader: one fixture per mapping rule (tests/data/svg), the path
// data and style sheet parts on their own, bad input, and the marked drawing.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include "Css.h"
#include "PathData.h"
#include "simhost/svg/SvgDocument.h"

using namespace simhost;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

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
    struct Case { const char* fixture; const char* layers; std::vector<std::pair<const char*, const char*>> objects; };
    const Case cases[] = {
        {"layers-inkscape.svg", "Default layer, Visible, Hidden hidden, Locked locked, l4 hidden locked",
         {{"in-hidden", "path on Hidden"}, {"in-locked", "path on Locked"}, {"sublayer", "group on Visible"},
          {"in-sublayer", "path on Visible"}, {"plain-group", "group on Default layer"},
          {"in-plain-group", "path on Default layer"}, {"before", "path on Default layer"}}},
        {"layers-plain.svg", "first, Default layer, second hidden", {{"outside", "path on Default layer"}}},
        {"layers-late.svg", "Default layer, Layer", {{"plain", "group on Default layer"}, {"r2", "path on Layer"}}},
        {"prefixed.svg", "layer", {{"r", "path on layer"}, {"private", "none"}}},  // svg: under any prefix
        {"guides.svg", "Art, Guides", {{"free", "path on Guides guide"}, {"own-lock", "path on Guides locked guide"}}},
        {"guides-locked.svg", "Guides", {{"g1", "path on Guides hidden locked guide"}}},
        {"old-inkscape.svg", "Locked locked, Open, Guides",
         {{"locked-object", "path on Open locked"}, {"free-object", "path on Open"}, {"across", "path on Guides guide"},
          {"down", "path on Guides guide"}, {"today", "path on Guides guide"}}},
    };
    for (const Case& c : cases) {
        const SvgDocument svg = load(c.fixture);
        EXPECT_EQ(layers(svg), c.layers) << c.fixture;
        for (const auto& [id, expected] : c.objects) EXPECT_EQ(object(svg, id), expected) << c.fixture << " " << id;
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
    const std::pair<AIArtType, std::vector<const char*>> kinds[] = {
        {kGroupArt, {"group", "link", "switch", "nested"}},
        {kPathArt, {"rect", "circle", "ellipse", "polygon", "closed", "closed-lower", "line", "polyline", "open",
                    "deep", "empty"}},
        {kRasterArt, {"embedded", "embedded-svg2"}}, {kPlacedArt, {"linked", "no-reference"}},
        {kSymbolArt, {"instance", "broken-instance"}}, {kTextArt, {"text"}}, {kOtherArt, {"foreign"}},
        {kCompoundPathArt, {"compound", "reopened"}},
    };
    for (const auto& [type, ids] : kinds)
        for (const char* id : ids) EXPECT_EQ(art(svg, id).type, type) << id;
    for (const char* id : {"rect", "circle", "ellipse", "polygon", "closed", "closed-lower"})
        EXPECT_EQ(art(svg, id).closed, 1) << id;
    for (const char* id : {"line", "polyline", "open", "deep", "empty"}) EXPECT_EQ(art(svg, id).closed, 0) << id;
    EXPECT_EQ(art(svg, "deep").parent, svg.document.find("nested"));
    EXPECT_THAT(closedOfChildren(svg, "compound"), ElementsAre(1, 0, 1));
    // A drawing command right after a closepath starts the next subpath.
    EXPECT_THAT(closedOfChildren(svg, "reopened"), ElementsAre(1, 0));
    for (const char* id : {"sym", "in-symbol", "in-defs", "clip", "in-clip", "mask", "in-mask", "pattern",
                           "in-pattern", "marker", "in-marker", "unknown", "in-unknown", "foreign-ns",
                           "in-foreign-ns", "span"})
        EXPECT_FALSE(has(svg, id)) << id;
}

// ---- Style -------------------------------------------------------------------

// Fill, stroke and dash count ("fill stroke dashes") of each path of
// style.svg: attributes, style attributes and inheritance; style sheet rules
// by specificity, order and importance; paint servers referenced anywhere.
TEST(SvgStyle, AttributesStyleSheetsAndInheritanceGiveFillStrokeAndDashes) {
    const std::pair<const char*, const char*> cases[] = {
        {"default", "1 0 0"},  // fill black, stroke none
        {"attr-none", "0 1 0"},        {"style-attr", "0 1 2"},       {"style-over-attr", "1 0 0"},
        {"inherits", "0 1 1"},         {"overrides", "1 0 0"},        {"explicit-inherit", "0 1 1"},
        // A negative entry drops the declaration; a list summing to zero draws solid.
        {"bad-dash", "1 1 2"},         {"dash-zero", "1 1 0"},
        {"class", "0 1 0"},            {"class-dash", "0 1 3"},       {"by-id", "1 1 0"},
        {"rule-over-attr", "0 1 0"},   {"style-over-rule", "1 1 0"},  {"specificity", "1 0 0"},
        {"important", "0 0 0"},        {"child-rule", "0 1 0"},       {"grandchild", "1 0 0"},
        {"descendant", "1 0 2"},       {"attribute-rule", "0 0 0"},   {"sibling-rule", "1 1 0"},
        {"hover-only", "1 0 0"},       {"missing-paint", "0 0 0"},    {"missing-paint-fallback", "1 0 0"},
        {"gradient", "1 0 0"},  // defined after its use
    };
    const SvgDocument svg = load("style.svg");
    for (const auto& [id, expected] : cases) EXPECT_EQ(paint(svg, id), expected) << id;
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
    const std::pair<ai::int32, std::vector<const char*>> cases[] = {
        {0, {"shown", "visible-again", "not-locked", "english", "in-english"}},
        {kArtHidden, {"display-none", "hidden-group", "under-hidden", "invisible", "collapsed", "invisible-group",
                      "inherits-invisible", "extension", "french", "in-french", "fallback", "in-fallback"}},
        {kArtLocked, {"locked", "locked-group", "under-locked"}}};
    for (const auto& [attributes, ids] : cases)
        for (const char* id : ids) EXPECT_EQ(art(svg, id).attributes, attributes) << id;
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
    struct Case {
        const char* value;
        int count;  // -1: ignored, the attribute's "4 4 4" stays
    };
    const Case cases[] = {
        {"5", 1},        {"5 10%", 2},     {"1mm,2px 3em", 3}, {"0", 0},      {"0 0", 0},       {"0, 0.0", 0},
        {"-5 5", -1},    {"5 -0", 2},      {"none", 0},        {"5qq 5", -1}, {"5,,5", -1},     {"5,5,", -1},
        {". 5", -1},     {",5", -1},       {"5 5 ,", -1},      {"1e1 2E-1", 2}, {"5px5", -1},   {"", -1},
        {"5 !important", 1},
    };
    for (const Case& c : cases) {
        const SvgDocument svg =
            drawing("<rect id='r' stroke='#000' stroke-dasharray='4 4 4' style='stroke-dasharray:" + std::string(c.value) + "'/>");
        EXPECT_EQ(art(svg, "r").dashCount, c.count < 0 ? 3 : c.count) << c.value;
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
    const std::pair<const char*, const char*> cases[] = {
        {"svg", "root"},
        {"[data-kind]", "root"},
        {"svg[data-kind=drawing] > rect", "a b d"},
        {"[class~=sheet] circle", "c i"},
        {"[id^=ro]:not([lang])", "root"},
        {"[lang|=en]", "b"},
        {":root > .x", "a c"},
        {"rect ~ rect", "b d h j"},
        {"rect + rect", "b h"},
        {"rect + circle", "i"},  // the title stands between b and c
        {"title + circle, title ~ rect", "c d"},
        {"#a ~ .x", "c"},
        {".x + rect", "b"},
        {"rect:not(.x, #b)", "d f h j"},
        {":not(rect, circle)", "root e"},
        {":nth-child(odd)", "root b c d e h j"},  // the <style> is the first child; the root its own
        {":nth-child(even)", "a f i"},
        {":nth-child(-n+3)", "root a b e f h"},
        {":nth-child(0n+2), :nth-child(n+7)", "a d f"},
        {":nth-child(-2n+5)", "root b c e h j"},
        {":nth-child(3n-1)", "a c f j"},
        {"#g > :not(:nth-child(odd))", "f i"},
        {":first-child", "root e"},
        {":last-child", "root d j"},
        {"rect:nth-of-type(2)", "b h"},
        {":nth-of-type(odd)", "root a c d e f i j"},
        {"rect:nth-of-type(-n+2), circle:first-of-type", "a b c f h i"},
        {"rect:hover, #b", "b"},
        {"rect::before, #c", "c"},
        {"#a ! #b, #d", ""},  // one invalid selector drops the rule
        // Comments, at-rules and their blocks, and the old HTML comment marks.
        {"/* #c{} */ @font-face { #d {} } @import 'x.css'; &lt;!-- #a, #b {} --&gt;", "a b"},
        {"@media screen { #a {} } @media print { #b {} }", "a"},
        {"@media (prefers-color-scheme: dark) { #a {} } @media (prefers-color-scheme: light) { #b {} }", "b"},
        {"@media not print, speech { #a {} } @media screen and (prefers-color-scheme: dark), bogus { #b {} }", "a"},
        {"@media only screen { @media not all { #a {} } #b {} } @media { #c {} }", "b c"},
        {"@media not (prefers-color-scheme: dark) { #a {} } @media ALL and (prefers-color-scheme: light) { #b {} }",
         "a b"},
        // No window: a browser applies this one in any window.
        {"@media (min-width: 0) { #a {} }", ""},
        {"svg { --p: none } #a { fill: var(--p) } #b { fill: var(--q, none) } #c { fill: var(--q) }", "a b"},
        {"#g { --p: none } #g > rect { --q: red; fill: var(--p) } #d { fill: var(--p) }", "f h j"},
        {".x { --p: red } #a { --p: none } rect, circle { fill: var(--p, var(--q, none)) }", "a b d f h i j"},
        {"svg { --p: none; --q: var(--p) } #a { fill: var(--q) }", "a"},
        // A var() naming nothing unsets fill, which inherits; the element's
        // own fill attribute no longer counts.
        {"svg { fill: none } #a, #b { fill: var(--missing) }", "a b"},
    };
    for (const auto& [css, expected] : cases) {
        std::string sheet = css;
        if (sheet.find('{') == std::string::npos) sheet += " {}";
        for (std::size_t at = sheet.find("{}"); at != std::string::npos; at = sheet.find("{}", at))
            sheet.replace(at, 2, "{ fill: none; display: none }");
        const SvgDocument svg = drawing("<style>" + sheet + "</style>" + body, "id='root' class='sheet' data-kind='drawing'");
        std::string got = svg.document.layer(0).visible ? "" : "root";
        for (const char* id : {"a", "b", "c", "d", "e", "f", "h", "i", "j"})
            if (art(svg, id).fillPaint == 0) got += (got.empty() ? "" : " ") + std::string(id);
        EXPECT_EQ(got, expected) << css;
    }
}

// A drawing's #r as "type fill stroke dashes", and "hidden" when so:
// declarations that do not parse are dropped, paint that paints nothing is
// none, an unparsed display keeps the cascade, failed conditions hide any
// element, and objects that draw nothing stay objects.
TEST(SvgInline, WhatEachDeclarationAndConditionMakesOfAnObject) {
    const std::pair<const char*, const char*> cases[] = {
        {"<g fill='none'><rect id='r' fill='#qqq'/></g>", "path 0 0 0"},
        {"<rect id='r' stroke='#000' style='stroke:qwe'/>", "path 1 1 0"},
        {"<style>#r{fill:none}</style><rect id='r' style='fill:rgb(1,2)'/>", "path 0 0 0"},
        {"<rect id='r' fill='none' style='fill:RED'/>", "path 1 0 0"},
        {"<rect id='r' style='FILL: none ; stroke:url(data:image/png;base64,x) red'/>", "path 0 1 0"},
        {"<rect id='r' fill='#12345'/>", "path 1 0 0"},  // invalid: the initial black stays
        {"<rect id='r' fill='context-fill' stroke='context-stroke'/>", "path 0 0 0"},
        {"<linearGradient id='g'/><rect id='r' fill='url(#g)'/>", "path 0 0 0"},
        {"<linearGradient id='g'/><rect id='r' fill='url(#g) red'/>", "path 0 0 0"},
        {"<linearGradient id='s'><stop/></linearGradient><linearGradient id='g' xlink:href='#s'/>"
         "<rect id='r' fill='url(#g)'/>", "path 1 0 0"},
        {"<rect id='r' fill='url(#late)'/><radialGradient id='late'/>", "path 0 0 0"},
        {"<pattern id='p'/><rect id='r' fill='url(#p)'/>", "path 1 0 0"},
        // No browser paints with a hatch or a solidcolor: the fallback or none.
        {"<hatch id='h'/><rect id='r' fill='url(#h)'/>", "path 0 0 0"},
        {"<solidcolor id='s'/><rect id='r' fill='url(#s) blue' stroke='url(#s)'/>", "path 1 0 0"},
        // A negative dash is an invalid declaration: the inherited dash stays.
        {"<g stroke-dasharray='4 4'><rect id='r' stroke='#000' stroke-dasharray='-5 5'/></g>", "path 1 1 2"},
        {"<g stroke-dasharray='4 4'><rect id='r' stroke='#000' style='stroke-dasharray:1 -1'/></g>", "path 1 1 2"},
        // var() in attributes too; what it cannot give unsets the property.
        {"<g style='--p: none'><rect id='r' fill='var(--p)' stroke='var(--q, red)'/></g>", "path 0 1 0"},
        {"<g stroke-dasharray='1 1'><rect id='r' stroke='red' style='--d: -2 2; stroke-dasharray: var(--d)'/></g>",
         "path 1 1 2"},
        {"<rect id='r' display='none' style='display:var(--q)'/>", "path 1 0 0"},
        {"<rect id='r' display='none' style='display:qwe'/>", "path 1 0 0 hidden"},
        {"<style>rect{display:none}</style><rect id='r' style='display:qwe'/>", "path 1 0 0 hidden"},
        {"<rect id='r' display='none' style='display:inline'/>", "path 1 0 0"},
        {"<g><rect id='r' systemLanguage='fr'/></g>", "path 1 0 0 hidden"},
        {"<g><rect id='r' systemLanguage='fr, en-GB'/></g>", "path 1 0 0"},
        {"<rect id='r' requiredExtensions='http://example.org/x'/>", "path 1 0 0 hidden"},
        // Browsers render an element whatever its requiredFeatures says.
        {"<rect id='r' requiredFeatures=''/>", "path 1 0 0"},
        {"<rect id='r' requiredFeatures='http://example.org/feature'/>", "path 1 0 0"},
        {"<g><g systemLanguage='de'><rect id='r'/></g></g>", "path 1 0 0 hidden"},
        {"<rect id='r' width='0' height='5'/>", "path 1 0 0"},
        {"<use id='r' xlink:href='#r'/>", "symbol 1 0 0"},
        {"<path id='r' d='M 10 10'/>", "path 1 0 0"},
        {"<path id='r' d='L 5 5'/>", "path 1 0 0"},
    };
    for (const auto& [body, expected] : cases) {
        const SvgDocument svg = drawing(body);
        const ArtNode& r = art(svg, "r");
        EXPECT_EQ(artTypeName(r.type) + (" " + paint(r)) + (r.attributes & kArtHidden ? " hidden" : ""), expected)
            << body;
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
    const std::pair<const char*, const char*> cases[] = {
        {"en", "100"},       {"en-US", "110"}, {"en-GB", "101"},    {"EN-us", "110"}, {"en-US-x", "110"},
        {"en-", "100"},      {"fr", "000"},    {"fr, en", "100"},   {"fr,en-US", "110"}, {" en ", "100"},
        {"fr,\ten-GB\n", "101"}, {"en fr", "000"}, {"en-US fr", "100"}, {"", "000"},   {" ", "000"},
        {",", "000"},        {"eng", "000"},   {"e", "000"},        {"de-en", "000"},
    };
    for (const auto& [list, expected] : cases) {
        std::string got;
        for (const char* language : {"en", "en-US", "en-GB"}) got += svg::systemLanguageMatches(list, language) ? '1' : '0';
        EXPECT_EQ(got, expected) << '"' << list << '"';
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
    const std::pair<const char*, const char*> cases[] = {
        {"M0 0 L1 1", "-"},  {"M0,0 1,1", "-"},  // implicit lineto
        {"M0-1", ""},        // one pair: nothing drawn
        {"M1.5.5-2 3", "-"}, {"M1.5.5-2", ""},  // four numbers; three: the lineto misses one
        {"M1e-5,2", ""},     // an exponent is no new number
        {"M0 0 1e1 2", "-"}, // ... and is read: four numbers, one lineto
        {"M0 0z", "z"},      {"M0 0 h1 z m 2 2 v 1 m 0 0", "z-"},
        {"L1 1 M0 0 h1", ""},  // must begin with a moveto
        {"M0 0 h1 X M 2 2 h 1", "-"}, {"", ""},
        // The first error ends the data, for the kind as for the outline.
        {"M 100 100 h 25 a 25 25 0 1 7 -25 -25 z", "-"},            // a flag of 7
        {"M 10 10 L 50 10 L 50 Z M 100 100 L 120 120", "-"},        // a missing coordinate
        {"M 10,,10 L 20 20", ""},  {"M 10 10, L 20 20", ""},        {"M 0 0 L 20 20,", "-"},
        {"M 0 0 L - 5 h 1", ""},   {"M 0 0 L . 5 h 1", ""},         {"M 0 0 h 1 z 5 M 2 2 h 1", "z"},
        {"M 0 0 a 5 5 0 1 0 10 0 m 1 1 a5 5 0 0110 0", "--"},       // flags run into what follows
    };
    for (const auto& [d, expected] : cases) {
        std::vector<bool> closed;
        svg::scanSubpaths(d, closed);
        std::string got;
        for (const bool c : closed) got += c ? 'z' : '-';
        EXPECT_EQ(got, expected) << '"' << d << '"';
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
    for (const auto& [name, says] : std::vector<std::pair<const char*, const char*>>{
             {"bad/malformed.svg", "line 1: malformed XML: mismatched tag"},
             {"bad/not-svg.svg", "not an SVG document (the root element is <html>)"},
             {"bad/empty.svg", "the file is empty"}, {"bad/blank.svg", "malformed XML: no element found"},
             {"bad/missing.svg", "No such file or directory"}, {"bad", "is a directory"},
             {"bad/billion-laughs.svg", "amplification"}}) {
        const std::string error = errorOf([file = name] { load(file); });  // C++17 lambdas capture no binding
        EXPECT_THAT(error, HasSubstr(says)) << name;
        EXPECT_EQ(error.find('\n'), std::string::npos) << name;
    }
    // XML 1.0 reads the versions 1.x; the others are malformed.
    for (const auto& [version, says] : {std::pair{"1", "inline: line 1: malformed XML: XML declaration not well-formed"},
                                        {"2.0", "malformed XML"}, {"1.", "malformed XML"}, {"1.x", "malformed XML"},
                                        {"1.0", "no error"}, {"1.1", "no error"}, {"1.10", "no error"}})
        EXPECT_THAT(errorOf([v = version] { drawing("", "", v); }), HasSubstr(says)) << version;
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
