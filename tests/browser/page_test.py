#!/usr/bin/env python3
"""The page of `simhost serve` in headless Chromium, against the real server.

usage: page_test.py SIMHOST SOURCE_DIR OUT_DIR

Starts `SIMHOST serve --port 0`, opens the page and works it as a designer
would, with the mouse, at 1366x800 and at 390x844: every menu and submenu
hovered and clicked through, each item seen where it is drawn; commands from
Select > Object on the sample drawing and what the page says of them; the
About dialog, with a drawing and with none; a host fault from the Host menu
and the error dialog it brings; a drawing opened with the file picker; the
host's own work around the plug-in (editing.py: edits, undo, layers, picking,
shortcuts, saving, the dark theme). Screenshots go to OUT_DIR. Exits 77 (skipped) when Chromium is not installed.
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import traceback

SKIP = 77
CHROMIUM = shutil.which('chromium') or shutil.which('chromium-browser')
DRIVER = shutil.which('chromedriver') or '/usr/lib/chromium/chromedriver'
if not CHROMIUM:
    print('chromium is not installed: skipped')
    sys.exit(SKIP)

import editing  # noqa: E402
from checks import check, start_server, stop_and_report  # noqa: E402
from selenium import webdriver  # noqa: E402  (after the skip check)
from selenium.webdriver.chrome.service import Service  # noqa: E402
from selenium.webdriver.common.actions.action_builder import ActionBuilder  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.common.keys import Keys  # noqa: E402
from selenium.webdriver.support.ui import WebDriverWait  # noqa: E402

SIMHOST, SOURCE, OUT = (os.path.abspath(a) for a in sys.argv[1:4])
SAMPLE = os.path.join(SOURCE, 'examples', 'sample.svg')
UPLOAD = os.path.join(SOURCE, 'tests', 'data', 'svg', 'objects.svg')
COMMAND = 'Open Paths'


def expected_ids(command, drawing=SAMPLE):
    out = subprocess.run([SIMHOST, 'select', drawing, command, '--json'],
                         check=True, capture_output=True, text=True).stdout
    return [s['id'] for s in json.loads(out)['selected'] if not s.get('kept')]


def start_browser(width, height):
    """Chromium showing a page of width x height CSS pixels."""
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ('--headless=new', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
                 '--disable-background-networking', '--disable-component-update', '--disable-sync',
                 f'--user-data-dir={tempfile.mkdtemp(prefix="wendlow-chromium-")}',
                 f'--window-size={width},{height}'):
        options.add_argument(flag)
    driver = webdriver.Chrome(service=Service(DRIVER), options=options)
    # Headless windows are at least 500 px wide and hold the page in less
    # than their size: the page's own size is set exactly.
    driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride',
                           {'width': width, 'height': height, 'deviceScaleFactor': 1, 'mobile': width < 500})
    return driver


# Where a menu item is drawn, whether it lies whole inside the window, and
# whether it is what the page finds at its centre (nothing covers or clips it).
WHERE = """
const item = arguments[0], r = item.getBoundingClientRect();
const x = r.left + r.width / 2, y = r.top + r.height / 2;
const hit = document.elementFromPoint(x, y);
return {x, y, left: r.left, right: r.right, top: r.top, bottom: r.bottom,
        hit: !!hit && item.contains(hit),
        whole: r.width > 0 && r.left >= 0 && r.top >= 0 && r.right <= innerWidth && r.bottom <= innerHeight};"""
# Scrolls the menu that scrolls the item (its own, or the one it is shown
# inline in) until the item shows, as the wheel over that menu would; no
# other box is scrolled.
SCROLL_TO = """
const item = arguments[0];
let menu = item.closest('[role=menu]');
while (menu && !/auto|scroll/.test(getComputedStyle(menu).overflowY)) menu = menu.parentElement.closest('[role=menu]');
if (!menu) return;
const r = item.getBoundingClientRect(), m = menu.getBoundingClientRect();
if (r.top < m.top) menu.scrollTop -= m.top - r.top + 4;
else if (r.bottom > m.bottom) menu.scrollTop += r.bottom - m.bottom + 4;"""
SUBMENU_ITEMS = "following-sibling::*[@role='menu']/li/*[@role='menuitem']"


class Page:
    def __init__(self, driver, url):
        self.d, self.url = driver, url
        self.wait = WebDriverWait(driver, 15)
        self.at = (0, 0)

    def js(self, script, *args):
        return self.d.execute_script(script, *args)

    def shot(self, name):
        self.d.save_screenshot(os.path.join(OUT, f'{name}.png'))

    def item(self, name, scope='//'):
        """The visible menu item of that name."""
        xpath = f"{scope}*[@role='menuitem'][normalize-space()={json.dumps(name)}]"
        return self.wait.until(lambda d: next((e for e in d.find_elements(By.XPATH, xpath) if e.is_displayed()), None))

    # -- the mouse, moved and clicked as a person moves it
    def move(self, *points):
        """Moves the mouse along straight lines through the points."""
        actions = ActionBuilder(self.d, duration=30)
        for x, y in points:
            actions.pointer_action.move_to_location(int(x), int(y))
        actions.perform()
        self.at = points[-1]

    def click(self):
        actions = ActionBuilder(self.d)
        actions.pointer_action.click()
        actions.perform()

    def where(self, item):
        """The item scrolled into its menu's view (as a person scrolls a long
        menu), and where it is then."""
        self.js(SCROLL_TO, item)
        return self.js(WHERE, item)

    def enter(self, parent, target):
        """From `parent` (the mouse on it) to `target` in the menu it opened:
        straight down into a menu below it, straight across into one beside
        it, then along that menu."""
        t = self.where(target)
        x, y = self.at
        if t['left'] <= x <= t['right']:
            self.move((x, t['y']), (t['x'], t['y']))
        else:
            edge = t['left'] + 6 if t['left'] >= x else t['right'] - 6
            self.move((edge, y), (edge, t['y']), (t['x'], t['y']))

    def along(self, target):
        t = self.where(target)
        self.move((self.at[0], t['y']), (t['x'], t['y']))

    def leave(self, parent):
        """Back from inside `parent`'s submenu to `parent`."""
        m = self.js("const r = arguments[0].nextElementSibling.getBoundingClientRect();"
                    " return {left: r.left, right: r.right}", parent)
        p = self.where(parent)
        if m['left'] <= p['x'] <= m['right']:
            self.move((self.at[0], p['y']), (p['x'], p['y']))
        else:
            edge = m['left'] + 6 if m['left'] >= p['x'] else m['right'] - 6
            self.move((edge, self.at[1]), (edge, p['y']), (p['x'], p['y']))

    def open_top(self, name):
        top = self.item(name, "//*[@id='menubar']/li/")
        t = self.where(top)
        self.move((t['x'], t['y']))
        if top.get_attribute('aria-expanded') != 'true':
            self.click()
        self.wait.until(lambda d: top.get_attribute('aria-expanded') == 'true', f'{name} did not open')
        return top

    def choose(self, *names):
        """Clicks through the menu bar with the mouse: choose('Select', 'Object', 'Open Paths')."""
        parent = self.open_top(names[0])
        for name in names[1:]:
            item = next(e for e in parent.find_elements(By.XPATH, SUBMENU_ITEMS) if e.text.strip() == name)
            self.enter(parent, item)
            if item.get_attribute('aria-haspopup'):
                if item.get_attribute('aria-expanded') != 'true':
                    self.click()  # where hovering opens no submenu (a narrow screen)
                self.wait.until(lambda d: item.get_attribute('aria-expanded') == 'true', f'{name} did not open')
            parent = item
        self.click()

    def walk(self, parent, path, problems):
        """Hovers every item of the menu `parent` opened, and every
        submenu's; clicks each submenu's item. Notes each item that is not
        whole in the window or not on top at its centre."""
        items = parent.find_elements(By.XPATH, SUBMENU_ITEMS)
        entered = False
        for item in items:
            w = self.where(item)
            label = ' > '.join(path + [item.get_attribute('textContent').strip()])
            if not (w['whole'] and w['hit']):
                problems.append(f"{label} at {round(w['left'])},{round(w['top'])}: "
                                f"{'not whole in the window' if not w['whole'] else 'covered or clipped'}")
                continue  # a person could not reach it
            if entered:
                self.along(item)
            else:
                self.enter(parent, item)
                entered = True
            if item.get_attribute('aria-haspopup'):
                self.click()
                self.wait.until(lambda d: item.get_attribute('aria-expanded') == 'true', f'{label} did not open')
                before = len(problems)
                self.walk(item, path + [item.text.strip()], problems)
                if len(problems) == before:
                    self.shot(f"menu-{'-'.join(path + [item.text.strip()]).lower().replace(' ', '-')}-{self.size}")
                self.leave(item)

    def status(self):
        return self.d.find_element(By.ID, 'status').text

    def wait_status(self, pattern):
        self.wait.until(lambda d: re.search(pattern, self.status()), f'status never matched {pattern}')
        return self.status()

    def dialog(self):
        """The visible modal dialog, once it shows."""
        return self.wait.until(lambda d: next(
            (e for e in d.find_elements(By.CSS_SELECTOR, '[role=dialog][aria-modal=true]') if e.is_displayed()), None))

    def press(self, dialog, text):
        dialog.find_element(By.XPATH, f".//button[normalize-space()={json.dumps(text)}]").click()
        self.wait.until(lambda d: not dialog.is_displayed(), 'the dialog stayed open')

    def overlay_ids(self):
        return self.js("return [...document.querySelectorAll('#overlay [data-object-id]')]"
                       ".map(e => e.getAttribute('data-object-id'))")

    def listed(self, list_id):
        return self.js(f"return [...document.querySelectorAll('#{list_id} .object-id')].map(e => e.textContent)")

    def api(self, method, path):
        """The status and JSON answer of a request the page's way."""
        return self.d.execute_async_script(
            "const done = arguments[2]; fetch(arguments[1], {method: arguments[0]})"
            ".then(async r => done([r.status, r.status === 204 ? null : await r.json()]))", method, path)


