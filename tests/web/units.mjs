// The page's own arithmetic and parsing, under Node: Kepler's equation, orbit positions against
// known cases, where the planets' names go, the table's rows taken apart into fields, the sorts
// of its columns against a comparison sort, the scatter plot's picture, name filtering, why
// an input gave no record, and which lines looked like epoch lines but started no block.
import assert from 'node:assert/strict';
import test from 'node:test';

import { fieldStart, rowField, splitRow } from '../../web/csv.js';
import { PassedOver, REASONS, whyNoRecords } from '../../web/diagnose.js';
import { PLANETS, eccentricAnomaly, isDrawable, orbitPath, placeLabels, positionAtEpoch, tickStep, whyNotDrawn } from '../../web/orbit.js';
import { DOTS_UP_TO, ScatterData } from '../../web/scatter-data.js';
import { sortByNumber, sortByText } from '../../web/sort.js';
import { foldForSearch } from '../../web/table-store.js';

test('the eccentric anomaly solves Kepler\'s equation for every eccentricity below 1', () => {
  for (const e of [0, 0.001, 0.3, 0.7, 0.9, 0.99, 0.999999]) {
    for (let degrees = -720; degrees <= 720; degrees += 7.5) {
      const M = (degrees * Math.PI) / 180;
      const E = eccentricAnomaly(M, e);
      const wrapped = Math.atan2(Math.sin(M), Math.cos(M));
      assert.ok(Math.abs(E - e * Math.sin(E) - wrapped) < 1e-9, `e ${e}, M ${degrees}°: E ${E}`);
    }
  }
});

test('an orbit lies between perihelion and aphelion, in the plane of its node and inclination', () => {
  const cases = [
    { a: 1.4579614, e: 0.222835, i: 10.8278, node: 304.28871, perihelion: 178.88312, meanAnomaly: 197.25843 },
    { a: 2.5302241, e: 0.6247138, i: 0.44853, node: 124.35411, perihelion: 278.71356, meanAnomaly: 163.4482 },
    { a: 5, e: 0, i: 90, node: 0, perihelion: 0, meanAnomaly: 0 },
  ];
  for (const elements of cases) {
    const { a, e, i, node } = elements;
    const normal = [  // the orbit plane's pole
      Math.sin((i * Math.PI) / 180) * Math.sin((node * Math.PI) / 180),
      -Math.sin((i * Math.PI) / 180) * Math.cos((node * Math.PI) / 180),
      Math.cos((i * Math.PI) / 180),
    ];
    for (const p of [...orbitPath(elements, 64), positionAtEpoch(elements)]) {
      const r = Math.hypot(p.x, p.y, p.z);
      assert.ok(r >= a * (1 - e) - 1e-9 && r <= a * (1 + e) + 1e-9, `r ${r} for a ${a}, e ${e}`);
      assert.ok(Math.abs(p.x * normal[0] + p.y * normal[1] + p.z * normal[2]) < 1e-9, 'out of the plane');
    }
  }
  // At perihelion (M = 0) a circle's body stands where the node and perihelion point.
  const { x, y } = positionAtEpoch({ a: 2, e: 0, i: 0, node: 90, perihelion: 0, meanAnomaly: 0 });
  assert.ok(Math.abs(x) < 1e-12 && Math.abs(y - 2) < 1e-12);
});

test('orbits about the Sun are drawn from a or q, e and the angles; those about the Earth or the Moon are not', () => {
  const eros = { a: 1.46, e: 0.22, i: 10.8, node: 304.3, perihelion: 178.9, meanAnomaly: 197.3 };
  const comet = { a: NaN, q: 0.482465, e: 1.000028, i: 1.8392, node: 323.2267, perihelion: 343.8056, Tp: 55814.7227, epoch: 55800 };
  const cases = [
    [eros, ''],
    [{ ...eros, e: 0 }, ''],
    [{ ...eros, e: 1 }, 'q ≤ 0'],  // an open orbit needs its q
    [{ ...eros, e: 1, q: 1.1 }, ''],
    [{ ...eros, e: -0.1 }, 'e < 0'],
    [{ ...eros, a: -0.0004811 }, 'a ≤ 0'],
    [{ ...eros, meanAnomaly: NaN }, ''],  // drawn, its place unknown
    [{ ...eros, i: Infinity }, 'its elements are not all given'],
    [{ ...eros, center: 'Earth' }, 'an orbit about the Earth'],
    [{ ...eros, center: 'Moon' }, 'an orbit about the Moon'],
    [{ ...eros, center: 'Barycentre' }, ''],
    [comet, ''],
    [{ ...comet, e: 0.9001883 }, ''],
    [{ ...comet, q: NaN }, 'its elements are not all given'],
  ];
  for (const [elements, why] of cases) {
    assert.equal(whyNotDrawn(elements), why, JSON.stringify(elements));
    assert.equal(isDrawable(elements), why === '', JSON.stringify(elements));
  }
});

