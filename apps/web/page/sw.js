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

// A build's own files never change: from the cache when kept. What the root names (the page,
// the manifest) may be a new build's: from the network when it answers, so that a new build is
// met at once and whole, else as kept.
const IN_A_BUILD = /\/[0-9a-f]{16}\//;
self.addEventListener('fetch', (event) => {
  const request = event.request;
  if (request.method !== 'GET') return;
  if (IN_A_BUILD.test(new URL(request.url).pathname)) {
    event.respondWith(caches.match(request).then((kept) => kept || fetch(request)));
    return;
  }
  const fallback = request.mode === 'navigate' ? PAGE : request;
  event.respondWith(fetch(request).catch(async (e) => (await caches.match(fallback)) || Promise.reject(e)));
});
