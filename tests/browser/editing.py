"""The host's work around the plug-in, in the page: a designer's path with
the mouse alone (open, select, delete, undo, lock a layer, save), picking on
the art, the shortcuts, the dark theme. Each step is checked in the page and
in the host's own state. Run by page_test.py, on its Page."""
import os
import shutil
import subprocess
import xml.etree.ElementTree as ET
import tempfile
import time

from checks import check
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.actions.action_builder import ActionBuilder
from selenium.webdriver.common.actions.mouse_button import MouseButton
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

COMMAND = 'Open Paths'
OPEN_PATHS = {'fence-rail', 'garden-path'}  # with an unnamed polyline: three in all
LAYER_OF_OPEN_PATHS = 1                       # Scene
BACKGROUND = 0


def host_state(page):
    """What the host holds for the shown document (GET .../state)."""
    status, body = page.api('GET', f"/api/documents/{page.js('return state.current')}/state")
    check(status == 200, f'the host answers its state: {status}')
    return body if status == 200 else {'selected': [], 'layers': [], 'undo': None, 'redo': None, 'revision': -1}


def host_ids(page):
    return [s['id'] for s in host_state(page)['selected'] if not s.get('kept')]


def settle(page):
    """Waits for the page's request in flight to be answered and shown."""
    time.sleep(0.15)
    page.wait.until(lambda d: page.js("return !!state.answer"))


def menu_item(page, action):
    return page.d.find_element(By.CSS_SELECTOR, f'#menubar [data-action="{action}"]')


def item_state(page, action):
    """The host item's label as the menu shows it, and whether it can act."""
    item = menu_item(page, action)
    return item.get_attribute('textContent'), item.get_attribute('aria-disabled') != 'true'


def to_screen(page, x, y):
    """A point of the drawing (its root's user units) in the window: through
    the overlay's own transform, the one the outlines are drawn with."""
    return page.js("const m = document.getElementById('overlay').getScreenCTM();"
                   "const p = new DOMPoint(arguments[0], arguments[1]).matrixTransform(m);"
                   "return [p.x, p.y]", x, y)


def click_at(page, x, y, *mods):
    """Moves the mouse to a point of the drawing and clicks, the modifier keys held."""
    sx, sy = to_screen(page, x, y)
    page.move((sx, sy))
    chain = ActionChains(page.d)
    for m in mods:
        chain.key_down(m)
    chain.click()
    for m in mods:
        chain.key_up(m)
    chain.perform()
    settle(page)


def drag(page, x0, y0, x1, y1, *mods):
    """A marquee from one point of the drawing to another."""
    (a, b), (c, d) = to_screen(page, x0, y0), to_screen(page, x1, y1)
    page.move((a, b))
    chain = ActionChains(page.d, duration=40)
    for m in mods:
        chain.key_down(m)
    chain.click_and_hold().move_by_offset((c - a) / 2, (d - b) / 2).move_by_offset((c - a) / 2, (d - b) / 2).release()
    for m in mods:
        chain.key_up(m)
    chain.perform()
    page.at = (c, d)
    settle(page)


def same_in_page_and_host(page, what):
    """The panel, the outlines and the host name the same objects."""
    host = host_ids(page)
    listed = page.listed('selection')
    check(listed == host and sorted(page.overlay_ids()) == sorted(host),
          f'{what}: the panel {listed} and outlines {page.overlay_ids()} are the host\'s {host}')
    return host


def press_keys(page, *keys):
    """A chord on the drawing's view: modifiers down, the key, modifiers up."""
    chain = ActionChains(page.d)
    for k in keys[:-1]:
        chain.key_down(k)
    chain.send_keys(keys[-1])
    for k in reversed(keys[:-1]):
        chain.key_up(k)
    chain.perform()
    settle(page)


def allow_downloads(page):
    folder = tempfile.mkdtemp(prefix='wendlow-downloads-')
    page.d.execute_cdp_cmd('Browser.setDownloadBehavior', {'behavior': 'allow', 'downloadPath': folder})
    return folder


