// The pictures: the orbits of the rows ticked in the table, seen from the ecliptic's north
// pole, and a scatter of every row's semimajor axis against its eccentricity or inclination.
// Both draw on canvases; names go into the canvas, the tips and the legend as text. The
// scatter's picture is made in the worker; this only puts it on the screen.
import { PLANETS, isDrawable, orbitPath, placeLabels, positionAtEpoch, tickStep, whyNotDrawn } from './orbit.js';

const PALETTE = ['#1f77b4', '#d62728', '#2ca02c', '#9467bd', '#ff7f0e', '#17becf', '#e377c2', '#8c564b', '#bcbd22', '#7f7f7f'];
const MARGIN = { left: 46, right: 12, top: 12, bottom: 34 };  // CSS pixels around the plot area
const LABEL_FONTS = [11, 10, 9, 8];  // pixels, the largest that finds room
const SUN_RADIUS = 5;
// Rows the orbit view's legend names; the rest are counted.
const LEGEND_ITEMS = 12;
// How far a key moves the scatter plot, as a share of its range, and zooms it.
const KEY_PAN = 0.1;
const KEY_ZOOM = 0.8;
// The side of a point (CSS pixels) where there are too many to draw each as a dot.
const POINT_CSS_PIXELS = 2;
// How near (CSS pixels) a point must be to the pointer to be named.
const NAMING_DISTANCE = 8;
// How many of the scatter plot's dots its 'drawn' event places.
const ANNOUNCED_DOTS = 20;

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

function plotArea(width, height) {
  return { left: MARGIN.left, top: MARGIN.top, width: width - MARGIN.left - MARGIN.right, height: height - MARGIN.top - MARGIN.bottom };
}

// Each picture, once drawn, fires 'drawn' on its canvas with what it drew (the orbit view: where
// the planets' names went; the scatter plot: its view and where its first dots are), so that
// whoever looks on need not read the pixels.
function announceDrawn(canvas, drawn) {
  canvas.dispatchEvent(new CustomEvent('drawn', { detail: drawn }));
}

function showTip(tip, text, x, y) {
  tip.hidden = text === null;
  if (text === null) return;
  tip.textContent = text;
  tip.style.left = `${x}px`;
  tip.style.top = `${y}px`;
}

export class OrbitView {
  constructor(canvas, legend, tip, count) {
    Object.assign(this, { canvas, legend, tip, count, rows: [], markers: [] });
    canvas.addEventListener('pointermove', (event) => this.hover(event));
    canvas.addEventListener('pointerleave', () => { this.tip.hidden = true; });
    new ResizeObserver(() => this.draw()).observe(canvas);
  }

  // rows: [{ name, center, a, e, q, i, node, perihelion, meanAnomaly, n, Tp, epoch }] as the
  // elements table gives them (NaN where missing).
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
    // Everything drawn fits, and the planets' orbits for scale, Jupiter's the largest.
    let reach = PLANETS.at(-1).a;
    for (const { path } of paths) for (const p of path) reach = Math.max(reach, Math.abs(p.x), Math.abs(p.y));
    reach *= 1.08;
    const area = plotArea(width, height);
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
    const radii = PLANETS.map((planet) => (planet.a / (2 * reach)) * side);
    for (const radius of radii) {
      context.beginPath();
      context.arc(px(0), py(0), radius, 0, 2 * Math.PI);
      context.stroke();
    }
    context.setLineDash([]);
    const pixelPaths = paths.map(({ path }) => path.map((p) => [px(p.x), py(p.y)]));
    this.drawPlanetNames(context, radii, [px(0), py(0)], area, pixelPaths, palette);
    context.fillStyle = palette.sun;
    context.beginPath();
    context.arc(px(0), py(0), SUN_RADIUS, 0, 2 * Math.PI);
    context.fill();

