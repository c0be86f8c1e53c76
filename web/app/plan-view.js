// The room seen from above on a canvas: metre rulers, walls, grid cells coloured by coverage
// (cells under the threshold hatched), bars with their numbers and markers. World x runs to the
// right and z downwards from the grid's centre, as in the tool's pictures. Reports clicks, drags
// and hovers in cells; draws nothing but what it is given.

import { sequentialRgb } from './colours.js';

const MARGIN = 36;  // pixels around the room for the rulers

/** RGBA pixels (little-endian words) of the scale at 256 steps, plain and paled while recomputing. */
const pixel = ([r, g, b]) => ((255 << 24) | (b << 16) | (g << 8) | r) >>> 0;
const SHADES = Uint32Array.from({ length: 256 }, (_, i) => pixel(sequentialRgb(i / 255)));
const PALE_SHADES = Uint32Array.from({ length: 256 }, (_, i) =>
    pixel(sequentialRgb(i / 255).map((c) => Math.round(c + 0.45 * (255 - c)))));
const UNKNOWN = pixel([0xe8, 0xe8, 0xe8]);

export class PlanView {
    /**
     * @param {HTMLCanvasElement} canvas
     * @param {{onCellClick(col: number, row: number): void, onBarPress(bar: number): void,
     *   onBarDrop(bar: number, col: number, row: number): void, onHover(info: object|null): void}} handlers
     */
    constructor(canvas, handlers) {
        this.canvas = canvas;
        this.handlers = handlers;
        this.state = null;
        this.drag = null;
        canvas.addEventListener('pointerdown', (event) => this.pointerDown(event));
        canvas.addEventListener('pointermove', (event) => this.pointerMove(event));
        canvas.addEventListener('pointerup', (event) => this.pointerUp(event));
        canvas.addEventListener('pointerleave', () => handlers.onHover(null));
        new ResizeObserver(() => this.draw()).observe(canvas);
    }

    /** @param {{description: object, markers: number[], room: {width: number, depth: number}, shares: Float64Array,
     *   identifiable: Float64Array, known: Uint8Array, threshold: number, selected: number|null}} state */
    show(state) {
        this.state = state;
        this.draw();
    }

    /** Pixels per metre and the world point at the canvas's centre. */
    layout(width, height) {
        const { description: d, room } = this.state;
        const extentX = Math.max(room.width, d.size.x * d.cellSize), extentZ = Math.max(room.depth, d.size.y * d.cellSize);
        const scale = Math.min((width - 2 * MARGIN) / extentX, (height - 2 * MARGIN) / extentZ);
        return { scale, cx: width / 2, cy: height / 2 };
    }

    toScreen(x, z, view) { return [view.cx + x * view.scale, view.cy + z * view.scale]; }

    toWorld(px, py, view) { return [(px - view.cx) / view.scale, (py - view.cy) / view.scale]; }

    /** The cell under a world point, or null outside the grid. */
    cellAt(x, z) {
        const d = this.state.description;
        const col = Math.floor(x / d.cellSize + d.size.x / 2), row = Math.floor(z / d.cellSize + d.size.y / 2);
        return col >= 0 && row >= 0 && col < d.size.x && row < d.size.y ? [col, row] : null;
    }

    /** The bar in the cell under the point, else the bar whose line passes within 12 cm. */
    barAt(x, z) {
        const { description: d, markers } = this.state;
        const cell = this.cellAt(x, z);
        if (cell) {
            const inCell = d.bars.findIndex((bar) => bar.x === cell[0] && bar.y === cell[1]);
            if (inCell >= 0) return inCell;
        }
        let best = null, bestDistance = 0.12;
        for (let i = 0; i < d.bars.length; ++i) {
            const ax = markers[9 * i], az = markers[9 * i + 2], bx = markers[9 * i + 6], bz = markers[9 * i + 8];
            const dx = bx - ax, dz = bz - az, t = Math.max(0, Math.min(1, ((x - ax) * dx + (z - az) * dz) / (dx * dx + dz * dz)));
            const distance = Math.hypot(x - ax - t * dx, z - az - t * dz);
            if (distance < bestDistance) [best, bestDistance] = [i, distance];
        }
        return best;
    }

    eventWorld(event) {
        const rect = this.canvas.getBoundingClientRect();
        return this.toWorld(event.clientX - rect.left, event.clientY - rect.top, this.layout(rect.width, rect.height));
    }