def downloaded(folder, name):
    """The file the browser saved as `name`, once complete."""
    path = os.path.join(folder, name)
    for _ in range(100):
        if os.path.exists(path) and not any(f.endswith('.crdownload') for f in os.listdir(folder)):
            return path
        time.sleep(0.1)
    check(False, f'the browser saved {name}: {os.listdir(folder)}')
    return None


def c14n(path):
    return subprocess.run(['xmllint', '--c14n', path], check=True, capture_output=True).stdout


def flag_button(page, layer, flag):
    return page.d.find_elements(By.CSS_SELECTOR, '#layers tr')[layer].find_element(By.CSS_SELECTOR, f'.flag-button.{flag}')


def click_element(page, element):
    r = page.js("const r = arguments[0].getBoundingClientRect(); return [r.left + r.width / 2, r.top + r.height / 2]", element)
    page.move(r)
    page.click()
    settle(page)


def designer_path(page, sample):
    """Open, save unedited, select the open paths, delete, undo, lock the
    layer and see the command skip it, delete and save: the mouse alone."""
    folder = allow_downloads(page)
    drawing = os.path.join(tempfile.mkdtemp(prefix='wendlow-upload-'), 'garden.svg')
    shutil.copy(sample, drawing)
    page.d.find_element(By.ID, 'file-input').send_keys(drawing)
    page.wait_status(r'Opened garden\.svg')
    page.wait.until(lambda d: page.js('return state.hasDrawing && !!state.answer'))
    check(item_state(page, 'undo') == ('Undo', False), f'nothing to undo yet: {item_state(page, "undo")}')
    page.choose('File', 'Save As SVG')
    saved = downloaded(folder, 'garden.svg')
    check(saved and c14n(saved) == c14n(drawing), 'saved unedited, the drawing equals the upload under xmllint --c14n')
    if saved:
        os.remove(saved)
    before = run_command(page, 'the open paths')
    check(len(before) == 3 and OPEN_PATHS <= set(before), f'{COMMAND} selects the three open paths: {before}')
    revision = host_state(page)['revision']
    page.choose('Edit', 'Delete')
    page.wait.until(lambda d: page.js("return state.answer.undo === 'Delete'"), 'the host never answered Delete')
    host = host_state(page)
    check(host['undo'] == 'Delete' and host['revision'] > revision and not host['selected'],
          f"the host deleted them: undo {host['undo']!r}, revision {revision} -> {host['revision']}")
    check(item_state(page, 'undo') == ('Undo Delete', True) and page.overlay_ids() == [],
          f'Edit offers Undo Delete and nothing is outlined: {item_state(page, "undo")}')
    check(f"rev={host['revision']}" in page.js("return document.getElementById('drawing').src"),
          'the drawing is shown again at the new revision')
    page.choose('Edit', 'Undo Delete')
    page.wait.until(lambda d: page.js("return state.answer.redo === 'Delete'"), 'Undo Delete was not undone')
    check(host_state(page)['redo'] == 'Delete' and item_state(page, 'redo') == ('Redo Delete', True),
          f'the host can redo the Delete: {item_state(page, "redo")}')
    check(run_command(page, 'after Undo') == before, 'after Undo the command finds the open paths again')
    lock_skips(page, before)
    page.choose('Select', 'Deselect')
    page.wait.until(lambda d: page.js('return !state.answer.selected.length'), 'Deselect left a selection')
    page.choose('Select', 'Reselect')
    page.wait_status(rf'selected by {COMMAND} in \d')
    check(same_in_page_and_host(page, 'Reselect') == before, 'Select › Reselect runs the command again')
    page.choose('Edit', 'Delete')
    page.wait.until(lambda d: page.js("return state.answer.undo === 'Delete'"))
    page.choose('File', 'Save As SVG')
    saved = downloaded(folder, 'garden.svg')
    if saved:
        check_saved_ids(drawing, saved, deleted=before)
    page.shot('designer-path')


def run_command(page, what):
    page.choose('Select', 'Object', COMMAND)
    page.wait_status(rf'selected by {COMMAND} in \d')
    return same_in_page_and_host(page, f'{COMMAND} {what}')