    this.markers = [];
    paths.forEach(({ row, path, at }, k) => {
      const color = PALETTE[k % PALETTE.length];
      context.strokeStyle = color;
      context.lineWidth = 1.5;
      context.beginPath();
      path.forEach((p, j) => (j === 0 ? context.moveTo(px(p.x), py(p.y)) : context.lineTo(px(p.x), py(p.y))));
      context.stroke();
      // The body where it stands at the epoch, where that is known and on the arc drawn.
      const body = at ?? path[Math.floor(path.length / 2)];
      if (at !== null) {
        context.fillStyle = color;
        context.beginPath();
        context.arc(px(at.x), py(at.y), 4, 0, 2 * Math.PI);
        context.fill();
      }
      this.markers.push({ name: row.name, x: px(body.x), y: py(body.y), path: pixelPaths[k] });
    });
    context.restore();
  }

  // Each planet's name beside its orbit where it finds room, in the largest font that does, clear
  // of the orbits drawn where it can be; the canvas's 'drawn' event tells where they went.
  drawPlanetNames(context, radii, centre, area, paths, palette) {
    const sizes = PLANETS.map(({ name }) => LABEL_FONTS.map((font) => {
      context.font = `${font}px system-ui, sans-serif`;
      return { width: Math.ceil(context.measureText(name).width), height: font + 2, font };
    }));
    const boxes = placeLabels({ radii, sizes, centre, area, paths, clear: SUN_RADIUS + 1 });
    context.fillStyle = palette.planet;
    context.textAlign = 'left';
    context.textBaseline = 'top';
    boxes.forEach((box, k) => {
      if (box === null) return;
      context.font = `${box.font}px system-ui, sans-serif`;
      context.fillText(PLANETS[k].name, box.x, box.y + 1);
    });
    announceDrawn(this.canvas, { labels: { radii, centre, boxes: boxes.map((box, k) => box && { name: PLANETS[k].name, ...box }) } });
  }

  // The legend: each orbit's name in its colour, then the rows that could not be drawn and why;
  // long names cut short (the whole name on hover), and past LEGEND_ITEMS rows a count.
  listRows(drawable) {
    const items = this.rows.map((row) => {
      const item = document.createElement('li');
      const k = drawable.indexOf(row);
      const text = k >= 0 ? row.name : `${row.name}: not drawn, ${whyNotDrawn(row)}`;
      if (k >= 0) {
        item.style.setProperty('--swatch', PALETTE[k % PALETTE.length]);
      } else {
        item.className = 'not-drawn';
      }
      item.textContent = text;
      item.title = text;
      return item;
    }).sort((a, b) => (a.className === 'not-drawn') - (b.className === 'not-drawn'));
    const shown = items.slice(0, LEGEND_ITEMS);
    if (items.length > LEGEND_ITEMS) {
      const more = document.createElement('li');
      more.className = 'more';
      more.textContent = `and ${(items.length - LEGEND_ITEMS).toLocaleString('en')} more`;
      shown.push(more);
    }
    this.legend.replaceChildren(...shown);
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
    showTip(this.tip, best?.name ?? null, x, y);
  }
}

// The scatter plot. Its view moves with the mouse (drag, wheel), the keyboard when focused
// (arrows, + and -) and on a touch screen with two fingers, or with one once a tap has given it
// the gesture, as map widgets do; a one-finger drag otherwise scrolls the page.
export class ScatterPlot {
  // ask(message) sends the worker a question about the shown input and resolves to its answer.
  constructor(canvas, { count, tip, hint, ask }) {
    Object.assign(this, { canvas, count, tip, hint, ask, against: 'e', data: null, range: null, area: null, centre: null });
    this.pointers = new Map();  // pointer id -> { x, y }, while pressed
    this.gesture = null;        // the pointers and range when a drag or pinch began
    this.requested = 0;
    this.drawing = 0;
    canvas.tabIndex = 0;
    this.setActive(false);
    canvas.addEventListener('wheel', (event) => {
      if (this.area === null) return;
      event.preventDefault();
      const [x, y] = this.toData(event.clientX, event.clientY);
      this.zoom(event.deltaY < 0 ? 0.8 : 1.25, x, y);
    }, { passive: false });
    canvas.addEventListener('pointerdown', (event) => this.press(event));
    canvas.addEventListener('pointermove', (event) => this.move(event));
    for (const name of ['pointerup', 'pointercancel']) canvas.addEventListener(name, (event) => this.release(event));
    canvas.addEventListener('pointerleave', (event) => {
      if (event.pointerType === 'mouse') this.tip.hidden = true;
    });
    canvas.addEventListener('keydown', (event) => this.key(event));
    canvas.addEventListener('focus', () => this.nameCentre());
    canvas.addEventListener('blur', () => {
      this.tip.hidden = true;
      this.setActive(false);
      this.draw();
    });
    document.addEventListener('pointerdown', (event) => {
      if (event.target !== canvas) this.setActive(false);
    });
    new ResizeObserver(() => this.draw()).observe(canvas);
  }

  // data: what the worker made of the input: { rows, drawn, whole: { e: range, i: range } }.
  show(data) {
    this.data = data;
    this.reset();
  }

