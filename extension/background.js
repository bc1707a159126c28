// The extension's service worker (a background script in Firefox): one
// session per allowed page, each with its own connection to the native host
// and so its own plug-in instance. Storing, deleting and signing wait for the
// user's consent in a small extension window.
'use strict';

const CONFIG = __ZVCERT_CONFIG__;
const api = globalThis.browser ?? globalThis.chrome;

const MEMBERS = new Set([...CONFIG.methods, ...CONFIG.properties]);
// The members that change the store or use a key, with the string arguments
// the plug-in needs before it does anything; data: the second is Base64 data
// to be signed, shown as the plug-in decodes it.
const GUARDED = {
  ImportCert: { strings: 1, action: 'store a certificate and link it to the key made for its request' },
  DelCert: { strings: 1, action: 'delete a certificate and its private key' },
  CertSign: { strings: 2, data: true, action: 'sign data with a certificate\'s private key' },
  signCms: { strings: 2, data: true, action: 'sign data with a certificate\'s private key (a CMS signature)' },
};
// Which window asks what.
const WINDOWS = { consent: { width: 560, height: 600 }, chooser: { width: 600, height: 460 } };

function senderOrigin(sender) {
  if (sender.origin) return sender.origin;
  try {
    return new URL(sender.url).origin;
  } catch {
    return '';
  }
}

// ---- consent ----------------------------------------------------------------

const consents = new Map();  // token -> open question

// Resolves with the user's answer ({ allowed, reason, choice }) in the
// window of that kind; onOpen(finish) receives the means to end the
// question early (the page went away).
function askUser(kind, details, onOpen) {
  return new Promise((resolve) => {
    const token = crypto.randomUUID();
    const question = {
      details: { ...details, deadline: Date.now() + CONFIG.consentTimeoutSeconds * 1000 },
      windowId: null,
      done: false,
    };
    question.finish = (allowed, reason, choice) => {
      if (question.done) return;
      question.done = true;
      clearTimeout(question.timer);
      consents.delete(token);
      if (question.windowId !== null) api.windows.remove(question.windowId).catch(() => {});
      resolve({ allowed, reason, choice });
    };
    question.timer = setTimeout(() => question.finish(false, 'timeout'),
      CONFIG.consentTimeoutSeconds * 1000);
    consents.set(token, question);
    onOpen(question.finish);
    api.windows.create({
      url: api.runtime.getURL(`${kind}.html#${token}`), type: 'popup', ...WINDOWS[kind], focused: true,
    }).then((window) => {
      question.windowId = window.id;
      if (question.done) api.windows.remove(window.id).catch(() => {});
    }, () => question.finish(false, 'closed'));
  });
}

api.windows.onRemoved.addListener((windowId) => {
  for (const question of consents.values()) {
    if (question.windowId === windowId) question.finish(false, 'closed');
  }
});

// Only the extension's own windows may read a question or answer it.
api.runtime.onMessage.addListener((message, sender, sendResponse) => {
  if (sender.id !== api.runtime.id ||
      !Object.keys(WINDOWS).some((kind) => String(sender.url).startsWith(api.runtime.getURL(`${kind}.html`)))) {
    return false;
  }
  const question = consents.get(message && message.token);
  if (message.type === 'details') {
    sendResponse(question ? question.details : null);
  } else if (message.type === 'answer' && question) {
    question.finish(message.allow === true, message.allow === true ? 'allowed' : 'denied',
      Number.isSafeInteger(message.choice) ? message.choice : undefined);
    sendResponse(true);
  }
  return false;
});

// The longest wait for one answer of the host: key generation of the largest
// keys, behind other pages' requests, takes seconds; a host that says nothing
// for this long is taken for hung and replaced on the next call.
const HOST_TIMEOUT_MS = 120000;

const REFUSALS = {
  denied: 'the user denied it',
  timeout: 'the user did not answer in time',
  closed: 'the consent window was closed',
};
const EXTENSION_MEMBERS = new Set(['status', 'chooseCertificate', 'signCms']);