test('an open orbit is drawn as its arc near the Sun, the body where the time since perihelion puts it', () => {
  const comet = { q: 0.482465, e: 1.000028, i: 1.8392, node: 323.2267, perihelion: 343.8056, Tp: 55814.7227 };
  for (const e of [1, 1.000028, 1.5, 0.9999]) {
    const path = orbitPath({ ...comet, e }, 64);
    const distances = path.map((p) => Math.hypot(p.x, p.y, p.z));
    assert.ok(Math.abs(Math.min(...distances) - comet.q) < 1e-3, `e ${e}: nearest ${Math.min(...distances)}`);
    assert.ok(Math.abs(Math.max(...distances) - 6) < 1e-6, `e ${e}: reaches ${Math.max(...distances)}`);
    // At perihelion the body is at q, towards the perihelion; a year later, beyond the arc.
    const at = positionAtEpoch({ ...comet, e, epoch: comet.Tp });
    assert.ok(Math.abs(Math.hypot(at.x, at.y, at.z) - comet.q) < 1e-9, `e ${e}: at perihelion ${JSON.stringify(at)}`);
    assert.equal(positionAtEpoch({ ...comet, e, epoch: comet.Tp + 3650 }), null);
  }
  // Forty days before perihelion, an orbit all but parabolic stands where a parabola's would,
  // whichever formula places it: s + s^3/3 = k t / sqrt(2 q^3), s = tan(v/2), r = q (1 + s^2),
  // solved here by bisection.
  const target = (0.01720209895 * 40) / Math.sqrt(2 * comet.q ** 3);
  let [low, high] = [0, 10];
  for (let step = 0; step < 100; ++step) {
    const s = (low + high) / 2;
    if (s + s ** 3 / 3 < target) low = s;
    else high = s;
  }
  const parabolic = comet.q * (1 + low * low);
  for (const e of [1, 1.000028, 0.99999]) {
    const before = positionAtEpoch({ ...comet, e, epoch: comet.Tp - 40 });
    const r = Math.hypot(before.x, before.y, before.z);
    assert.ok(Math.abs(r - parabolic) < 1e-3, `e ${e}: ${r} au forty days before perihelion, a parabola ${parabolic}`);
  }
  // A closed orbit with a mean anomaly is placed by it; with none, by its perihelion time.
  const ellipse = { a: 2, e: 0.5, i: 0, node: 0, perihelion: 0, Tp: 50000, epoch: 50000 };
  const { x, y } = positionAtEpoch(ellipse);
  assert.ok(Math.abs(x - 1) < 1e-12 && Math.abs(y) < 1e-12);
});

test('axis ticks are round and few', () => {
  for (const [span, count, step] of [[7.4, 4, 2], [1, 5, 0.2], [1, 10, 0.1], [180, 4, 50], [0.003, 3, 0.001], [2.96, 6, 0.5]]) {
    assert.equal(tickStep(span, count), step, `${span} in ${count}`);
  }
});

test('rows are taken apart as the converter quotes them', () => {
  const cases = [
    ['Eros 433,11.16,0.46,197.25843,178.88312,304.28871,10.82780,0.2228350,1.4579614,61026',
      ['Eros 433', '11.16', '0.46', '197.25843', '178.88312', '304.28871', '10.82780', '0.2228350', '1.4579614', '61026']],
    [' (Unnamed),,,0.0,,,,,,-2.4e+006', [' (Unnamed)', '', '', '0.0', '', '', '', '', '', '-2.4e+006']],
    ['"Toutatis, ""revised"" 4179",15.3,"a,b",x', ['Toutatis, "revised" 4179', '15.3', 'a,b', 'x']],
    ['"A\rB 1",2', ['A\rB 1', '2']],
    ['"A ""x,y"" 1",2.5', ['A "x,y" 1', '2.5']],
    ['"",', ['', '']],
    ['a,"",b', ['a', '', 'b']],
  ];
  for (const [row, fields] of cases) {
    assert.deepEqual(splitRow(row), fields, row);
    const bytes = new TextEncoder().encode(`${row}\n`);
    for (let column = 0; column <= fields.length; ++column) {
      assert.equal(rowField(row, column), fields[column] ?? '', `${row} [${column}]`);
      // An unquoted field starts where fieldStart says.
      const start = fieldStart(bytes, 0, bytes.length - 1, column);
      if (bytes[start] !== 0x22) {
        const text = new TextDecoder().decode(bytes.subarray(start, bytes.length - 1));
        assert.equal(text.split(',')[0], fields[column] ?? '', `${row} from byte ${start} [${column}]`);
      }
    }
  }
});

