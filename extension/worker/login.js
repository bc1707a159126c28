// A token's PIN, asked when the host refuses a call until its token is
// logged in (pin-required): in the extension's own window, which names the
// page and the token the login acts on: the one the user just picked for
// the call, else the one the host chose. The PIN goes from the window's
// answer into the login message and is kept nowhere.
import { Reply } from './replies.js';
import { listTokens, tokenShown } from './tokens.js';

// Why no PIN was given, as the page reads it: the consent window's refusals.
const UNANSWERED = {
  denied: 'the user cancelled the PIN question',
  timeout: 'the user did not give the PIN in time',
  closed: 'the PIN window was closed',
};

// The token's login, after the user's answer: null once logged in, else the
// failure to give the refused call in place of its reply.
async function logIn(page, picked) {
  const listed = picked ? null : await listTokens(page);
  if (listed?.ok === false) return listed;
  const token = picked ?? listed.value.find((t) => t.chosen);
  if (!token) return Reply.failure('no-token', 'no token is present to log in to');
  const { pinPad } = token;
  const decision = await page.ask('pin', { origin: page.origin, pinPad, token: tokenShown(token) });
  if (!decision.allowed) return Reply.failure(decision.reason, `no PIN was given: ${UNANSWERED[decision.reason] || decision.reason}`);
  // A PIN pad asks the PIN itself: login goes without one.
  // Named by its slot: the host refuses the PIN if another token is in use by now.
  const sent = page.host.call('login', { slot: token.slot, pin: pinPad ? undefined : decision.pin });
  delete decision.pin;
  const answer = await sent;
  return answer.ok ? null : { ...answer, error: `the token was not logged in: ${answer.error || answer.reason}` };
}

// The reply of attempt(), a call to the host; one the host refused as
// pin-required is made once more after a login, and not again. Calls
// refused while a PIN is asked wait for that one login. picked: the token
// the user chose for this call, if any.
export async function withLogin(page, attempt, picked) {
  const refused = await attempt();
  if (refused.ok || refused.hostReason !== 'pin-required') return refused;
  page.login ??= logIn(page, picked).finally(() => { page.login = null; });
  return (await page.login) ?? attempt();
}