// What a page may pass, checked before anything reaches the host: no member
// takes more than three arguments, and every message stays under the host's
// 64 MiB with room for its other members. Numbers, booleans and null take a
// few bytes; signCms reads only `detached` of its options.
const MiB = 1024 * 1024;
const ARGUMENT_LIMITS = { count: 3, stringMiB: 48, totalMiB: 60 };

// The most bytes a browser may write for the text in a message (UTF-8 JSON),
// counted no further than limit: an escape (\u003c, a lone surrogate) takes six.
function messageBytes(text, limit) {
  if (text.length + 2 > limit) return text.length + 2;
  let bytes = 2;
  for (let i = 0; i < text.length && bytes <= limit; i += 1) {
    const c = text.charCodeAt(i);
    if (c >= 0x20 && c < 0x7f) bytes += c === 0x22 || c === 0x5c ? 2 : c === 0x3c || c === 0x3e || c === 0x26 ? 6 : 1;
    else if (c >= 0x08 && c <= 0x0d && c !== 0x0b) bytes += 2;
    else if (c >= 0x80 && c < 0x800) bytes += 2;
    else if (c >= 0x800 && (c < 0xd800 || c > 0xdfff) && c !== 0x2028 && c !== 0x2029) bytes += 3;
    else bytes += 6;
  }
  return bytes;
}

// Why a call's arguments are refused, or null.
function argumentsRefusal(member, args) {
  const { count, stringMiB, totalMiB } = ARGUMENT_LIMITS;
  if (args.length > count) return `no member takes more than ${count} arguments`;
  let total = 0;
  for (const [i, arg] of args.entries()) {
    if (typeof arg === 'string') {
      const bytes = messageBytes(arg, stringMiB * MiB);
      if (bytes > stringMiB * MiB) return `argument ${i + 1} is longer than ${stringMiB} MiB`;
      total += bytes;
    } else if (arg !== null && typeof arg === 'object' && !(member === 'signCms' && i === 2)) {
      return `argument ${i + 1} is not a string, number, boolean or null`;
    }
  }
  return total > totalMiB * MiB ? `the arguments are longer than ${totalMiB} MiB together` : null;
}

// ---- one page ---------------------------------------------------------------

class PageSession {
  constructor(port, origin) {
    this.port = port;
    this.origin = origin;
    this.native = null;
    this.hostCalls = new Map();
    this.nextHostId = 1;
    this.closed = false;
    this.asking = new Set();
    // The certificate the user chose for each serial text the chooser gave
    // this page (its thumbprint): a later signature with that serial uses it.
    this.chosen = new Map();
    // Calls run one after another, consent included, in the page's order.
    this.queue = Promise.resolve();
    port.onMessage.addListener((message) => {
      this.queue = this.queue.then(() => this.serve(message)).catch(() => {});
    });
    port.onDisconnect.addListener(() => this.close());
  }

  close() {
    this.closed = true;
    for (const finish of this.asking) finish(false, 'closed');
    if (this.native) this.native.disconnect();
    this.native = null;
    this.failHostCalls('the page closed');
  }

  failHostCalls(why) {
    for (const resolve of this.hostCalls.values()) {
      resolve({ ok: false, reason: 'unavailable', error: why });
    }
    this.hostCalls.clear();
  }

  // A session asks the host one thing at a time, so a reply the host could
  // not give an id (a message it could not read) answers the oldest call.
  takeHostCall(id) {
    const key = this.hostCalls.has(id) ? id : id === null ? this.hostCalls.keys().next().value : undefined;
    const resolve = this.hostCalls.get(key);
    if (resolve) this.hostCalls.delete(key);
    return resolve;
  }

  connectHost() {
    const native = api.runtime.connectNative(CONFIG.hostName);
    native.onMessage.addListener((reply) => {
      const resolve = this.takeHostCall(reply ? reply.id : undefined);
      if (resolve) resolve(reply);
    });
    native.onDisconnect.addListener((port) => {
      const error = (port && port.error) || api.runtime.lastError;
      if (this.native === native) this.native = null;
      this.failHostCalls(`the certificate host stopped or is not installed${error ? ` (${error.message})` : ''}`);
    });
    this.native = native;
    // The page's origin, as the browser gave it, for a plug-in built to
    // serve the authority's pages only; its reply answers no call.
    native.postMessage({ id: 'page', page: this.origin });
  }

