#!/usr/bin/env python3
"""The page of `simhost serve` in headless Firefox, driven through Firefox's
own Marionette protocol (marionette.py): the core of the Chromium test.

usage: firefox_page_test.py SIMHOST SOURCE_DIR OUT_DIR

A command from Select > Object on the sample drawing, whose outlines must be
the objects `simhost select` reports; About opened from Help and closed by its
OK button; a screenshot in OUT_DIR. Exits 77 (skipped) without firefox-esr.
"""
import json
import os
import shutil
import subprocess
import sys

from checks import check, start_server, stop_and_report
from marionette import Firefox, MarionetteError

FIREFOX = shutil.which('firefox-esr') or shutil.which('firefox')
if not FIREFOX:
    print('firefox-esr is not installed: skipped')
    sys.exit(77)

SIMHOST, SOURCE, OUT = (os.path.abspath(a) for a in sys.argv[1:4])
SAMPLE = os.path.join(SOURCE, 'examples', 'sample.svg')
COMMAND = 'Open Paths'

# Clicks the visible menu item named arguments[0], if there is one.
CLICK = """
const item = [...document.querySelectorAll('[role=menuitem]')]
  .find(e => e.textContent.trim() === arguments[0] && e.offsetParent !== null);
if (item) item.click();
return !!item;"""
OVERLAY_IDS = "return [...document.querySelectorAll('#overlay [data-object-id]')].map(e => e.dataset.objectId)"
DIALOG = "const d = document.querySelector('[role=dialog][aria-modal=true]'); return d && d.offsetParent ? d.innerText : ''"

def choose(ff, *names):
    for name in names:
        ff.wait(CLICK.replace('arguments[0]', json.dumps(name)), f'the menu item {name}')


def main():
    os.makedirs(OUT, exist_ok=True)
    sample = subprocess.run([SIMHOST, 'select', SAMPLE, COMMAND, '--json'], check=True, capture_output=True, text=True).stdout
    want = [s['id'] for s in json.loads(sample)['selected']]
    server, url = start_server(SIMHOST)
    ff = None
    try:
        ff = Firefox(FIREFOX)
        ff.get(url)
        ff.wait("return document.getElementById('drawing').naturalWidth > 0", 'the drawing')
        choose(ff, 'Select', 'Object', COMMAND)
        status = ff.wait(f"const s = document.getElementById('status').textContent;"
                         f"return /selected by {COMMAND} in \\d/.test(s) && s", 'the status')
        check(status.startswith(f'{len(want)} object'), f'status counts {len(want)} objects: {status!r}')
        got = ff.js(OVERLAY_IDS)
        check(got == want, f'overlay holds {want}: {got}')
        ff.screenshot(os.path.join(OUT, 'firefox-select-open-paths.png'))
        choose(ff, 'Help', 'About Wendlow Plug-ins', 'Brindle...')
        text = ff.wait(DIALOG, 'the About dialog')
        check('About Wendlow Brindle' in text, f'About shows: {text!r}')
        ff.js("[...document.querySelectorAll('[role=dialog][aria-modal=true] button')]"
              ".find(b => b.textContent.trim() === 'OK').click()")
        ff.wait("const d = document.querySelector('[role=dialog][aria-modal=true]'); return !d || !d.offsetParent",
                'the dialog to close')
        held = ff.command('WebDriver:ExecuteAsyncScript', {
            'script': "fetch('/api/dialog').then(r => r.json()).then(b => arguments[0](b))", 'args': []})
        check(held == {'dialog': None}, f'the host holds no dialog after OK: {held}')
        ff.screenshot(os.path.join(OUT, 'firefox-after-about.png'))
    except MarionetteError as e:
        check(False, str(e))
    finally:
        if ff:
            ff.quit()
        stop_and_report(server)


if __name__ == '__main__':
    main()
