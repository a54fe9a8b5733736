#!/usr/bin/env python3
"""The round trip of `simhost select ... --save`, judged by programs nobody
here wrote: rsvg-convert draws, xmllint canonicalizes, Inkscape reads back.

For each real drawing (every .svg of tests/data and examples/ the reader
opens, and Inkscape's own examples and templates):
  - saved with no edit, it equals the input under `xmllint --c14n` and draws
    the same pixels;
  - after each edit of what a command selected, what is written draws the
    pixels of a reference made here from the ids in the JSON Lines answer,
    not by the editor: the input with display:none on the selected objects
    (--hide, --delete); on nothing (--lock); on every other object Select
    All would take, looking into the groups holding selected ones
    (--keep-only); on every object neither selected, nor holding one, nor
    inside one (--export-selection). Drawings whose style sheets match by
    position are left out of the checks of edits that remove: a removal
    restyles the siblings there;
  - after --delete, the command run on the saved file selects nothing (but
    the parts of elements, such as subpaths, which no edit can take alone);
  - after --lock, each selected object outside any other selected one is
    sodipodi:insensitive="true", the namespace bound;
  - after --hide, --delete and --lock, Inkscape (--query-all) lists every
    object of the input it listed, less what was deleted.

usage: roundtrip.py SIMHOST SOURCE_DIR WORK_DIR
Exit status 0 passed, 1 failed, 77 skipped (a tool is missing).
"""
import glob
import json
import os
import re
import shutil
import subprocess
import sys
from xml.dom import minidom

SKIPPED = 77
# Commands whose selection is hidden and deleted; a command that selects
# nothing in a drawing is passed over there.
COMMANDS = ["Open Paths", "Filled Paths", "Groups", "Rasters"]
EDITS = ["--hide", "--delete", "--lock", "--keep-only", "--export-selection"]
# Edits that take objects away, and restyle siblings where style sheets
# match by position.
REMOVING = {"--delete", "--keep-only", "--export-selection"}
INKSCAPE_SHARE = "/usr/share/inkscape"
# Style sheet selectors that match by position among siblings.
STRUCTURAL = re.compile(r":(nth-|first-|last-|only-)|:empty|[+~]")

SVG = "http://www.w3.org/2000/svg"
INKSCAPE = "http://www.inkscape.org/namespaces/inkscape"
# Sodipodi's namespace, and the one Inkscape before 0.47 wrote for it.
SODIPODI = ("http://sodipodi.sourceforge.net/DTD/sodipodi-0.dtd", "http://inkscape.sourceforge.net/DTD/sodipodi-0.dtd")
# The elements that are objects of the drawing (docs/svg-mapping.md).
ART = {"g", "a", "switch", "svg", "path", "rect", "circle", "ellipse", "polygon", "line", "polyline", "image", "use",
       "text"}

TOOLS = [("rsvg-convert", "librsvg2-bin"), ("xmllint", "libxml2-utils"), ("inkscape", "inkscape")]


def missing_tool():
    for program, package in TOOLS:
        if shutil.which(program) is None:
            return f"{program} (Debian package {package})"
    try:
        import PIL  # noqa: F401
    except ImportError:
        return "python3 PIL (Debian package python3-pil)"
    return None


def drawings(source):
    """The drawings tried: the repository's, and a fixed set of Inkscape's
    (its examples, its templates less the translations of default.svg)."""
    own = sorted(glob.glob(f"{source}/tests/data/**/*.svg", recursive=True) + glob.glob(f"{source}/examples/*.svg"))
    inkscape = sorted(glob.glob(f"{INKSCAPE_SHARE}/examples/*.svg"))
    inkscape += sorted(p for p in glob.glob(f"{INKSCAPE_SHARE}/templates/*.svg")
                       if not re.fullmatch(r"default\.[^.]+\.svg", os.path.basename(p)))
    return own + inkscape


def run(args, **kw):
    return subprocess.run(args, capture_output=True, text=True, **kw)


