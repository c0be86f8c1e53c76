// The room designer in a real browser: Debian's Chromium, headless, driven by puppeteer-core. The
// site is served by `lumetra-horizontal-grid web`; every figure the page shows is checked against
// the command-line tool on the same settings.
//
//   node web/test/designer.test.mjs <tool> <site directory> <output directory>
//
// Prints what it checks and the timings (figures, not checks: the machine's load decides them), keeps a screenshot in the output directory, exits 1 on
// the first failure.

import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import puppeteer from 'puppeteer-core';

const [tool, site, output] = process.argv.slice(2);
if (!tool || !site || !output) {
    console.error('usage: node designer.test.mjs <tool> <site directory> <output directory>');
    process.exit(2);
}
fs.mkdirSync(output, { recursive: true });

// The settings both sides use: the page's form, and the same for `coverage`.
const PAGE_SETTINGS = { trackerLow: '1.2', trackerHigh: '2', fov: '115', profile: 'typical', method: 'identify' };
const TOOL_SETTINGS = { '--distance': '1.2,2', '--fov': '115', '--profile': 'typical', '--method': 'identify' };

function run(args, input) {
    return execFileSync(tool, args, { input, encoding: 'utf8', stdio: ['pipe', 'pipe', 'pipe'] }).trim();
}

function check(condition, what) {
    if (!condition) throw new Error(`FAILED: ${what}`);
    console.log(`ok: ${what}`);
}

function toolCoverage(code, changes = {}) {
    const options = Object.entries({ ...TOOL_SETTINGS, ...changes }).flat();
    const started = process.hrtime.bigint();
    const json = JSON.parse(run(['coverage', code, '--json', '--progress', 'never', ...options]));
    return { fraction: json.coveredFraction, seconds: Number(process.hrtime.bigint() - started) / 1e9 };
}

/** The tool's server on a free port; resolves with its address once it listens. */
function startServer() {
    const server = spawn(tool, ['web', '--site', site, '--port', '0'], { stdio: ['ignore', 'pipe', 'inherit'] });
    return new Promise((resolve, reject) => {
        let text = '';
        server.stdout.on('data', (chunk) => {
            text += chunk;
            const match = /at (http:\/\/127\.0\.0\.1:\d+\/)/.exec(text);
            if (match) resolve({ server, url: match[1] });
        });
        server.on('exit', (code) => reject(new Error(`the tool's server stopped (${code})`)));
    });
}

const page = { handle: null };
/** The covered share the page shows once every worker has finished its pass for the design shown. */
async function pageFraction() {
    const shown = await page.handle.waitForFunction(() => {
        const { page: state } = window.lumetraDesigner;
        const { coverage, design } = state;
        const figure = document.querySelector('#covered').dataset;
        const final = coverage && coverage.code === design?.code && coverage.parts === state.workers.length &&
            coverage.done === coverage.total && state.pending.size === 0 &&
            figure.fraction !== '' && figure.generation === String(coverage.generation);
        return final && figure.fraction;
    }, { timeout: 60000 });
    return Number(await shown.jsonValue());
}

async function setForm(values) {
    await page.handle.evaluate((values) => {
        const form = document.getElementById('room-form');
        for (const [name, value] of Object.entries(values)) form.elements[name].value = value;
    }, values);
}

async function pasteCode(code) {
    await page.handle.$eval('#code', (area, code) => { area.value = code; }, code);
    await page.handle.click('#load-code');
}

const { server, url } = await startServer();
const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'lumetra-chromium-'));
const browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
    userDataDir: profile,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
        '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});
