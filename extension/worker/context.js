// What the extension keeps for one allowed page while its port is open:
// its own host (and so plug-in instance), the certificates the user chose
// for it and the questions it waits on. Every action and step gets it.
import { HostConnection } from './host.js';
import { askUser } from './windows.js';

export class PageContext {
  constructor(origin) {
    this.origin = origin;
    this.host = new HostConnection(origin);
    this.closed = false;
    this.asking = new Set();
    // The certificate the user chose for each serial text the chooser gave
    // this page (its thumbprint): a later signature with that serial uses it.
    this.chosen = new Map();
  }

  close() {
    this.closed = true;
    for (const finish of this.asking) finish(false, 'closed');
    this.host.close();
  }

  async ask(kind, details) {
    if (this.closed) return { allowed: false, reason: 'closed' };
    let finish;
    const decision = await askUser(kind, details, (f) => {
      finish = f;
      this.asking.add(f);
    });
    this.asking.delete(finish);
    return decision;
  }
}
