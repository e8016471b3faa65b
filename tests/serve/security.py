"""nitf serve answers only with its page and the named files' data: every hostile request
gets a 4xx, shows nothing of other files, and the server stays up, small and leak-free.

usage: security.py NITF SAMPLES"""
import os
import socket
import sys

from server import Server

nitf, samples = sys.argv[1], sys.argv[2]
sample = os.path.join(samples, 'misc/WithBE.ntf')  # an image, a graphic and a text
secret = os.path.abspath(__file__)
server = Server(nitf, [sample])
failures = []

# (request target, expected status or class). Targets are sent as written.
TARGETS = [
    ('/', 200), ('/web/app.js', 200), ('/leaflet/leaflet.js', 200), ('/api/files', 200),
    ('/api/file/0/info', 200), ('/api/file/0/tile/0/0/0.png', 200), ('/api/file/0/text/0', 200),
    ('/api/file/0/tile/0/0/0.png?hide=g0,i0', 200),
    # Paths that climb or name files on disk.
    ('/../../../../etc/passwd', 400), ('/web/../serve.cpp', 400), ('/web/..%2fapp.js', 400),
    ('/web/%2e%2e/%2e%2e/etc/passwd', 400), ('/%2e%2e%2f%2e%2e%2fetc%2fpasswd', 400),
    ('/web/%2E%2E%2Fapp.js', 400), ('/web/..%5capp.js', 400), ('//etc/passwd', 400),
    ('/etc/passwd', 404), (secret, 404), ('/' + os.path.basename(sample), 404), ('/web/index.html%00.png', 400),
    ('/leaflet/leaflet.esm.js', 404), ('/leaflet/images/marker-icon.png', 404),
    ('/leaflet/../../../../etc/passwd', 400), ('/web/', 404), ('/web/serve.cpp', 404),
    ('http://example.com/', 400), ('*', 400),
    # Numbers out of range, negative, huge, or not numbers.
    ('/api/file/1/info', 404), ('/api/file/9999/tile/0/0/0.png', 404),
    ('/api/file/-1/info', 404), ('/api/file/0/tile/0/0/-1.png', 404),
    ('/api/file/0/tile/0/1/0.png', 404), ('/api/file/0/tile/31/0/0.png', 404),
    ('/api/file/0/tile/0/4294967296/0.png', 404), ('/api/file/0/tile/0/9999999999/0.png', 404),
    ('/api/file/0/tile/0/0/' + '9' * 400 + '.png', 404), ('/api/file/0/tile/1e3/0/0.png', 404),
    ('/api/file/0/tile/0/0/0x0.png', 404), ('/api/file/0/text/1', 404),
    ('/api/file/0/text/99999', 404),
    ('/api/file/0/ground?image=0&row=nan&col=1', 400), ('/api/file/0/ground?image=-1&row=0&col=0', 400),
    ('/api/file/0/ground?image=0.5&row=0&col=0', 400), ('/api/file/0/ground?image=9&row=0&col=0', 400),
    ('/api/file/0/ground?row=1e999&col=0&image=0', 400),
    ('/api/file/0/tile/0/0/0.png?hide=g1', 400), ('/api/file/0/tile/0/0/0.png?hide=x0', 400),
    ('/api/file/0/tile/0/0/0.png?hide=g0,', 400), ('/api/file/0/tile/0/0/0.png?hide=g-1', 400),
    ('/api/file/0/tile/0/0/0.png?hide=g00000', 400),
    ('/api/file/0/tile/0/0/0.png?hide=' + 'g0,' * 4000 + 'g0', 414), ('/' + 'a' * 20000, 414),
]

# Whole requests that are not well-formed HTTP.
RAW = [
    b'GET\r\n\r\n', b'GET / HTTP/1.1\r\nHost: x\r\nContent-Length: -5\r\n\r\n',
    b'POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 9999999999\r\n\r\n',
    b'DELETE /api/files HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n',
    b'\x00\xff\xfe garbage\r\n\r\n', b'GET / HTTP/1.1\r\n' + b'X: ' + b'y' * 20000 + b'\r\n\r\n',
    b'GET /web/app.js HTTP/1.1\r\nHost: x\r\nConnection: close\r\n'
    b'Range: bytes=-99999999999999999999\r\n\r\n',
]


def raw(request):
    """The status line's code of the answer to `request` ('' when the server hung up)."""
    with socket.create_connection((server.host, server.port), timeout=30) as s:
        s.sendall(request)
        data = b''
        while chunk := s.recv(65536):
            data += chunk
    return data.split(b' ', 2)[1].decode() if data.startswith(b'HTTP/1.1 ') else '', data


def leaked(body):
    return b'root:' in body or b'from server import' in body or b'NITF02' in body[:6]


for target, want in TARGETS:
    code, body = raw(b'GET ' + target.encode() + b' HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n')
    if code != str(want) or (want != 200 and leaked(body)):
        failures.append('%s: %s, wanted %s' % (target[:80], code, want))
for request in RAW:
    code, body = raw(request)
    if not (code.startswith('4') or code == '') or leaked(body):
        failures.append('%r: %s' % (request[:40], code or 'no answer'))

# Many distinct hostile and valid requests leave memory bounded: the tile cache has a
# limit, refused requests keep nothing.
before = server.peak_kib()
for i in range(400):
    server.get('/api/file/0/tile/0/0/0.png?hide=' + ('g0' if i % 2 else 'i0'))
    server.get('/api/file/0/tile/0/%d/%d.png' % (i * 7919, i))
grown = server.peak_kib() - before
if grown > 64 * 1024:
    failures.append('peak memory grew by %d KiB over 800 requests' % grown)
if server.get('/')[0] != 200:
    failures.append('the server stopped answering')
if (code := server.stop()) != 0:
    failures.append('nitf serve exited with %s' % code)

print('\n'.join(['FAIL ' + f for f in failures] + ['%d requests, %d failures' % (len(TARGETS) + len(RAW) + 801, len(failures))]))
sys.exit(1 if failures else 0)
