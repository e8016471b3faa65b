// The page of `nitf serve`: the composed picture of a file in Leaflet, over the tile
// pyramid the server renders on demand, and a side panel of the file's segments built
// from the listing of `nitf info --json`. Text from the file is always put in as text
// (textContent), never as markup.
'use strict';

const view = {
  files: [], index: 0, file: null, info: null, geo: null,
  hidden: new Set(), map: null, layer: null, images: [], asked: 0,
};
window.nitfView = view;  // for the browser tests and the curious

async function getJson(url) {
  const answer = await fetch(url);
  if (!answer.ok) throw new Error(url + ': ' + answer.status);
  return answer.json();
}

function el(tag, className, ...children) {
  const e = document.createElement(tag);
  if (className) e.className = className;
  for (const c of children) e.append(c);
  return e;
}

function api(path) { return '/api/file/' + view.index + path; }

function tileUrl() {
  const hide = [...view.hidden].join(',');
  return api('/tile/{z}/{x}/{y}.png') + (hide ? '?hide=' + hide : '');
}

// Leaflet's plain CRS with latitude as the canvas row (downwards) and longitude as its
// column, scaled so that the finest level shows one canvas pixel per screen pixel.
function showPicture(f) {
  if (view.map) view.map.remove();
  view.map = view.layer = null;
  if (!f.width) return;
  const s = 1 / 2 ** f.maxzoom;
  const crs = L.extend({}, L.CRS.Simple, { transformation: new L.Transformation(s, 0, s, 0) });
  const map = L.map('map', {
    crs, minZoom: 0, maxZoom: f.maxzoom + 3, zoomSnap: 1, attributionControl: false,
  });
  const bounds = L.latLngBounds([0, 0], [f.height, f.width]);
  view.layer = L.tileLayer(tileUrl(), {
    tileSize: f.tile, minZoom: 0, maxZoom: f.maxzoom + 3, maxNativeZoom: f.maxzoom,
    bounds, noWrap: true, keepBuffer: 1,
  }).addTo(map);
  map.fitBounds(bounds);
  map.on('mousemove', (e) => pointer(e.latlng));
  view.map = map;
}

// A field value from the listing as text: numbers and strings as they are, lists joined.
function valueText(v) {
  if (Array.isArray(v)) return v.map(valueText).join(', ');
  if (v !== null && typeof v === 'object') return JSON.stringify(v);
  return String(v);
}

// The fields of an object as a two-column table; arrays of objects (TRE groups) nested.
function fieldsTable(object, skip) {
  const table = el('table', 'fields');
  for (const [key, value] of Object.entries(object)) {
    if (skip && skip.includes(key)) continue;
    const row = table.insertRow();
    row.insertCell().textContent = key;
    const cell = row.insertCell();
    if (Array.isArray(value) && value.length && typeof value[0] === 'object') {
      value.forEach((item, i) => {
        const d = el('details', '', el('summary', '', key + ' ' + (i + 1)));
        d.append(fieldsTable(item));
        cell.append(d);
      });
    } else if (value !== null && typeof value === 'object' && !Array.isArray(value)) {
      cell.append(fieldsTable(value));
    } else {
      cell.textContent = valueText(value);
    }
  }
  return table;
}

function treList(tres) {
  const list = el('div', 'tres');
  for (const t of tres || []) {
    const d = el('details', 'tre', el('summary', '', t.tag + ' (' + t.length + ' bytes, ' + t.status + ')'));
    d.dataset.tag = t.tag;
    d.append(fieldsTable(t.fields || {}), fieldsTable(t, ['tag', 'fields', 'length', 'status']));
    list.append(d);
  }
  return list;
}

// One segment: its summary (with a switch when it is drawn), its fields and its TREs.
function segment(kind, letter, s, extra) {
  const title = [s.iid1, s.iid2, s.sid, s.sname, s.textid, s.txtitl, s.desid, s.lid]
    .filter((t) => t).join(' ');
  const summary = el('summary', '', kind + ' ' + s.index + (title ? ': ' + title : ''));
  const d = el('details', 'segment', summary);
  d.dataset.segment = letter ? letter + s.index : kind + s.index;
  if (letter) {
    const box = el('input');
    box.type = 'checkbox';
    box.checked = true;
    box.dataset.segment = letter + s.index;
    box.title = 'show or hide this ' + kind;
    box.addEventListener('change', () => {
      if (box.checked) view.hidden.delete(box.dataset.segment);
      else view.hidden.add(box.dataset.segment);
      if (view.layer) view.layer.setUrl(tileUrl());
    });
    summary.append(el('label', 'switch', box, 'shown'));
  }
  if (extra) d.append(extra);
  d.append(fieldsTable(s, ['tres', 'details']));
  if (s.details) d.append(fieldsTable(s.details, ['tres']));
  d.append(treList(s.tres));
  return d;
}

function cornersText(feature) {
  if (!feature || !feature.geometry) return null;
  const ring = feature.geometry.coordinates[0];
  return 'corners ' + ring.slice(0, 4).map(([lon, lat]) => lat.toFixed(6) + ', ' + lon.toFixed(6)).join('; ');
}

