// The extension's service worker (a background script in Firefox): one
// session per allowed page (worker/session.js), each with its own connection
// to the native host (worker/host.js) and so its own plug-in instance.
// Storing, deleting and signing wait for the user's consent in a small
// extension window (worker/consent.js, worker/windows.js).
'use strict';

// Chromium runs this file alone and loads the worker's other scripts here;
// Firefox has loaded them already, as the manifest's first background scripts.
if (typeof importScripts === 'function') importScripts(...__ZVCERT_WORKER_SCRIPTS__);

function senderOrigin(sender) {
  if (sender.origin) return sender.origin;
  try {
    return new URL(sender.url).origin;
  } catch {
    return '';
  }
}

api.runtime.onConnect.addListener((port) => {
  const origin = senderOrigin(port.sender || {});
  if (port.name !== CONFIG.channel || !CONFIG.origins.includes(origin) ||
      (port.sender && port.sender.frameId)) {
    port.disconnect();
    return;
  }
  new PageSession(port, origin);
});
api.runtime.onMessage.addListener(windowMessage);
api.windows.onRemoved.addListener(windowRemoved);
