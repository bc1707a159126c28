// zvcert.js: one Promise-based way for an authority's pages to use the
// certificate plug-in, whatever the browser. Where the browser still runs
// NPAPI plug-ins and has npzvcert, it embeds the plug-in; elsewhere it uses
// the npzvcert extension (window.zvcert), which asks the user before a page
// stores, deletes or signs with a certificate.
//
//   const zv = await zvcertPage.connect();
//   const pem = await zv.GetCSR();          // every member returns a Promise
//   const version = await zv.Version;
//
// A failed call rejects with an Error whose reason is 'failed' (the plug-in
// call failed; error.result holds its result when the extension carries
// it), 'denied', 'timeout' or 'closed' (the user did not allow it), or
// 'unavailable' (the extension's host stopped). connect() rejects with a
// NotInstalledError when neither is there for this page.
(function (exports) {
  'use strict';

  const MIME_TYPE = 'application/zvcert';
  const METHODS = ['SetSubject', 'SetChallenge', 'GetCSR', 'ImportCert', 'FindCert', 'IsCertExist',
    'DelCert', 'CertSign', 'Base64Encode', 'Base64Decode'];
  const PROPERTIES = ['Version', 'HostName'];

  class NotInstalledError extends Error {
    constructor() {
      super('Neither the npzvcert plug-in nor the npzvcert browser extension is available ' +
        'to this page: install npzvcert-setup.exe and, in browsers without plug-ins, the ' +
        'npzvcert extension; the extension serves only its authority\'s own sites.');
      this.name = 'NotInstalledError';
      this.reason = 'not-installed';
    }
  }

  // Does this browser list the plug-in among its NPAPI types?
  function pluginInstalled(navigatorObject) {
    const types = navigatorObject && navigatorObject.mimeTypes;
    if (!types) return false;
    const entry = typeof types.namedItem === 'function' ? types.namedItem(MIME_TYPE) : types[MIME_TYPE];
    return Boolean(entry && (entry.enabledPlugin === undefined || entry.enabledPlugin));
  }

  // The plug-in's synchronous object behind the same Promise-based members.
  function wrapPlugin(element) {
    const api = { viaExtension: false, element };
    for (const method of METHODS) {
      api[method] = (...args) => new Promise((resolve, reject) => {
        try {
          resolve(element[method](...args));
        } catch (cause) {
          const error = new Error(`${method} failed`);
          error.member = method;
          error.reason = 'failed';
          error.cause = cause;
          reject(error);
        }
      });
    }
    for (const property of PROPERTIES) {
      Object.defineProperty(api, property, { get: () => Promise.resolve(element[property]), enumerable: true });
    }
    return Object.freeze(api);
  }

  const delay = (ms) => new Promise((resolve) => { setTimeout(resolve, ms); });

  // Embeds the plug-in (or uses options.element) and waits until its
  // scriptable object answers.
  async function connectPlugin(document, options) {
    let element = options.element;
    if (!element) {
      element = document.createElement('embed');
      element.type = MIME_TYPE;
      element.width = 1;
      element.height = 1;
      element.style.position = 'absolute';
      element.style.left = '-10px';
      document.body.appendChild(element);
    }
    for (let waited = 0; waited <= options.waitMs; waited += 50) {
      if (typeof element.GetCSR === 'function' || element.Version !== undefined) return wrapPlugin(element);
      await delay(50);
    }
    throw new NotInstalledError();
  }

  // The extension defines window.zvcert before the page's own scripts run;
  // waitMs allows for a slower start.
  function connectExtension(window, options) {
    if (window.zvcert) return Promise.resolve(window.zvcert);
    return new Promise((resolve, reject) => {
      const ready = () => {
        clearTimeout(timer);
        if (window.zvcert) resolve(window.zvcert);
        else reject(new NotInstalledError());
      };
      const timer = setTimeout(() => {
        window.removeEventListener('zvcert-ready', ready);
        ready();
      }, options.waitMs);
      window.addEventListener('zvcert-ready', ready, { once: true });
    });
  }

  //   options.element  an <embed type="application/zvcert"> already on the page
  //   options.waitMs   how long to wait for either (default 1000)
  async function connect(options = {}) {
    const settings = { waitMs: 1000, ...options };
    const win = settings.window || window;
    if (pluginInstalled(win.navigator)) return connectPlugin(win.document, settings);
    return connectExtension(win, settings);
  }

  Object.assign(exports, { MIME_TYPE, METHODS, PROPERTIES, NotInstalledError, pluginInstalled, connect });
})(typeof module !== 'undefined' && module.exports ? module.exports : (window.zvcertPage = {}));
