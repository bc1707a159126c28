// The tokens present, where keys live on PKCS #11 tokens: one reading of the
// host's list (tokens), from which a window names a token and the worker then
// names that same token to the host by its slot. The Windows host lists none.
import { Reply } from './replies.js';

const text = (value) => (typeof value === 'string' ? value : '');

// The host's reply to tokens, its value read as [{ slot, label, manufacturer,
// model, serial, pinPad, chosen }]: a token without a slot cannot be named.
export async function listTokens(page) {
  const answer = await page.host.call('tokens');
  if (!answer.ok) return answer;
  if (!Array.isArray(answer.value)) return Reply.failure('failed', 'the host\'s list of tokens cannot be read');
  return Reply.value(answer.value.filter((t) => typeof t?.slot === 'string').map((t) => ({ slot: t.slot,
    label: text(t.label), manufacturer: text(t.manufacturer), model: text(t.model), serial: text(t.serial),
    pinPad: t.pinPad === true, chosen: t.chosen === true })));
}

// What a window shows of a token; its slot is the host's alone.
export const tokenShown = ({ label, manufacturer, model, serial }) => ({ label, manufacturer, model, serial });

// A member that makes a new key (its rule's token step): with tokens present,
// the user picks the one it is made on in the token window, which names the
// page and what it asks, and the host is told that very token. Resolves with
// { token, port } (the token picked and the host told), {} where the host
// has no tokens, or { reply } for the page.
export async function chooseToken(page, member, ask) {
  const listed = await listTokens(page);
  if (!listed.ok) return { reply: Reply.fromHost(member, listed) };
  const tokens = listed.value;
  if (tokens.length === 0) return {};
  const decision = await page.ask('token', { origin: page.origin, action: ask.action,
    tokens: tokens.map(tokenShown), chosen: tokens.findIndex((t) => t.chosen) });
  if (!decision.allowed) return { reply: Reply.refused(member, decision.reason) };
  const token = tokens[decision.choice];
  if (!token) return { reply: Reply.refused(member, 'denied') };
  const used = page.host.call('useToken', { slot: token.slot });
  // The host told, as it was sent the message: it may stop before the reply is read.
  const { port } = page.host;
  const answer = await used;
  return answer.ok ? { token, port } : { reply: Reply.fromHost(member, answer) };
}

// The call, made only on the host that was told the token: one started since
// (the other stopped) has chosen none, and would make the key elsewhere.
export const onChosenHost = (page, chosen, call) => (chosen.port === undefined || chosen.port === page.host.port
  ? call() : Promise.resolve(Reply.unavailable('the certificate host stopped after the token was chosen')));
