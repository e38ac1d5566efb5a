// Blocks as circulars print them, line by line, for the page's tests.
// The block of Eros.
export const EROS = [
  '(433) Eros',
  'Epoch 2026 Dec. 17.0 TT = JDT 2461026.5',
  'M 197.25843                    (2000.0)             P               Q',
  'n   0.55976121     Peri.  178.88312    +0.41273645     -0.90984721',
  'a   1.4579614      Node   304.28871    +0.85203301     +0.38772165',
  'e   0.2228350      Incl.  10.82780     +0.32197486     +0.14762093',
  'P   3.62           H   11.16       G   0.46      U     2',
];

// A comet's block as a circular prints it: its T, q and z lines stand where an asteroid's block has
// M, n and a.
export const COMET = [
  'C/2026 K4 (Marlowe)',
  'Epoch 2026 Dec. 17.0 TT = JDT 2461026.5',
  'T                 2026 Oct. 27.73412 TT                        MPC',
  'q   0.3914560      Peri.  308.49213',
  'z  -0.0004811      Node    21.55871    Residuals from 412 observations',
  'e   1.0001883      Incl.  139.11275        2026 Jan. 9 - Nov. 27',
  'P                  H   13.2        G   4.0',
];