def menus_by_mouse(page):
    """Every menu opened with a click, every item hovered, every submenu
    clicked and walked: each item whole in the window and on top."""
    tops = [e.text.strip() for e in page.d.find_elements(By.CSS_SELECTOR, '#menubar > li > [role=menuitem]')]
    check(tops == ['File', 'Edit', 'Select', 'Object', 'Help', 'Host'], f'the menu bar: {tops}')
    for name in tops:
        problems = []
        top = page.open_top(name)
        page.walk(top, [name], problems)
        check(not problems, f'every item under {name} is shown whole and on top at {page.size}: {problems[:4]}')
        page.move((4, 4))  # a click off the menus, in the bar's corner, closes them
        page.click()
        check(page.js("return !document.querySelector('#menubar [aria-expanded=true]')"), f'a click elsewhere closes {name}')


def ensure_sample(page):
    page.wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, '#documents li'))
    names = page.d.find_elements(By.CSS_SELECTOR, '#documents .doc-name')
    sample = next((n for n in names if n.text.endswith('sample.svg')), None)
    if sample is None:
        page.d.find_element(By.ID, 'file-input').send_keys(SAMPLE)
        page.wait_status(r'Opened sample\.svg')
    else:
        sample.click()
    page.wait.until(lambda d: page.js("return document.getElementById('drawing').naturalWidth > 0"))


