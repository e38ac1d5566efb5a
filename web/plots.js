// The pictures: the orbits of the rows ticked in the table, seen from the ecliptic's north
// pole, and a scatter of every row's semimajor axis against its eccentricity or inclination.
// Both draw on canvases; names go into the canvas and the legend as text.
import { COLUMN, VALUE_COLUMN_BIT } from './csv.js';
import { ORBIT_COLUMNS, PLANETS, isDrawable, isEllipse, orbitPath, positionAtEpoch, tickStep, whyNotDrawn } from './orbit.js';

const PALETTE = ['#1f77b4', '#d62728', '#2ca02c', '#9467bd', '#ff7f0e', '#17becf', '#e377c2', '#8c564b', '#bcbd22', '#7f7f7f'];
const MARGIN = { left: 46, right: 12, top: 12, bottom: 34 };  // CSS pixels around the plot area
// Below this many, points are drawn as dots; above, as the pixels they fall on, shaded by count.
const DOTS_UP_TO = 20000;
// The not-number bits of the elements an orbit needs.
const ORBIT_BITS = ORBIT_COLUMNS.reduce((bits, title) => bits | (1 << VALUE_COLUMN_BIT[COLUMN[title]]), 0);

const drawnCount = (drawn, all) => `${drawn.toLocaleString('en')} of ${all.toLocaleString('en')} ${all === 1 ? 'row' : 'rows'} drawn`;

function colors() {
  const style = getComputedStyle(document.documentElement);
  const get = (name) => style.getPropertyValue(name).trim();
  return { text: get('--text'), muted: get('--muted'), line: get('--line'), sun: get('--sun'), planet: get('--planet'), point: get('--point') };
}

// Sizes the canvas's bitmap to its box on the screen and gives a context in CSS pixels.
// Null while the canvas is not on the screen.
function prepare(canvas) {
  if (canvas.clientWidth < 100 || canvas.clientHeight < 100) return null;
  const ratio = window.devicePixelRatio || 1;
  const width = Math.max(1, Math.round(canvas.clientWidth * ratio));
  const height = Math.max(1, Math.round(canvas.clientHeight * ratio));
  if (canvas.width !== width || canvas.height !== height) {
    canvas.width = width;
    canvas.height = height;
  }
  const context = canvas.getContext('2d');
  context.setTransform(ratio, 0, 0, ratio, 0, 0);
  context.clearRect(0, 0, canvas.clientWidth, canvas.clientHeight);
  return { context, width: canvas.clientWidth, height: canvas.clientHeight, ratio };
}

// As many decimals as the step has.
function formatTick(value, step) {
  let decimals = 0;
  while (decimals < 8 && Math.abs(Math.round(step * 10 ** decimals) - step * 10 ** decimals) > 1e-6) ++decimals;
  return value.toFixed(decimals);
}

// Axes with round ticks along the plot area's left and bottom edges.
function drawAxes(context, area, range, labels, palette) {
  context.strokeStyle = palette.line;
  context.fillStyle = palette.muted;
  context.lineWidth = 1;
  context.font = '12px system-ui, sans-serif';
  context.strokeRect(area.left, area.top, area.width, area.height);
  const xStep = tickStep(range.x1 - range.x0, Math.max(4, Math.floor(area.width / 70)));
  context.textAlign = 'center';
  context.textBaseline = 'top';
  for (let x = Math.ceil(range.x0 / xStep) * xStep; x <= range.x1 + xStep * 1e-9; x += xStep) {
    const px = area.left + ((x - range.x0) / (range.x1 - range.x0)) * area.width;
    context.beginPath();
    context.moveTo(px, area.top + area.height);
    context.lineTo(px, area.top + area.height + 4);
    context.stroke();
    context.fillText(formatTick(x, xStep), px, area.top + area.height + 6);
  }
  const yStep = tickStep(range.y1 - range.y0, Math.max(4, Math.floor(area.height / 50)));
  context.textAlign = 'right';
  context.textBaseline = 'middle';
  for (let y = Math.ceil(range.y0 / yStep) * yStep; y <= range.y1 + yStep * 1e-9; y += yStep) {
    const py = area.top + area.height - ((y - range.y0) / (range.y1 - range.y0)) * area.height;
    context.beginPath();
    context.moveTo(area.left - 4, py);
    context.lineTo(area.left, py);
    context.stroke();
    context.fillText(formatTick(y, yStep), area.left - 6, py);
  }
  context.fillStyle = palette.text;
  context.textAlign = 'right';
  context.textBaseline = 'bottom';
  context.fillText(labels.x, area.left + area.width, area.top + area.height + 32);
  context.save();
  context.translate(12, area.top);
  context.rotate(-Math.PI / 2);
  context.textAlign = 'right';
  context.textBaseline = 'top';
  context.fillText(labels.y, 0, -12);
  context.restore();
}

