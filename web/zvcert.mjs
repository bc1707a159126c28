// npzvcert-page: one Promise-based way for an authority's pages to use the
// certificate plug-in, whatever the browser. Where the browser still runs
// NPAPI plug-ins and has npzvcert, it embeds the plug-in; elsewhere it uses
// the npzvcert extension (window.zvcert), which asks the user before a page
// stores, deletes or signs with a certificate.
//
//   const { path, needs } = await status();  // what is there, what to install
//   const zv = await connect();
//   const pem = await zv.GetCSR();          // every member returns a Promise
//   const serial = await zv.chooseCertificate();
//   const cms = await zv.signCms(serial, data, { detached: true });
//
// A failed call rejects with an Error whose reason is 'failed' (the plug-in
// call failed; error.result holds its result when the extension carries
// it), 'denied', 'timeout' or 'closed' (the user did not allow it),
// 'cancelled' (the user chose no certificate), 'none' (there is no
// certificate to choose), 'unsupported' (the plug-in path has no such
// member), 'unavailable' (the extension's host stopped), or the token's
// 'pin-incorrect', 'pin-locked', 'no-token' or 'token-removed'. connect()
// rejects with a NotInstalledError when neither is there for this page.
// Messages are in the page's language (options.language, else the
// browser's), and what they tell the user to install is for the browser's
// system: the setup on Windows, the npzvcert-host package on Linux.
//
// This file is the package's source: the build writes the ES module and the
// classic script (window.zvcertPage) from it, with the values below.

const BUILD = {
  version: '0.0.0',
  downloadUrl: '',
  // The oldest parts this library works with: the extension and the host by
  // version, the plug-in by its Version number.
  requires: { extension: '0.0.0', host: '0.0.0', plugin: 0 },
  // The page* messages of extension/_locales, { language: { key: { message,
  // placeholders } } }: the extension and the library say the same things.
  messages: { en: {} },
  // The plug-in's members by kind, as its list (src/npapi/members.def) has them.
  methods: [],
  properties: [],
};

export const VERSION = BUILD.version;
export const MIME_TYPE = 'application/zvcert';
export const METHODS = Object.freeze(BUILD.methods);
export const PROPERTIES = Object.freeze(BUILD.properties);
export const LANGUAGES = Object.freeze(Object.keys(BUILD.messages));

const own = (object, key) => Object.prototype.hasOwnProperty.call(object, key);

// The first of the wanted language tags ('de-AT', 'zh-HK', 'zh_CN') that the
// library speaks, else English. Chinese goes by script, then by region.
function pickLanguage(wanted) {
  for (const tag of wanted) {
    const parts = String(tag || '').toLowerCase().split(/[-_]/);
    let name = parts[0];
    if (name === 'zh') {
      const traditional = parts.indexOf('hans') < 0 && parts.some((p) => ['hant', 'tw', 'hk', 'mo'].indexOf(p) >= 0);
      name = traditional ? 'zh_TW' : 'zh_CN';
    }
    if (LANGUAGES.indexOf(name) >= 0) return name;
  }
  return 'en';
}

// As the browser fills in an extension's messages: $NAME$ becomes its
// placeholder's content, in which $1 to $9 are the substitutions; $$ is a
// dollar sign. Plain text: the page decides how to show it.
function format(entry, substitutions) {
  const contents = {};
  for (const name of Object.keys(entry.placeholders || {})) contents[name.toLowerCase()] = entry.placeholders[name].content;
  return entry.message
    .replace(/\$(\w+)\$/g, (whole, name) => (own(contents, name.toLowerCase()) ? contents[name.toLowerCase()] : whole))
    .replace(/\$(\$|[1-9])/g, (whole, c) => (c === '$' ? '$' : String(c <= substitutions.length ? substitutions[c - 1] : '')));
}

function text(language, key, ...substitutions) {
  const messages = own(BUILD.messages, language) && own(BUILD.messages[language], key) ? BUILD.messages[language] : BUILD.messages.en;
  return own(messages, key) ? format(messages[key], substitutions) : key;
}

// One of the library's messages (LANGUAGES, default the browser's
// language); '' for a key it does not have.
export function message(key, substitutions = [], language = undefined) {
  const nav = typeof navigator === 'undefined' ? {} : navigator;
  if (!own(BUILD.messages.en, key)) return '';
  return text(pickLanguage([language].concat(nav.languages || [nav.language])), key, ...[].concat(substitutions));
}

// The systems the library tells apart, by what the browser says of itself:
// Client Hints' platform ('Windows', 'Linux', 'macOS', 'Android', 'Chrome
// OS'), else navigator.platform ('Win32', 'Linux x86_64', 'MacIntel'), else
// the user agent. 'other' has no npzvcert host; a browser that names no
// system known here is taken for Windows, as before systems were told apart.
const PLATFORMS = [[/android|\bcros\b|chrome ?os|iphone|ipad|\bmac|darwin/i, 'other'], [/linux|x11/i, 'linux'],
  [/\bwin/i, 'windows']];

