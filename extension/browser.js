// The browser's extension API, under either browser's name.
export const api = globalThis.browser ?? globalThis.chrome;