def select_command(page):
    want = expected_ids(COMMAND)
    page.choose('Select', 'Object', COMMAND)
    text = page.wait_status(rf'selected by {COMMAND} in \d')
    check(text.startswith(f'{len(want)} object'), f'status counts {len(want)} objects: {text!r}')
    check(page.overlay_ids() == want, f'overlay holds {want}: {page.overlay_ids()}')
    check(page.listed('selection') == want, f'the panel lists {want}: {page.listed("selection")}')
    effects = page.js("return [...document.querySelectorAll('#overlay [data-object-id]')]"
                      ".map(e => getComputedStyle(e).vectorEffect)")
    check(effects and all(e == 'non-scaling-stroke' for e in effects), f'outlines keep their width: {effects}')
    boxes = page.js("return [...document.querySelectorAll('#overlay [data-bbox-of]')].map(e => e.getAttribute('data-bbox-of'))")
    check(sorted(boxes) == sorted(want), f'each selected object has its box: {boxes}')
    page.shot('select-open-paths')


def soon(condition, seconds=5):
    """Whether the condition holds within a few seconds (a check, not a wait that ends the test)."""
    end = time.time() + seconds
    while not condition() and time.time() < end:
        time.sleep(0.1)


def canvas_width(page):
    return page.js("return document.getElementById('canvas').getBoundingClientRect().width")