function platformOf(nav) {
  // Android's browsers call their system Linux in navigator.platform.
  if (/android/i.test(String(nav.userAgent || ''))) return 'other';
  const said = [nav.userAgentData && nav.userAgentData.platform, nav.platform, nav.userAgent];
  for (let i = 0; i < said.length; i += 1) {
    for (let j = 0; typeof said[i] === 'string' && j < PLATFORMS.length; j += 1) {
      if (PLATFORMS[j][0].test(said[i])) return PLATFORMS[j][1];
    }
  }
  return 'windows';
}

// What the user lacks when neither the plug-in nor the extension is there.
const NOT_INSTALLED = { windows: 'pageNotInstalled', linux: 'pageNotInstalledPackage', other: 'pageNoHost' };

export class NotInstalledError extends Error {
  constructor(language = 'en', platform = 'windows') {
    super(text(pickLanguage([language]), own(NOT_INSTALLED, platform) ? NOT_INSTALLED[platform] : NOT_INSTALLED.windows));
    this.name = 'NotInstalledError';
    this.reason = 'not-installed';
  }
}

function failure(message, reason, member) {
  const error = new Error(message);
  error.reason = reason;
  if (member) error.member = member;
  return error;
}

// Does this browser list the plug-in among its NPAPI types?
export function pluginInstalled(navigatorObject) {
  return pluginEntry(navigatorObject) !== null;
}

function pluginEntry(navigatorObject) {
  const types = navigatorObject && navigatorObject.mimeTypes;
  if (!types) return null;
  const entry = typeof types.namedItem === 'function' ? types.namedItem(MIME_TYPE) : types[MIME_TYPE];
  return entry && (entry.enabledPlugin === undefined || entry.enabledPlugin) ? entry : null;
}

// The plug-in's Version number from the version text a browser shows for
// it ("1.0.2.2", or its FileVersion "1, 0, 2, 2"): 1022, as the plug-in
// reads its own.
function versionNumber(text) {
  const parts = String(text).match(/\d+/g);
  return parts ? Number(parts.join('')) : null;
}

// -1, 0 or 1 as dotted version a is older than, equal to or newer than b.
function compareVersions(a, b) {
  const x = String(a).split('.').map(Number);
  const y = String(b).split('.').map(Number);
  for (let i = 0; i < Math.max(x.length, y.length); i += 1) {
    const d = (x[i] || 0) - (y[i] || 0);
    if (d !== 0) return Math.sign(d);
  }
  return 0;
}

// The plug-in's synchronous object behind the same Promise-based members;
// what only the extension offers rejects as unsupported.
function wrapPlugin(element, language) {
  const api = { viaExtension: false, element };
  for (const method of METHODS) {
    api[method] = (...args) => new Promise((resolve, reject) => {
      try {
        resolve(element[method](...args));
      } catch (cause) {
        const error = failure(text(language, 'pageFailed', method), 'failed', method);
        error.cause = cause;
        reject(error);
      }
    });
  }
  for (const property of PROPERTIES) {
    Object.defineProperty(api, property, { get: () => Promise.resolve(element[property]), enumerable: true });
  }
  for (const member of ['chooseCertificate', 'signCms']) {
    api[member] = () => Promise.reject(failure(text(language, 'pageUnsupported', member), 'unsupported', member));
  }
  return Object.freeze(api);
}

// The message for each reason the extension gives; the chooser says that no
// certificate was chosen.
const REJECTIONS = { failed: 'pageFailed', denied: 'pageDenied', timeout: 'pageTimeout', closed: 'pageClosed',
  cancelled: 'pageCancelled', none: 'pageNone', unavailable: 'pageUnavailable', unsupported: 'pageUnsupported',
  'pin-incorrect': 'pagePinIncorrect', 'pin-locked': 'pagePinLocked', 'no-token': 'pageNoToken',
  'token-removed': 'pageTokenRemoved' };
const CHOOSER_REJECTIONS = { timeout: 'pageNotChosenTimeout', closed: 'pageNotChosenClosed' };

// window.zvcert with its rejections in the page's language; the extension's
// own English text, which may say more, stays as error.detail.
function wrapExtension(extension, language) {
  const reword = (error) => {
    if (error && own(REJECTIONS, error.reason)) {
      const chooser = error.member === 'chooseCertificate' && own(CHOOSER_REJECTIONS, error.reason);
      error.detail = error.message;
      error.message = text(language, chooser ? CHOOSER_REJECTIONS[error.reason] : REJECTIONS[error.reason], error.member);
    }
    throw error;
  };
  const api = {};
  for (const name of Object.keys(extension)) {
    const { get, value } = Object.getOwnPropertyDescriptor(extension, name);
    if (get) Object.defineProperty(api, name, { get: () => Promise.resolve(get.call(extension)).catch(reword), enumerable: true });
    else api[name] = typeof value !== 'function' ? value : (...args) => Promise.resolve(value.apply(extension, args)).catch(reword);
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
    if (typeof element.GetCSR === 'function' || element.Version !== undefined) return wrapPlugin(element, options.language);
    await delay(50);
  }
  throw new NotInstalledError(options.language);
}