def render(svg, png):
    """Draws `svg` into `png`; False when rsvg-convert cannot."""
    return run(["rsvg-convert", "--width", "160", "-o", png, svg]).returncode == 0


def same_pixels(a, b):
    # Bytes, not ImageChops.difference(...).getbbox(): on RGBA that looks at
    # alpha alone, and two opaque pictures would always agree.
    from PIL import Image
    with Image.open(a) as x, Image.open(b) as y:
        return x.size == y.size and x.convert("RGBA").tobytes() == y.convert("RGBA").tobytes()


def c14n(path):
    return run(["xmllint", "--c14n", path]).stdout


def structural_style(dom):
    """Whether a style sheet of the drawing selects by position."""
    for style in dom.getElementsByTagNameNS("*", "style"):
        text = "".join(n.data for n in style.childNodes if n.nodeType in (n.TEXT_NODE, n.CDATA_SECTION_NODE))
        text = re.sub(r"/\*.*?\*/", "", text, flags=re.S)
        selectors = re.sub(r"\{[^}]*\}", " ", text)
        if STRUCTURAL.search(selectors):
            return True
    return False


def local(node):
    return node.localName or node.nodeName.split(":")[-1]


def element_of(dom, by_id, ident):
    """The element an id of the answer names: its id attribute, else its
    path from the root (/svg/g[2]/path[5]: the fifth path of the second g)."""
    if ident in by_id:
        return by_id[ident]
    if not ident.startswith("/"):
        return None
    steps = ident.split("/")[1:]
    node = dom.documentElement
    if not steps or local(node) != steps[0]:
        return None
    for step in steps[1:]:
        m = re.fullmatch(r"([^\[\]]+)(?:\[(\d+)\])?", step)
        if m is None:
            return None
        kids = [c for c in node.childNodes if c.nodeType == c.ELEMENT_NODE and local(c) == m.group(1)]
        k = int(m.group(2) or 1)
        if k > len(kids):
            return None
        node = kids[k - 1]
    return node


def ids_in(node):
    """The id attributes of `node` and everything below it."""
    found = {node.getAttribute("id")} if node.getAttribute("id") else set()
    for el in node.getElementsByTagName("*"):
        if el.getAttribute("id"):
            found.add(el.getAttribute("id"))
    return found


def by_ids(dom):
    found = {}
    for el in dom.getElementsByTagName("*"):
        if el.getAttribute("id"):
            found.setdefault(el.getAttribute("id"), el)
    return found


def resolve(dom, by_id, ident):
    el = element_of(dom, by_id, ident)
    if el is None:
        raise AssertionError(f"the answer names {ident!r}, which is no element of the input")
    return el


def art(node):
    return node.nodeType == node.ELEMENT_NODE and node.namespaceURI == SVG and local(node) in ART


def art_children(node):
    return [c for c in node.childNodes if art(c)]


def locked(el):
    """sodipodi:insensitive, unless it says false (or 0): the reader's rule."""
    return any(el.hasAttributeNS(ns, "insensitive") and
               el.getAttributeNS(ns, "insensitive").strip().lower() not in ("", "false", "0") for ns in SODIPODI)


def declared(el, name):
    """`name` as the element's style attribute, else its attribute, says it."""
    for item in el.getAttribute("style").split(";"):
        key, _, value = item.partition(":")
        if key.strip() == name:
            return value.strip()
    return el.getAttribute(name).strip()


def invisible(el):
    """Whether `visibility` computes to hidden (inherited: the nearest that says)."""
    while el is not None and el.nodeType == el.ELEMENT_NODE:
        value = declared(el, "visibility")
        if value:
            return value in ("hidden", "collapse")
        el = el.parentNode
    return False


def select_all(dom):
    """What Select All starts from: the top-level objects of the editable,
    shown layers (Inkscape's layers, else every top-level <g>) and the art
    beside them (the default layer)."""
    kids = art_children(dom.documentElement)
    layers = [c for c in kids if local(c) == "g" and c.getAttributeNS(INKSCAPE, "groupmode") == "layer"]
    layers = layers or [c for c in kids if local(c) == "g"]
    tops = [c for c in kids if c not in layers]
    for layer in layers:
        if not locked(layer) and declared(layer, "display") != "none":
            tops += art_children(layer)
    return tops


