// The extension's own members, one action each, keyed as in the member
// table; the plug-in's members go to the host as they are. Each resolves
// with the reply for the page.
'use strict';

const ACTIONS = {
  async status(session) {
    const answer = await session.host.call({ status: {} });
    return Reply.value({ extension: api.runtime.getManifest().version,
      host: answer.ok ? answer.value?.host ?? null : null, plugin: answer.ok ? answer.value?.plugin ?? null : null });
  },

  // The chooser lists the user's certificates in its window alone, and the
  // page gets the serial the user picks.
  async chooseCertificate(session) {
    const listed = await session.host.call({ list: {} });
    if (!listed.ok || !Array.isArray(listed.value)) {
      return Reply.failure(listed.reason || 'failed', `chooseCertificate failed: ${listed.error || 'the store could not be read'}`);
    }
    if (listed.value.length === 0) {
      return Reply.failure('none', 'no certificate from this authority is in the user\'s store');
    }
    const certificates = listed.value;
    const decision = await session.ask('chooser', { origin: session.origin, certificates });
    const choice = decision.allowed ? certificates[decision.choice] : undefined;
    if (choice) {
      session.chosen.set(choice.canonical, choice.thumbprint);
      return Reply.value(choice.serial);
    }
    const reason = decision.allowed || decision.reason === 'denied' ? 'cancelled' : decision.reason;
    return Reply.failure(reason, `no certificate was chosen: ${reason === 'cancelled' ? 'the user cancelled' : REFUSALS[reason] || reason}`);
  },

  // Once allowed: the same certificate and data the window showed.
  async signCms(session, [serial, data, options]) {
    const answer = await session.host.call({ signCms: { serial, data, detached: options.detached,
      thumbprint: options.thumbprint } });
    if (!answer.ok) {
      return Reply.failure(answer.reason || 'failed', `signCms failed: ${answer.error || 'no signature was made'}`, null);
    }
    return typeof answer.value === 'string' ? Reply.value(answer.value)
      : Reply.failure(answer.reason || 'failed', 'signCms failed', answer.value);
  },
};

// The reply to a call the consent rule, if any, let through.
const act = async (session, member, rule, args) => (rule.kind === 'extension' ? ACTIONS[member](session, args)
  : Reply.fromHost(member, await session.host.call({ member, args })));
