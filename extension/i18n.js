// The windows' words, every one from the extension's message set (_locales)
// in the browser's language. What a window shows is either a message or a
// value (an origin, a name, a serial, the data), which is shown as it is,
// in the same place in every language.
import { api } from './browser.js';

const LANGUAGE = api.i18n.getUILanguage();

export function message(key, ...values) {
  const text = api.i18n.getMessage(key, values.map(String));
  // A missing message would leave a gap where the user reads what to allow.
  if (!text) throw new Error(`the extension has no message ${key}`);
  return text;
}

// A value in its own isolated box: right-to-left or mixed text in it never
// reorders the window's own words around it.
function valueNode(text) {
  const node = document.createElement('bdi');
  node.className = 'value';
  node.textContent = text;
  return node;
}

// Fills the element with the message, each value where the translation puts
// it. The values go in through marks no translation contains, so that a
// value is never read as part of the message.
export function say(element, key, ...values) {
  const marks = values.map((_, i) => String.fromCharCode(0xE000 + i));
  const pieces = message(key, ...marks).split(/([\uE000-\uE008])/).filter(Boolean);
  element.replaceChildren(...pieces.map((piece) => {
    const index = marks.indexOf(piece);
    return index < 0 ? document.createTextNode(piece) : valueNode(String(values[index]));
  }));
}

export function showValue(element, text) {
  element.replaceChildren(valueNode(text));
}

// The window's fixed words, named by data-i18n.
function translateWindow() {
  document.documentElement.lang = LANGUAGE;
  for (const element of document.querySelectorAll('[data-i18n]')) say(element, element.dataset.i18n);
}

export const formatNumber = (number) => new Intl.NumberFormat(LANGUAGE).format(number);
export const formatBytes = (count) => new Intl.NumberFormat(LANGUAGE, { style: 'unit', unit: 'byte', unitDisplay: 'long' })
  .format(count);

// A time as the host writes it ("2026-12-09 12:46:28 UTC"), in the user's
// language and still in UTC; anything else as it is.
export function formatTime(text) {
  const parts = /^(\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d) UTC$/.exec(text);
  if (!parts) return text;
  const [year, month, day, hour, minute, second] = parts.slice(1).map(Number);
  return new Intl.DateTimeFormat(LANGUAGE, { dateStyle: 'long', timeStyle: 'long', timeZone: 'UTC' })
    .format(new Date(Date.UTC(year, month - 1, day, hour, minute, second)));
}

translateWindow();
