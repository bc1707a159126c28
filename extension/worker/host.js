// One page's connection to the native host, and so to its own plug-in
// instance. Its state:
//   idle    no host runs: the next call starts one (the first call, and the
//           one after a host stopped or was let go for not answering);
//   open    a host runs and takes calls;
//   closed  the page went away: every call fails at once.
import { api } from '../browser.js';
import { CONFIG } from './config.js';
import { PROTOCOL } from './protocol.js';
import { Reply } from './replies.js';

// A reply as the worker reads it: a failure's reason becomes the one its page
// reads, by the protocol's list, and stays as hostReason for the worker's own
// steps (a login). A host older than its reasons gives none: its failures all
// read as failed.
const readReply = (reply) => (reply.ok === true ? reply : { ...reply, hostReason: reply.reason,
  reason: Object.hasOwn(PROTOCOL.reasons, reply.reason ?? '') ? PROTOCOL.reasons[reply.reason] : 'failed' });

export class HostConnection {
  // The longest wait for one answer of the host: key generation of the
  // largest keys, behind other pages' requests, takes seconds; a host that
  // says nothing for this long is taken for hung and let go.
  static TIMEOUT_MS = 120000;

  constructor(origin) {
    this.origin = origin;
    this.state = 'idle';
    this.port = null;
    this.calls = new Map();  // id -> settle(result)
    this.nextId = 1;
  }

  // Resolves with the host's reply to the command (src/host/protocol.def),
  // given the value of its member and the message's other members, or with
  // the port's own that there is none: a failure's reason is the page's.
  call(command, value = {}, rest = {}) {
    return new Promise((resolve) => {
      if (this.state === 'closed') {
        resolve(Reply.unavailable('the page closed'));
        return;
      }
      if (this.state === 'idle') this.start();
      const id = this.nextId++;
      const port = this.port;
      const timer = setTimeout(() => {
        if (!this.calls.delete(id)) return;
        if (this.port === port) this.end(port);
        resolve(Reply.unavailable(`the certificate host did not answer within ${HostConnection.TIMEOUT_MS / 1000} s`));
      }, HostConnection.TIMEOUT_MS);
      this.calls.set(id, (result) => {
        clearTimeout(timer);
        resolve(result);
      });
      try {
        port.postMessage({ [command]: value, ...rest, id });
      } catch (error) {
        this.calls.delete(id);
        clearTimeout(timer);
        resolve(Reply.unavailable(`the certificate host cannot be reached: ${error.message}`));
      }
      // What was sent is not kept while the host answers: a login's PIN is in it.
      value = undefined;
    });
  }

  close() {
    if (this.port) this.end(this.port);
    this.state = 'closed';
    this.failCalls('the page closed');
  }

  start() {
    const port = api.runtime.connectNative(CONFIG.hostName);
    port.onMessage.addListener((reply) => {
      const settle = this.takeCall(reply ? reply.id : undefined);
      if (settle) settle(readReply(reply));
    });
    port.onDisconnect.addListener((ended) => {
      const error = (ended && ended.error) || api.runtime.lastError;
      if (this.port === port) {
        this.port = null;
        this.state = 'idle';
      }
      this.failCalls(`the certificate host stopped or is not installed${error ? ` (${error.message})` : ''}`);
    });
    this.port = port;
    this.state = 'open';
    // The page's origin, as the browser gave it, for a plug-in built to
    // serve the authority's pages only; its reply answers no call.
    port.postMessage({ id: 'page', page: this.origin });
  }

  end(port) {
    port.disconnect();
    this.port = null;
    this.state = 'idle';
  }

  failCalls(why) {
    for (const settle of this.calls.values()) settle(Reply.unavailable(why));
    this.calls.clear();
  }

  // A page asks the host one thing at a time, so a reply the host could not
  // give an id (a message it could not read) answers the oldest call.
  takeCall(id) {
    const key = this.calls.has(id) ? id : id === null ? this.calls.keys().next().value : undefined;
    const settle = this.calls.get(key);
    if (settle) this.calls.delete(key);
    return settle;
  }
}
