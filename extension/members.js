'use strict';
// The member table the service worker serves pages by (CONFIG.members):
// plain data keyed by member name, made when the extension is built from
// the plug-in's own list (src/npapi/members.def), what the extension adds
// to it, and the extension's own members.
//
//   kind      'method' or 'property' of the plug-in, which the host passes
//             to it; 'extension' for the extension's own (page.js defines them)
//   consent   the member changes the store or uses a key: it runs only once
//             the user allows it in the consent window
//     strings       the string arguments the plug-in needs before it does
//                   anything; with fewer it refuses, and nobody is asked
//     certificate   how the first argument names the certificate: 'pem' (the
//                   certificate itself) or 'serial'
//     data          it signs: the second argument is Base64 data, shown in the
//                   window as the plug-in decodes it; only the authority's
//                   certificate signs, and only the one chosen for its serial
//     chosen        it signs with the certificate the chooser gave the page
//                   for that serial, not the one the plug-in's lookup finds
//     action        the message (_locales) that says in the window what the
//                   page asks; detachedAction when the options leave the data
//                   out. A plug-in member's is action<Name>, whose English
//                   text is the list's
//   options   the argument (0-based) that may be an options object: { detached }
//   failed    what the plug-in returns when it refuses (the page's
//             error.result) once past its own argument checks; null if not given

const { readMembers } = require('../tools/node/members');

// What the extension knows of some of the plug-in's members beyond its list.
const PLUGIN_EXTRAS = {
  ImportCert: { consent: { certificate: 'pem' } },
  CertSign: { failed: '' },
};

const EXTENSION_MEMBERS = {
  status: { kind: 'extension' },
  chooseCertificate: { kind: 'extension' },
  signCms: {
    kind: 'extension',
    consent: {
      strings: 2, certificate: 'serial', data: true, chosen: true,
      action: 'actionSignCms',
      detachedAction: 'actionSignCmsDetached',
    },
    options: 2,
  },
};

function memberTable(members = readMembers()) {
  const table = {};
  for (const { name, kind, strings, consent } of members) {
    const { consent: extraConsent, ...extra } = PLUGIN_EXTRAS[name] ?? {};
    table[name] = { kind: kind.toLowerCase(), ...extra };
    if (consent !== 'None') {
      table[name].consent = { strings, certificate: 'serial', data: consent === 'AsksWithData', action: `action${name}`,
        ...extraConsent };
    }
  }
  return { ...table, ...EXTENSION_MEMBERS };
}

module.exports = { memberTable };