// The extension defines window.zvcert before the page's own scripts run;
// waitMs allows for a slower start.
function connectExtension(window, options) {
  if (window.zvcert) return Promise.resolve(window.zvcert);
  return new Promise((resolve, reject) => {
    const ready = () => {
      clearTimeout(timer);
      if (window.zvcert) resolve(window.zvcert);
      else reject(new NotInstalledError(options.language, options.platform));
    };
    const timer = setTimeout(() => {
      window.removeEventListener('zvcert-ready', ready);
      ready();
    }, options.waitMs);
    window.addEventListener('zvcert-ready', ready, { once: true });
  });
}

function settingsOf(options) {
  const settings = { waitMs: 1000, ...options };
  settings.window = settings.window || window;
  const nav = settings.window.navigator || {};
  settings.language = pickLanguage([settings.language].concat(nav.languages || [nav.language]));
  settings.platform = platformOf(nav);
  return settings;
}

//   options.element   an <embed type="application/zvcert"> already on the page
//   options.waitMs    how long to wait for either (default 1000)
//   options.language  of the messages, one of LANGUAGES (default: the browser's)
export async function connect(options = {}) {
  const settings = settingsOf(options);
  const win = settings.window;
  if (pluginInstalled(win.navigator)) return connectPlugin(win.document, settings);
  return wrapExtension(await connectExtension(win, settings), settings.language);
}

// What to tell the user for each need, without and with the download address.
// What brings the host is the setup on Windows and a Debian package on Linux;
// a system with no host has nothing to download.
const NEEDS = {
  'setup install': ['pageInstallSetup', 'pageInstallSetupFrom'],
  'setup update': ['pageUpdateSetup', 'pageUpdateSetupFrom'],
  'package install': ['pageInstallPackage', 'pageInstallPackageFrom'],
  'package update': ['pageUpdatePackage', 'pageUpdatePackageFrom'],
  'host install': ['pageNoHost'],
  'host update': ['pageNoHost'],
  'extension install': ['pageInstallExtension', 'pageInstallExtensionFrom'],
  'extension update': ['pageUpdateExtension', 'pageUpdateExtensionFrom'],
};

// What the browser would use and what the user has to install or update,
// without embedding the plug-in: the extension asks its host, which loads
// the plug-in for the versions.
export async function status(options = {}) {
  const settings = settingsOf(options);
  const win = settings.window;
  const versions = { library: BUILD.version, extension: null, host: null, plugin: null };
  const needs = [];
  const need = (component, action) => {
    const [bare, from] = NEEDS[`${component} ${action}`];
    const url = from ? BUILD.downloadUrl : '';
    needs.push({ component, action, url, message: url ? text(settings.language, from, url) : text(settings.language, bare) });
  };
  const hostComponent = { windows: 'setup', linux: 'package', other: 'host' }[settings.platform];
  const older = (version, required) => version !== null && compareVersions(version, required) < 0;

  let path = 'none';
  const entry = pluginEntry(win.navigator);
  if (entry) {
    path = 'plugin';
    const plugin = entry.enabledPlugin || {};
    const text = typeof plugin.version === 'string' && plugin.version ? plugin.version : null;
    versions.plugin = text && versionNumber(text);
    if (versions.plugin !== null && versions.plugin < BUILD.requires.plugin) need('setup', 'update');
  } else {
    const extension = await connectExtension(win, settings).catch(() => null);
    if (extension) {
      path = 'extension';
      // An extension too old to answer is one to update.
      const found = typeof extension.status === 'function' ? await extension.status().catch(() => null) : null;
      versions.extension = found && typeof found.extension === 'string' ? found.extension : null;
      versions.host = found && typeof found.host === 'string' ? found.host : null;
      versions.plugin = found && Number.isInteger(found.plugin) ? found.plugin : null;
      if (versions.extension === null || older(versions.extension, BUILD.requires.extension)) {
        need('extension', 'update');
      }
      // No host, or one that could not start the plug-in: what brings the host is missing or broken.
      if (found && (versions.host === null || versions.plugin === null)) need(hostComponent, 'install');
      else if (found && (older(versions.host, BUILD.requires.host) || versions.plugin < BUILD.requires.plugin)) {
        need(hostComponent, 'update');
      }
    } else {
      need(hostComponent, 'install');
      // Without a host for the system, the extension has nothing to reach.
      if (hostComponent !== 'host') need('extension', 'install');
    }
  }
  return { path, ready: path !== 'none' && needs.length === 0, versions, needs, downloadUrl: BUILD.downloadUrl };
}
