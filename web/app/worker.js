// One of the designer's workers: holds the environment being designed, recomputes its share of the
// coverage cell by cell after every change (only the cells the change can reach, nearest first;
// worker `part` of `parts` takes every parts-th of them) in slices short enough to take the next
// edit at once, and runs the layout search. The page stays responsive whatever the module does.

import { loadLumetra } from './lumetra.js';
import { checkDescription } from './limits.js';

// Messages that come while the module loads wait for it.
const early = [];
self.onmessage = ({ data }) => early.push(data);
const lumetra = await loadLumetra();
/** @type {import('./lumetra.js').Environment | null} */
let current = null;
let currentCode = '';
let settings = null;
let pass = { generation: 0, queue: [], done: 0, total: 0 };
let part = 0;
let parts = 1;

function post(message) { self.postMessage(message); }

// Yields to the worker's message queue without the clamping of nested timers.
const yielder = new MessageChannel();
let continuation = null;
yielder.port1.onmessage = () => continuation?.();
function soon(task) {
    continuation = task;
    yielder.port2.postMessage(null);
}

function summary(environment) {
    return {
        description: environment.description(),
        code: environment.code(),
        markers: environment.markers(),
        catalogue: environment.catalogue(),
        warnings: environment.warnings(),
    };
}

/** Builds the environment of a code or description; the current one stays when it fails. */
function load(message) {
    let next;
    try {
        const description = message.code !== undefined ? lumetra.decode(message.code) : message.description;
        checkDescription(description);
        next = lumetra.fromDescription(description);
    } catch (error) {
        post({ type: 'refused', request: message.request, error: error.message });
        return;
    }
    const before = current;
    current = next;
    currentCode = current.code();
    post({ type: 'loaded', request: message.request, ...summary(current) });
    recompute(before, message.keepCoverage === true);
    before?.dispose();
}

/** Starts a coverage pass: the cells the change can reach, or every cell. */
function recompute(before, incremental) {
    if (!current || !settings) return;
    let cells;
    let everything = true;
    try {
        if (before && incremental) ({ cells, everything } = current.affectedCells(before, settings));
        else cells = [...Array(current.description().size.x * current.description().size.y).keys()];
        cells = cells.filter((_, i) => i % parts === part);
    } catch (error) {
        post({ type: 'coverage-error', error: error.message });
        return;
    }
    pass = { generation: pass.generation + 1, queue: cells, done: 0, total: cells.length, everything };
    post({ type: 'coverage-start', generation: pass.generation, cells, everything, code: currentCode });
    soon(() => work(pass.generation));
}

/** Computes cells for about 40 ms, posts them and yields to the next message. */
function work(generation) {
    if (generation !== pass.generation || !current) return;
    const started = performance.now();
    const cells = [];
    const shares = [];
    const identifiable = [];
    let describe = '';
    try {
        while (pass.queue.length > 0 && performance.now() - started < 40) {
            const cell = pass.queue.shift();
            const result = current.coverage(settings, [cell]);
            cells.push(cell);
            shares.push(result.shares[0]);
            identifiable.push(result.identifiable[0]);
            describe = result.describe;
        }
    } catch (error) {
        pass.queue = [];
        post({ type: 'coverage-error', error: error.message });
        return;
    }
    pass.done += cells.length;
    post({ type: 'coverage', generation, cells, shares, identifiable, describe, code: currentCode });
    if (pass.queue.length > 0) soon(() => work(generation));
}

function design(message) {
    try {
        const result = lumetra.design(message.request, (evaluations, estimate) =>
            post({ type: 'design-progress', evaluations, estimate }));
        post({ type: 'designed', ...result });
    } catch (error) {
        post({ type: 'design-error', error: error.message });
    }
}

function handle(data) {
    if (data.type === 'part') ({ part, parts } = data);
    else if (data.type === 'load') load(data);
    else if (data.type === 'settings') {
        settings = data.settings;
        recompute(null, false);
    } else if (data.type === 'design') design(data);
}

self.onmessage = ({ data }) => handle(data);
for (const data of early) handle(data);
post({ type: 'ready', geometries: lumetra.geometries() });
