// Orbits from their elements, for the pictures: positions in the ecliptic frame in au, seen from
// its north pole. Angles in degrees, as the elements table gives them.

const DEGREE = Math.PI / 180;

// The orbits drawn for scale: Earth, Mars and Jupiter, as circles of their semimajor axes.
export const PLANETS = [
  { name: 'Earth', a: 1.0 },
  { name: 'Mars', a: 1.5237 },
  { name: 'Jupiter', a: 5.2029 },
];

export const isEllipse = (a, e) => a > 0 && e >= 0 && e < 1;

// The Gaussian gravitational constant: the mean motion, radians a day, of an orbit of 1 au.
const GAUSS = 0.01720209895;
// An ellipse whose aphelion lies farther than this (au) is drawn as an arc, as an open orbit is;
// an arc goes as far from the Sun as ARC_REACH, or three times its perihelion distance.
const FULL_ORBIT_REACH = 100;
const ARC_REACH = 6;

// What a row's orbit is drawn as, from its elements as their labels give them (`a` and `q` in
// au, angles in degrees, `Tp` and `epoch` MJDs): { ellipse: true, a, e } for an ellipse whose
// whole fits, else { ellipse: false, q, e, reach } for the arc near the Sun; null for neither.
function orbitShape({ a, e, q }) {
  if (e < 1) {
    const semimajor = Number.isFinite(a) ? a : q / (1 - e);
    if (semimajor > 0 && semimajor * (1 + e) <= FULL_ORBIT_REACH) return { ellipse: true, a: semimajor, e };
  }
  const perihelion = Number.isFinite(q) ? q : a * (1 - e);
  return perihelion > 0 ? { ellipse: false, q: perihelion, e, reach: Math.max(ARC_REACH, 3 * perihelion) } : null;
}

// Why an orbit cannot be drawn, or '' when it can. `center` is what the orbit is about.
export function whyNotDrawn({ center = 'Sun', a, e, i, node, perihelion, q = NaN }) {
  if (center === 'Earth' || center === 'Moon') return `an orbit about the ${center === 'Earth' ? 'Earth' : 'Moon'}`;
  if (![e, i, node, perihelion].every(Number.isFinite) || !(Number.isFinite(a) || Number.isFinite(q))) {
    return 'its elements are not all given';
  }
  if (e < 0) return 'e < 0';
  if (orbitShape({ a, e, q }) === null) return e < 1 ? 'a ≤ 0' : 'q ≤ 0';
  return '';
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

// The hyperbolic anomaly H for a mean anomaly M of an open orbit, from M = e sinh H - H.
export function hyperbolicAnomaly(meanAnomaly, e) {
  // A start from which Newton's method converges for every e above 1.
  let H = Math.sign(meanAnomaly) * Math.log((2 * Math.abs(meanAnomaly)) / e + 1.8);
  for (let step = 0; step < 100; ++step) {
    const next = H - (e * Math.sinh(H) - H - meanAnomaly) / (e * Math.cosh(H) - 1);
    if (Math.abs(next - H) < 1e-13 * Math.max(1, Math.abs(H))) return next;
    H = next;
  }
  return H;
}

// A function from a point of the orbit's plane (p towards perihelion, q 90 degrees on in the
// direction of motion, in au) to the point (x, y, z) it is.
function orbitPlane({ i, node, perihelion }) {
  const [sO, cO] = [Math.sin(node * DEGREE), Math.cos(node * DEGREE)];
  const [sw, cw] = [Math.sin(perihelion * DEGREE), Math.cos(perihelion * DEGREE)];
  const [si, ci] = [Math.sin(i * DEGREE), Math.cos(i * DEGREE)];
  return (p, q) => ({
    x: p * (cO * cw - sO * sw * ci) - q * (cO * sw + sO * cw * ci),
    y: p * (sO * cw + cO * sw * ci) - q * (sO * sw - cO * cw * ci),
    z: p * (sw * si) + q * (cw * si),
  });
}

// The point of an ellipse at eccentric anomaly E, in its plane.
function onEllipse({ a, e }, E) {
  return [a * (Math.cos(E) - e), a * Math.sqrt(1 - e * e) * Math.sin(E)];
}

// The point of an open orbit (or a long ellipse) at true anomaly v, in its plane.
function onConic({ q, e }, v) {
  const r = (q * (1 + e)) / (1 + e * Math.cos(v));
  return [r * Math.cos(v), r * Math.sin(v)];
}

// The true anomaly at which a conic reaches `reach` from its focus (pi where it never does).
function anomalyAtReach({ q, e, reach }) {
  const cosine = ((q * (1 + e)) / reach - 1) / e;
  return cosine <= -1 ? Math.PI * (1 - 1e-9) : Math.acos(Math.min(1, cosine));
}

// `count` points around the whole orbit, or along its arc near the Sun.
export function orbitPath(elements, count = 256) {
  const shape = orbitShape(elements);
  const at = orbitPlane(elements);
  if (shape.ellipse) return Array.from({ length: count + 1 }, (_, k) => at(...onEllipse(shape, (2 * Math.PI * k) / count)));
  const last = anomalyAtReach(shape);
  return Array.from({ length: count + 1 }, (_, k) => at(...onConic(shape, -last + (2 * last * k) / count)));
}

// The point in its orbit's plane where the body stands at the epoch: from its mean anomaly, or
// where none is printed from the time since perihelion; null where neither is known or the body
// stands beyond the arc drawn.
function placeInPlane(elements, shape) {
  const { meanAnomaly = NaN, n = NaN, Tp = NaN, epoch = NaN } = elements;
  const days = epoch - Tp;
  if (shape.ellipse) {
    const motion = Number.isFinite(n) ? n * DEGREE : GAUSS / shape.a ** 1.5;
    const M = Number.isFinite(meanAnomaly) ? meanAnomaly * DEGREE : motion * days;
    return Number.isFinite(M) ? onEllipse(shape, eccentricAnomaly(M, shape.e)) : null;
  }
  if (!Number.isFinite(days)) return null;
  const { q, e } = shape;
  let point;
  if (Math.abs(e - 1) < 1e-9) {
    // A parabola: Barker's equation, s + s^3 / 3 = k t / sqrt(2 q^3) with s = tan(v / 2).
    const A = (1.5 * GAUSS * days) / Math.sqrt(2 * q ** 3);
    const root = Math.cbrt(A + Math.sqrt(A * A + 1));
    point = onConic(shape, 2 * Math.atan(root - 1 / root));
  } else if (e > 1) {
    const a = q / (e - 1);
    const H = hyperbolicAnomaly((GAUSS / a ** 1.5) * days, e);
    point = [a * (e - Math.cosh(H)), a * Math.sqrt(e * e - 1) * Math.sinh(H)];
  } else {
    const a = q / (1 - e);
    point = onEllipse({ a, e }, eccentricAnomaly((GAUSS / a ** 1.5) * days, e));
  }
  return Math.hypot(...point) <= shape.reach ? point : null;
}

// Where the body stands at the epoch of its elements, or null.
export function positionAtEpoch(elements) {
  const place = placeInPlane(elements, orbitShape(elements));
  return place === null ? null : orbitPlane(elements)(...place);
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
