// The service worker's first script: the build's settings (build.js) and the
// browser's extension API, which every other script of the worker uses.
'use strict';

const CONFIG = __ZVCERT_CONFIG__;
const api = globalThis.browser ?? globalThis.chrome;
