// Keeps the designer working offline once loaded: every file is fetched from the network when it
// can be and from the cache otherwise.

const CACHE = 'lumetra-designer-v1';
const FILES = ['./', 'index.html', 'style.css', 'app/main.js', 'app/worker.js', 'app/lumetra.js', 'app/limits.js',
    'app/colours.js', 'app/plan-view.js', 'app/sheet.js', 'module/lumetra.js', 'module/lumetra.wasm'];

self.addEventListener('install', (event) => {
    event.waitUntil(caches.open(CACHE).then((cache) => cache.addAll(FILES)).then(() => self.skipWaiting()));
});

self.addEventListener('activate', (event) => event.waitUntil(self.clients.claim()));

self.addEventListener('fetch', (event) => {
    if (event.request.method !== 'GET' || new URL(event.request.url).origin !== location.origin) return;
    event.respondWith(fetch(event.request).then((response) => {
        if (response.ok) {
            const copy = response.clone();
            caches.open(CACHE).then((cache) => cache.put(event.request, copy));
        }
        return response;
    }).catch(() => caches.match(event.request, { ignoreSearch: true })));
});
