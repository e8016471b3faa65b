"""The page of nitf serve in headless Chromium: the picture it shows, zoomed in and at the
coarser level, equals `nitf render --region X,Y,W,H --size WxH` of the same window; a
graphic switched off loses its ink and nothing else; the side panel lists every segment,
and the TREs GDAL finds; the file list opens another file, whose text segment reads in
place as `nitf text` gives it.

usage: browser.py NITF SAMPLES"""
import json
import os
import subprocess
import sys
import tempfile
import time

import numpy
from osgeo import gdal
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

from server import Server

nitf, samples = sys.argv[1], sys.argv[2]
graphics = os.path.join(samples, 'jitc/i_3113g.ntf')  # two images and two CGM graphics
tres = os.path.join(samples, 'misc/autzen-utm10.ntf')  # TREs in the file and image headers
texts = os.path.join(samples, 'misc/WithBE.ntf')  # a text segment
failures = []
work = tempfile.mkdtemp()


def check(ok, what):
    if not ok:
        failures.append(what)
        print('FAIL', what)


def pixels(png):
    """An RGB array (rows, columns, 3) of PNG bytes."""
    name = '/vsimem/%d.png' % id(png)
    gdal.FileFromMemBuffer(name, png)
    data = gdal.Open(name).ReadAsArray()
    gdal.Unlink(name)
    data = data if data.ndim == 3 else numpy.stack([data] * 3)
    return numpy.transpose(data[:3], (1, 2, 0)).astype(int)


def rendered(file, x, y, w, h, size):
    out = os.path.join(work, 'r.png')
    subprocess.run([nitf, 'render', file, '--region', '%d,%d,%d,%d' % (x, y, w, h),
                    '--size', '%dx%d' % size, '-o', out, '--quiet'], check=True)
    with open(out, 'rb') as f:
        return pixels(f.read())


def settled(driver):
    """Waits until the picture's tiles are loaded and faded in."""
    WebDriverWait(driver, 60).until(lambda d: d.execute_script(
        'return nitfView.layer && !nitfView.layer.isLoading() && !nitfView.map._animatingZoom'))
    time.sleep(0.8)


def shown(driver):
    """The map as the screen shows it, and the canvas point at its top-left pixel."""
    x, y = driver.execute_script(
        'const p = nitfView.map.containerPointToLatLng([0, 0]); return [p.lng, p.lat];')
    return pixels(driver.find_element(By.ID, 'map').screenshot_as_png), x, y


server = Server(nitf, [graphics, tres, texts])
options = webdriver.ChromeOptions()
for o in ('--headless=new', '--no-sandbox', '--disable-gpu', '--window-size=1100,900',
          '--force-device-scale-factor=1', '--force-color-profile=srgb', '--hide-scrollbars'):
    options.add_argument(o)
