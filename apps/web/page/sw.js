// The offline copy: one build's files kept whole in a cache named by the build, so that a second
// visit starts without the network and a new build replaces the old one at once, never a mix.
// publish.js puts BUILD (the build's id) and FILES (what to keep, the page's address first)
// before this.
/* global BUILD, FILES */
const PREFIX = 'quiet_moss-';
const CACHE = PREFIX + BUILD;
const PAGE = new URL(FILES[0], self.location).href;

// The page registers this once its own downloads are done: the files then come from the
// browser's HTTP cache, not the network again.
self.addEventListener('install', (event) => {
  event.waitUntil(caches.open(CACHE).then((cache) => cache.addAll(FILES)).then(() => self.skipWaiting()));
});

self.addEventListener('activate', (event) => {
  event.waitUntil(caches.keys()
    .then((keys) => Promise.all(keys.filter((k) => k.startsWith(PREFIX) && k !== CACHE).map((k) => caches.delete(k))))
    .then(() => self.clients.claim()));
});

// The page from the network when it answers, so that a new build is met at once (its files all
// have new names); the kept page when it does not. Every other file from the cache if kept.
self.addEventListener('fetch', (event) => {
  const request = event.request;
  if (request.method !== 'GET') return;
  if (request.mode === 'navigate') {
    event.respondWith(fetch(request).catch(async (e) => (await caches.match(PAGE)) || Promise.reject(e)));
    return;
  }
  event.respondWith(caches.match(request).then((kept) => kept || fetch(request)));
});