    pointerDown(event) {
        if (!this.state) return;
        const [x, z] = this.eventWorld(event);
        const bar = this.barAt(x, z);
        if (bar !== null) {
            this.drag = { bar, start: this.cellAt(x, z), cell: null };
            this.canvas.setPointerCapture(event.pointerId);
            this.handlers.onBarPress(bar);
            return;
        }
        const cell = this.cellAt(x, z);
        if (cell) this.handlers.onCellClick(cell[0], cell[1]);
    }

    pointerMove(event) {
        if (!this.state) return;
        const [x, z] = this.eventWorld(event);
        const cell = this.cellAt(x, z);
        if (this.drag) {
            const bar = this.state.description.bars[this.drag.bar];
            this.drag.cell = cell && (cell[0] !== bar.x || cell[1] !== bar.y) ? cell : null;
            this.draw();
        }
        if (!cell) return this.handlers.onHover(null);
        const d = this.state.description, index = cell[1] * d.size.x + cell[0];
        this.handlers.onHover({
            col: cell[0], row: cell[1], x: (cell[0] - (d.size.x - 1) / 2) * d.cellSize,
            z: (cell[1] - (d.size.y - 1) / 2) * d.cellSize, known: this.state.known[index] === 1,
            share: this.state.shares[index], identifiable: this.state.identifiable[index],
            clientX: event.clientX, clientY: event.clientY,
        });
    }

    pointerUp() {
        const drag = this.drag;
        this.drag = null;
        if (drag?.cell) this.handlers.onBarDrop(drag.bar, drag.cell[0], drag.cell[1]);
        else this.draw();
    }

    draw() {
        const canvas = this.canvas;
        const ratio = window.devicePixelRatio || 1;
        const rect = canvas.getBoundingClientRect();
        if (rect.width === 0 || rect.height === 0) return;
        canvas.width = Math.round(rect.width * ratio);
        canvas.height = Math.round(rect.height * ratio);
        const context = canvas.getContext('2d');
        context.setTransform(ratio, 0, 0, ratio, 0, 0);
        context.clearRect(0, 0, rect.width, rect.height);
        if (!this.state) return;
        const view = this.layout(rect.width, rect.height);
        drawFloor(context, this.state, view);
        // The bars change only with the design, the selection, a drag or the size: kept as an image.
        const key = [this.state.description, this.state.markers, this.state.selected, this.drag?.bar, this.drag?.cell?.join(),
            canvas.width, canvas.height];
        if (!this.barsLayer || key.some((part, i) => part !== this.barsKey[i])) {
            this.barsLayer = new OffscreenCanvas(canvas.width, canvas.height);
            const layer = this.barsLayer.getContext('2d');
            layer.setTransform(ratio, 0, 0, ratio, 0, 0);
            drawBars(layer, this.state, view, this.drag);
            this.barsKey = key;
        }
        context.setTransform(1, 0, 0, 1, 0, 0);
        context.drawImage(this.barsLayer, 0, 0);
    }
}

/** Draws the plan on any 2D context (the screen's canvas or the printed sheet's). */
export function drawPlan(context, state, view, drag = null) {
    drawFloor(context, state, view);
    drawBars(context, state, view, drag);
}

/** Cells with their coverage, grid lines, walls and rulers. */
function drawFloor(context, state, view) {
    const { description: d, room, shares, known, threshold } = state;
    const at = (x, z) => [view.cx + x * view.scale, view.cy + z * view.scale];
    const cell = d.cellSize * view.scale;
    const [gx, gy] = at(-d.size.x * d.cellSize / 2, -d.size.y * d.cellSize / 2);

    // Cells: one pixel each in an image scaled onto the grid (fast for large grids); grey while
    // unknown, paler while recomputing, hatched under the threshold.
    const image = new ImageData(d.size.x, d.size.y);
    const pixels = new Uint32Array(image.data.buffer);
    const hatched = new Path2D();
    for (let index = 0; index < d.size.x * d.size.y; ++index) {
        pixels[index] = known[index] === 1 ? SHADES[Math.round(255 * Math.min(1, Math.max(0, shares[index])))]
            : known[index] === 2 ? PALE_SHADES[Math.round(255 * Math.min(1, Math.max(0, shares[index])))] : UNKNOWN;
        if (known[index] && shares[index] < threshold)
            hatched.rect(gx + (index % d.size.x) * cell, gy + Math.floor(index / d.size.x) * cell, cell, cell);
    }
    const bitmap = new OffscreenCanvas(d.size.x, d.size.y);
    bitmap.getContext('2d').putImageData(image, 0, 0);
    context.imageSmoothingEnabled = false;
    context.drawImage(bitmap, gx, gy, d.size.x * cell, d.size.y * cell);
    const hatch = cell >= 4 ? hatchPattern(context) : null;
    if (hatch) {
        context.fillStyle = hatch;
        context.fill(hatched);
    }
    context.strokeStyle = cell >= 6 ? 'rgba(0, 0, 0, 0.15)' : 'transparent';
    context.lineWidth = 1;
    context.beginPath();
    for (let col = 0; col <= d.size.x; ++col) context.moveTo(gx + col * cell, gy), context.lineTo(gx + col * cell, gy + d.size.y * cell);
    for (let row = 0; row <= d.size.y; ++row) context.moveTo(gx, gy + row * cell), context.lineTo(gx + d.size.x * cell, gy + row * cell);
    context.stroke();

    // Walls of the room.
    const [rx, ry] = at(-room.width / 2, -room.depth / 2);
    context.strokeStyle = '#222';
    context.lineWidth = 2;
    context.setLineDash([8, 4]);
    context.strokeRect(rx, ry, room.width * view.scale, room.depth * view.scale);
    context.setLineDash([]);
    drawRulers(context, view, room, at);
}