  setAgainst(against) {
    this.against = against;
    this.canvas.setAttribute('aria-label', `Semimajor axis against ${against === 'e' ? 'eccentricity' : 'inclination'} of every row`);
    this.reset();
  }

  reset() {
    if (this.data === null) return;
    this.range = { ...this.data.whole[this.against] };
    this.draw();
  }

  // Zooms by `factor` (below 1 zooms in) about (x, y); by default about the points in view, or
  // the middle when none are.
  zoom(factor, x = this.centre?.[0] ?? (this.range.x0 + this.range.x1) / 2, y = this.centre?.[1] ?? (this.range.y0 + this.range.y1) / 2) {
    const r = this.range;
    this.range = { x0: x + (r.x0 - x) * factor, x1: x + (r.x1 - x) * factor, y0: y + (r.y0 - y) * factor, y1: y + (r.y1 - y) * factor };
    this.draw();
  }

  // Moves the view by a share of its width and height.
  pan(dx, dy) {
    const r = this.range;
    const w = r.x1 - r.x0;
    const h = r.y1 - r.y0;
    this.range = { x0: r.x0 + dx * w, x1: r.x1 + dx * w, y0: r.y0 + dy * h, y1: r.y1 + dy * h };
    this.draw();
  }

  // The place in the data at a place on the screen, for the view `range`.
  toData(clientX, clientY, range = this.range) {
    const box = this.canvas.getBoundingClientRect();
    const { area } = this;
    const x = range.x0 + ((clientX - box.left - area.left) / area.width) * (range.x1 - range.x0);
    const y = range.y0 + ((area.top + area.height - (clientY - box.top)) / area.height) * (range.y1 - range.y0);
    return [x, y];
  }

  // A tap on a touch screen gives the plot the gesture: one finger then moves it, and the page
  // no longer scrolls under it, until a touch elsewhere.
  setActive(active) {
    this.active = active;
    this.canvas.classList.toggle('active', active);
    this.hint.textContent = active ? 'Drag to move, pinch to zoom; touch outside the plot to scroll the page.'
      : 'Drag to move, wheel or + and − to zoom; on a touch screen, tap the plot first or use two fingers.';
  }

  press(event) {
    if (this.area === null) return;
    this.canvas.setPointerCapture(event.pointerId);
    this.pointers.set(event.pointerId, { x: event.clientX, y: event.clientY, type: event.pointerType, moved: false });
    this.startGesture();
  }

  startGesture() {
    const touches = [...this.pointers.values()];
    const moves = touches.length >= 2 || (touches.length === 1 && (touches[0].type !== 'touch' || this.active));
    this.gesture = moves ? { touches: touches.map((p) => ({ ...p })), range: { ...this.range } } : null;
  }

  move(event) {
    const pointer = this.pointers.get(event.pointerId);
    if (pointer === undefined) {
      if (event.pointerType === 'mouse') this.nameNear(event.clientX, event.clientY);
      return;
    }
    pointer.moved ||= Math.hypot(event.clientX - pointer.x, event.clientY - pointer.y) > 4;
    Object.assign(pointer, { x: event.clientX, y: event.clientY });
    if (this.gesture === null) return;
    // The place in the data that was under the pointers' middle stays under it; pinched, the
    // view scales by how far the two fingers moved apart.
    const now = [...this.pointers.values()];
    const then = this.gesture.touches;
    const middle = (points) => [points.reduce((sum, p) => sum + p.x, 0) / points.length, points.reduce((sum, p) => sum + p.y, 0) / points.length];
    const spread = (points) => (points.length < 2 ? 1 : Math.hypot(points[0].x - points[1].x, points[0].y - points[1].y) || 1);
    const scale = now.length === then.length ? spread(then) / spread(now) : 1;
    const { range } = this.gesture;
    const [anchorX, anchorY] = this.toData(...middle(then), range);
    const [atX, atY] = this.toData(...middle(now), { x0: 0, x1: 1, y0: 0, y1: 1 });
    const width = (range.x1 - range.x0) * scale;
    const height = (range.y1 - range.y0) * scale;
    const x0 = anchorX - atX * width;
    const y0 = anchorY - atY * height;
    this.range = { x0, x1: x0 + width, y0, y1: y0 + height };
    this.draw();
  }

  release(event) {
    const pointer = this.pointers.get(event.pointerId);
    this.pointers.delete(event.pointerId);
    if (pointer?.type === 'touch' && !pointer.moved && event.type === 'pointerup' && this.pointers.size === 0) this.setActive(true);
    this.startGesture();
  }

