// The block of Eros as a circular prints it, line by line, for the page's tests.
export const EROS = [
  '(433) Eros',
  'Epoch 2026 Dec. 17.0 TT = JDT 2461026.5',
  'M 197.25843                    (2000.0)             P               Q',
  'n   0.55976121     Peri.  178.88312    +0.41273645     -0.90984721',
  'a   1.4579614      Node   304.28871    +0.85203301     +0.38772165',
  'e   0.2228350      Incl.  10.82780     +0.32197486     +0.14762093',
  'P   3.62           H   11.16       G   0.46      U     2',
];
