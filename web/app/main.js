// The room designer's page: the room form, the plan with its coverage, the code's import and
// export (also as #code= in the address), the design search and the installation sheet. All
// work on the environment happens in the worker; this thread only draws and answers the user.

import { PlanView } from './plan-view.js';
import { checkCode, checkDescription, MAX_CELLS_PER_SIDE, MAX_ROOM_METRES } from './limits.js';
import { renderSheet } from './sheet.js';

const $ = (id) => document.getElementById(id);
const LOAD_TIMEOUT_MS = 20000;
// Workers sharing the coverage; the first also answers loads and runs the design search.
const WORKERS = Math.max(1, Math.min(4, navigator.hardwareConcurrency || 1));
const PROFILES = {
    exact: { noiseDegrees: 0, dropProbability: 0, spuriousRays: 0 },
    typical: { noiseDegrees: 0.05, dropProbability: 0.05, spuriousRays: 1 },
    harsh: { noiseDegrees: 0.1, dropProbability: 0.1, spuriousRays: 2 },
};

const page = {
    workers: [],
    geometries: [],
    design: null,        // { description, code, markers, catalogue, warnings } of the environment shown
    room: { width: 9, depth: 6 },
    settings: null,
    coverage: null,      // { shares, identifiable, known, describe, started, generation, code }
    selected: null,
    requests: 0,
    early: [],           // coverage of a design not shown yet (a worker ahead of the first)
    pending: new Map(),  // request → { resolve, reject, timer }
    designing: false,
    timings: { lastPassSeconds: null, lastEditVisibleSeconds: null },
};

const plan = new PlanView($('plan'), {
    onCellClick: (col, row) => editBars((bars) => [...bars, { x: col, y: row, properties: 0 }], 'added a bar'),
    onBarPress: (bar) => select(bar),
    onBarDrop: (bar, col, row) => {
        if (page.design.description.bars.some((b) => b.x === col && b.y === row)) return showMessage('that cell already holds a bar');
        editBars((bars) => bars.map((b, i) => (i === bar ? { ...b, x: col, y: row } : b)));
    },
    onHover: showTooltip,
});

function showMessage(text, kind = 'error') {
    const box = $('message');
    box.textContent = text;
    box.className = kind;
    box.hidden = !text;
}

// ---- the worker ------------------------------------------------------------------------------

function startWorkers() {
    for (const worker of page.workers) worker.terminate();
    for (const { reject, timer } of page.pending.values()) clearTimeout(timer), reject(new Error('the worker was restarted'));
    page.pending.clear();
    page.early = [];
    if (page.coverage) page.coverage.generation = 0;  // the new workers count their passes afresh
    const ready = [];
    page.workers = [...Array(WORKERS).keys()].map((part) => {
        const worker = new Worker(new URL('./worker.js', import.meta.url), { type: 'module' });
        ready.push(new Promise((resolve) => { worker.ready = resolve; }));
        worker.onmessage = ({ data }) => onWorkerMessage(part, data);
        worker.onerror = (event) => showMessage(`the designer's worker failed: ${event.message ?? 'unknown error'}`);
        worker.postMessage({ type: 'part', part, parts: WORKERS });
        return worker;
    });
    return Promise.all(ready);
}

function broadcast(message) {
    for (const worker of page.workers) worker.postMessage(message);
}

/** Asks the worker to build an environment; resolves with its summary, rejects with its message. */
function load(source, keepCoverage = false) {
    const request = ++page.requests;
    $('progress-text').textContent = 'building the environment…';
    return new Promise((resolve, reject) => {
        const timer = setTimeout(async () => {
            page.pending.delete(request);
            reject(new Error('building this environment took too long; the page went back to the last design'));
            await restart();
        }, LOAD_TIMEOUT_MS);
        page.pending.set(request, { resolve, reject, timer });
        broadcast({ type: 'load', request, keepCoverage, ...source });
    });
}

/** Fresh workers holding the last good design (after a stall or a stopped search). */
async function restart() {
    await startWorkers();
    broadcast({ type: 'settings', settings: page.settings });
    if (page.design) await show(await load({ description: page.design.description }), { resetCoverage: true });
}

