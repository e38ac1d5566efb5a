// The scatter plot's work, done in the worker: which rows are drawn, the plot's whole range, and
// for a view of it the picture to draw (dots, or pixels shaded by how many points fall on each)
// and the point nearest a place. The page's main thread only puts the picture on its canvas.
import { isEllipse } from './orbit.js';

// Below this many points in view they are drawn as dots; above, as the pixels they fall on.
export const DOTS_UP_TO = 20000;
// The alpha of a lone point among many: clearly the points' colour, not a grey.
const MOST_TRANSPARENT = 175;
const HISTOGRAM_BINS = 1000;

export class ScatterData {
  // a, e, i: every row's semimajor axis, eccentricity and inclination (NaN where the row has
  // none to draw): a row is drawn where the three make an ellipse.
  constructor({ a, e, i }) {
    Object.assign(this, { a, e, i });
    this.drawable = new Uint8Array(a.length);
    let drawn = 0;
    let largest = 0;
    let largestI = 1;
    for (let k = 0; k < a.length; ++k) {
      if (isEllipse(a[k], e[k]) && Number.isFinite(i[k])) {
        this.drawable[k] = 1;
        ++drawn;
        largest = Math.max(largest, a[k]);
        largestI = Math.max(largestI, i[k]);
      }
    }
    this.drawn = drawn;
    // The whole plot reaches the largest a but for the farthest half percent, which would squeeze
    // the rest into a corner: found from a histogram, as a million rows are too many to sort.
    const bins = new Uint32Array(HISTOGRAM_BINS);
    for (let k = 0; k < a.length; ++k) if (this.drawable[k]) ++bins[Math.min(HISTOGRAM_BINS - 1, Math.floor((a[k] / largest) * HISTOGRAM_BINS))];
    let bin = 0;
    for (let seen = 0; bin < HISTOGRAM_BINS - 1 && (seen += bins[bin]) < drawn * 0.995; ++bin);
    const x1 = drawn === 0 ? 6 : ((bin + 1) / HISTOGRAM_BINS) * largest * 1.05;
    this.whole = {
      e: { x0: 0, x1, y0: 0, y1: 1 },
      i: { x0: 0, x1, y0: 0, y1: Math.min(180, largestI * 1.05) },
    };
  }

  ys(against) {
    return against === 'e' ? this.e : this.i;
  }

  // The picture of the view `range` (data units) on a plot area of width by height device
  // pixels: { dots } (x, y pairs in device pixels) while few points are in view, else { pixels }
  // (RGBA, shaded by count in `color`, each point a square of `pointPixels` across, so that one
  // shows at any density and on any screen), with the points in view and their mean place.
  picture({ against, range, width, height, color, pointPixels = 2 }) {
    const xs = this.a;
    const ys = this.ys(against);
    const sx = width / (range.x1 - range.x0);
    const sy = height / (range.y1 - range.y0);
    const shown = (k) => this.drawable[k] && xs[k] >= range.x0 && xs[k] <= range.x1 && ys[k] >= range.y0 && ys[k] <= range.y1;
    let inView = 0;
    let sumX = 0;
    let sumY = 0;
    for (let k = 0; k < xs.length; ++k) {
      if (!shown(k)) continue;
      ++inView;
      sumX += xs[k];
      sumY += ys[k];
    }
    const centre = inView === 0 ? null : [sumX / inView, sumY / inView];
    if (inView <= DOTS_UP_TO) {
      const dots = new Float32Array(2 * inView);
      let at = 0;
      for (let k = 0; k < xs.length && at < dots.length; ++k) {
        if (!shown(k)) continue;
        dots[at++] = (xs[k] - range.x0) * sx;
        dots[at++] = height - (ys[k] - range.y0) * sy;
      }
      return { dots, inView, centre };
    }
    const counts = new Uint32Array(width * height);
    for (let k = 0; k < xs.length; ++k) {
      if (!this.drawable[k]) continue;
      const x = Math.floor((xs[k] - range.x0) * sx);
      const y = height - 1 - Math.floor((ys[k] - range.y0) * sy);
      if (x >= 0 && x < width && y >= 0 && y < height) ++counts[y * width + x];
    }
    const pixels = new Uint8ClampedArray(4 * width * height);
    const [r, g, b] = color;
    const size = Math.max(1, Math.round(pointPixels));
    for (let p = 0; p < counts.length; ++p) {
      if (counts[p] === 0) continue;
      const alpha = Math.min(255, MOST_TRANSPARENT + 25 * counts[p]);
      const x = p % width;
      const y = (p - x) / width;
      for (let row = y; row < Math.min(height, y + size); ++row) {
        for (let q = row * width + x, end = row * width + Math.min(width, x + size); q < end; ++q) {
          pixels[4 * q] = r;
          pixels[4 * q + 1] = g;
          pixels[4 * q + 2] = b;
          pixels[4 * q + 3] = Math.max(pixels[4 * q + 3], alpha);
        }
      }
    }
    return { pixels, inView, centre };
  }

  // The drawn row nearest (x, y), within rx and ry data units across, or -1.
  nearest({ against, x, y, rx, ry }) {
    const ys = this.ys(against);
    let best = -1;
    let bestDistance = 1;
    for (let k = 0; k < this.a.length; ++k) {
      if (!this.drawable[k]) continue;
      const dx = (this.a[k] - x) / rx;
      const dy = (ys[k] - y) / ry;
      const distance = dx * dx + dy * dy;
      if (distance <= bestDistance) {
        best = k;
        bestDistance = distance;
      }
    }
    return best;
  }
}