def lock_skips(page, before):
    """The layer's lock reaches the host, and the command skips the layer."""
    click_element(page, flag_button(page, LAYER_OF_OPEN_PATHS, 'editable'))
    layer = host_state(page)['layers'][LAYER_OF_OPEN_PATHS]
    pressed = flag_button(page, LAYER_OF_OPEN_PATHS, 'editable').get_attribute('aria-pressed')
    check(layer['editable'] is False and pressed == 'false', f'the lock locks {layer} in the host, shown {pressed}')
    check(run_command(page, 'on the locked layer') == [], 'the command skips the locked layer')
    page.shot('layer-locked')
    click_element(page, flag_button(page, LAYER_OF_OPEN_PATHS, 'editable'))
    check(host_state(page)['layers'][LAYER_OF_OPEN_PATHS]['editable'] is True, 'the lock unlocks it again')
    for visible in (False, True):
        click_element(page, flag_button(page, LAYER_OF_OPEN_PATHS, 'visible'))
        host = host_state(page)
        check(host['layers'][LAYER_OF_OPEN_PATHS]['visible'] is visible
              and f"rev={host['revision']}" in page.js("return document.getElementById('drawing').src"),
              f'the eye makes the layer visible: {visible} in the host, and the drawing is shown again')
    check(run_command(page, 'unlocked again') == before, 'unlocked, the command selects them again')


def layer_ids(path):
    """The ids of the drawing's objects: under its root, outside its definitions and views."""
    root = ET.parse(path).getroot()
    skip = {'defs', 'namedview', 'title', 'desc', 'metadata', 'style'}
    ids = set()
    for child in root:
        if child.tag.split('}')[-1] in skip:
            continue
        ids.update(e.get('id') for e in child.iter() if e.get('id'))
    return ids


def without(path, keys, out):
    """The drawing with the objects of those keys taken out, by Python's own
    XML library: an id, or the host's path for an object without one
    ("/svg/g[2]/g[2]/polyline[1]": the nth child of that name, from the root)."""
    tree = ET.parse(path)
    parents = {c: p for p in tree.iter() for c in p}
    for key in keys:
        if key.startswith('/'):
            node = tree.getroot()
            for step in key.split('/')[2:]:
                name, n = step.rstrip(']').split('[')
                node = [c for c in node if c.tag.split('}')[-1] == name][int(n) - 1]
        else:
            node = next(e for e in tree.iter() if e.get('id') == key)
        parents[node].remove(node)
    tree.write(out)
    return out


def inkscape_ids(inkscape, path):
    """The ids `inkscape --query-all` lists for a drawing: every object it reads."""
    out = subprocess.run([inkscape, '--query-all', path], capture_output=True, text=True, timeout=120,
                         env={**os.environ, 'HOME': tempfile.mkdtemp()}).stdout
    return {line.split(',')[0] for line in out.splitlines() if line.count(',') >= 4}


def check_saved_ids(drawing, saved, deleted):
    """Inkscape reads the saved file back and lists the objects it lists for
    the drawing with those objects taken out by another hand."""
    inkscape = shutil.which('inkscape')
    if not inkscape:
        print('skip inkscape --query-all: inkscape is not installed')
        return
    named = layer_ids(drawing)
    listed = inkscape_ids(inkscape, saved) & named
    want = inkscape_ids(inkscape, without(drawing, deleted, saved + '.reference.svg')) & named
    check(len(want) > 20 and listed == want and not set(deleted) & listed,
          f'inkscape lists the objects left: missing {sorted(want - listed)}, more {sorted(listed - want)}')


def show_document(page, name):
    """Shows the document of that name with a click in the list, unless it is shown."""
    find = ("return [...document.querySelectorAll('#documents .doc')]"
            ".find(b => b.querySelector('.doc-name').textContent.endsWith(arguments[0]))")
    button = page.wait.until(lambda d: page.js(find, name))
    if button.get_attribute('aria-current') != 'true':
        click_element(page, button)
    page.wait.until(lambda d: page.js('return state.hasDrawing && !!state.answer'))


# Picks on the sample drawing with its Background locked (so neither sky
# nor ground is under the pointer): where, the keys held, what the host
# then holds selected. The points are the drawing's own coordinates.
# A group selected holds its members selected, as in the host.
HOUSE = ['house', 'house-wall', 'house-roof', 'house-windows', 'house-windows/subpath[1]',
         'house-windows/subpath[2]', 'house-door']
