// The extension's own windows, which ask the user: the consent window, the
// certificate chooser, the token a new key is made on and the token's PIN. Only they may read a question or
// answer it, and only the PIN window's answer carries a PIN.
import { api } from '../browser.js';
import { CONFIG } from './config.js';

// Which window asks what.
const WINDOWS = { consent: { width: 560, height: 600 }, chooser: { width: 600, height: 460 },
  token: { width: 600, height: 460 }, pin: { width: 480, height: 420 } };
const questions = new Map();  // token -> open question

// Resolves with the user's answer ({ allowed, reason, choice, pin }) in the
// window of that kind. While open, the question is in asking, whose
// members end it early (the page went away).
export function askUser(kind, details, asking) {
  return new Promise((resolve) => {
    const token = crypto.randomUUID();
    const question = {
      details: { ...details, deadline: Date.now() + CONFIG.consentTimeoutSeconds * 1000 },
      kind,
      windowId: null,
      done: false,
    };
    question.finish = (allowed, reason, choice, pin) => {
      if (question.done) return;
      question.done = true;
      clearTimeout(question.timer);
      questions.delete(token);
      asking.delete(question.finish);
      if (question.windowId !== null) api.windows.remove(question.windowId).catch(() => {});
      resolve({ allowed, reason, choice, pin });
    };
    question.timer = setTimeout(() => question.finish(false, 'timeout'),
      CONFIG.consentTimeoutSeconds * 1000);
    questions.set(token, question);
    asking.add(question.finish);
    api.windows.create({
      url: api.runtime.getURL(`${kind}.html#${token}`), type: 'popup', ...WINDOWS[kind], focused: true,
    }).then((window) => {
      question.windowId = window.id;
      if (question.done) api.windows.remove(window.id).catch(() => {});
    }, () => question.finish(false, 'closed'));
  });
}

export function windowRemoved(windowId) {
  for (const question of questions.values()) {
    if (question.windowId === windowId) question.finish(false, 'closed');
  }
}

export function windowMessage(message, sender, sendResponse) {
  if (sender.id !== api.runtime.id ||
      !Object.keys(WINDOWS).some((kind) => String(sender.url).startsWith(api.runtime.getURL(`${kind}.html`)))) {
    return false;
  }
  const question = questions.get(message && message.token);
  if (message.type === 'details') {
    sendResponse(question ? question.details : null);
  } else if (message.type === 'answer' && question) {
    const allowed = message.allow === true;
    question.finish(allowed, allowed ? 'allowed' : 'denied', Number.isSafeInteger(message.choice) ? message.choice : undefined,
      allowed && question.kind === 'pin' && typeof message.pin === 'string' ? message.pin : undefined);
    sendResponse(true);
  }
  return false;
}
