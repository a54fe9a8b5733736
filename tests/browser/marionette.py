"""A small client of Firefox's own remote protocol, Marionette: no driver
program between. Firefox started with --marionette listens on a local port;
each message is its JSON length, a colon and the JSON: a command is
[0, id, name, parameters], its answer [1, id, error, result]."""
import json
import os
import socket
import subprocess
import tempfile
import time


class MarionetteError(Exception):
    pass


class Firefox:
    def __init__(self, binary, width=1280, height=800, timeout=60):
        self.profile = tempfile.mkdtemp(prefix='wendlow-firefox-')
        self.port = self._free_port()
        # The profile fixes the port and keeps Firefox off the network.
        with open(os.path.join(self.profile, 'user.js'), 'w') as prefs:
            for name, value in (('marionette.port', self.port), ('browser.shell.checkDefaultBrowser', False),
                                ('app.update.disabledForTesting', True), ('network.proxy.type', 0),
                                ('browser.startup.page', 0), ('datareporting.policy.dataSubmissionEnabled', False),
                                ('toolkit.telemetry.reportingpolicy.firstRun', False)):
                prefs.write(f'user_pref({json.dumps(name)}, {json.dumps(value)});\n')
        self.process = subprocess.Popen(
            [binary, '--headless', '--marionette', '--no-remote', '--profile', self.profile,
             f'--width={width}', f'--height={height}'],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env={**os.environ, 'MOZ_HEADLESS': '1'})
        self.sock = self._connect(timeout)
        self.buffer = b''
        self.next_id = 0
        self._read()  # the greeting: {"applicationType": "gecko", "marionetteProtocol": 3}
        self.command('WebDriver:NewSession', {'capabilities': {'alwaysMatch': {'acceptInsecureCerts': True}}})

    @staticmethod
    def _free_port():
        with socket.socket() as s:
            s.bind(('127.0.0.1', 0))
            return s.getsockname()[1]

    def _connect(self, timeout):
        deadline = time.time() + timeout
        while True:
            try:
                return socket.create_connection(('127.0.0.1', self.port), timeout=timeout)
            except OSError:
                if time.time() > deadline or self.process.poll() is not None:
                    raise MarionetteError('Firefox did not open its Marionette port')
                time.sleep(0.2)

    def _read(self):
        while b':' not in self.buffer:
            self._fill()
        length, _, rest = self.buffer.partition(b':')
        self.buffer = rest
        while len(self.buffer) < int(length):
            self._fill()
        message, self.buffer = self.buffer[:int(length)], self.buffer[int(length):]
        return json.loads(message)

    def _fill(self):
        data = self.sock.recv(1 << 16)
        if not data:
            raise MarionetteError('Firefox closed the connection')
        self.buffer += data

    def command(self, name, parameters=None):
        self.next_id += 1
        body = json.dumps([0, self.next_id, name, parameters or {}]).encode()
        self.sock.sendall(str(len(body)).encode() + b':' + body)
        while True:
            answer = self._read()
            if answer[0] == 1 and answer[1] == self.next_id:
                break
        if answer[2]:
            raise MarionetteError(f'{name}: {answer[2]}')
        result = answer[3]
        return result.get('value', result) if isinstance(result, dict) else result

    def get(self, url):
        self.command('WebDriver:Navigate', {'url': url})

    def js(self, script, *args):
        return self.command('WebDriver:ExecuteScript', {'script': script, 'args': list(args)})

    def wait(self, script, what, timeout=20):
        """Waits until `script` returns something true; returns it."""
        deadline = time.time() + timeout
        while True:
            value = self.js(script)
            if value:
                return value
            if time.time() > deadline:
                raise MarionetteError(f'timed out waiting for {what}')
            time.sleep(0.1)

    def screenshot(self, path):
        import base64
        png = self.command('WebDriver:TakeScreenshot', {'full': False, 'hash': False})
        with open(path, 'wb') as out:
            out.write(base64.b64decode(png))

    def quit(self):
        try:
            self.command('Marionette:Quit', {'flags': ['eForceQuit']})
        except (MarionetteError, OSError):
            pass
        try:
            self.process.wait(15)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