test('a column of numbers sorts as a comparison sort does: NaN last, -0 as 0, ties in the order given', () => {
  let seed = 12345;
  const random = () => (seed = (seed * 1103515245 + 12345) % 2 ** 31) / 2 ** 31;
  const special = [NaN, 0, -0, 1, -1, Infinity, -Infinity, Number.MIN_VALUE, -Number.MIN_VALUE, Number.MAX_VALUE, 2.2250738585072014e-308];
  const reference = (indices, keys, descending) => [...indices].sort((a, b) => {
    const [x, y] = [keys[a], keys[b]];
    if (Number.isNaN(x) || Number.isNaN(y)) return Number.isNaN(x) - Number.isNaN(y) || 0;
    return descending ? y - x || 0 : x - y || 0;
  });
  const makers = {
    'random values of every size and sign': () => (random() - 0.5) * 10 ** Math.floor(random() * 40 - 20),
    'a few values, many ties': () => Math.floor(random() * 5) - 2,
    'whole numbers': () => Math.floor(random() * 70000),
    'special values': () => special[Math.floor(random() * special.length)],
    'mostly not numbers': () => (random() < 0.8 ? NaN : random()),
  };
  for (const [what, make] of Object.entries(makers)) {
    for (const count of [0, 1, 2, 100, 5000]) {
      const keys = Float64Array.from({ length: count }, make);
      const every = Uint32Array.from(keys, (_, index) => index);
      const some = every.filter(() => random() < 0.5);
      for (const indices of [every, some]) {
        for (const descending of [false, true]) {
          assert.deepEqual([...sortByNumber(indices, keys, descending)], reference(indices, keys, descending),
            `${what}, ${indices.length} of ${count}, ${descending ? 'descending' : 'ascending'}`);
        }
      }
    }
  }
});

test('a column of names sorts as a comparison sort does: code unit by code unit, ties in the order given', () => {
  let seed = 7;
  const random = (n) => Math.floor((seed = (seed * 1103515245 + 12345) % 2 ** 31) / 2 ** 31 * n);
  const reference = (indices, keys, descending) => [...indices].sort((a, b) => {
    const [x, y] = descending ? [keys[b], keys[a]] : [keys[a], keys[b]];
    return x < y ? -1 : x > y ? 1 : 0;
  });
  const pickFrom = (items) => () => items[random(items.length)];
  const makers = {
    // Names that share long beginnings, and end at every point of a group of units.
    'names of one shape': () => `Halvorsen ${random(3000)}`.slice(0, 9 + random(8)),
    'a few names, many ties': pickFrom(['Eros 433', 'Eros 43', 'Eros', '', ' Marlowe', '2026 WQ7 (Unnamed)']),
    'any units, surrogates and zeros among them': () => String.fromCharCode(...Array.from({ length: random(7) }, () =>
      [0, 0xffff, 0xd83d, 0xde00, 0x41, 0x61, 0x7f, 0x7ffe, 0x8000][random(9)])),
    'long equal beginnings': () => `${'x'.repeat(40)}${random(2) ? 'a' : 'b'}${'y'.repeat(random(3))}`,
  };
  for (const [what, make] of Object.entries(makers)) {
    for (const count of [0, 1, 255, 256, 3000]) {
      const keys = Array.from({ length: count }, make);
      const every = Uint32Array.from(keys, (_, index) => index);
      const some = every.filter(() => random(2) === 0);
      for (const indices of [every, some]) {
        for (const descending of [false, true]) {
          assert.deepEqual([...sortByText(indices, keys, descending)], reference(indices, keys, descending),
            `${what}, ${indices.length} of ${count}, ${descending ? 'descending' : 'ascending'}`);
        }
      }
    }
  }
});

