#!/usr/bin/env python3
"""The page of `simhost serve` in headless Chromium, against the real server.

usage: page_test.py SIMHOST SOURCE_DIR OUT_DIR

Starts `SIMHOST serve --port 0`, opens the page and works it as a designer
would: a command from Select > Object on the sample drawing, the About dialog
from Help, a host fault from the Host menu and the error dialog it brings, and
a drawing opened with the file picker. Screenshots go to OUT_DIR.
Exits 77 (skipped) when Chromium is not installed.
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77
CHROMIUM = shutil.which('chromium') or shutil.which('chromium-browser')
DRIVER = shutil.which('chromedriver') or '/usr/lib/chromium/chromedriver'
if not CHROMIUM:
    print('chromium is not installed: skipped')
    sys.exit(SKIP)

from checks import check, start_server, stop_and_report  # noqa: E402
from selenium import webdriver  # noqa: E402  (after the skip check)
from selenium.webdriver.chrome.service import Service  # noqa: E402
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
    return [s['id'] for s in json.loads(out)['selected']]


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


class Page:
    def __init__(self, driver, url):
        self.d, self.url = driver, url
        self.wait = WebDriverWait(driver, 15)

    def js(self, script, *args):
        return self.d.execute_script(script, *args)

    def shot(self, name):
        self.d.save_screenshot(os.path.join(OUT, f'{name}.png'))

    def item(self, name, scope='//'):
        """The visible menu item of that name."""
        xpath = f"{scope}*[@role='menuitem'][normalize-space()={json.dumps(name)}]"
        return self.wait.until(lambda d: next((e for e in d.find_elements(By.XPATH, xpath) if e.is_displayed()), None))

    def choose(self, *names):
        """Clicks through the menu bar: choose('Select', 'Object', 'Open Paths')."""
        for name in names:
            self.item(name).click()

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
    listed = page.js("return [...document.querySelectorAll('#selection .object-id')].map(e => e.textContent)")
    check(listed == want, f'the panel lists {want}: {listed}')
    effects = page.js("return [...document.querySelectorAll('#overlay [data-object-id]')]"
                      ".map(e => getComputedStyle(e).vectorEffect)")
    check(effects and all(e == 'non-scaling-stroke' for e in effects), f'outlines keep their width: {effects}')
    boxes = page.js("return [...document.querySelectorAll('#overlay [data-bbox-of]')].map(e => e.getAttribute('data-bbox-of'))")
    check(sorted(boxes) == sorted(want), f'each selected object has its box: {boxes}')
    page.shot('select-open-paths')


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
    held = page.d.execute_async_script("fetch('/api/dialog').then(r => arguments[0](r.status))")
    check(held == 204, f'the host holds no dialog after OK: {held}')


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
    page.press(dialog, 'OK')
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


def phone(url):
    driver = start_browser(390, 844)
    try:
        page = Page(driver, url)
        driver.get(url)
        page.item('Select')
        ensure_sample(page)
        page.choose('Select', 'Object', COMMAND)
        page.wait_status(rf'selected by {COMMAND} in \d')
        widths = page.js('return [innerWidth, document.documentElement.scrollWidth]')
        check(widths[0] == 390 and widths[1] <= 390, f'no sideways scrolling at 390 px: {widths}')
        page.choose('Select', 'Object')
        menu = page.js("return document.querySelector('[role=menu] [role=menu]:not([hidden])').getBoundingClientRect().right")
        check(menu <= 390, f'the Object menu fits the screen: right edge at {menu}')
        page.shot('phone')
    finally:
        driver.quit()


def main():
    os.makedirs(OUT, exist_ok=True)
    server, url = start_server(SIMHOST)
    driver = None
    try:
        driver = start_browser(1280, 800)
        page = Page(driver, url)
        driver.get(url)
        page.item('Select')
        ensure_sample(page)
        page.shot('loaded')
        for step in (select_command, about_dialog, fault_dialog, upload):
            step(page)
        errors = [e for e in driver.get_log('browser') if e['level'] == 'SEVERE']
        check(not errors, f'no errors in the console: {errors}')
        phone(url)
    finally:
        if driver:
            driver.quit()
        stop_and_report(server)


if __name__ == '__main__':
    main()
