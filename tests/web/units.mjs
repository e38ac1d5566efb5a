// The page's own arithmetic and parsing, under Node: Kepler's equation, orbit positions against
// known cases, and the table's rows taken apart into fields.
import assert from 'node:assert/strict';
import test from 'node:test';

import { splitRow } from '../../web/csv.js';
import { eccentricAnomaly, isDrawable, orbitPath, positionAtEpoch, tickStep, whyNotDrawn } from '../../web/orbit.js';

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

test('only ellipses with every element a number are drawn', () => {
  const eros = { a: 1.46, e: 0.22, i: 10.8, node: 304.3, perihelion: 178.9, meanAnomaly: 197.3 };
  const cases = [
    [eros, true],
    [{ ...eros, e: 0 }, true],
    [{ ...eros, e: 1 }, false],
    [{ ...eros, e: 1.0001883 }, false],
    [{ ...eros, e: -0.1 }, false],
    [{ ...eros, a: -0.0004811 }, false],
    [{ ...eros, a: 0 }, false],
    [{ ...eros, meanAnomaly: NaN }, false],
    [{ ...eros, i: Infinity }, false],
  ];
  for (const [elements, drawable] of cases) {
    assert.equal(isDrawable(elements), drawable, JSON.stringify(elements));
    assert.equal(whyNotDrawn(elements) === '', drawable, JSON.stringify(elements));
  }
  assert.equal(whyNotDrawn({ ...eros, e: 1.0001883 }), 'e ≥ 1: not an ellipse');
  assert.equal(whyNotDrawn({ ...eros, a: -0.0004811 }), 'a ≤ 0');
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
    ['"",', ['', '']],
    ['a,"",b', ['a', '', 'b']],
  ];
  for (const [row, fields] of cases) assert.deepEqual(splitRow(row), fields, row);
});
