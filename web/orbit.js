// Orbits from their elements, for the pictures: positions in the ecliptic frame in au, seen from
// its north pole. Angles in degrees, as the table gives them.

const DEGREE = Math.PI / 180;

// The orbits drawn for scale: Earth, Mars and Jupiter, as circles of their semimajor axes.
export const PLANETS = [
  { name: 'Earth', a: 1.0 },
  { name: 'Mars', a: 1.5237 },
  { name: 'Jupiter', a: 5.2029 },
];

// Which elements a row must give as numbers to be drawn, by column title; with them an orbit
// is drawn when it is an ellipse: a > 0 and 0 <= e < 1.
export const ORBIT_COLUMNS = ['Mean anomaly', 'Arg. perihelion', 'Long. node', 'Inclination', 'Eccentricity', 'Semimajor axis'];

export const isEllipse = (a, e) => a > 0 && e >= 0 && e < 1;

// Why an orbit cannot be drawn, or '' when it can.
export function whyNotDrawn({ a, e, i, node, perihelion, meanAnomaly }) {
  if (![a, e, i, node, perihelion, meanAnomaly].every(Number.isFinite)) return 'its elements are not all numbers';
  if (isEllipse(a, e)) return '';
  if (e >= 1) return 'e ≥ 1: not an ellipse';
  return e < 0 ? 'e < 0' : 'a ≤ 0';
}

export const isDrawable = (elements) => whyNotDrawn(elements) === '';

// The eccentric anomaly E for the mean anomaly M (radians), from Kepler's equation
// M = E - e sin E, by Newton's method from a start that converges for every e below 1.
export function eccentricAnomaly(meanAnomaly, e) {
  const m = Math.atan2(Math.sin(meanAnomaly), Math.cos(meanAnomaly));  // to -pi..pi
  let E = e < 0.8 ? m : Math.PI * Math.sign(m || 1);
  for (let step = 0; step < 50; ++step) {
    const f = E - e * Math.sin(E) - m;
    const next = E - f / (1 - e * Math.cos(E));
    if (Math.abs(next - E) < 1e-13) return next;
    E = next;
  }
  return E;
}

// A function from the eccentric anomaly to the point (x, y, z) of the orbit, in au.
function orbitPlane({ a, e, i, node, perihelion }) {
  const [sO, cO] = [Math.sin(node * DEGREE), Math.cos(node * DEGREE)];
  const [sw, cw] = [Math.sin(perihelion * DEGREE), Math.cos(perihelion * DEGREE)];
  const [si, ci] = [Math.sin(i * DEGREE), Math.cos(i * DEGREE)];
  const b = a * Math.sqrt(1 - e * e);
  return (E) => {
    const p = a * (Math.cos(E) - e);  // towards perihelion
    const q = b * Math.sin(E);        // 90 degrees on, in the direction of motion
    return {
      x: p * (cO * cw - sO * sw * ci) - q * (cO * sw + sO * cw * ci),
      y: p * (sO * cw + cO * sw * ci) - q * (sO * sw - cO * cw * ci),
      z: p * (sw * si) + q * (cw * si),
    };
  };
}

// `count` points around the whole orbit.
export function orbitPath(elements, count = 256) {
  const at = orbitPlane(elements);
  return Array.from({ length: count + 1 }, (_, k) => at((2 * Math.PI * k) / count));
}

// Where the body stands at the epoch of its elements.
export function positionAtEpoch(elements) {
  return orbitPlane(elements)(eccentricAnomaly(elements.meanAnomaly * DEGREE, elements.e));
}

// Round steps for an axis that spans `span`: 1, 2, 2.5 or 5 times a power of ten, at most
// `count` of them.
export function tickStep(span, count = 5) {
  const raw = span / count;
  const power = 10 ** Math.floor(Math.log10(raw));
  return [1, 2, 2.5, 5, 10].map((m) => m * power).find((step) => step >= raw);
}
