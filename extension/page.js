// Runs in the page's own world on the authority's pages: defines
// window.zvcert, whose members answer with Promises of what the plug-in
// would return. Calls travel by window.postMessage to the extension's relay
// (relay.js), which only listens on the same allowed pages.
(() => {
  'use strict';
  const CONFIG = __ZVCERT_CONFIG__;
  if (window.top !== window || !CONFIG.origins.includes(location.origin)) return;
  if (Object.prototype.hasOwnProperty.call(window, 'zvcert')) return;

  const pending = new Map();
  let nextId = 1;

  // A rejection the page can tell apart: error.reason is 'failed' (the
  // plug-in call failed; error.result holds its result), 'denied',
  // 'timeout' or 'closed' (the user did not allow it), 'cancelled' or
  // 'none' (no certificate chosen), 'unavailable', or the token's
  // 'pin-incorrect', 'pin-locked', 'no-token' or 'token-removed'.
  function failure(member, reply) {
    const error = new Error(reply.error || `${member} failed`);
    error.member = member;
    error.reason = reply.reason || 'failed';
    if ('value' in reply) error.result = reply.value;
    return error;
  }

  window.addEventListener('message', (event) => {
    const data = event.data;
    if (event.source !== window || !data || data.channel !== CONFIG.channel ||
        data.direction !== 'reply') return;
    const waiter = pending.get(data.id);
    if (!waiter) return;
    pending.delete(data.id);
    if (data.ok) waiter.resolve(data.value);
    else waiter.reject(failure(waiter.member, data));
  });

  function send(member, args) {
    return new Promise((resolve, reject) => {
      const id = nextId++;
      pending.set(id, { member, resolve, reject });
      try {
        window.postMessage({ channel: CONFIG.channel, direction: 'call', id, member, args },
          location.origin);
      } catch (error) {
        // An argument that cannot be copied (a function, say).
        pending.delete(id);
        reject(failure(member, { error: `${member}: ${error.message}` }));
      }
    });
  }

  const api = {};
  for (const method of CONFIG.methods) {
    // undefined becomes null, as JSON carries it to the host.
    api[method] = (...args) => send(method, args.map((a) => (a === undefined ? null : a)));
  }
  for (const property of CONFIG.properties) {
    Object.defineProperty(api, property, { get: () => send(property, []), enumerable: true });
  }
  // The extension's own members: its versions, the certificate chooser and
  // CMS signatures.
  api.status = () => send('status', []);
  api.chooseCertificate = () => send('chooseCertificate', []);
  api.signCms = (serial, data, options) => send('signCms',
    [serial ?? null, data ?? null, { detached: Boolean(options && options.detached) }]);
  Object.defineProperty(api, 'viaExtension', { value: true, enumerable: true });
  Object.defineProperty(window, 'zvcert', { value: Object.freeze(api), enumerable: false });
  window.dispatchEvent(new Event('zvcert-ready'));
})();