  key(event) {
    if (this.range === null) return;
    const moves = { ArrowLeft: [-KEY_PAN, 0], ArrowRight: [KEY_PAN, 0], ArrowUp: [0, KEY_PAN], ArrowDown: [0, -KEY_PAN] };
    if (moves[event.key]) {
      this.pan(...moves[event.key]);
    } else if (event.key === '+' || event.key === '=') {
      this.zoom(KEY_ZOOM);
    } else if (event.key === '-' || event.key === '_') {
      this.zoom(1 / KEY_ZOOM);
    } else if (event.key === '0') {
      this.reset();
    } else {
      return;
    }
    event.preventDefault();
    this.nameCentre();
  }

  // Names the point nearest a place on the screen, when one is near.
  async nameNear(clientX, clientY) {
    if (this.range === null || this.area === null) return;
    const box = this.canvas.getBoundingClientRect();
    const [x, y] = this.toData(clientX, clientY);
    const rx = (NAMING_DISTANCE / this.area.width) * (this.range.x1 - this.range.x0);
    const ry = (NAMING_DISTANCE / this.area.height) * (this.range.y1 - this.range.y0);
    const asked = ++this.requested;
    const { name } = await this.ask({ type: 'nearest', near: { against: this.against, x, y, rx, ry } });
    if (asked !== this.requested) return;
    showTip(this.tip, name, clientX - box.left, clientY - box.top);
  }

  // With the keyboard: the point nearest the middle of the view, which a cross marks.
  nameCentre() {
    if (this.area === null || document.activeElement !== this.canvas) return;
    const box = this.canvas.getBoundingClientRect();
    this.nameNear(box.left + this.area.left + this.area.width / 2, box.top + this.area.top + this.area.height / 2);
  }

  // Asks the worker for the picture of the view and draws it with the axes once it comes; a
  // picture of a view left since is not drawn.
  async draw() {
    if (this.data === null || this.range === null) return;
    this.count.textContent = drawnCount(this.data.drawn, this.data.rows);
    const ratio = window.devicePixelRatio || 1;
    if (this.canvas.clientWidth < 100) return;
    const area = plotArea(this.canvas.clientWidth, this.canvas.clientHeight);
    const palette = colors();
    const view = {
      against: this.against, range: { ...this.range }, color: palette.point.split(',').map(Number),
      width: Math.max(1, Math.round(area.width * ratio)), height: Math.max(1, Math.round(area.height * ratio)),
      pointPixels: Math.round(POINT_CSS_PIXELS * ratio),
    };
    this.area = area;
    const drawing = ++this.drawing;
    const { picture } = await this.ask({ type: 'picture', view });
    if (drawing !== this.drawing) return;
    const prepared = prepare(this.canvas);
    if (prepared === null) return;
    const { context } = prepared;
    this.centre = picture.centre;
    if (picture.dots) {
      context.save();
      context.beginPath();
      context.rect(area.left, area.top, area.width, area.height);
      context.clip();
      context.fillStyle = `rgb(${palette.point})`;
      for (let k = 0; k < picture.dots.length; k += 2) {
        context.beginPath();
        context.arc(area.left + picture.dots[k] / ratio, area.top + picture.dots[k + 1] / ratio, 2.5, 0, 2 * Math.PI);
        context.fill();
      }
      context.restore();
    } else {
      context.putImageData(new ImageData(picture.pixels, view.width, view.height), Math.round(area.left * ratio), Math.round(area.top * ratio));
    }
    if (document.activeElement === this.canvas) {
      // The cross the keyboard names the nearest point of.
      const [cx, cy] = [area.left + area.width / 2, area.top + area.height / 2];
      context.strokeStyle = palette.text;
      context.beginPath();
      context.moveTo(cx - 6, cy);
      context.lineTo(cx + 6, cy);
      context.moveTo(cx, cy - 6);
      context.lineTo(cx, cy + 6);
      context.stroke();
    }
    drawAxes(context, area, this.range, { x: 'a (au)', y: this.against === 'e' ? 'e' : 'i (°)' }, palette);
    const dots = [];
    for (let k = 0; picture.dots && k < Math.min(picture.dots.length, 2 * ANNOUNCED_DOTS); k += 2) {
      dots.push([area.left + picture.dots[k] / ratio, area.top + picture.dots[k + 1] / ratio]);
    }
    announceDrawn(this.canvas, { view: this.range, dots });
  }
}
