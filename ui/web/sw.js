// The service worker: keeps every file of the site, so the face starts and runs with the
// network gone. The network is asked first, so a visit online always gets the site as
// the server has it now and refreshes the copy; when it cannot answer, the copy serves.
const CACHE = 'zarvelin-web';
const FILES = [
  './', 'index.html', 'style.css', 'manifest.webmanifest', 'zarvelin.wasm',
  'main.js', 'core.js', 'panel.js', 'session.js', 'audio.js', 'stimulus.js', 'keys.js',
  'synth_worklet.js', 'icons/icon-48.png', 'icons/icon-256.png', 'icons/icon.svg',
];

self.addEventListener('install', (event) => {
  event.waitUntil(caches.open(CACHE).then((cache) => cache.addAll(FILES)).then(() => self.skipWaiting()));
});

self.addEventListener('activate', (event) => {
  event.waitUntil(self.clients.claim());
});

self.addEventListener('fetch', (event) => {
  const request = event.request;
  if (request.method !== 'GET' || new URL(request.url).origin !== self.location.origin) return;
  event.respondWith((async () => {
    const cache = await caches.open(CACHE);
    try {
      const response = await fetch(request);
      if (response.ok) await cache.put(request, response.clone());
      return response;
    } catch (offline) {
      const kept = await cache.match(request, { ignoreSearch: true });
      if (kept) return kept;
      throw offline;
    }
  })());
});
