// One allowed page: what the extension keeps for it (PageContext), and its
// port's calls, served one after another in the page's order (PageSession).
import { HostConnection } from './host.js';
import { route } from './router.js';
import { askUser } from './windows.js';

// The page's own host (and so plug-in instance), the certificates the user
// chose for it and the questions it waits on: every action and step gets it.
export class PageContext {
  constructor(origin) {
    this.origin = origin;
    this.host = new HostConnection(origin);
    this.closed = false;
    this.asking = new Set();
    // The certificate the user chose for each serial text the chooser gave
    // this page (its thumbprint): a later signature with that serial uses it.
    this.chosen = new Map();
    // The token's login while its PIN is asked (worker/login.js), else null.
    this.login = null;
  }

  close() {
    this.closed = true;
    for (const finish of this.asking) finish(false, 'closed');
    this.host.close();
  }

  ask(kind, details) {
    return this.closed ? Promise.resolve({ allowed: false, reason: 'closed' }) : askUser(kind, details, this.asking);
  }
}

export class PageSession {
  constructor(port, context) {
    this.port = port;
    this.context = context;
    this.queue = Promise.resolve();
    port.onMessage.addListener((message) => {
      this.queue = this.queue.then(() => this.serve(message)).catch(() => {});
    });
    port.onDisconnect.addListener(() => context.close());
  }

  async serve({ id, member, args }) {
    const reply = await route(this.context, member, args);
    if (!this.context.closed) this.port.postMessage({ id, ...reply });
  }
}
