// The user's consent to a member that changes the store or uses a key, by
// the member's consent rule (extension/members.js): a step of the call
// for each member whose rule has one.
import { CONFIG } from './config.js';
import { Reply } from './replies.js';

// The certificate the call would act on. By serial, the host names the one
// the plug-in's lookups take; a member that signs with the chosen
// certificate takes the one the user chose for that serial, if any.
async function describeCertificate(page, ask, arg) {
  if (ask.certificate === 'pem') return page.host.call('describe', { pem: arg });
  const described = await page.host.call('describe', { serial: arg });
  const chosen = page.chosen.get(described.value?.canonical);
  if (!ask.chosen || !chosen || chosen === described.value.thumbprint) return described;
  return page.host.call('describe', { serial: arg, thumbprint: chosen });
}

// Asks the user about the call as the plug-in will read it: the host
// describes each argument by the plug-in's own rules and gives the argument
// text that stands for exactly that reading, which the call then receives in
// place of the page's. What cannot be described is not asked; a signature
// is never made with a certificate the authority's root did not sign, nor
// with another than the one the user chose for its serial.
// Resolves with { args } to call with, or with { reply } for the page.
export async function askConsent(page, member, rule, args) {
  const ask = rule.consent;
  // The plug-in refuses a call without the strings it needs before touching
  // anything: no question.
  if (args.length < ask.strings || !args.slice(0, ask.strings).every((a) => typeof a === 'string')) {
    return { reply: Reply.failed(member, '', null) };
  }
  const failed = (why) => ({ reply: Reply.failed(member, why, rule.failed ?? null) });
  const described = await describeCertificate(page, ask, args[0]);
  const data = ask.data ? await page.host.call('describe', { data: args[1] }) : null;
  if (!described.ok || typeof described.value?.canonical !== 'string' || (data && !data.ok)) {
    return failed('what it would act on cannot be told');
  }
  // The plug-in refuses data it cannot decode before touching anything.
  if (data && !data.value.valid) return failed('its data is not Base64');
  const certificate = described.value;
  if (ask.data && certificate.found && !certificate.fromAuthority) {
    return failed('the certificate of this serial is not the authority\'s: its signature does not verify with the authority\'s root');
  }
  // A certificate chosen for this serial binds every signature with it: gone
  // from the store, nothing signs rather than another of the same serial.
  const chosen = page.chosen.get(certificate.canonical);
  if (ask.data && chosen && !certificate.found) {
    return failed('the certificate chosen for this serial is no longer in the store');
  }
  if (ask.data && certificate.found && chosen && chosen !== certificate.thumbprint) {
    return failed('another certificate of this serial than the one chosen would sign');
  }
  const detached = rule.options !== undefined && args[rule.options]?.detached === true;
  // The host's rendering is what the window shows; a reply without one
  // counts as data that cannot be shown.
  const shown = data && data.value.unshown === '' && typeof data.value.text === 'string' ? data.value.text : null;
  if (data && shown === null && CONFIG.signTextOnly) {
    return failed(`its data cannot be shown as text (${data.value.unshown || 'not described'}), and only text the user can read is signed`);
  }
  const decision = await page.ask('consent', {
    origin: page.origin, member, certificate,
    action: detached ? ask.detachedAction : ask.action,
    ...(data ? { dataSize: data.value.size, dataSha256: data.value.sha256, dataText: shown,
      dataEscaped: data.value.escaped, dataFolded: data.value.folded, dataUnshown: data.value.unshown } : {}),
  });
  if (!decision.allowed) return { reply: Reply.refused(member, decision.reason) };
  // The options carry on what the window named: the data left out or not,
  // and the certificate by its thumbprint.
  const rest = rule.options === undefined ? args.slice(1)
    : [...args.slice(1, rule.options), { detached, thumbprint: (ask.chosen && chosen) || certificate.thumbprint || undefined }];
  return { args: [certificate.canonical, ...rest] };
}
