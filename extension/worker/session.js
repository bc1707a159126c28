// One allowed page: its port, its own host (and so plug-in instance), the
// certificates the user chose for it, and its calls, served one after
// another in the page's order, consent included.
'use strict';

class PageSession {
  constructor(port, origin) {
    this.port = port;
    this.origin = origin;
    this.host = new HostConnection(origin);
    this.closed = false;
    this.asking = new Set();
    // The certificate the user chose for each serial text the chooser gave
    // this page (its thumbprint): a later signature with that serial uses it.
    this.chosen = new Map();
    this.queue = Promise.resolve();
    port.onMessage.addListener((message) => {
      this.queue = this.queue.then(() => this.serve(message)).catch(() => {});
    });
    port.onDisconnect.addListener(() => this.close());
  }

  close() {
    this.closed = true;
    for (const finish of this.asking) finish(false, 'closed');
    this.host.close();
  }

  async serve({ id, member, args }) {
    const reply = await this.answer(member, args);
    if (!this.closed) this.port.postMessage({ id, ...reply });
  }

  async answer(member, args) {
    const rule = memberRule(member);
    if (!rule) return Reply.failure('failed', `zvcert has no member ${member}`);
    args = Array.isArray(args) ? args : [];
    const refusal = argumentsRefusal(rule, args);
    if (refusal) return Reply.failed(member, refusal);
    if (rule.consent) {
      // The plug-in refuses such calls before touching anything: no question.
      if (!hasStrings(rule, args)) return Reply.failed(member, '', null);
      const allowed = await consentTo(this, member, rule, args);
      if (allowed.reply) return allowed.reply;
      args = allowed.args;
    }
    return act(this, member, rule, args);
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