def guides_then_rasters(page):
    """Guides stay selected through the next command: listed apart, not
    counted as its picks; Fit still shows the drawing; a reloaded page shows
    what the host holds; Deselect all clears it."""
    page.d.find_element(By.ID, 'zoom-fit').click()
    fitted = canvas_width(page)
    guides, rasters = expected_ids('Guides'), expected_ids('Rasters')
    for _ in range(2):  # the second time the guides are its picks again, not kept
        page.choose('Select', 'Object', 'Guides')
        text = page.wait_status(r'selected by Guides in \d')
    check(text.startswith(f'{len(guides)} object') and 'still' not in text, f'Guides twice: {text!r}')
    page.choose('Select', 'Object', 'Rasters')
    text = page.wait_status(r'selected by Rasters in \d')
    check(text.startswith(f'{len(rasters)} object') and f'{len(guides)} guides still selected' in text,
          f'Rasters after Guides counts its own picks and tells of the guides: {text!r}')
    lists = (page.listed('selection'), page.listed('kept-list'))
    check(lists == (rasters, guides), f'the panel lists {rasters}, then {guides} apart: {lists}')
    page.d.find_element(By.ID, 'zoom-fit').click()
    check(abs(canvas_width(page) - fitted) < 1, f'Fit shows the drawing as before: {fitted} then {canvas_width(page)}')
    page.shot('kept-guides')
    page.d.refresh()
    page.wait.until(lambda d: page.js("return document.body.classList.contains('ready')"))
    soon(lambda: page.listed('kept-list'))
    lists = (page.listed('selection'), page.listed('kept-list'))
    check(lists == (rasters, guides), f"a reloaded page shows the host's selection: {lists}")
    page.d.find_element(By.ID, 'deselect-all').click()
    page.wait_status('Nothing selected')
    _, held = page.api('GET', f"/api/documents/{page.js('return state.current')}/selection")
    check(held['count'] == 0 and not page.d.find_element(By.ID, 'kept').is_displayed(),
          f"Deselect all clears the host's selection, guides too: {held['count']}")


def page_edge(page):
    """The page is drawn where the drawing's page is, on the pasteboard."""
    entry = page.js("return state.docs.find(d => String(d.id) === String(state.current))")
    got = page.js("const p = document.getElementById('page').getBoundingClientRect(),"
                  " c = document.getElementById('canvas').getBoundingClientRect();"
                  " return [p.left - c.left, p.top - c.top, p.width, p.height, c.width]")
    box, sheet = entry.get('viewBox'), entry.get('page')
    check(box and sheet, f'the host tells the page and the drawing\'s box: {entry}')
    if box and sheet:
        k = got[4] / box[2]
        want = [(sheet[0] - box[0]) * k, (sheet[1] - box[1]) * k, sheet[2] * k, sheet[3] * k]
        check(all(abs(a - b) < 1.5 for a, b in zip(got, want)), f'the page is drawn at {want}: {got[:4]}')
    paper = page.js("return getComputedStyle(document.getElementById('drawing')).backgroundColor")
    check(paper == 'rgba(0, 0, 0, 0)', f'art off the page lies on the pasteboard, not on white: {paper}')