// The orbit view is some 260 px across on a 360 px screen (the page's tests check it there, with
// the browser's own measure of the names); when orbits reach beyond Jupiter's, a name
// that finds no room is left out rather than drawn over anything.
test('the planets\' names find room beside their orbits at every size, clear of the orbits, the Sun and one another', () => {
  const sizes = PLANETS.map(({ name }) => [11, 10, 9, 8].map((font) => ({ width: Math.ceil(name.length * font * 0.62), height: font + 2, font })));
  for (let side = 120; side <= 1200; side += 7) {
    for (const reach of [PLANETS.at(-1).a * 1.08, 8, 40]) {
      const area = { left: 46, top: 12, width: side, height: side };
      const centre = [area.left + side / 2, area.top + side / 2];
      const radii = PLANETS.map((planet) => (planet.a / (2 * reach)) * side);
      const boxes = placeLabels({ radii, sizes, centre, area, clear: 6 });
      boxes.forEach((box, k) => {
        if (side >= 270 && reach < 6) assert.ok(box !== null, `${PLANETS[k].name} on a plot of ${side} px`);
        if (box === null) return;
        assert.ok(box.x >= area.left && box.y >= area.top && box.x + box.width <= area.left + side && box.y + box.height <= area.top + side);
        const corners = [[box.x, box.y], [box.x + box.width, box.y], [box.x, box.y + box.height], [box.x + box.width, box.y + box.height]];
        const far = Math.max(...corners.map(([x, y]) => Math.hypot(x - centre[0], y - centre[1])));
        const nx = Math.max(box.x - centre[0], 0, centre[0] - box.x - box.width);
        const ny = Math.max(box.y - centre[1], 0, centre[1] - box.y - box.height);
        const near = Math.hypot(nx, ny);
        assert.ok(near >= 6, `${PLANETS[k].name} clear of the Sun at ${side} px`);
        for (const r of radii) assert.ok(far < r || near > r, `${PLANETS[k].name} crosses an orbit at ${side} px`);
        // Beside its own orbit: within a few pixels of it.
        assert.ok(Math.min(Math.abs(near - radii[k]), Math.abs(far - radii[k])) <= 16, `${PLANETS[k].name} far from its orbit at ${side} px`);
        boxes.slice(k + 1).filter((other) => other !== null).forEach((other) => {
          const apart = box.x + box.width <= other.x || other.x + other.width <= box.x || box.y + box.height <= other.y || other.y + other.height <= box.y;
          assert.ok(apart, `${PLANETS[k].name} overlaps another name at ${side} px`);
        });
      });
    }
  }
});

test('the scatter plot draws the ellipses its rows give, reaches them all but the farthest, and names the nearest', () => {
  const count = 50000;
  const a = new Float32Array(count);
  const e = new Float32Array(count);
  const i = new Float32Array(count);
  for (let k = 0; k < count; ++k) {
    a[k] = 1 + (k % 1000) / 400;
    e[k] = (k % 97) / 100;
    i[k] = k % 30;
  }
  a[0] = 100;          // one far away: the whole plot leaves it out
  e[1] = 1.2;          // not an ellipse
  i[2] = NaN;          // no inclination printed
  a[3] = NaN;
  const data = new ScatterData({ a, e, i });
  assert.equal(data.drawn, count - 3);
  assert.ok(data.whole.e.x1 < 5 && data.whole.e.x1 > 3.4, `whole plot to a = ${data.whole.e.x1}`);
  assert.equal(data.whole.i.y1, 29 * 1.05);

  const view = { against: 'e', range: { x0: 0, x1: 4, y0: 0, y1: 1 }, width: 200, height: 100, color: [1, 2, 3] };
  const shaded = data.picture(view);
  assert.equal(shaded.pixels.length, 4 * 200 * 100);
  assert.equal(shaded.inView, count - 4);
  assert.ok(Math.abs(shaded.centre[0] - 2.25) < 0.01 && Math.abs(shaded.centre[1] - 0.48) < 0.01, String(shaded.centre));
  // Many rows in a few places: each place a square of the points' colour, 2 pixels or more across.
  const crowded = new ScatterData({ a: Float32Array.from({ length: 30000 }, (_, k) => 1 + (k % 3)), e: new Float32Array(30000).fill(0.5), i });
  for (const pointPixels of [2, 3]) {
    const { pixels } = crowded.picture({ ...view, pointPixels });
    const alphas = pixels.filter((_, k) => k % 4 === 3 && pixels[k] > 0);
    assert.equal(alphas.length, 3 * pointPixels * pointPixels, `points of ${pointPixels} pixels`);
    assert.ok(alphas.every((alpha) => alpha >= 175), 'each as opaque as a point should be');
  }
  const few = data.picture({ ...view, range: { x0: 1, x1: 1.01, y0: 0, y1: 1 } });
  assert.ok(few.inView <= DOTS_UP_TO && few.dots.length === 2 * few.inView);
  for (let k = 0; k < few.dots.length; k += 2) assert.ok(few.dots[k] >= 0 && few.dots[k] <= 200 && few.dots[k + 1] >= 0 && few.dots[k + 1] <= 100);

  assert.equal(data.nearest({ against: 'e', x: a[10], y: e[10], rx: 1e-4, ry: 1e-4 }), 10);
  assert.equal(data.nearest({ against: 'e', x: 100, y: 0, rx: 1, ry: 1 }), 0);
  assert.equal(data.nearest({ against: 'e', x: 50, y: 0.5, rx: 1, ry: 0.01 }), -1);
  assert.equal(data.nearest({ against: 'e', x: a[2], y: e[2], rx: 1e-6, ry: 1e-6 }), -1, 'a row not drawn is never named');
});