function onWorkerMessage(part, message) {
    const waiting = page.pending.get(message.request);
    switch (message.type) {
        case 'ready':
            page.geometries = message.geometries;
            page.workers[part].ready();
            break;
        case 'loaded':
        case 'refused':
            if (!waiting || part !== 0) return;
            clearTimeout(waiting.timer);
            page.pending.delete(message.request);
            if (message.type === 'loaded') waiting.resolve(message);
            else waiting.reject(new Error(message.error));
            updateProgress();
            break;
        case 'coverage-start':
        case 'coverage': onCoverageMessage(message); break;
        case 'coverage-error': showMessage(`coverage: ${message.error}`); break;
        case 'design-progress':
            $('design-status').textContent =
                `searching: ${message.evaluations} layouts scored, best ${(100 * message.estimate).toFixed(1)} % of the floor with two features in view`;
            break;
        case 'designed': onDesigned(message); break;
        case 'design-error': endDesign(`design search failed: ${message.error}`); break;
    }
}

// ---- the design shown ------------------------------------------------------------------------

/** Shows a built environment; a new grid starts its coverage afresh. */
function show(summary, { resetCoverage = false, room = null } = {}) {
    const before = page.design?.description;
    const sameCode = page.design?.code === summary.code;
    page.design = summary;
    const { size } = summary.description;
    const cells = size.x * size.y;
    if ((resetCoverage && !sameCode) || !page.coverage || !before || before.size.x !== size.x || before.size.y !== size.y ||
        before.cellSize !== summary.description.cellSize) {
        page.coverage = { shares: new Float64Array(cells), identifiable: new Float64Array(cells), known: new Uint8Array(cells),
            generation: page.coverage?.generation ?? 0 };
    }
    if (room) page.room = room;
    const early = page.early;
    page.early = [];
    for (const message of early) if (message.code === summary.code) onCoverageMessage(message);
    if (page.selected !== null && page.selected >= summary.description.bars.length) page.selected = null;
    $('code').value = summary.code;
    history.replaceState(null, '', `#code=${summary.code}`);
    const warnings = [...summary.warnings, ...roomWarnings(summary)];
    $('warnings').replaceChildren(...warnings.map((text) => Object.assign(document.createElement('li'), { textContent: text })));
    select(page.selected);
    redraw();
}

/** Bars whose markers reach beyond the room's walls. */
function roomWarnings({ description, markers }) {
    const outside = [];
    for (let i = 0; i < description.bars.length; ++i) {
        for (let k = 0; k < 3; ++k) {
            const x = markers[9 * i + 3 * k], z = markers[9 * i + 3 * k + 2];
            if (Math.abs(x) > page.room.width / 2 + 1e-6 || Math.abs(z) > page.room.depth / 2 + 1e-6) {
                outside.push(`#${i}`);
                break;
            }
        }
    }
    return outside.length ? [`Bars ${outside.join(', ')} reach beyond the room's walls.`] : [];
}

function redraw() {
    if (!page.design) return;
    plan.show({ description: page.design.description, markers: page.design.markers, room: page.room,
        shares: page.coverage.shares, identifiable: page.coverage.identifiable, known: page.coverage.known,
        threshold: 0.5, selected: page.selected });
    updateFigures();
}

/** Applies an edit of the bar list and rebuilds; the design stays as it was when it fails. */
async function editBars(change) {
    if (!page.design) return;
    const description = { ...page.design.description, bars: change(page.design.description.bars) };
    page.editStarted = performance.now();
    try {
        checkDescription(description);
        show(await load({ description }, true));
        showMessage('');
    } catch (error) {
        showMessage(error.message);
    }
}

function select(bar) {
    page.selected = bar;
    const panel = $('selection');
    panel.hidden = bar === null || bar === undefined || !page.design;
    if (panel.hidden) return redrawSoon();
    const b = page.design.description.bars[bar];
    $('selected-number').textContent = `#${bar}`;
    $('selected-detail').textContent = `cell (${b.x}, ${b.y}), turned ${(b.properties & 3) * 90}°`;
    redrawSoon();
}

let redrawQueued = false;
function redrawSoon() {
    if (redrawQueued) return;
    redrawQueued = true;
    requestAnimationFrame(() => { redrawQueued = false; redraw(); });
}

function turnSelected() {
    const bar = page.selected;
    if (bar === null) return;
    editBars((bars) => bars.map((b, i) => (i === bar ? { ...b, properties: (b.properties & ~3) | ((b.properties + 1) & 3) } : b)));
}

function deleteSelected() {
    const bar = page.selected;
    if (bar === null) return;
    page.selected = null;
    editBars((bars) => bars.filter((_, i) => i !== bar));
}

// ---- coverage --------------------------------------------------------------------------------

