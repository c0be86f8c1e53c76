// The library compiled to WebAssembly, as a small typed module. Load it once with loadLumetra();
// every failure comes back as an Error with the library's message, never as a half-built object.

import createLumetraModule from '../module/lumetra.js';

/**
 * @typedef {{x: number, y: number, properties: number}} Bar  cell column, row and properties byte (rotation: low two bits)
 * @typedef {{schemeName: string, size: {x: number, y: number}, barLength: number, barProportion: number,
 *   barSlope: number, barOffset: {x: number, y: number}, ceiling: boolean, height: number, cellSize: number,
 *   connectors: boolean, bars: Bar[]}} Description  the values of an environment code
 * @typedef {{name?: string, fieldOfViewDegrees?: number, noiseDegrees?: number, dropProbability?: number,
 *   spuriousRays?: number, rate?: number}} Camera
 * @typedef {{method?: 'identify'|'track'|'match', camera?: Camera, minDistance?: number, maxDistance?: number,
 *   distances?: number, yaws?: number, tiltsDegrees?: number[], threshold?: number, seed?: number,
 *   tolerance?: number}} CoverageSettings  absent members take the defaults of the tool's `coverage`
 * @typedef {{uniqueFeatures: number, bySize: Object<string, number>, smallestFeatureSize: number|null,
 *   barsInFeatures: number, barsOutsideFeatures: number[], markerSpacing: number}} Catalogue
 */

/** @param {any} result  throws the module's { error } as an Error */
function unwrap(result) {
    if (result && typeof result.error === 'string') throw new Error(result.error);
    return result;
}

export class Environment {
    /** @param {any} handle  a WebEnvironment of the module, owned by this object */
    constructor(handle) {
        const error = handle.error();
        if (error) {
            handle.delete();
            throw new Error(error);
        }
        this.handle = handle;
    }

    /** Frees the module's memory; the object is unusable afterwards. */
    dispose() {
        this.handle?.delete();
        this.handle = null;
    }

    /** @returns {Description} */
    description() { return this.handle.description(); }
    /** The version 2 code, byte for byte what `encode` writes. @returns {string} */
    code() { return this.handle.code(); }
    /** x, y, z of every marker, three per bar in bar order. @returns {number[]} */
    markers() { return this.handle.markers(); }
    /** @returns {Catalogue} */
    catalogue() { return this.handle.catalogue(); }
    /** @returns {string[]} */
    warnings() { return this.handle.warnings(); }

    /**
     * Coverage of the cells `indices` (row after row).
     * @param {CoverageSettings} settings
     * @param {number[]} indices
     * @returns {{shares: number[], identifiable: number[], framesPerPosition: number, describe: string}}
     */
    coverage(settings, indices) { return unwrap(this.handle.coverage(settings, indices)); }

    /**
     * The cells whose coverage may differ from `before`'s, nearest the change first.
     * @param {Environment} before
     * @param {CoverageSettings} settings
     * @returns {{cells: number[], everything: boolean}}
     */
    affectedCells(before, settings) { return unwrap(this.handle.affectedCells(before.handle, settings)); }

    /**
     * The rays a tracker sees.
     * @param {{x: number, y: number, z: number, yawDegrees: number, tiltDegrees: number}} pose
     * @param {CoverageSettings} settings
     * @returns {{rays: number[], markerNumbers: number[]}}
     */
    frame(pose, settings) { return unwrap(this.handle.frame(pose, settings)); }

    /**
     * @param {number[]} rays  x, y, z triples in the tracker's frame
     * @returns {{found: boolean, markerIndices: number[], position: number[], rotation: number[]}}
     */
    identify(rays) { return unwrap(this.handle.identify(rays)); }
}

/** Loads the module and returns its entry points. */
export async function loadLumetra() {
    const module = await createLumetraModule();
    return {
        /** @returns {{name: string, description: Description, minDistance: number, maxDistance: number, minSpacing: number}[]} */
        geometries: () => module.geometries(),
        /** The description of a code, without building it. @param {string} code @returns {Description} */
        decode: (code) => unwrap(module.decode(code)).description,
        /** @param {string} code @returns {Environment} */
        fromCode: (code) => new Environment(module.WebEnvironment.fromCode(code)),
        /** @param {Description} description @returns {Environment} */
        fromDescription: (description) => new Environment(module.WebEnvironment.fromDescription(description)),
        /**
         * The layout search of `generate --room`.
         * @param {{geometry: Description, roomWidth: number, roomDepth: number, margin?: number, spacing?: number,
         *   coverage?: CoverageSettings, target?: number, maxBars?: number, seed?: number}} request
         * @param {(evaluations: number, estimate: number) => void} [progress]
         * @returns {{description: Description, estimate: number, evaluations: number}}
         */
        design: (request, progress) => unwrap(module.design(request, progress ?? null)),
    };
}