test('filtering compares names without case or accents', () => {
  for (const [name, filter, found] of [['Foderà 11021', 'FODERA', true], ['Foderà 11021', 'foderà', true], ['Čapek', 'cap', true],
    ['Eros 433', 'EROS 4', true], ['Eros 433', 'Erös', true], ['Ceres', 'eros', false]]) {
    assert.equal(foldForSearch(name).includes(foldForSearch(filter)), found, `${filter} in ${name}`);
  }
});

test('an input without records is told apart by its first bytes', () => {
  const bytes = (text) => new TextEncoder().encode(text);
  const utf16 = (text, bom) => {
    const units = new Uint8Array(2 * text.length + (bom ? 2 : 0));
    if (bom) units.set([0xff, 0xfe]);
    for (let k = 0; k < text.length; ++k) units[(bom ? 2 : 0) + 2 * k] = text.charCodeAt(k);
    return units;
  };
  const block = '(433) Eros\nEpoch 2026 Dec. 17.0 TT = JDT 2461026.5\nM 197.25843\n';
  let noise = 7;
  const cases = [
    [new Uint8Array(0), REASONS.empty],
    [utf16(block, true), REASONS.utf16],
    [utf16(block, false), REASONS.utf16],
    [Uint8Array.from(utf16(block, false).slice(1)), REASONS.utf16],
    [bytes(block.replace(/\n/g, '\r')), REASONS.carriageReturns],
    [Uint8Array.from({ length: 4096 }, () => (noise = (noise * 1103515245 + 12345) >>> 0) >>> 24), REASONS.binary],
    [bytes('Observations of the night.\nEpoch 2026 Dec. 17.0 TT\n'), REASONS.noEpochLine],
    [bytes(block.replace(/\n/g, '\r\n')), REASONS.noEpochLine],
  ];
  for (const [sample, reason] of cases) assert.equal(whyNoRecords(sample), reason);
});

test('lines that look like epoch lines but start no block are counted by why, in chunks of any size', () => {
  const text = [
    '(433) Eros', 'Epoch 2026 Dec. 17.0 TT = JDT 2461391.5', '# Epoch 2025 Jan  4.0 TT = JDT 2460679.5      OrbitFit',
    '      Epoch  =  2000 Apr.  6.0  TT       JDT = 2451640.5', '# Epoch 2025 Jun  4.0 TT; AMR 0.053291 m^2/kg',
    'Epoch 2026 Dec. 17.0 TT (no Julian date given)', 'Epoch 2026 Dec. 17.0 = JDT 2461391.5',
    'Readers will find epochs written as "Epoch 2026 Dec. 17.0 TT" in prose, which is not counted.',
    `${'x'.repeat(5000)} Epoch TT = JDT 1`, 'Epoch E', 'EEEE Epoch; # Epoch TT = JDT',
    '# Epoch 2025 Jan  4.0 TT = JDT 2460679.5 at the end, with no newline',
  ].join('\n');
  const bytes = new TextEncoder().encode(text);
  const expected = '7 lines that look like epoch lines start no block: 4 have other text before “Epoch ”, 2 have no JDT, 1 lacks “TT” or “=”.';
  for (const size of [1, 2, 3, 5, 64, 131, 4097, bytes.length]) {
    const passed = new PassedOver();
    for (let at = 0; at < bytes.length; at += size) passed.add(bytes.subarray(at, at + size));
    passed.finish();
    assert.equal(passed.describe(), expected, `chunks of ${size}`);
  }
  const one = new PassedOver();
  one.add(new TextEncoder().encode('# Epoch 2025 Jun  4.0 TT\n'));
  one.finish();
  assert.equal(one.describe(), '1 line that looks like an epoch line starts no block: 1 has other text before “Epoch ”.');
  const none = new PassedOver();
  none.add(new TextEncoder().encode('(433) Eros\nEpoch 2026 Dec. 17.0 TT = JDT 2461391.5\n'));
  none.finish();
  assert.equal(none.describe(), '');
});
