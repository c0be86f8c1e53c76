// What the page designs: rooms up to 200 x 200 cells and 5000 bars, codes up to 100000 characters.
// Larger ones are refused with a message before any work, so the page stays responsive; the
// command-line tool handles them.

export const MAX_CELLS_PER_SIDE = 200;
export const MAX_BARS = 5000;
export const MAX_CODE_LENGTH = 100000;
export const MAX_ROOM_METRES = 120;

/** Throws an Error that says what is too large. */
export function checkDescription(description) {
    const { x, y } = description.size;
    if (x < 1 || y < 1) throw new Error(`the grid ${x} x ${y} has no cells`);
    if (x > MAX_CELLS_PER_SIDE || y > MAX_CELLS_PER_SIDE)
        throw new Error(`a grid of ${x} x ${y} cells is larger than this page designs (${MAX_CELLS_PER_SIDE} x ` +
            `${MAX_CELLS_PER_SIDE}); use the command-line tool for it`);
    if (description.bars.length > MAX_BARS)
        throw new Error(`${description.bars.length} bars are more than this page designs (${MAX_BARS})`);
}

/** The code with its surrounding blanks removed; throws for one too long to be a room's. */
export function checkCode(text) {
    const code = String(text).trim();
    if (code.length === 0) throw new Error('no environment code given: paste one first');
    if (code.length > MAX_CODE_LENGTH)
        throw new Error(`${code.length} characters are too many for an environment code (at most ${MAX_CODE_LENGTH})`);
    return code;
}
