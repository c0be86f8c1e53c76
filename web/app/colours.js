// The coverage colour scale of the command-line tool's pictures: dark violet through blue and
// green to yellow, lightness rising evenly, readable for colour-blind readers and in grey.

const STOPS = [[0x44, 0x01, 0x54], [0x47, 0x2d, 0x7b], [0x3b, 0x52, 0x8b], [0x2c, 0x72, 0x8e], [0x21, 0x91, 0x8c],
    [0x28, 0xae, 0x80], [0x5e, 0xc9, 0x62], [0xad, 0xdc, 0x30], [0xfd, 0xe7, 0x25]];

/** [r, g, b] of `value` in 0..1 (clamped). */
export function sequentialRgb(value) {
    const position = (Number.isFinite(value) ? Math.min(1, Math.max(0, value)) : 0) * (STOPS.length - 1);
    const low = Math.min(Math.floor(position), STOPS.length - 2);
    const t = position - low;
    return STOPS[low].map((c, i) => Math.round(c + t * (STOPS[low + 1][i] - c)));
}
