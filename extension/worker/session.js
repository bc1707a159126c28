// One allowed page's port: its calls, served one after another in the
// page's order, consent included, each answered on the port while it is open.
import { route } from './router.js';

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