function textSegment(t) {
  const pre = el('pre', 'text');
  const d = segment('text', null, t, pre);
  d.addEventListener('toggle', async () => {
    if (!d.open || pre.dataset.loaded) return;
    pre.dataset.loaded = '1';
    const answer = await fetch(api('/text/' + t.index));
    pre.textContent = answer.ok ? new TextDecoder('latin1').decode(await answer.arrayBuffer())
      : 'not readable (' + answer.status + ')';
  });
  return d;
}

function buildPanel(f, info, geo) {
  const panel = document.getElementById('segments');
  panel.replaceChildren();
  document.getElementById('title').textContent = f.name;
  document.getElementById('canvas').textContent =
    f.width ? f.width + ' x ' + f.height + ' pixels, ' + (f.maxzoom + 1) + ' levels' : 'no picture';
  const header = el('details', 'segment', el('summary', '', 'file header'));
  header.dataset.segment = 'file';
  header.append(fieldsTable(info, ['images', 'graphics', 'symbols', 'labels', 'texts', 'des', 'res', 'tres']),
    treList(info.tres));
  panel.append(header);
  (info.images || []).forEach((s, i) => {
    const c = cornersText(geo.features && geo.features[i]);
    panel.append(segment('image', 'i', s, c ? el('div', 'corners', c) : null));
  });
  for (const s of info.graphics || info.symbols || []) panel.append(segment(info.symbols ? 'symbol' : 'graphic', 'g', s));
  for (const s of info.labels || []) panel.append(segment('label', 'l', s));
  for (const s of info.texts || []) panel.append(textSegment(s));
  for (const s of info.des || []) panel.append(segment('des', null, s));
  for (const s of info.res || []) panel.append(segment('res', null, s));
}

// Where each image lies on the canvas: its location added along its attachments (a
// segment attached to level L is placed from the segment displayed at L).
function placeImages(info) {
  const segs = [];
  for (const s of info.images || []) segs.push({ dl: s.idlvl, al: s.ialvl, loc: s.iloc || [0, 0], s });
  for (const s of info.graphics || info.symbols || []) segs.push({ dl: s.sdlvl, al: s.salvl, loc: s.sloc || [0, 0] });
  for (const s of info.labels || []) segs.push({ dl: s.ldlvl, al: s.lalvl, loc: s.lloc || [0, 0] });
  const byLevel = new Map(segs.map((g) => [Number(g.dl), g]));
  const origin = (g) => {
    let row = Number(g.loc[0]) || 0, col = Number(g.loc[1]) || 0;
    const seen = new Set([Number(g.dl)]);
    for (let at = byLevel.get(Number(g.al)); at && !seen.has(Number(at.dl)); at = byLevel.get(Number(at.al))) {
      seen.add(Number(at.dl));
      row += Number(at.loc[0]) || 0;
      col += Number(at.loc[1]) || 0;
    }
    return [row, col];
  };
  return segs.filter((g) => g.s).map((g, i) => {
    const [row, col] = origin(g);
    return { index: i, row, col, rows: Number(g.s.nrows), cols: Number(g.s.ncols), level: Number(g.dl) };
  }).sort((a, b) => b.level - a.level);
}

function pointer(at) {
  const x = at.lng, y = at.lat, f = view.file;
  const text = document.getElementById('pointer'), ground = document.getElementById('ground');
  if (x < 0 || y < 0 || x >= f.width || y >= f.height) {
    text.textContent = '\u00a0';
    ground.textContent = '';
    return;
  }
  let line = 'x ' + Math.floor(x) + ' y ' + Math.floor(y);
  const image = view.images.find((p) => !view.hidden.has('i' + p.index) &&
    y >= p.row && x >= p.col && y < p.row + p.rows && x < p.col + p.cols);
  ground.textContent = '';
  if (image) {
    const row = y - image.row - 0.5, col = x - image.col - 0.5;
    line += ' \u00b7 image ' + image.index + ' row ' + row.toFixed(1) + ' col ' + col.toFixed(1);
    const feature = view.geo.features && view.geo.features[image.index];
    if (feature && feature.properties.rpc) groundOf(image.index, row, col);
  }
  text.textContent = line;
}

// The latitude and longitude through the image's RPC; only the latest answer is shown.
async function groundOf(image, row, col) {
  const asked = ++view.asked;
  const answer = await fetch(api('/ground?image=' + image + '&row=' + row + '&col=' + col));
  if (asked !== view.asked || !answer.ok) return;
  const p = await answer.json();
  document.getElementById('ground').textContent = '\u00b7 ' + Math.abs(p.lat).toFixed(6) +
    (p.lat < 0 ? '\u00b0S ' : '\u00b0N ') + Math.abs(p.lon).toFixed(6) + (p.lon < 0 ? '\u00b0W' : '\u00b0E');
}

async function open(index) {
  view.index = index;
  view.file = view.files[index];
  view.hidden.clear();
  const [info, geo] = await Promise.all([getJson(api('/info')), getJson(api('/geo'))]);
  view.info = info;
  view.geo = geo;
  view.images = placeImages(info);
  buildPanel(view.file, info, geo);
  showPicture(view.file);
  document.body.dataset.ready = String(index);
}

async function start() {
  view.files = await getJson('/api/files');
  const select = document.getElementById('files');
  view.files.forEach((f, i) => select.append(new Option(f.name, String(i))));
  select.hidden = view.files.length < 2;
  select.addEventListener('change', () => open(Number(select.value)));
  await open(0);
}

start().catch((e) => { document.getElementById('title').textContent = String(e); });
