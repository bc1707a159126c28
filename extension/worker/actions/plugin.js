// The plug-in's members, passed to the host as they are, consent given, the
// token chosen and logged in.
import { withLogin } from '../login.js';
import { Reply } from '../replies.js';
import { chooseToken, onChosenHost } from '../tokens.js';

// What the extension knows of some of the plug-in's members beyond its list.
export const RULES = {
  ImportCert: { consent: { certificate: 'pem' } },
  CertSign: { failed: '' },
  GetCSR: { token: { action: 'actionNewKeyOnToken' } },
};

export async function run(page, args, member, rule = {}) {
  const chosen = rule.token ? await chooseToken(page, member, rule.token) : {};
  if (chosen.reply) return chosen.reply;
  return Reply.fromHost(member, await withLogin(page,
    () => onChosenHost(page, chosen, () => page.host.call('member', member, { args })), chosen.token));
}