export class OrbitView {
  constructor(canvas, legend, tip, count) {
    Object.assign(this, { canvas, legend, tip, count, rows: [], markers: [] });
    canvas.addEventListener('pointermove', (event) => this.hover(event));
    canvas.addEventListener('pointerleave', () => { this.tip.hidden = true; });
    new ResizeObserver(() => this.draw()).observe(canvas);
  }

  // rows: [{ name, a, e, i, node, perihelion, meanAnomaly }] as the table gives them.
  show(rows) {
    this.rows = rows;
    this.draw();
  }

  draw() {
    const drawable = this.rows.filter(isDrawable);
    this.count.textContent = drawnCount(drawable.length, this.rows.length);
    this.listRows(drawable);
    const prepared = prepare(this.canvas);
    if (prepared === null) return;
    const { context, width, height } = prepared;
    const palette = colors();
    const paths = drawable.map((row) => ({ row, path: orbitPath(row), at: positionAtEpoch(row) }));
    // Everything drawn fits, Mars's orbit at least.
    let reach = PLANETS[1].a;
    for (const { path } of paths) for (const p of path) reach = Math.max(reach, Math.abs(p.x), Math.abs(p.y));
    reach *= 1.08;
    const area = { left: MARGIN.left, top: MARGIN.top, width: width - MARGIN.left - MARGIN.right, height: height - MARGIN.top - MARGIN.bottom };
    const side = Math.min(area.width, area.height);
    area.left += (area.width - side) / 2;
    area.width = area.height = side;
    const range = { x0: -reach, x1: reach, y0: -reach, y1: reach };
    const px = (x) => area.left + ((x + reach) / (2 * reach)) * side;
    const py = (y) => area.top + side - ((y + reach) / (2 * reach)) * side;
    drawAxes(context, area, range, { x: 'x (au)', y: 'y (au)' }, palette);

    context.save();
    context.beginPath();
    context.rect(area.left, area.top, side, side);
    context.clip();
    context.setLineDash([4, 4]);
    context.strokeStyle = palette.planet;
    context.fillStyle = palette.planet;
    context.font = '11px system-ui, sans-serif';
    context.textAlign = 'left';
    context.textBaseline = 'bottom';
    for (const planet of PLANETS) {
      if (planet.a > reach) continue;
      context.beginPath();
      context.arc(px(0), py(0), (planet.a / (2 * reach)) * side, 0, 2 * Math.PI);
      context.stroke();
      context.fillText(planet.name, px(planet.a * Math.SQRT1_2) + 2, py(planet.a * Math.SQRT1_2) - 2);
    }
    context.setLineDash([]);
    context.fillStyle = palette.sun;
    context.beginPath();
    context.arc(px(0), py(0), 5, 0, 2 * Math.PI);
    context.fill();

    this.markers = [];
    paths.forEach(({ row, path, at }, k) => {
      const color = PALETTE[k % PALETTE.length];
      context.strokeStyle = color;
      context.lineWidth = 1.5;
      context.beginPath();
      path.forEach((p, j) => (j === 0 ? context.moveTo(px(p.x), py(p.y)) : context.lineTo(px(p.x), py(p.y))));
      context.stroke();
      context.fillStyle = color;
      context.beginPath();
      context.arc(px(at.x), py(at.y), 4, 0, 2 * Math.PI);
      context.fill();
      this.markers.push({ name: row.name, x: px(at.x), y: py(at.y), path: path.map((p) => [px(p.x), py(p.y)]) });
    });
    context.restore();
  }

