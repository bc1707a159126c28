// The plug-in's members, passed to the host as they are, consent given and
// the token logged in.
import { withLogin } from '../login.js';
import { Reply } from '../replies.js';

// What the extension knows of some of the plug-in's members beyond its list.
export const RULES = {
  ImportCert: { consent: { certificate: 'pem' } },
  CertSign: { failed: '' },
};

export const run = async (page, args, member) => Reply.fromHost(member,
  await withLogin(page, () => page.host.call('member', member, { args })));