/** Bars: a line through the markers, end markers black, middle orange, the number beside (when
 * the cells are large enough to read it). */
function drawBars(context, state, view, drag) {
    const { description: d, markers, selected } = state;
    const at = (x, z) => [view.cx + x * view.scale, view.cy + z * view.scale];
    const cell = d.cellSize * view.scale;
    for (let i = 0; i < d.bars.length; ++i) {
        let dx = 0, dz = 0;
        if (drag?.bar === i && drag.cell) {
            dx = (drag.cell[0] - d.bars[i].x) * d.cellSize;
            dz = (drag.cell[1] - d.bars[i].y) * d.cellSize;
        }
        const points = [0, 1, 2].map((k) => at(markers[9 * i + 3 * k] + dx, markers[9 * i + 3 * k + 2] + dz));
        context.strokeStyle = i === selected ? '#0057d9' : '#555';
        context.lineWidth = i === selected ? 5 : 3;
        context.globalAlpha = drag?.bar === i && drag.cell ? 0.6 : 1;
        context.beginPath();
        context.moveTo(...points[0]);
        context.lineTo(...points[2]);
        context.stroke();
        if (cell >= 6) {
            points.forEach(([x, y], k) => {
                context.fillStyle = k === 1 ? '#f28e2b' : '#111';
                context.beginPath();
                context.arc(x, y, Math.max(2.5, Math.min(5, cell * 0.07)), 0, 2 * Math.PI);
                context.fill();
            });
        }
        if (cell >= 14) {
            const [x, y] = points[1];
            context.font = `bold ${Math.max(10, Math.min(14, cell * 0.28))}px system-ui, sans-serif`;
            context.fillStyle = '#fff';
            context.strokeStyle = '#003a8c';
            context.lineWidth = 3;
            context.strokeText(`#${i}`, x + 6, y - 6);
            context.fillText(`#${i}`, x + 6, y - 6);
        }
        context.globalAlpha = 1;
    }
}

/** Diagonal black lines on transparent: the mark of cells under the threshold. */
function hatchPattern(context) {
    const tile = new OffscreenCanvas(8, 8);
    const t = tile.getContext('2d');
    t.strokeStyle = 'rgba(0, 0, 0, 0.55)';
    t.lineWidth = 1.2;
    t.beginPath();
    t.moveTo(0, 8);
    t.lineTo(8, 0);
    t.stroke();
    return context.createPattern(tile, 'repeat');
}

/** Metre marks along the top and left walls. */
function drawRulers(context, view, room, at) {
    context.fillStyle = '#222';
    context.strokeStyle = '#222';
    context.lineWidth = 1;
    context.font = '11px system-ui, sans-serif';
    const [, top] = at(0, -room.depth / 2);
    const [left] = at(-room.width / 2, 0);
    context.textAlign = 'center';
    for (let m = 0; m <= room.width + 1e-9; m += 1) {
        const [x] = at(-room.width / 2 + m, 0);
        context.beginPath();
        context.moveTo(x, top - 4);
        context.lineTo(x, top - 12);
        context.stroke();
        context.fillText(`${m}`, x, top - 15);
    }
    context.textAlign = 'right';
    for (let m = 0; m <= room.depth + 1e-9; m += 1) {
        const [, y] = at(0, -room.depth / 2 + m);
        context.beginPath();
        context.moveTo(left - 4, y);
        context.lineTo(left - 12, y);
        context.stroke();
        context.fillText(`${m}`, left - 15, y + 4);
    }
    context.textAlign = 'start';
}