  // The legend: each orbit's name in its colour, then the rows that could not be drawn and why.
  listRows(drawable) {
    this.legend.replaceChildren(...this.rows.map((row) => {
      const item = document.createElement('li');
      const k = drawable.indexOf(row);
      if (k >= 0) {
        item.style.setProperty('--swatch', PALETTE[k % PALETTE.length]);
        item.textContent = row.name;
      } else {
        item.className = 'not-drawn';
        item.textContent = `${row.name}: not drawn, ${whyNotDrawn(row)}`;
      }
      return item;
    }).sort((a, b) => (a.className === 'not-drawn') - (b.className === 'not-drawn')));
  }

  // The name of the body or orbit nearest the pointer, when it is close.
  hover(event) {
    const box = this.canvas.getBoundingClientRect();
    const x = event.clientX - box.left;
    const y = event.clientY - box.top;
    let best = null;
    let bestDistance = 12;
    for (const marker of this.markers) {
      for (const [mx, my] of [[marker.x, marker.y], ...marker.path]) {
        const distance = Math.hypot(mx - x, my - y) - (mx === marker.x && my === marker.y ? 4 : 0);
        if (distance < bestDistance) {
          bestDistance = distance;
          best = marker;
        }
      }
    }
    this.tip.hidden = best === null;
    if (best !== null) {
      this.tip.textContent = best.name;
      this.tip.style.left = `${x}px`;
      this.tip.style.top = `${y}px`;
    }
  }
}

export class ScatterPlot {
  constructor(canvas, count) {
    Object.assign(this, { canvas, count, against: 'e', notes: null, range: null, drag: null });
    canvas.addEventListener('wheel', (event) => {
      event.preventDefault();
      const [x, y] = this.toData(event);
      this.zoom(event.deltaY < 0 ? 0.8 : 1.25, x, y);
    }, { passive: false });
    canvas.addEventListener('pointerdown', (event) => {
      canvas.setPointerCapture(event.pointerId);
      this.drag = { x: event.clientX, y: event.clientY, range: { ...this.range } };
    });
    canvas.addEventListener('pointermove', (event) => {
      if (this.drag === null || this.range === null) return;
      const { area } = this;
      const { range } = this.drag;
      const dx = ((event.clientX - this.drag.x) / area.width) * (range.x1 - range.x0);
      const dy = ((event.clientY - this.drag.y) / area.height) * (range.y1 - range.y0);
      this.range = { x0: range.x0 - dx, x1: range.x1 - dx, y0: range.y0 + dy, y1: range.y1 + dy };
      this.draw();
    });
    canvas.addEventListener('pointerup', () => { this.drag = null; });
    new ResizeObserver(() => this.draw()).observe(canvas);
  }

  // notes: the worker's notes on every row (notNumbers, semimajorAxes, eccentricities, inclinations).
  show(notes) {
    this.notes = notes;
    const { notNumbers, semimajorAxes: a, eccentricities: e } = notes;
    this.drawable = new Uint8Array(notNumbers.length);
    let drawn = 0;
    let largest = 0;
    for (let k = 0; k < notNumbers.length; ++k) {
      if (!(notNumbers[k] & ORBIT_BITS) && isEllipse(a[k], e[k])) {
        this.drawable[k] = 1;
        ++drawn;
        largest = Math.max(largest, a[k]);
      }
    }
    this.drawnCount = drawn;
    // The whole plot reaches the largest a but for the farthest half percent, which would squeeze
    // the rest into a corner: found from a histogram, as a million rows are too many to sort.
    const bins = new Uint32Array(1000);
    for (let k = 0; k < a.length; ++k) if (this.drawable[k]) ++bins[Math.min(999, Math.floor((a[k] / largest) * 1000))];
    let bin = 0;
    for (let seen = 0; bin < 999 && (seen += bins[bin]) < drawn * 0.995; ++bin);
    this.largestA = drawn === 0 ? 6 : ((bin + 1) / 1000) * largest * 1.05;
    this.reset();
  }

  setAgainst(against) {
    this.against = against;
    this.canvas.setAttribute('aria-label', `Semimajor axis against ${against === 'e' ? 'eccentricity' : 'inclination'} of every row`);
    this.reset();
  }

