// The installation sheet, printed from the page: the plan with numbered bars and a scale bar, the
// settings the coverage is for, and for every bar its cell, angle and the distances from the two
// nearest walls to each end marker, in centimetres.

import { drawPlan } from './plan-view.js';

const PLAN_PIXELS_PER_METRE = 120;

function wallDistances(x, z, room) {
    const left = x + room.width / 2, right = room.width / 2 - x, top = z + room.depth / 2, bottom = room.depth / 2 - z;
    const across = left <= right ? `${(100 * left).toFixed(1)} from left` : `${(100 * right).toFixed(1)} from right`;
    const along = top <= bottom ? `${(100 * top).toFixed(1)} from top` : `${(100 * bottom).toFixed(1)} from bottom`;
    return `${across}, ${along}`;
}

/** A stored single-precision value as its user wrote it: 0.6, not 0.6000000238418579. */
const short = (value) => Number(value.toPrecision(6));

function cell(text, tag = 'td') { return Object.assign(document.createElement(tag), { textContent: text }); }

/** Fills `sheet` for printing the design `page` shows. */
export function renderSheet(sheet, page) {
    const { description: d, markers, code } = page.design;
    const room = page.room;
    const extentX = Math.max(room.width, d.size.x * d.cellSize), extentZ = Math.max(room.depth, d.size.y * d.cellSize);
    const canvas = document.createElement('canvas');
    const margin = 60;
    canvas.width = Math.round(extentX * PLAN_PIXELS_PER_METRE + 2 * margin);
    canvas.height = Math.round(extentZ * PLAN_PIXELS_PER_METRE + 2 * margin + 40);
    const context = canvas.getContext('2d');
    context.fillStyle = '#fff';
    context.fillRect(0, 0, canvas.width, canvas.height);
    const view = { scale: PLAN_PIXELS_PER_METRE, cx: canvas.width / 2, cy: (canvas.height - 40) / 2 };
    drawPlan(context, { description: d, markers, room, shares: page.coverage.shares,
        identifiable: page.coverage.identifiable, known: page.coverage.known, threshold: 0.5, selected: null }, view);
    // A one-metre scale bar under the plan.
    const y = canvas.height - 22;
    context.fillStyle = '#000';
    context.fillRect(margin, y, PLAN_PIXELS_PER_METRE, 6);
    context.font = '16px system-ui, sans-serif';
    context.fillText('1 m', margin + PLAN_PIXELS_PER_METRE + 8, y + 7);

    const image = Object.assign(document.createElement('img'), { src: canvas.toDataURL('image/png'), alt: 'room plan' });
    const settings = page.settings;
    const heading = cell(`Installation sheet: ${room.width} × ${room.depth} m room, ${d.bars.length} bars`, 'h1');
    const about = cell(`Markers ${d.ceiling ? 'under a ceiling' : 'on the floor'} at ${short(d.height)} m; grid ${d.size.x} × ` +
        `${d.size.y} cells of ${short(d.cellSize)} m centred in the room; bars ${d.barLength.toFixed(3)} m. Coverage (colour; hatched under 50 %): ` +
        `${page.coverage.describe ?? `${settings.method}, ${settings.camera.name} camera`}. ` +
        `x runs to the right, z down the page; distances are from the walls to the marker centres.`, 'p');
    const codeLine = cell(`Environment code: ${code}`, 'p');
    const table = document.createElement('table');
    const header = document.createElement('tr');
    for (const title of ['bar', 'cell', 'angle', 'first end, cm', 'middle, cm', 'last end, cm']) header.append(cell(title, 'th'));
    table.append(header);
    d.bars.forEach((bar, i) => {
        const m = (k) => [markers[9 * i + 3 * k], markers[9 * i + 3 * k + 2]];
        const [ax, az] = m(0), [bx, bz] = m(2);
        const angle = ((Math.atan2(-(bz - az), bx - ax) * 180) / Math.PI + 360) % 360;
        const row = document.createElement('tr');
        row.append(cell(`#${i}`), cell(`(${bar.x}, ${bar.y})`), cell(`${angle.toFixed(1)}°`),
            ...[0, 1, 2].map((k) => cell(wallDistances(...m(k), room))));
        table.append(row);
    });
    sheet.replaceChildren(heading, about, image, table, codeLine);
}