def keep_only_targets(dom, chosen, holders):
    """What Keep Only removes: what Select All may take (neither locked nor
    hidden) that is neither chosen nor holds a chosen object, looking into
    the groups that do."""
    targets, pending = [], select_all(dom)
    while pending:
        el = pending.pop()
        if el in chosen or locked(el) or invisible(el):
            continue
        if el in holders:
            pending += art_children(el)
        else:
            targets.append(el)
    return targets


def export_targets(dom, chosen, holders):
    """What an export of the selection leaves out: every object neither
    chosen, nor holding a chosen one, nor inside one."""
    targets, pending = [], art_children(dom.documentElement)
    while pending:
        el = pending.pop()
        if el in holders:
            pending += art_children(el)
        elif el not in chosen:
            targets.append(el)
    return targets


def reference(source, entries, edit, out):
    """Writes what the edit of the selected objects must draw like: `source`
    with the objects the edit takes away (none for a lock) set to
    display:none. Answers the ids the edited objects' subtrees hold, and how
    many selected parts of an element (a subpath) stay: without a tag of
    their own, hide and delete pass them by, while keep-only and export keep
    their whole element."""
    dom = minidom.parse(source)
    by_id = by_ids(dom)
    chosen = [resolve(dom, by_id, e["id"]) for e in entries if "element" not in e]
    wholes = [resolve(dom, by_id, e["element"]) for e in entries if "element" in e]
    holders = set(wholes)
    for el in chosen + wholes:
        el = el.parentNode
        while el is not None and el not in holders:
            holders.add(el)
            el = el.parentNode
    targets = {"--hide": chosen, "--delete": chosen, "--lock": [],
               "--keep-only": keep_only_targets, "--export-selection": export_targets}[edit]
    if callable(targets):
        targets = targets(dom, set(chosen), holders)
    for el in targets:
        style = el.getAttribute("style").strip().rstrip(";")
        el.setAttribute("style", (style + ";" if style else "") + "display:none")
    with open(out, "w", encoding="utf-8") as f:
        dom.writexml(f, encoding="utf-8")
    removed = set().union(*(ids_in(el) for el in chosen)) if edit in ("--hide", "--delete") else set()
    return removed, len(wholes)


def unlocked(saved, entries):
    """The first selected object the saved file does not mark
    sodipodi:insensitive="true" (the namespace bound, or minidom refuses the
    file), else None. The members of a selected group are selected with it,
    and locked by it: the outermost selected ones must carry the mark."""
    dom = minidom.parse(saved)
    by_id = by_ids(dom)
    named = {e["id"]: resolve(dom, by_id, e["id"]) for e in entries if "element" not in e}
    chosen = list(named.values())
    for ident, el in named.items():
        above, outermost = el.parentNode, True
        while above is not None and outermost:
            outermost, above = above not in chosen, above.parentNode
        if outermost and not any(el.getAttributeNS(ns, "insensitive") == "true" for ns in SODIPODI):
            return ident
    return None


class Run:
    def __init__(self, simhost, work):
        self.simhost, self.work = simhost, work
        self.failures, self.notes = [], []
        self.queries = []  # (input, saved, ids that must be gone)
        self.checked = 0

    def fail(self, drawing, what):
        self.failures.append(f"{drawing}: {what}")

    def select(self, *args):
        return run([self.simhost, "select", *args])