/** Coverage for the design shown is applied at once; for the next one, once it is shown. */
function onCoverageMessage(message) {
    if (message.code !== page.design?.code) return void page.early.push(message);
    if (message.type === 'coverage-start') onCoverageStart(message);
    else onCoverage(message);
}

/** A worker's share of a pass begins; the first share of a generation starts the pass. */
function onCoverageStart({ generation, cells, code }) {
    const coverage = page.coverage;
    if (generation < coverage.generation) return;
    if (generation > coverage.generation) {
        Object.assign(coverage, { generation, code, started: performance.now(), total: 0, done: 0, parts: 0, firstShown: false });
    }
    coverage.total += cells.length;
    coverage.parts += 1;
    for (const cell of cells) if (coverage.known[cell] === 1) coverage.known[cell] = 2;
    updateProgress();
    redrawSoon();
}

function onCoverage({ generation, cells, shares, identifiable, describe }) {
    const coverage = page.coverage;
    if (generation !== coverage.generation) return;
    cells.forEach((cell, i) => {
        coverage.shares[cell] = shares[i];
        coverage.identifiable[cell] = identifiable[i];
        coverage.known[cell] = 1;
    });
    coverage.done += cells.length;
    coverage.describe = describe || coverage.describe;
    if (!coverage.firstShown && page.editStarted) {
        coverage.firstShown = true;
        page.timings.lastEditVisibleSeconds = (performance.now() - page.editStarted) / 1000;
        page.editStarted = null;
    }
    if (coverage.parts === page.workers.length && coverage.done === coverage.total)
        page.timings.lastPassSeconds = (performance.now() - coverage.started) / 1000;
    updateProgress();
    redrawSoon();
}

function updateProgress() {
    const { done = 0, total = 0 } = page.coverage ?? {};
    $('progress').value = total ? done / total : 1;
    $('progress-text').textContent = total && done < total ? `recomputing ${done} of ${total} cells` :
        page.timings.lastPassSeconds !== null ? `last update ${page.timings.lastPassSeconds.toFixed(2)} s (${total} cells)` : '';
}

function updateFigures() {
    const { shares, identifiable, known, describe } = page.coverage;
    const cells = known.length;
    const complete = known.every((k) => k === 1);
    if (!complete) {
        $('covered').textContent = 'Coverage: computing…';
        $('covered').dataset.fraction = '';
        $('covered').dataset.generation = '';
        return;
    }
    const covered = shares.filter((share) => share >= 0.5).length;
    const mean = shares.reduce((a, b) => a + b, 0) / cells;
    const inView = identifiable.filter((share) => share >= 0.5).length;
    $('covered').textContent = `Covered: ${(100 * covered / cells).toFixed(1)} % of the floor`;
    $('covered').dataset.fraction = String(covered / cells);
    $('covered').dataset.generation = String(page.coverage.generation);
    $('coverage-detail').textContent = `${covered} of ${cells} cells with at least 50 % of frames located correctly; ` +
        `mean ${(100 * mean).toFixed(1)} %; a catalogued feature wholly in view from ${(100 * inView / cells).toFixed(1)} %. ` +
        `${describe ?? ''}.`;
}

function showTooltip(info) {
    const tip = $('tooltip');
    if (!info) return void (tip.hidden = true);
    tip.hidden = false;
    tip.style.left = `${info.clientX + 14}px`;
    tip.style.top = `${info.clientY + 14}px`;
    const where = `cell (${info.col}, ${info.row}) at x ${info.x.toFixed(2)} m, z ${info.z.toFixed(2)} m`;
    tip.textContent = info.known ? `${where}: ${(100 * info.share).toFixed(0)} % of frames located, ` +
        `feature in view in ${(100 * info.identifiable).toFixed(0)} %` : `${where}: not computed yet`;
}

// ---- the room form and settings ---------------------------------------------------------------

function formValues() {
    const form = $('room-form');
    const number = (name) => Number(form.elements[name].value);
    return { width: number('width'), depth: number('depth'), ceiling: form.elements.mounting.value === 'ceiling',
        height: number('height'), geometry: form.elements.geometry.value, trackerLow: number('trackerLow'),
        trackerHigh: number('trackerHigh'), fov: number('fov'), profile: form.elements.profile.value,
        method: form.elements.method.value };
}