  host(message) {
    return new Promise((resolve) => {
      if (this.closed) {
        resolve({ ok: false, reason: 'unavailable', error: 'the page closed' });
        return;
      }
      if (this.native === null) this.connectHost();
      const id = this.nextHostId++;
      const native = this.native;
      const timer = setTimeout(() => {
        if (!this.hostCalls.delete(id)) return;
        if (this.native === native) {
          native.disconnect();
          this.native = null;
        }
        resolve({ ok: false, reason: 'unavailable',
          error: `the certificate host did not answer within ${HOST_TIMEOUT_MS / 1000} s` });
      }, HOST_TIMEOUT_MS);
      this.hostCalls.set(id, (reply) => {
        clearTimeout(timer);
        resolve(reply);
      });
      try {
        native.postMessage({ ...message, id });
      } catch (error) {
        this.hostCalls.delete(id);
        clearTimeout(timer);
        resolve({ ok: false, reason: 'unavailable', error: `the certificate host cannot be reached: ${error.message}` });
      }
    });
  }

  reply(message) {
    if (!this.closed) this.port.postMessage(message);
  }

  // The certificate the call would act on. By serial, the host names the one
  // the plug-in's lookups take; signCms takes the one the user chose for
  // that serial, if any.
  async describeCertificate(member, arg) {
    if (member === 'ImportCert') return this.host({ describe: { pem: arg } });
    const described = await this.host({ describe: { serial: arg } });
    const chosen = this.chosen.get(described.value?.canonical);
    if (member !== 'signCms' || !chosen || chosen === described.value.thumbprint) return described;
    return this.host({ describe: { serial: arg, thumbprint: chosen } });
  }