def check_unedited(ctx, drawing, source, work):
    """Saved with no edit: the same canonical XML and the same pixels.
    Answers the input's picture, or None when it is left out."""
    saved = f"{work}/unedited.svg"
    answer = ctx.select(source, "All Paths", "--save", saved)
    if answer.returncode == 2 and not os.path.exists(saved):
        ctx.notes.append(f"{drawing}: left out, the reader refuses it: {answer.stderr.strip()}")
        return None
    if c14n(saved) != c14n(source):
        ctx.fail(drawing, "saved with no edit, it differs from the input under xmllint --c14n")
    picture = f"{work}/input.png"
    if not render(source, picture):
        ctx.notes.append(f"{drawing}: left out of the pixel checks, rsvg-convert cannot draw it")
        return None
    render(saved, f"{work}/unedited.png")
    if not same_pixels(picture, f"{work}/unedited.png"):
        ctx.fail(drawing, "saved with no edit, it draws other pixels than the input")
    return picture


def check_edit(ctx, drawing, source, work, command, edit):
    """One edit of one command's selection; False when the command selects
    nothing there."""
    name = f"{work}/{command.replace(' ', '-')}{edit}"
    if edit == "--export-selection":
        answer = ctx.select(source, command, "--json", edit, name + ".svg")
    else:
        answer = ctx.select(source, command, "--json", edit, "--save", name + ".svg")
    lines = answer.stdout.splitlines()
    if answer.returncode == 2 or not lines:
        ctx.fail(drawing, f"{command} {edit}: exit {answer.returncode}: {answer.stderr.strip()}")
        return True
    result = json.loads(lines[0])
    entries = result.get("selected", [])
    if not entries:
        return False
    written = result.get("exported" if edit == "--export-selection" else "saved")
    if written != name + ".svg" or not os.path.exists(name + ".svg"):
        ctx.fail(drawing, f"{command} {edit}: the answer does not name the file written: {lines[0]}")
        return True
    removed, parts = reference(source, entries, edit, name + ".reference.svg")
    # rsvg-convert refuses a drawing with no size of its own and nothing
    # shown: then both must be refused.
    drawn = render(name + ".reference.svg", name + ".reference.png")
    if render(name + ".svg", name + ".png") != drawn or (drawn and not same_pixels(name + ".png", name + ".reference.png")):
        ctx.fail(drawing, f"{command} {edit}: the drawing written differs from its reference "
                          f"{name}.reference.svg ({name}.png)")
    if edit == "--delete":
        # What stays selected is the parts of elements the delete passed by.
        again = ctx.select(name + ".svg", command, "--json")
        left = [e for e in json.loads(again.stdout.splitlines()[0]).get("selected", []) if "element" not in e]
        if left:
            ctx.fail(drawing, f"{command} --delete: run again on the saved file, it selects {left[0]['id']} and more")
    if edit == "--lock":
        try:
            left = unlocked(name + ".svg", entries)
        except Exception as e:  # noqa: BLE001 - an unbound prefix, among others
            left = f"the saved file, which minidom cannot read ({e}),"
        if left:
            ctx.fail(drawing, f"{command} --lock: {left} is not sodipodi:insensitive=\"true\" in the saved file")
    if edit in ("--hide", "--delete", "--lock"):
        ctx.queries.append((source, name + ".svg", removed, edit))
    ctx.checked += 1
    return True


def check_drawing(ctx, index, drawing):
    if not os.path.isfile(drawing):
        ctx.notes.append(f"{drawing}: left out, no file (a broken link)")
        return
    work = f"{ctx.work}/{index:03d}-{os.path.basename(drawing)[:-4]}"
    os.makedirs(work, exist_ok=True)
    # A copy beside what is written: rsvg-convert loads linked files only
    # from the folder of the file it draws, so all three lack them alike.
    source = f"{work}/input.svg"
    shutil.copyfile(drawing, source)
    if check_unedited(ctx, drawing, source, work) is None:
        return
    try:
        structural = structural_style(minidom.parse(source))
    except Exception as e:  # noqa: BLE001 - minidom's own errors are many
        ctx.notes.append(f"{drawing}: left out of the edit checks, minidom cannot read it: {e}")
        return
    if structural:
        ctx.notes.append(f"{drawing}: left out of the delete, keep-only and export checks, "
                         "its style sheet selects by position")
    for command in COMMANDS:
        for edit in EDITS:
            if edit in REMOVING and structural:
                continue
            if not check_edit(ctx, drawing, source, work, command, edit):
                break


