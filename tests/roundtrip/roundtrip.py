#!/usr/bin/env python3
"""The round trip of `simhost select ... --save`, judged by programs nobody
here wrote: rsvg-convert draws, xmllint canonicalizes, Inkscape reads back.

For each real drawing (every .svg of tests/data and examples/ the reader
opens, and Inkscape's own examples and templates):
  - saved with no edit, it equals the input under `xmllint --c14n` and draws
    the same pixels;
  - after --hide or --delete of what a command selected, it draws the
    pixels of the input with those objects set to display:none, the
    reference made here from the ids in the JSON Lines answer, not by the
    editor (drawings whose style sheets match by position are left out of
    the delete check: a delete restyles the siblings there);
  - after --delete, the command run on the saved file selects nothing (but
    the parts of elements, such as subpaths, which no edit can take alone);
  - Inkscape (--query-all) lists every object of the input it listed, less
    what was deleted.

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
EDITS = ["--hide", "--delete"]
INKSCAPE_SHARE = "/usr/share/inkscape"
# Style sheet selectors that match by position among siblings.
STRUCTURAL = re.compile(r":(nth-|first-|last-|only-)|:empty|[+~]")

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


def hidden_reference(source, entries, out):
    """Writes `source` with each selected object set to display:none; answers
    the ids the objects' subtrees hold, and how many selected parts of an
    element (a subpath) stay: without a tag of their own, edits pass them by."""
    dom = minidom.parse(source)
    by_id = {}
    for el in dom.getElementsByTagName("*"):
        if el.getAttribute("id"):
            by_id.setdefault(el.getAttribute("id"), el)
    removed, parts = set(), 0
    for entry in entries:
        if "element" in entry:
            parts += 1
            continue
        el = element_of(dom, by_id, entry["id"])
        if el is None:
            raise AssertionError(f"the answer names {entry['id']!r}, which is no element of the input")
        style = el.getAttribute("style").strip().rstrip(";")
        el.setAttribute("style", (style + ";" if style else "") + "display:none")
        removed |= ids_in(el)
    with open(out, "w", encoding="utf-8") as f:
        dom.writexml(f, encoding="utf-8")
    return removed, parts


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
    answer = ctx.select(source, command, "--json", edit, "--save", name + ".svg")
    lines = answer.stdout.splitlines()
    if answer.returncode == 2 or not lines:
        ctx.fail(drawing, f"{command} {edit}: exit {answer.returncode}: {answer.stderr.strip()}")
        return True
    result = json.loads(lines[0])
    entries = result.get("selected", [])
    if not entries:
        return False
    if result.get("saved") != name + ".svg" or not os.path.exists(name + ".svg"):
        ctx.fail(drawing, f"{command} {edit}: the answer does not name the saved file: {lines[0]}")
        return True
    removed, parts = hidden_reference(source, entries, name + ".reference.svg")
    # rsvg-convert refuses a drawing with no size of its own and nothing
    # shown: then both must be refused.
    drawn = render(name + ".reference.svg", name + ".reference.png")
    if render(name + ".svg", name + ".png") != drawn or (drawn and not same_pixels(name + ".png", name + ".reference.png")):
        ctx.fail(drawing, f"{command} {edit}: the saved drawing differs from the input with "
                          f"{len(entries) - parts} objects set to display:none ({name}.png)")
    if edit == "--delete":
        # What stays selected is the parts of elements the delete passed by.
        again = ctx.select(name + ".svg", command, "--json")
        left = [e for e in json.loads(again.stdout.splitlines()[0]).get("selected", []) if "element" not in e]
        if left:
            ctx.fail(drawing, f"{command} --delete: run again on the saved file, it selects {left[0]['id']} and more")
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
        ctx.notes.append(f"{drawing}: left out of the delete check, its style sheet selects by position")
    for command in COMMANDS:
        for edit in EDITS:
            if edit == "--delete" and structural:
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
