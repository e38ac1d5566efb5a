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
// is drawn when it is an ellipse: a > 0 and 0 <= e < 1. A comet block's are never drawn: its
// lines hold its perihelion time and distance where the table reads other elements.
export const ORBIT_COLUMNS = ['Mean anomaly', 'Arg. perihelion', 'Long. node', 'Inclination', 'Eccentricity', 'Semimajor axis'];

export const isEllipse = (a, e) => a > 0 && e >= 0 && e < 1;

// Why an orbit cannot be drawn, or '' when it can.
export function whyNotDrawn({ comet = false, a, e, i, node, perihelion, meanAnomaly }) {
  if (comet) return 'a comet block';
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

// Where to write each planet's name beside its orbit, a circle of radius radii[k] (pixels) about
// `centre`: boxes of the label sizes given (sizes[k] for each font size to try, largest first)
// that overlap neither one another nor any of the circles nor a disc of `clear` pixels about the
// centre (the Sun), and stay within `area`; where it can, a box also keeps clear of the points of
// `paths` (the other orbits drawn). Outer orbits are placed first; a label with no such place
// gets null. Returns [{ x, y, width, height, font }] (top left) in the order of radii.
export function placeLabels({ radii, sizes, centre: [cx, cy], area, clear, paths = [], gap = 2, reach = 6 }) {
  const ANGLES = [90, 60, 120, 75, 105, 45, 135, 30, 150, 15, 165, 0, 180, 270, 240, 300];
  const placed = [];
  const boxes = radii.map(() => null);
  // The nearest and farthest distance of a box's points from the centre.
  const distances = ({ x, y, width, height }) => {
    const dx = Math.max(x - cx, 0, cx - (x + width));
    const dy = Math.max(y - cy, 0, cy - (y + height));
    const fx = Math.max(Math.abs(x - cx), Math.abs(x + width - cx));
    const fy = Math.max(Math.abs(y - cy), Math.abs(y + height - cy));
    return [Math.hypot(dx, dy), Math.hypot(fx, fy)];
  };
  const clearOfPaths = (box) => paths.every((path) => path.every(([x, y]) =>
    x < box.x - gap || x > box.x + box.width + gap || y < box.y - gap || y > box.y + box.height + gap));
  let strict = true;
  const fits = (box) => {
    if (box.x < area.left || box.y < area.top || box.x + box.width > area.left + area.width || box.y + box.height > area.top + area.height) return false;
    const [near, far] = distances(box);
    if (near < clear) return false;
    if (radii.some((r) => near <= r + gap && far >= r - gap)) return false;
    const apart = placed.every((other) => box.x + box.width + gap <= other.x || other.x + other.width + gap <= box.x ||
      box.y + box.height + gap <= other.y || other.y + other.height + gap <= box.y);
    return apart && (!strict || clearOfPaths(box));
  };
  // The first place that fits for label k, trying each font size, angle and side in turn.
  const place = (k) => {
    for (const size of sizes[k]) {
      for (const angle of ANGLES) {
        const ux = Math.cos((angle * Math.PI) / 180);
        const uy = -Math.sin((angle * Math.PI) / 180);
        // Outside the circle, then inside, moving away from it half a pixel at a time until the
        // box clears it, and no further than `reach` beyond that.
        for (const side of [1, -1]) {
          let cleared = null;
          for (let step = 0; step <= 4 * Math.max(size.width, size.height) && step * 0.5 <= radii[k]; ++step) {
            const d = radii[k] + side * step * 0.5;
            const box = { x: cx + d * ux - size.width / 2, y: cy + d * uy - size.height / 2, ...size };
            const [near, far] = distances(box);
            const clearOfOwn = side > 0 ? near > radii[k] + gap : far < radii[k] - gap;
            if (!clearOfOwn) continue;
            cleared ??= step;
            if (step - cleared > 2 * reach) break;
            if (fits(box)) {
              placed.push(box);
              return box;
            }
          }
        }
      }
    }
    return null;
  };
  const order = radii.map((_, k) => k).sort((a, b) => radii[b] - radii[a]);
  // Clear of the other orbits where that can be, then of the planets' orbits and names alone.
  for (strict of [true, false]) {
    for (const k of order) {
      if (boxes[k] === null) boxes[k] = place(k);
    }
  }
  return boxes;
}