let failed = false;
try {
    page.handle = await browser.newPage();
    await page.handle.setViewport({ width: 1400, height: 900 });
    const pageErrors = [];
    page.handle.on('pageerror', (error) => pageErrors.push(error.message));
    let transferred = 0;
    page.handle.on('response', async (response) => {
        transferred += Number(response.headers()['content-length'] ?? 0);
    });

    // 1. The page opens with an empty room and its coverage.
    await page.handle.goto(url);
    await pageFraction();
    check(pageErrors.length === 0, 'the page loads without errors');
    console.log(`page weight: ${(transferred / 1024).toFixed(0)} KiB transferred`);
    check(transferred <= 2 * 1024 * 1024, 'the page weighs at most 2 MB');

    // 2. A code imported by pasting: the covered share is the tool's.
    const code = run(['generate', '--geometry', 'long-floor', '--room', '9x6', '--seed', '1']);
    await setForm(PAGE_SETTINGS);
    await pasteCode(code);
    await page.handle.waitForFunction((code) => window.lumetraDesigner.page.design?.code === code, {}, code);
    const imported = await pageFraction();
    const [passSeconds, workers] = await page.handle.evaluate(() =>
        [window.lumetraDesigner.page.timings.lastPassSeconds, window.lumetraDesigner.page.workers.length]);
    // The tool also makes a pass on exact rays; its time alone is taken off.
    const single = toolCoverage(code, { '--threads': '1' });
    const exactPass = toolCoverage(code, { '--threads': '1', '--profile': 'exact' });
    const toolSeconds = single.seconds - exactPass.seconds;
    console.log(`coverage of the 9 x 6 m room: page ${(100 * imported).toFixed(1)} % in ${passSeconds.toFixed(2)} s ` +
        `(WebAssembly, ${workers} worker${workers === 1 ? '' : 's'}); tool ${(100 * single.fraction).toFixed(1)} % in ${toolSeconds.toFixed(2)} s (one ` +
        `thread: ${single.seconds.toFixed(2)} s with its exact-rays pass, which alone takes ${exactPass.seconds.toFixed(2)} s)`);
    check(Math.abs(imported - single.fraction) <= 0.01, 'the page\'s covered share is within 1 point of `coverage`');
    check(page.handle.url().endsWith(`#code=${code}`), 'the address carries the code (#code=)');

    // 3. A bar added by a click; the exported code is `encode`'s, and the updated map the tool's.
    const description = JSON.parse(run(['describe', '--json', code]));
    const taken = new Set(description.bars.map((bar) => `${bar.x},${bar.y}`));
    // A free cell near the middle whose neighbours are free too, else any free cell.
    const cells = [];
    for (let row = 0; row < description.size.y; ++row)
        for (let col = 0; col < description.size.x; ++col) cells.push([col, row]);
    const middle = ([col, row]) => Math.hypot(col - description.size.x / 2, row - description.size.y / 2);
    const clear = ([col, row], reach) =>
        [...Array(2 * reach + 1).keys()].every((i) => [...Array(2 * reach + 1).keys()].every((j) =>
            !taken.has(`${col + i - reach},${row + j - reach}`)));
    cells.sort((a, b) => middle(a) - middle(b));
    const free = cells.find((cell) => clear(cell, 1)) ?? cells.find((cell) => clear(cell, 0));
    const point = await page.handle.evaluate(([col, row]) => window.lumetraDesigner.cellOnPage(col, row), free);
    await page.handle.mouse.click(point.x, point.y);
    await page.handle.waitForFunction((n) => window.lumetraDesigner.page.design.description.bars.length === n, {},
        description.bars.length + 1);
    const edited = await pageFraction();
    const [editSeconds, editPass, editCells] = await page.handle.evaluate(() => {
        const { timings, coverage } = window.lumetraDesigner.page;
        return [timings.lastEditVisibleSeconds, timings.lastPassSeconds, coverage.total];
    });
    const exported = await page.handle.$eval('#code', (area) => area.value);
    description.bars.push({ x: free[0], y: free[1], rotationDegrees: 0 });
    const encoded = run(['encode'], JSON.stringify(description));
    check(exported === encoded, `the code exported after a click at cell (${free}) is byte-identical to \`encode\`'s`);
    console.log(`an added bar: its first recomputed cells shown after ${(1000 * editSeconds).toFixed(0)} ms, all ` +
        `${editCells} cells it can reach after ${editPass.toFixed(2)} s`);
    const afterEdit = toolCoverage(encoded);
    check(Math.abs(edited - afterEdit.fraction) <= 0.01,
        `after the edit (incremental update) the page's ${(100 * edited).toFixed(1)} % is within 1 point of \`coverage\`'s ${(100 * afterEdit.fraction).toFixed(1)} %`);

    // The added bar selected by a click, turned with R and deleted with Delete: the first code again.
    await page.handle.mouse.click(point.x, point.y);
    await page.handle.keyboard.press('r');
    await page.handle.waitForFunction((n) => (window.lumetraDesigner.page.design.description.bars[n].properties & 3) === 1,
        {}, description.bars.length - 1);
    await page.handle.keyboard.press('Delete');
    await page.handle.waitForFunction((code) => window.lumetraDesigner.page.design.code === code, {}, code);
    check(true, 'a bar turned with R and deleted with Delete gives back the imported code');
    await pageFraction();

    // 4. Malformed, hostile and absurd codes: a clear message, the design kept.
    const big = run(['encode'], JSON.stringify({ ...description, size: { x: 4096, y: 4096 }, bars: [] }));
    for (const [bad, expected] of [['AgV0cnVzcwMCMzOjP83MzD41+o49AAAAAAAA', /invalid environment code: .*truncated/],
        ['<img src=x onerror=alert(1)>', /invalid environment code: Wrong base64 string/],
        [big, /4096 x 4096 cells is larger than this page designs/]]) {
        await pasteCode(bad);
        await page.handle.waitForSelector('#message:not([hidden])');
        const message = await page.handle.$eval('#message', (box) => box.textContent);
        const kept = await page.handle.evaluate(() => window.lumetraDesigner.page.design.code);
        check(expected.test(message) && kept === code,
            `pasting ${bad.slice(0, 24)}… says "${message.slice(0, 90)}…" and keeps the design`);
        await page.handle.evaluate(() => { document.getElementById('message').hidden = true; });
    }
    check(pageErrors.length === 0, 'no script errors on the way');
    await page.handle.screenshot({ path: path.join(output, 'designer.png') });
    console.log(`screenshot: ${path.join(output, 'designer.png')}`);

    // 5. Offline once loaded: the service worker answers a reload with the network gone.
    await page.handle.evaluate(() => navigator.serviceWorker.ready);
    await page.handle.setOfflineMode(true);
    await page.handle.reload();
    const offline = await pageFraction();
    check(Math.abs(offline - imported) < 1e-12, 'reloaded offline, the page shows the same room and coverage');
} catch (error) {
    failed = true;
    console.error(error.message);
    await page.handle?.screenshot({ path: path.join(output, 'failure.png') }).catch(() => {});
} finally {
    await browser.close();
    server.kill();
    fs.rmSync(profile, { recursive: true, force: true });
}
process.exit(failed ? 1 : 0);