  // Asks the user about the call as the plug-in will read it: the host
  // describes each argument by the plug-in's own rules and gives the
  // argument text that stands for exactly that reading, which the call then
  // receives in place of the page's. What cannot be described is not asked;
  // a signature is never made with a certificate the authority's root did
  // not sign, nor with another than the one the user chose for its serial.
  async consent(member, args) {
    const guard = GUARDED[member];
    const described = await this.describeCertificate(member, args[0]);
    const data = guard.data ? await this.host({ describe: { data: args[1] } }) : null;
    if (!described.ok || typeof described.value?.canonical !== 'string' || (data && !data.ok)) {
      return { allowed: false, reason: 'failed', why: 'what it would act on cannot be told' };
    }
    // The plug-in refuses data it cannot decode before touching anything.
    if (data && !data.value.valid) return { allowed: false, reason: 'failed', why: 'its data is not Base64' };
    const certificate = described.value;
    if (guard.data && certificate.found && !certificate.fromAuthority) {
      return { allowed: false, reason: 'failed',
        why: 'the certificate of this serial is not the authority\'s: its signature does not verify with the authority\'s root' };
    }
    const chosen = this.chosen.get(certificate.canonical);
    if (guard.data && certificate.found && chosen && chosen !== certificate.thumbprint) {
      return { allowed: false, reason: 'failed', why: 'another certificate of this serial than the one chosen would sign' };
    }
    const detached = member === 'signCms' && args[2]?.detached === true;
    // The host's rendering is what the window shows; a reply without one
    // counts as data that cannot be shown.
    const shown = data && data.value.unshown === '' && typeof data.value.text === 'string' ? data.value.text : null;
    if (data && shown === null && CONFIG.signTextOnly) {
      return { allowed: false, reason: 'failed',
        why: `its data cannot be shown as text (${data.value.unshown || 'not described'}), and only text the user can read is signed` };
    }
    const details = {
      origin: this.origin, member, certificate: described.value,
      action: member === 'signCms' ? `${guard.action}${detached ? ', the data left out' : ', the data carried in it'}` : guard.action,
      ...(data ? { dataSize: data.value.size, dataSha256: data.value.sha256, dataText: shown,
        dataEscaped: data.value.escaped, dataFolded: data.value.folded, dataUnshown: data.value.unshown } : {}),
    };
    const decision = await this.ask('consent', details);
    const rest = member === 'signCms' ? [args[1], { detached, thumbprint: certificate.thumbprint || undefined }]
      : args.slice(1);
    return { ...decision, args: [certificate.canonical, ...rest] };
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

  // The extension's own members: the chooser lists the user's certificates in
  // its window alone, and the page gets the serial the user picks.
  async serveExtension(member, args) {
    if (member === 'status') {
      const answer = await this.host({ status: {} });
      return { ok: true, value: { extension: api.runtime.getManifest().version,
        host: answer.ok ? answer.value?.host ?? null : null, plugin: answer.ok ? answer.value?.plugin ?? null : null } };
    }
    if (member === 'chooseCertificate') {
      const listed = await this.host({ list: {} });
      if (!listed.ok || !Array.isArray(listed.value)) {
        return { ok: false, reason: listed.reason || 'failed', error: `chooseCertificate failed: ${listed.error || 'the store could not be read'}` };
      }
      if (listed.value.length === 0) {
        return { ok: false, reason: 'none', error: 'no certificate from this authority is in the user\'s store' };
      }
      const certificates = listed.value;
      const decision = await this.ask('chooser', { origin: this.origin, certificates });
      const choice = decision.allowed ? certificates[decision.choice] : undefined;
      if (choice) {
        this.chosen.set(choice.canonical, choice.thumbprint);
        return { ok: true, value: choice.serial };
      }
      const reason = decision.allowed || decision.reason === 'denied' ? 'cancelled' : decision.reason;
      return { ok: false, reason, error: `no certificate was chosen: ${reason === 'cancelled' ? 'the user cancelled' : REFUSALS[reason] || reason}` };
    }
    // signCms, once allowed: the same certificate and data the window showed.
    const answer = await this.host({ signCms: { serial: args[0], data: args[1], detached: args[2].detached,
      thumbprint: args[2].thumbprint } });
    return { ok: answer.ok === true && typeof answer.value === 'string', value: answer.ok ? answer.value : null,
      reason: answer.reason || (answer.ok ? undefined : 'failed'), error: answer.ok ? undefined : `signCms failed: ${answer.error || 'no signature was made'}` };
  }

  async serve({ id, member, args }) {
    if (!MEMBERS.has(member) && !EXTENSION_MEMBERS.has(member)) {
      this.reply({ id, ok: false, reason: 'failed', error: `zvcert has no member ${member}` });
      return;
    }
    args = Array.isArray(args) ? args : [];
    const refusal = argumentsRefusal(member, args);
    if (refusal) {
      this.reply({ id, ok: false, reason: 'failed', error: `${member} failed: ${refusal}` });
      return;
    }
    const guard = GUARDED[member];
    if (guard) {
      // The plug-in refuses such calls before touching anything: no question.
      const usable = args.length >= guard.strings &&
        args.slice(0, guard.strings).every((a) => typeof a === 'string');
      if (!usable) {
        this.reply({ id, ok: false, reason: 'failed', value: null, error: `${member} failed` });
        return;
      }
      const decision = await this.consent(member, args);
      if (decision.reason === 'failed') {
        this.reply({ id, ok: false, reason: 'failed', value: member === 'CertSign' ? '' : null,
          error: `${member} failed: ${decision.why}` });
        return;
      }
      if (!decision.allowed) {
        this.reply({ id, ok: false, reason: decision.reason,
          error: `${member} was not allowed: ${REFUSALS[decision.reason] || decision.reason}` });
        return;
      }
      args = decision.args;
    }
    if (EXTENSION_MEMBERS.has(member)) {
      this.reply({ id, ...(await this.serveExtension(member, args)) });
      return;
    }
    const answer = await this.host({ member, args });
    this.reply({ id, ok: answer.ok === true, value: answer.value ?? null, reason: answer.reason,
      error: answer.ok ? undefined : (answer.error || `${member} failed`) });
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
