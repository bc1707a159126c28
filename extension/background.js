// The extension's service worker (a background script in Firefox), a module
// in both: one session per allowed page (worker/session.js), each with its
// own connection to the native host (worker/host.js) and so its own plug-in
// instance. Storing, deleting and signing wait for the user's consent in a
// small extension window (worker/consent.js, worker/windows.js).
import { api } from './browser.js';
import { CONFIG } from './worker/config.js';
import { PageContext, PageSession } from './worker/session.js';
import { windowMessage, windowRemoved } from './worker/windows.js';

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
  new PageSession(port, new PageContext(origin));
});
api.runtime.onMessage.addListener(windowMessage);
api.windows.onRemoved.addListener(windowRemoved);