def about_dialog(page):
    # By keyboard: Help, Enter, right into the shared group, Enter.
    page.item('Help').send_keys(Keys.ENTER)
    page.d.switch_to.active_element.send_keys(Keys.ARROW_RIGHT)
    focused = page.d.switch_to.active_element.text
    check(focused == 'Brindle...', f'the arrow keys reach Brindle...: {focused!r}')
    page.d.switch_to.active_element.send_keys(Keys.ENTER)
    dialog = page.dialog()
    check('About Wendlow Brindle' in dialog.text and 'Version' in dialog.text, f'About shows: {dialog.text!r}')
    inside = page.js("return document.getElementById('modal').contains(document.activeElement)")
    check(inside, 'focus moves into the dialog')
    page.d.switch_to.active_element.send_keys(Keys.TAB)
    check(page.js("return document.getElementById('modal').contains(document.activeElement)"), 'Tab stays in the dialog')
    page.shot('about')
    # Any page answers the host's dialog: one opened now shows it and closes it.
    first = page.d.current_window_handle
    page.d.switch_to.new_window('tab')
    page.d.get(page.url)
    other = page.dialog()
    check('About Wendlow Brindle' in other.text, f'a page opened later shows the open dialog: {other.text!r}')
    # A look at the host's dialog answered while it was open but arriving
    # after the press must not show the closed dialog again: the page gets
    # that answer late.
    page.js("const real = window.fetch; window.fetch = (path, init) => path === '/api/dialog' && init.method === 'GET'"
            " ? real(path, init).then(answer => new Promise(r => setTimeout(() => r(answer), 700)))"
            " : real(path, init);"
            " window.dispatchEvent(new Event('focus'));")
    page.press(other, 'OK')
    time.sleep(1.2)
    check(not other.is_displayed(), 'a look sent before the press does not bring the answered dialog back')
    page.d.close()
    page.d.switch_to.window(first)
    # The first page's copy is stale now: pressing it (if it is still shown) closes it.
    stale = page.d.find_element(By.ID, 'modal')
    if stale.is_displayed():
        stale.find_element(By.XPATH, ".//button[normalize-space()='OK']").click()
    page.wait.until(lambda d: not stale.is_displayed(), 'the answered dialog stayed on the first page')
    held = page.d.execute_async_script("fetch('/api/dialog').then(r => r.json()).then(b => arguments[0](b))")
    check(held == {'dialog': None}, f'the host holds no dialog after OK: {held}')


def fault_dialog(page):
    page.choose('Host', 'Fail always')
    operations = page.js("return [...document.querySelectorAll('[role=menu]:not([hidden]) [role=menu]:not([hidden]) "
                         "[role=menuitem]')].map(e => e.textContent)")
    operation = next((o for o in operations if o in ('get-matching-art', 'GetMatchingArt')), None)
    check(operation is not None, f'the Host menu offers the matching-art query: {operations[:5]}...')
    if operation is None:
        return
    page.item(operation).click()
    page.wait_status('fails')
    page.choose('Select', 'Object', COMMAND)
    dialog = page.dialog()
    check('Wendlow Brindle' in dialog.text and len(dialog.text.splitlines()) >= 2, f'error dialog: {dialog.text!r}')
    page.shot('error-dialog')
    time.sleep(1.5)  # a person reads the dialog: that time is not the command's
    page.press(dialog, 'OK')
    text = page.wait_status(r'in [\d.]+ ms')
    ms = float(re.search(r'in ([\d.]+) ms', text).group(1))
    check(ms < 1000, f"the status tells the command's time, not the dialog's: {text!r}")
    page.choose('Host', 'Clear faults')
    page.wait_status('fails nothing')
    page.choose('Select', 'Object', COMMAND)
    page.wait_status(rf'selected by {COMMAND} in \d')
    check(page.overlay_ids() == expected_ids(COMMAND), 'with the faults cleared the command selects again')


def upload(page):
    page.d.find_element(By.ID, 'file-input').send_keys(UPLOAD)
    page.wait_status(r'Opened objects\.svg')
    current = page.js("return document.querySelector('#documents [aria-current] .doc-name').textContent")
    check(current == 'objects.svg', f'the opened drawing is shown: {current!r}')
    page.wait.until(lambda d: page.js("return document.getElementById('drawing').naturalWidth > 0"))
    layers = page.js("return document.querySelectorAll('#layers tr').length")
    check(layers > 0, f'its layers are listed: {layers}')
    page.choose('Select', 'Object', 'All Paths')
    page.wait_status(r'selected by All Paths in \d')
    want = expected_ids('All Paths', UPLOAD)
    check(page.overlay_ids() == want, f'a command on it selects {len(want)} objects: {len(page.overlay_ids())}')
    page.shot('uploaded')