PICKS = [
    ('click the sun', 'click', (330, 60), (), ['sun']),
    ('shift+click a door adds its house', 'click', (190, 200), (Keys.SHIFT,), ['sun'] + HOUSE),
    ('shift+click the sun takes it out', 'click', (330, 60), (Keys.SHIFT,), HOUSE),
    ('ctrl+click picks the door itself', 'click', (190, 200), (Keys.CONTROL,), ['house-door']),
    ('a marquee over the sun', 'drag', (320, 45, 345, 75), (), ['sun']),
    ('shift+marquee adds the house', 'drag', (150, 100, 160, 110), (Keys.SHIFT,), ['sun'] + HOUSE),
    ('a click on nothing pickable deselects', 'click', (10, 150), (), []),
]


def picking(page):
    show_document(page, 'sample.svg')
    click_element(page, flag_button(page, BACKGROUND, 'editable'))
    check(host_state(page)['layers'][BACKGROUND]['editable'] is False, 'Background is locked for picking')
    for what, how, where, mods, want in PICKS:
        if how == 'click':
            click_at(page, *where, *mods)
        else:
            drag(page, *where, *mods)
        got = same_in_page_and_host(page, what)
        check(set(got) == set(want), f'{what}: {want}, host holds {got}')
    page.shot('picked')
    click_at(page, 330, 60)
    for what, keys in (('Space+drag', (Keys.SPACE,)), ('a drag with the middle button', None)):
        before = page.js('return [state.view.x, state.view.y]')
        pan(page, keys)
        after = page.js('return [state.view.x, state.view.y]')
        moved = [round(a - b) for a, b in zip(after, before)]
        check(moved == [-60, -30] and host_ids(page) == ['sun'], f'{what} pans by the drag, picking nothing: {moved}')
    click_element(page, flag_button(page, BACKGROUND, 'editable'))


def pan(page, keys):
    """A drag of (-60, -30) pixels from the drawing's middle, Space held or with the middle button."""
    x, y = to_screen(page, 200, 150)
    page.move((x, y))
    if keys:
        ActionChains(page.d, duration=40).key_down(Keys.SPACE).click_and_hold().move_by_offset(-30, -15) \
            .move_by_offset(-30, -15).release().key_up(Keys.SPACE).perform()
    else:
        actions = ActionBuilder(page.d, duration=40)
        actions.pointer_action.pointer_down(MouseButton.MIDDLE).move_by(-30, -15).move_by(-30, -15) \
            .pointer_up(MouseButton.MIDDLE)
        actions.perform()
    page.at = (x - 60, y - 30)
    settle(page)


# Keys pressed on the drawing, and what the host then holds: "all" is what
# Select All held, "sun" the sun alone, "-sun" All without the sun, "+cloud"
# with the cloud the drawing locked (Unlock All unlocks it); None: whatever
# the edit leaves (the page showing the host's).
SHORTCUTS = [
    ('Ctrl+A selects all', (Keys.CONTROL, 'a'), 'all', None),
    ('Esc deselects', (Keys.ESCAPE,), 'none', None),
    ('Ctrl+Z undoes the Deselect', (Keys.CONTROL, 'z'), 'all', None),
    ('Ctrl+Shift+Z redoes it', (Keys.CONTROL, Keys.SHIFT, 'z'), 'none', None),
    ('Ctrl+Z again', (Keys.CONTROL, 'z'), 'all', None),
    ('Ctrl+Y redoes too', (Keys.CONTROL, 'y'), 'none', None),
    ('Ctrl+A', (Keys.CONTROL, 'a'), 'all', None),
    ('Ctrl+Shift+A deselects', (Keys.CONTROL, Keys.SHIFT, 'a'), 'none', None),
    ('click the sun, Ctrl+3 hides it', (Keys.CONTROL, '3'), None, 'sun'),
    ('Ctrl+A leaves the hidden sun out', (Keys.CONTROL, 'a'), '-sun', None),
    ('Ctrl+Alt+3 shows all', (Keys.CONTROL, Keys.ALT, '3'), None, None),
    ('Ctrl+A has the sun again', (Keys.CONTROL, 'a'), 'all', None),
    ('click the sun, Ctrl+2 locks it', (Keys.CONTROL, '2'), None, 'sun'),
    ('Ctrl+A leaves the locked sun out', (Keys.CONTROL, 'a'), '-sun', None),
    ('Ctrl+Alt+2 unlocks all', (Keys.CONTROL, Keys.ALT, '2'), None, None),
    ('Ctrl+A has the sun, and the cloud the drawing locked', (Keys.CONTROL, 'a'), 'all+cloud', None),
    ('click the sun, Delete', (Keys.DELETE,), 'none', 'sun'),
    ('Ctrl+A after the Delete', (Keys.CONTROL, 'a'), 'all+cloud-sun', None),
    ('Ctrl+Z undoes that All', (Keys.CONTROL, 'z'), 'none', None),
    ('Ctrl+Z again puts the sun back', (Keys.CONTROL, 'z'), 'sun', None),
    ('Backspace deletes too', (Keys.BACKSPACE,), 'none', None),
    ('Ctrl+Z puts it back', (Keys.CONTROL, 'z'), 'sun', None),
]


