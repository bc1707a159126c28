// A token's PIN, asked when the host refuses a call until its token is
// logged in (pin-required): in the extension's own window, which names the
// page and the token the host chose, the one its login acts on. The PIN goes
// from the window's answer into the login message and is kept nowhere.
import { Reply } from './replies.js';

// Why no PIN was given, as the page reads it: the consent window's refusals.
const UNANSWERED = {
  denied: 'the user cancelled the PIN question',
  timeout: 'the user did not give the PIN in time',
  closed: 'the PIN window was closed',
};

// The chosen token's login, after the user's answer: null once logged in,
// else the failure to give the refused call in place of its reply.
async function logIn(page) {
  const tokens = await page.host.call('tokens');
  if (!tokens.ok) return tokens;
  const token = Array.isArray(tokens.value) ? tokens.value.find((t) => t && t.chosen === true) : undefined;
  if (!token) return Reply.failure('no-token', 'no token is present to log in to');
  const text = (value) => (typeof value === 'string' ? value : '');
  const pinPad = token.pinPad === true;
  const decision = await page.ask('pin', { origin: page.origin, pinPad, token: { label: text(token.label),
    manufacturer: text(token.manufacturer), model: text(token.model), serial: text(token.serial) } });
  if (!decision.allowed) return Reply.failure(decision.reason, `no PIN was given: ${UNANSWERED[decision.reason] || decision.reason}`);
  // A PIN pad asks the PIN itself: login goes without one.
  // Named by its slot: the host refuses the PIN if another token is in use by now.
  const sent = page.host.call('login', { slot: text(token.slot), pin: pinPad ? undefined : decision.pin });
  delete decision.pin;
  const answer = await sent;
  return answer.ok ? null : { ...answer, error: `the token was not logged in: ${answer.error || answer.reason}` };
}

// The reply of attempt(), a call to the host; one the host refused as
// pin-required is made once more after a login, and not again. Calls
// refused while a PIN is asked wait for that one login.
export async function withLogin(page, attempt) {
  const refused = await attempt();
  if (refused.ok || refused.hostReason !== 'pin-required') return refused;
  page.login ??= logIn(page).finally(() => { page.login = null; });
  return (await page.login) ?? attempt();
}
