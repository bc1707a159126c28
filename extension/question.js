// How the extension's windows begin: the question this window
// was opened for (its token in the address), as the service worker holds
// it, and the countdown to the worker's own answer when time runs out.
import { api } from './browser.js';
import { formatNumber, say } from './i18n.js';

export const $ = (id) => document.getElementById(id);

// Calls show(details, answer) with the question's details and the means to
// answer it ({ allow, ... }); a window the worker no longer waits on says so.
export async function openQuestion(countdownKey, show) {
  const token = location.hash.slice(1);
  const details = await api.runtime.sendMessage({ type: 'details', token });
  if (!details) {
    say($('question'), 'notWaiting');
    return;
  }
  show(details, (answer) => api.runtime.sendMessage({ type: 'answer', token, ...answer }));
  const tick = () => {
    say($('countdown'), countdownKey, formatNumber(Math.max(0, Math.ceil((details.deadline - Date.now()) / 1000))));
  };
  tick();
  setInterval(tick, 1000);
}