def shortcuts(page):
    show_document(page, 'sample.svg')
    shown = page.js("return getComputedStyle(arguments[0], '::after').content", menu_item(page, 'all'))
    check(shown == '"Ctrl+A"', f'Select › All shows its keys: {shown}')
    click_at(page, 10, 150)  # the keys go to the drawing's view
    press_keys(page, Keys.CONTROL, 'a')
    everything = host_ids(page)
    check('sun' in everything and not {'bird-hidden', 'cloud-locked', 'frame-border'} & set(everything),
          f'All: neither hidden nor locked objects: {everything}')
    everything = set(everything)
    want = {'all': everything, 'none': set(), 'sun': {'sun'}, '-sun': everything - {'sun'},
            'all+cloud': everything | {'cloud-locked'}, 'all+cloud-sun': everything - {'sun'} | {'cloud-locked'}}
    for what, keys, held, click_first in SHORTCUTS:
        if click_first:
            click_at(page, 330, 60)
        press_keys(page, *keys)
        got = same_in_page_and_host(page, what)
        if held:
            check(set(got) == want[held], f'{what}: the host holds {held}: {got}')
    page.choose('Help', 'Keyboard Shortcuts')
    panel = page.d.find_element(By.ID, 'shortcuts')
    page.wait.until(lambda d: panel.is_displayed())
    check('Ctrl+Shift+Z' in panel.text and 'Ctrl+Alt+3' in panel.text, f'the panel lists the keys: {panel.text[:80]!r}')
    page.shot('shortcuts')
    ActionChains(page.d).send_keys(Keys.ESCAPE).perform()
    page.wait.until(lambda d: not panel.is_displayed(), 'Escape closes the shortcuts panel')


# Computed colours of the page's parts in each scheme: the paper stays white.
THEMES = {
    'light': {'.panel': 'rgb(246, 247, 249)', '.viewport': 'rgb(223, 226, 231)', '#page': 'rgb(255, 255, 255)',
              'body': 'rgb(29, 35, 48)'},
    'dark': {'.panel': 'rgb(31, 35, 43)', '.viewport': 'rgb(43, 47, 54)', '#page': 'rgb(255, 255, 255)',
             'body': 'rgb(228, 231, 238)'},
}


def dark_theme(page):
    """The page follows the system's colour scheme."""
    show_document(page, 'sample.svg')
    for scheme, want in THEMES.items():
        page.d.execute_cdp_cmd('Emulation.setEmulatedMedia',
                               {'features': [{'name': 'prefers-color-scheme', 'value': scheme}]})
        got = page.js("return Object.fromEntries(arguments[0].map(s => [s, getComputedStyle(document.querySelector(s))"
                      "[s === 'body' ? 'color' : 'backgroundColor']]))", list(want))
        check(got == want, f'the {scheme} theme: {got}')
        page.shot(f'theme-{scheme}')
    page.d.execute_cdp_cmd('Emulation.setEmulatedMedia', {'features': []})