SEPARATOR = "roundtrip-separator"


def inkscape_ids(paths, work):
    """The ids `inkscape --query-all` lists for each file, with one Inkscape
    for them all (it starts slowly). Its shell echoes commands out of step
    with their output, so a drawing whose root's id is SEPARATOR is queried
    before each file, and its line starts that file's list."""
    separator = f"{work}/{SEPARATOR}.svg"
    with open(separator, "w", encoding="utf-8") as f:
        f.write(f'<svg xmlns="http://www.w3.org/2000/svg" id="{SEPARATOR}" width="1" height="1">'
                f'<rect id="{SEPARATOR}-rect" width="1" height="1"/></svg>\n')
    script = "".join(f"file-open:{separator}; query-all; file-close; file-open:{p}; query-all; file-close\n"
                     for p in paths) + "quit\n"
    out = run(["inkscape", "--shell"], input=script, timeout=600).stdout
    out = re.sub(r"\x1b\[[0-9;]*[A-Za-z]|\r", "", out)  # a long echoed line is redrawn
    rows = re.findall(r"^([^,\s>]+),-?[\d.e+-]+,-?[\d.e+-]+,-?[\d.e+-]+,-?[\d.e+-]+$", out, flags=re.M)
    lists, current = [], None
    for ident in rows:
        if ident == SEPARATOR:
            current = set()
            lists.append(current)
        elif current is not None and not ident.startswith(SEPARATOR):
            current.add(ident)
    if len(lists) != len(paths):
        raise AssertionError(f"Inkscape answered {len(lists)} lists for {len(paths)} files")
    return dict(zip(paths, lists))


# Inkscape lists only objects with a bounding box: a container may empty
# with a delete and drop out of its list, as may a clone of what is gone.
CONTAINERS = {"svg", "g", "a", "switch", "use", "symbol"}


def check_inkscape(ctx):
    """After each edit Inkscape still lists every drawn object of the input
    it listed (by the ids the input holds: it names the others itself) but
    the edited ones, and after a delete none of those."""
    files = sorted({p for source, saved, _, _ in ctx.queries for p in (source, saved)})
    if not files:
        return
    listed = inkscape_ids(files, ctx.work)
    for source, saved, removed, edit in ctx.queries:
        kinds = {el.getAttribute("id"): local(el) for el in minidom.parse(source).getElementsByTagName("*")}
        kinds.pop("", None)
        before = listed[source] & kinds.keys()
        after = listed[saved] & kinds.keys()
        if not before:
            ctx.notes.append(f"{source}: left out of Inkscape's check, it lists no object of it")
            continue
        lost = sorted(i for i in before - removed - after if kinds[i] not in CONTAINERS)
        ghosts = sorted(after & removed) if edit == "--delete" else []
        if lost or ghosts:
            ctx.fail(saved, f"Inkscape lists other objects than expected: missing {lost[:5]}, deleted yet there {ghosts[:5]}")


def main():
    if len(sys.argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    simhost, source, work = sys.argv[1:]
    tool = missing_tool()
    if tool:
        print(f"SKIPPED: the round trip needs {tool}; scripts/install-deps.sh installs it")
        return SKIPPED
    shutil.rmtree(work, ignore_errors=True)
    ctx = Run(simhost, work)
    chosen = drawings(source)
    for index, drawing in enumerate(chosen):
        check_drawing(ctx, index, drawing)
    check_inkscape(ctx)
    for note in ctx.notes:
        print("note:", note)
    for failure in ctx.failures:
        print("FAILED:", failure)
    print(f"{len(chosen)} drawings, {ctx.checked} edits checked against their references, "
          f"{len(ctx.queries)} read back by Inkscape; {len(ctx.failures)} failures")
    return 1 if ctx.failures or ctx.checked == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