  reset() {
    let largestI = 1;
    if (this.notes && this.against === 'i') {
      for (let k = 0; k < this.drawable.length; ++k) if (this.drawable[k]) largestI = Math.max(largestI, this.notes.inclinations[k]);
    }
    this.range = { x0: 0, x1: this.largestA ?? 6, y0: 0, y1: this.against === 'e' ? 1 : Math.min(180, largestI * 1.05) };
    this.draw();
  }

  // Zooms by `factor` (below 1 zooms in) about the point (x, y), the middle by default.
  zoom(factor, x = (this.range.x0 + this.range.x1) / 2, y = (this.range.y0 + this.range.y1) / 2) {
    const r = this.range;
    this.range = { x0: x + (r.x0 - x) * factor, x1: x + (r.x1 - x) * factor, y0: y + (r.y0 - y) * factor, y1: y + (r.y1 - y) * factor };
    this.draw();
  }

  toData(event) {
    const box = this.canvas.getBoundingClientRect();
    const { area, range } = this;
    const x = range.x0 + ((event.clientX - box.left - area.left) / area.width) * (range.x1 - range.x0);
    const y = range.y0 + ((area.top + area.height - (event.clientY - box.top)) / area.height) * (range.y1 - range.y0);
    return [x, y];
  }

  draw() {
    if (this.notes === null) return;
    this.count.textContent = drawnCount(this.drawnCount, this.notes.notNumbers.length);
    const prepared = prepare(this.canvas);
    if (prepared === null) return;
    const { context, width, height, ratio } = prepared;
    const palette = colors();
    this.area = { left: MARGIN.left, top: MARGIN.top, width: width - MARGIN.left - MARGIN.right, height: height - MARGIN.top - MARGIN.bottom };
    const ys = this.against === 'e' ? this.notes.eccentricities : this.notes.inclinations;
    if (this.drawnCount <= DOTS_UP_TO) {
      this.drawDots(context, ys, palette);
    } else {
      this.drawDensity(context, ys, ratio, palette);
    }
    drawAxes(context, this.area, this.range, { x: 'a (au)', y: this.against === 'e' ? 'e' : 'i (°)' }, palette);
  }

  drawDots(context, ys, palette) {
    const { area, range } = this;
    const xs = this.notes.semimajorAxes;
    context.save();
    context.beginPath();
    context.rect(area.left, area.top, area.width, area.height);
    context.clip();
    context.fillStyle = `rgb(${palette.point})`;
    const radius = this.drawnCount <= 200 ? 3 : this.drawnCount <= 2000 ? 2 : 1.2;
    for (let k = 0; k < xs.length; ++k) {
      if (!this.drawable[k]) continue;
      const x = area.left + ((xs[k] - range.x0) / (range.x1 - range.x0)) * area.width;
      const y = area.top + area.height - ((ys[k] - range.y0) / (range.y1 - range.y0)) * area.height;
      context.beginPath();
      context.arc(x, y, 2.5, 0, 2 * Math.PI);
      context.fill();
    }
    context.restore();
  }

  // Points are counted into the device pixels of the plot area, then shaded by how many fell on
  // each: a million rows take a few milliseconds.
  drawDensity(context, ys, ratio, palette) {
    const { area, range } = this;
    const xs = this.notes.semimajorAxes;
    const w = Math.max(1, Math.round(area.width * ratio));
    const h = Math.max(1, Math.round(area.height * ratio));
    const counts = new Uint32Array(w * h);
    const sx = w / (range.x1 - range.x0);
    const sy = h / (range.y1 - range.y0);
    for (let k = 0; k < xs.length; ++k) {
      if (!this.drawable[k]) continue;
      const x = Math.floor((xs[k] - range.x0) * sx);
      const y = h - 1 - Math.floor((ys[k] - range.y0) * sy);
      if (x >= 0 && x < w && y >= 0 && y < h) ++counts[y * w + x];
    }
    const image = context.createImageData(w, h);
    const [r, g, b] = palette.point.split(',').map(Number);
    for (let p = 0; p < counts.length; ++p) {
      if (counts[p] === 0) continue;
      image.data[4 * p] = r;
      image.data[4 * p + 1] = g;
      image.data[4 * p + 2] = b;
      image.data[4 * p + 3] = Math.min(255, 110 + 45 * counts[p]);
    }
    context.putImageData(image, Math.round(area.left * ratio), Math.round(area.top * ratio));
  }
}
