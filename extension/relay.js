// The extension's side of the allowed pages (isolated world): carries
// window.zvcert's calls to the service worker over one port per page, and
// the replies back. The port lives as long as the page, and with it the
// host and the plug-in instance; a plug-in that keeps pending keys in memory
// keeps this page's there.
(() => {
  'use strict';
  const CONFIG = __ZVCERT_CONFIG__;
  if (window.top !== window || !CONFIG.origins.includes(location.origin)) return;
  const api = globalThis.browser ?? globalThis.chrome;

  let port = null;
  const inFlight = new Set();

  function toPage(reply) {
    window.postMessage({ channel: CONFIG.channel, direction: 'reply', ...reply }, location.origin);
  }

  function connect() {
    port = api.runtime.connect({ name: CONFIG.channel });
    port.onMessage.addListener((reply) => {
      inFlight.delete(reply.id);
      toPage(reply);
    });
    port.onDisconnect.addListener(() => {
      port = null;
      for (const id of inFlight) {
        toPage({ id, ok: false, reason: 'unavailable',
          error: 'the connection to the certificate host ended' });
      }
      inFlight.clear();
    });
  }

  window.addEventListener('message', (event) => {
    const data = event.data;
    if (event.source !== window || !data || data.channel !== CONFIG.channel ||
        data.direction !== 'call' || !Number.isSafeInteger(data.id)) return;
    try {
      if (port === null) connect();
      inFlight.add(data.id);
      port.postMessage({ id: data.id, member: data.member, args: data.args });
    } catch (error) {
      inFlight.delete(data.id);
      toPage({ id: data.id, ok: false, reason: 'unavailable', error: `the extension cannot be reached: ${error.message}` });
    }
  });
})();