/** The coverage settings of the form for markers at `plane` (ceiling or floor); throws on nonsense. */
function settingsFor(values, plane, ceiling) {
    const distances = [values.trackerLow, values.trackerHigh].map((h) => (ceiling ? plane - h : h - plane));
    if (!distances.every((d) => Number.isFinite(d) && d > 0))
        throw new Error(`the tracker (${values.trackerLow} to ${values.trackerHigh} m) must be ${ceiling ? 'below' : 'above'} the markers at ${plane} m`);
    if (!(values.fov >= 1 && values.fov <= 179)) throw new Error('the field of view must be 1 to 179 degrees');
    const [minDistance, maxDistance] = distances.sort((a, b) => a - b);
    return { method: values.method, camera: { name: values.profile, fieldOfViewDegrees: values.fov, ...PROFILES[values.profile] },
        minDistance, maxDistance, distances: minDistance === maxDistance ? 1 : 2 };
}

function applySettings(settings) {
    page.settings = settings;
    broadcast({ type: 'settings', settings });
}

async function newRoom() {
    try {
        const values = formValues();
        for (const [name, value] of [['width', values.width], ['depth', values.depth]])
            if (!(value >= 0.6 && value <= MAX_ROOM_METRES)) throw new Error(`the room's ${name} must be 0.6 to ${MAX_ROOM_METRES} m`);
        const geometry = page.geometries.find((g) => g.name === values.geometry);
        const description = { ...geometry.description, ceiling: values.ceiling, height: values.height, bars: [] };
        const columns = Math.floor(values.width / description.cellSize), rows = Math.floor(values.depth / description.cellSize);
        if (columns < 1 || rows < 1) throw new Error(`a room of ${values.width} x ${values.depth} m holds no cell of ${description.cellSize} m`);
        if (columns > MAX_CELLS_PER_SIDE || rows > MAX_CELLS_PER_SIDE)
            throw new Error(`a room of ${values.width} x ${values.depth} m needs more than ${MAX_CELLS_PER_SIDE} cells a side`);
        description.size = { x: columns, y: rows };
        const settings = settingsFor(values, values.height, values.ceiling);
        const summary = await load({ description });
        applySettings(settings);
        show(summary, { resetCoverage: true, room: { width: values.width, depth: values.depth } });
        showMessage('');
    } catch (error) {
        showMessage(error.message);
    }
}

/** Loads a pasted or linked code; on failure the current design stays. */
async function loadCode(text, origin) {
    try {
        const code = checkCode(text);
        const summary = await load({ code });
        const d = summary.description;
        // The room: the grid, widened to hold every marker, to the centimetre.
        let width = d.size.x * d.cellSize, depth = d.size.y * d.cellSize;
        for (let i = 0; i < summary.markers.length; i += 3) {
            width = Math.max(width, 2 * Math.abs(summary.markers[i]));
            depth = Math.max(depth, 2 * Math.abs(summary.markers[i + 2]));
        }
        // Up to the centimetre, forgiving the millimetre single precision leaves.
        const room = { width: Math.ceil(width * 100 - 0.1) / 100, depth: Math.ceil(depth * 100 - 0.1) / 100 };
        const form = $('room-form');
        form.elements.width.value = room.width;
        form.elements.depth.value = room.depth;
        form.elements.mounting.value = d.ceiling ? 'ceiling' : 'floor';
        form.elements.height.value = Number(d.height.toPrecision(6));
        let values = formValues();
        try {
            settingsFor(values, d.height, d.ceiling);
        } catch {
            // The tracker on the markers' side: 1.2-2 m above a floor, 1.5-1.9 m under a ceiling.
            form.elements.trackerLow.value = d.ceiling ? Math.min(1.5, d.height / 2) : d.height + 1.2;
            form.elements.trackerHigh.value = d.ceiling ? Math.min(1.9, d.height * 0.75) : d.height + 2;
            values = formValues();
        }
        applySettings(settingsFor(values, d.height, d.ceiling));
        show(summary, { resetCoverage: true, room });
        showMessage('');
    } catch (error) {
        showMessage(`${origin}: ${error.message}. The design shown is unchanged.`);
    }
}

// ---- design search ---------------------------------------------------------------------------

function startDesign() {
    if (!page.design || page.designing) return;
    const target = Number($('design-target').value) / 100, maxBars = Number($('design-max-bars').value);
    if (!(target > 0 && target <= 1) || !(maxBars >= 0)) return showMessage('the target must be 1 to 100 % and the bars 0 or more');
    const geometry = { ...page.design.description, bars: [] };
    page.designing = true;
    $('design').disabled = true;
    $('design-stop').disabled = false;
    $('design-status').textContent = 'searching…';
    page.workers[0].postMessage({ type: 'design', request: { geometry, roomWidth: page.room.width, roomDepth: page.room.depth,
        coverage: page.settings, target, maxBars, seed: 1 } });
}

