"""What the browser tests share: checks that print as they go, and the
server under test."""
import re
import subprocess
import sys

failures = []


def check(ok, what):
    print(('ok   ' if ok else 'FAIL ') + what)
    if not ok:
        failures.append(what)


def start_server(simhost):
    """`simhost serve --port 0`, and the address it prints."""
    server = subprocess.Popen([simhost, 'serve', '--port', '0'], stdout=subprocess.PIPE, text=True)
    line = server.stdout.readline()
    match = re.search(r'http://\S+', line)
    if not match:
        server.kill()
        raise SystemExit(f'simhost serve printed no address: {line!r}')
    return server, match.group(0).rstrip('/') + '/'


def stop_and_report(server):
    """Stops the server; exits 1 when a check failed."""
    server.terminate()
    server.wait(10)
    if failures:
        print(f'{len(failures)} check(s) failed')
        sys.exit(1)