def upload_large(page):
    """A drawing of 2,500 paths: progress while it comes, and a status that
    says how many outlines are shown."""
    path = os.path.join(OUT, 'many-paths.svg')
    with open(path, 'w') as f:
        f.write('<svg xmlns="http://www.w3.org/2000/svg" width="500" height="500" viewBox="0 0 500 500">\n')
        f.writelines(f'<path id="p{i}" d="M{i % 50 * 10} {i // 50 * 10}h8v8h-8z"/>\n' for i in range(2500))
        f.write('</svg>\n')
    page.js("window.seen = []; new MutationObserver(() => seen.push(document.getElementById('status').textContent))"
            ".observe(document.getElementById('status'), {childList: true, characterData: true, subtree: true})")
    page.d.find_element(By.ID, 'file-input').send_keys(path)
    page.wait_status(r'Opened many-paths\.svg')
    seen = page.js('return seen')
    order = [next((i for i, t in enumerate(seen) if t.startswith(w)), -1) for w in ('Uploading', 'Reading', 'Drawing', 'Opened')]
    check(-1 not in order and order == sorted(order), f'the upload shows its progress: {seen}')
    page.choose('Select', 'Object', 'All Paths')
    text = page.wait_status(r'selected by All Paths in \d')
    check('outlines shown for 2,000 of 2,500' in text, f'the status says how many outlines are shown: {text!r}')


def about_without_document(page):
    """About is the application's: it works with no drawing open, and OK is its normal end."""
    for doc in page.api('GET', '/api/documents')[1]:
        page.api('DELETE', f"/api/documents/{doc['id']}")
    page.d.refresh()
    page.wait.until(lambda d: page.js("return document.body.classList.contains('ready')"))
    page.choose('Help', 'About Wendlow Plug-ins', 'Brindle...')
    backdrop = page.d.find_element(By.ID, 'modal-backdrop')
    soon(backdrop.is_displayed)
    check(backdrop.is_displayed(), f'About opens with no drawing open: {page.status()!r}')
    if not backdrop.is_displayed():
        return
    page.press(page.dialog(), 'OK')
    soon(lambda: 'closed' in page.status())
    text = page.status()
    error = page.js("return document.getElementById('status').classList.contains('error')")
    check(text == 'About Wendlow Brindle closed.' and not error, f'About closed with OK, no drawing open: {text!r}')


def phone(url):
    driver = start_browser(390, 844)
    try:
        page = Page(driver, url)
        page.size = '390x844'
        driver.get(url)
        page.item('Select')
        ensure_sample(page)
        menus_by_mouse(page)
        page.choose('Select', 'Object', COMMAND)
        page.wait_status(rf'selected by {COMMAND} in \d')
        widths = page.js('return [innerWidth, document.documentElement.scrollWidth]')
        check(widths[0] == 390 and widths[1] <= 390, f'no sideways scrolling at 390 px: {widths}')
        page.shot('phone')
        # One scroll, the page's: nothing scrolls inside it, and it ends where the panel ends.
        layout = page.js(
            "const inner = [...document.querySelectorAll('main, main *')].filter(e => e.scrollHeight > e.clientHeight + 1"
            " && /auto|scroll/.test(getComputedStyle(e).overflowY)).map(e => e.className || e.tagName);"
            " scrollTo(0, document.documentElement.scrollHeight);"
            " const panel = document.querySelector('.panel').getBoundingClientRect();"
            " return {inner, gap: innerHeight - panel.bottom, scrolls: document.documentElement.scrollHeight > innerHeight}")
        check(layout['scrolls'] and not layout['inner'] and abs(layout['gap']) <= 1,
              f'one scroll at 390x844 and no blank below the panel: {layout}')
        page.shot('phone-bottom')
    finally:
        driver.quit()


def main():
    os.makedirs(OUT, exist_ok=True)
    server, url = start_server(SIMHOST)
    driver = None
    try:
        driver = start_browser(1366, 800)
        page = Page(driver, url)
        page.size = '1366x800'
        driver.get(url)
        page.item('Select')
        ensure_sample(page)
        page.shot('loaded')
        for step in (menus_by_mouse, select_command, guides_then_rasters, page_edge, about_dialog, fault_dialog,
                     upload, upload_large, lambda p: editing.designer_path(p, SAMPLE), editing.picking,
                     editing.shortcuts, editing.dark_theme, about_without_document):
            step(page)
        errors = [e for e in driver.get_log('browser') if e['level'] == 'SEVERE']
        check(not errors, f'no errors in the console: {errors}')
        phone(url)
    except Exception:  # noqa: BLE001  (reported as a failed check, with where it happened)
        traceback.print_exc()
        check(False, 'the run ended early')
    finally:
        if driver:
            driver.quit()
        stop_and_report(server)


if __name__ == '__main__':
    main()