async function onDesigned({ description, estimate, evaluations }) {
    const target = Number($('design-target').value);
    const reached = 100 * estimate;
    endDesign(`designed: ${description.bars.length} bars, two features in view from ${reached.toFixed(1)} % of the floor ` +
        `(${evaluations} layouts scored)` + (reached < target ? `; below the ${target} % target: a greater tracker ` +
        'distance or a wider field of view sees more bars at once' : ''));
    try {
        show(await load({ description }), { resetCoverage: true });
    } catch (error) {
        showMessage(error.message);
    }
}

function endDesign(status) {
    page.designing = false;
    $('design').disabled = false;
    $('design-stop').disabled = true;
    $('design-status').textContent = status;
}

// ---- wiring ----------------------------------------------------------------------------------

function codeFromAddress() {
    const match = /^#code=(.*)$/s.exec(location.hash);
    if (!match) return null;
    try { return decodeURIComponent(match[1]); } catch { return match[1]; }
}

async function copy(text, what) {
    try {
        await navigator.clipboard.writeText(text);
        showMessage(`${what} copied`, 'info');
    } catch {
        showMessage(`the browser refused the clipboard: select the ${what} and copy it by hand`);
    }
}

async function main() {
    await startWorkers();
    const geometries = $('room-form').elements.geometry;
    for (const geometry of page.geometries) {
        const label = geometry.name.replace(/([a-z])([A-Z])/g, '$1 $2').toLowerCase();
        geometries.append(new Option(`${label}: ${geometry.description.barLength.toFixed(2)} m bars`, geometry.name));
    }
    geometries.value = 'LongFloor';
    $('room-form').addEventListener('submit', (event) => { event.preventDefault(); newRoom(); });
    $('apply-settings').addEventListener('click', () => {
        try {
            const values = formValues();
            page.room = { width: values.width, depth: values.depth };
            applySettings(settingsFor(values, page.design.description.height, page.design.description.ceiling));
            redraw();
        } catch (error) { showMessage(error.message); }
    });
    $('room-form').elements.mounting.forEach((radio) => radio.addEventListener('change', () => {
        const form = $('room-form'), ceiling = form.elements.mounting.value === 'ceiling';
        form.elements.height.value = ceiling ? 2.6 : 0;
        form.elements.trackerLow.value = ceiling ? 1.5 : 1.2;
        form.elements.trackerHigh.value = ceiling ? 1.9 : 2;
        form.elements.geometry.value = ceiling ? 'LongCeiling' : 'LongFloor';
    }));
    $('load-code').addEventListener('click', () => loadCode($('code').value, 'pasted code'));
    $('copy-code').addEventListener('click', () => copy(page.design?.code ?? '', 'code'));
    $('copy-link').addEventListener('click', () => copy(location.href, 'link'));
    $('turn').addEventListener('click', turnSelected);
    $('delete').addEventListener('click', deleteSelected);
    $('design').addEventListener('click', startDesign);
    $('design-stop').addEventListener('click', async () => { endDesign('stopped'); await restart(); });
    $('print-sheet').addEventListener('click', () => window.print());
    window.addEventListener('beforeprint', () => page.design && renderSheet($('sheet'), page));
    window.addEventListener('hashchange', () => {
        const code = codeFromAddress();
        if (code && code !== page.design?.code) loadCode(code, 'code in the address');
    });
    document.addEventListener('keydown', (event) => {
        if (event.target.closest('input, textarea, select')) return;
        if (event.key === 'r' || event.key === 'R') turnSelected();
        else if (event.key === 'Delete' || event.key === 'Backspace') deleteSelected();
        else if (event.key === 'Escape') select(null);
    });
    const code = codeFromAddress();
    if (code) await loadCode(code, 'code in the address');
    if (!page.design) await newRoom();
    if ('serviceWorker' in navigator) navigator.serviceWorker.register('sw.js').catch(() => {});
}

// For the browser test and the curious: where a cell lies on the page, and the timings.
window.lumetraDesigner = {
    page,
    cellOnPage(col, row) {
        const rect = $('plan').getBoundingClientRect();
        const view = plan.layout(rect.width, rect.height);
        const d = page.design.description;
        return { x: rect.left + view.cx + (col - (d.size.x - 1) / 2) * d.cellSize * view.scale,
            y: rect.top + view.cy + (row - (d.size.y - 1) / 2) * d.cellSize * view.scale };
    },
};

main().catch((error) => showMessage(`the designer could not start: ${error.message}`));
