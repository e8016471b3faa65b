"""Starts `nitf serve` on a free loopback port for the serve tests and stops it."""
import re
import signal
import subprocess
import time
import urllib.error
import urllib.request


class Server:
    def __init__(self, nitf, files, *options):
        self.process = subprocess.Popen([nitf, 'serve', *files, '--port', '0', *options],
                                        stdout=subprocess.PIPE, text=True)
        line = self.process.stdout.readline()
        found = re.search(r'http://([\d.]+):(\d+)/', line)
        if not found:
            self.process.kill()
            raise SystemExit('nitf serve printed no address: %r' % line)
        self.host, self.port = found.group(1), int(found.group(2))
        self.url = found.group(0)

    def get(self, path):
        """(status, body) of GET path."""
        try:
            with urllib.request.urlopen(self.url + path.lstrip('/'), timeout=60) as answer:
                return answer.status, answer.read()
        except urllib.error.HTTPError as e:
            return e.code, e.read()

    def peak_kib(self):
        with open('/proc/%d/status' % self.process.pid) as status:
            return int(re.search(r'VmHWM:\s+(\d+)', status.read()).group(1))

    def stop(self):
        """Stops the server as Ctrl-C does; its exit code (0, and no leak report)."""
        self.process.send_signal(signal.SIGINT)
        try:
            return self.process.wait(timeout=60)
        except subprocess.TimeoutExpired:
            self.process.kill()
            return -1

