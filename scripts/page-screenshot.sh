#!/usr/bin/env bash
# Makes docs/serve-page.png, the README's picture of the page, from the real
# page in headless Chromium: the sample drawing with its open paths selected
# by the plug-in's command and its Background layer locked.
#   usage: scripts/page-screenshot.sh [OUT.png]   (needs a built build/bin/simhost)
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/serve-page.png}
exec /usr/bin/python3 - "$PWD/build/bin/simhost" "$out" <<'PY'
import re, subprocess, sys, tempfile, time
from selenium import webdriver
from selenium.webdriver.chrome.service import Service

simhost, out = sys.argv[1:3]
server = subprocess.Popen([simhost, 'serve', '--port', '0'], stdout=subprocess.PIPE, text=True)
url = re.search(r'http://\S+', server.stdout.readline()).group(0)
options = webdriver.ChromeOptions()
for flag in ('--headless=new', '--no-sandbox', '--disable-gpu', '--hide-scrollbars',
             f'--user-data-dir={tempfile.mkdtemp(prefix="wendlow-shot-")}'):
    options.add_argument(flag)
driver = webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)
POST = """const [path, body, done] = arguments;
fetch(path, {method: 'POST', headers: {'Content-Type': 'application/json'}, body: JSON.stringify(body)})
  .then(r => done(r.status));"""
try:
    driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride',
                           {'width': 1280, 'height': 720, 'deviceScaleFactor': 1, 'mobile': False})
    driver.get(url)
    time.sleep(1)
    doc = driver.execute_script('return state.current')
    for path, body in ((f'/api/documents/{doc}/layers/0', {'editable': False}),
                       (f'/api/documents/{doc}/menu', {'item': 'Open Paths'})):
        status = driver.execute_async_script(POST, path, body)
        if status != 200:
            raise SystemExit(f'{path} answered {status}')
    driver.refresh()  # the page shows what the host holds
    time.sleep(1.5)
    driver.save_screenshot(out)
    print(f'wrote {out}')
finally:
    driver.quit()
    server.terminate()
PY