driver = webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)
try:
    driver.get(server.url)
    WebDriverWait(driver, 60).until(lambda d: d.find_element(By.TAG_NAME, 'body').get_attribute('data-ready') == '0')
    f = driver.execute_script('return nitfView.file')
    info = json.loads(subprocess.run([nitf, 'info', graphics, '--json'], capture_output=True, check=True).stdout)

    # The side panel: the file header, then every segment of the listing, in order.
    want = ['file'] + ['%s%d' % (p, i) for key, p in (('images', 'i'), ('graphics', 'g'), ('texts', 'text'),
                                                       ('des', 'des')) for i in range(len(info[key]))]
    got = [e.get_attribute('data-segment') for e in driver.find_elements(By.CSS_SELECTOR, 'details.segment')]
    check(got == want, 'segments %s, wanted %s' % (got, want))
    driver.execute_script('document.querySelector(".leaflet-control-container").style.display = "none"')

    # At each level from the one that fits the screen to the finest, the whole map
    # against the composition of the window it shows, at the level's scale.
    settled(driver)
    fitted = driver.execute_script('return nitfView.map.getZoom()')
    for zoom in range(fitted, f['maxzoom'] + 1):
        # Centred on a point of the lower right quarter: the window there is composed anew.
        driver.execute_script('nitfView.map.setView([%f, %f], %d, {animate: false})' % (
            f['height'] * 0.6, f['width'] * 0.55, zoom))
        settled(driver)
        screen, x0, y0 = shown(driver)
        scale = 2 ** (f['maxzoom'] - zoom)  # canvas pixels a screen pixel covers
        # The screen shows tiles: compare tile by tile, each as `nitf render` makes it.
        cell = f['tile'] * scale
        compared = 0
        for ty in range(0, (f['height'] + cell - 1) // cell):
            for tx in range(0, (f['width'] + cell - 1) // cell):
                w, h = min(cell, f['width'] - tx * cell), min(cell, f['height'] - ty * cell)
                sw = min(f['tile'], -(-f['width'] // scale) - tx * f['tile'])
                sh = min(f['tile'], -(-f['height'] // scale) - ty * f['tile'])
                left, top = round((tx * cell - x0) / scale), round((ty * cell - y0) / scale)
                # Only tiles whole on the screen.
                if left < 0 or top < 0 or left + sw > screen.shape[1] or top + sh > screen.shape[0]:
                    continue
                want = rendered(graphics, tx * cell, ty * cell, w, h, (sw, sh))
                part = screen[top:top + sh, left:left + sw]
                differ = int((part != want).any(axis=2).sum())
                check(differ == 0, 'zoom %d tile %d,%d: %d pixels differ from nitf render' % (zoom, tx, ty, differ))
                compared += 1
        check(compared > 0, 'zoom %d: no whole tile on the screen' % zoom)

    # Graphic 0 switched off: its ink goes, and only where the graphic lies.
    driver.execute_script('nitfView.map.setView([%f, %f], %d, {animate: false})' % (
        f['height'] / 2, f['width'] / 2, f['maxzoom']))
    settled(driver)
    before, x0, y0 = shown(driver)
    driver.find_element(By.CSS_SELECTOR, 'input[data-segment="g0"]').click()
    settled(driver)
    after, _, _ = shown(driver)
    changed = (before != after).any(axis=2)
    check(changed.sum() > 0, 'graphic 0 switched off changed nothing')
    # In canvas pixels, the changes lie within the graphic's bounds (SBND1, SBND2: it is
    # attached to nothing), give or take the CGM pen's half width.
    g, (rows, cols) = info['graphics'][0], numpy.nonzero(changed)
    check(g['salvl'] == 0 and rows.size and rows.min() + y0 >= g['sbnd1'][0] - 3 and
          cols.min() + x0 >= g['sbnd1'][1] - 3 and rows.max() + y0 <= g['sbnd2'][0] + 3 and
          cols.max() + x0 <= g['sbnd2'][1] + 3, 'ink removed beyond the graphic\'s bounds')
    driver.find_element(By.CSS_SELECTOR, 'input[data-segment="g0"]').click()
    settled(driver)
    check((shown(driver)[0] == before).all(), 'graphic 0 switched on again is not as before')

    # The second file, from the list: its TREs as GDAL finds them.
    Select(driver.find_element(By.ID, 'files')).select_by_index(1)
    WebDriverWait(driver, 60).until(lambda d: d.find_element(By.TAG_NAME, 'body').get_attribute('data-ready') == '1')
    listed = sorted(e.get_attribute('data-tag') for e in driver.find_elements(By.CSS_SELECTOR, 'details.tre'))
    xml = gdal.Info(tres, options=['-mdd', 'xml:TRE'])
    gdal_tags = sorted(line.split('"')[1] for line in xml.splitlines() if '<tre name=' in line)
    check(listed == gdal_tags, 'TREs %s, GDAL finds %s' % (listed, gdal_tags))

    # The third file's text segment, opened in place, reads as `nitf text` writes it.
    Select(driver.find_element(By.ID, 'files')).select_by_index(2)
    WebDriverWait(driver, 60).until(lambda d: d.find_element(By.TAG_NAME, 'body').get_attribute('data-ready') == '2')
    driver.find_element(By.CSS_SELECTOR, 'details[data-segment="text0"] > summary').click()
    WebDriverWait(driver, 60).until(lambda d: d.execute_script(
        'return document.querySelector("details[data-segment=text0] pre").textContent.length > 0'))
    page = driver.execute_script('return document.querySelector("details[data-segment=text0] pre").textContent')
    stored = subprocess.run([nitf, 'text', texts, '0'], capture_output=True, check=True).stdout.decode('latin-1')
    check(page == stored, 'text 0 on the page %r, nitf text %r' % (page[:60], stored[:60]))
finally:
    driver.quit()
    code = server.stop()
check(code == 0, 'nitf serve exited with %s' % code)
print('%d failures' % len(failures))
sys.exit(1 if failures else 0)
