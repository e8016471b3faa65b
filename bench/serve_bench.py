#!/usr/bin/python3
"""Load on `nitf serve` (a benchmark, not a test): 200 tile requests at once on loopback.

usage: bench/serve_bench.py NITF FILE [CONCURRENT]

Starts `nitf serve FILE --port 0`, then sends CONCURRENT (200) requests at the same time,
each on a connection of its own, for distinct tiles, finest level first (cold: every tile
rendered), then the same requests again (warm: every tile from the cache). Prints the
latency percentiles of each round, the server's CPU time per request (user and system,
a figure the machine's other load hardly moves) and its peak resident memory (VmHWM).
"""
import json
import os
import re
import subprocess
import sys
import threading
import time
import urllib.request


def percentiles(times):
    times = sorted(times)
    pick = lambda p: times[min(len(times) - 1, int(p / 100 * len(times)))] * 1000
    return 'p50 %7.1f ms  p90 %7.1f ms  p99 %7.1f ms  max %7.1f ms' % (
        pick(50), pick(90), pick(99), times[-1] * 1000)


def cpu_seconds(pid):
    """User and system CPU time the server has used."""
    with open('/proc/%d/stat' % pid) as stat:
        fields = stat.read().rsplit(')', 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf('SC_CLK_TCK')


def round_of(url, paths):
    """Sends every path at once; (latencies, failures, wall seconds)."""
    times, failures = [0.0] * len(paths), []
    start = threading.Barrier(len(paths) + 1)

    def one(i):
        start.wait()
        t0 = time.perf_counter()
        try:
            with urllib.request.urlopen(url + paths[i], timeout=300) as answer:
                answer.read()
        except Exception as e:  # noqa: BLE001 (counted, not fatal)
            failures.append('%s: %s' % (paths[i], e))
        times[i] = time.perf_counter() - t0

    threads = [threading.Thread(target=one, args=(i,)) for i in range(len(paths))]
    for t in threads:
        t.start()
    t0 = time.perf_counter()
    start.wait()
    for t in threads:
        t.join()
    return times, failures, time.perf_counter() - t0


def main():
    nitf, path = sys.argv[1], sys.argv[2]
    n = int(sys.argv[3]) if len(sys.argv) > 3 else 200
    server = subprocess.Popen([nitf, 'serve', path, '--port', '0'], stdout=subprocess.PIPE, text=True)
    url = re.search(r'http://\S+/', server.stdout.readline()).group(0)
    f = json.load(urllib.request.urlopen(url + 'api/files'))[0]
    tiles = []
    for z in range(f['maxzoom'], -1, -1):
        cell = f['tile'] << (f['maxzoom'] - z)
        for y in range((f['height'] + cell - 1) // cell):
            for x in range((f['width'] + cell - 1) // cell):
                tiles.append('api/file/0/tile/%d/%d/%d.png' % (z, x, y))
    paths = (tiles * (n // len(tiles) + 1))[:n] if len(tiles) < n else tiles[:n]
    print('%s: %d x %d, %d levels, %d distinct tiles asked by %d requests at once' % (
        path, f['width'], f['height'], f['maxzoom'] + 1, len(set(paths)), n))
    for name in ('cold', 'warm'):
        cpu = cpu_seconds(server.pid)
        times, failures, wall = round_of(url, paths)
        cpu = cpu_seconds(server.pid) - cpu
        print('%-5s %s  (all in %.2f s, server CPU %.1f ms a request, %d failed)' % (
            name, percentiles(times), wall, cpu * 1000 / n, len(failures)))
        for fail in failures[:5]:
            print('  ', fail)
    with open('/proc/%d/status' % server.pid) as status:
        print('peak resident memory %d MiB' % (int(re.search(r'VmHWM:\s+(\d+)', status.read()).group(1)) // 1024))
    server.terminate()
    server.wait()


main()
