// Every answer a page gets, and every result a call to the host gives, is
// made here: { ok: true, value } resolves the page's Promise; { ok: false,
// reason, error } rejects it, with error.result when a value is given too
// (what the plug-in returned).
// Why the user's answer was no, as the page reads it.
export const REFUSALS = {
  denied: 'the user denied it',
  timeout: 'the user did not answer in time',
  closed: 'the consent window was closed',
};

export const Reply = {
  value: (value) => ({ ok: true, value }),
  // returned, when given, even as null: what the plug-in returned.
  failure(reason, error, ...returned) {
    const reply = { ok: false, reason, error };
    if (returned.length > 0) [reply.value] = returned;
    return reply;
  },
  // The member itself failed or would fail, as the plug-in refuses.
  failed: (member, why, ...returned) => Reply.failure('failed', why ? `${member} failed: ${why}` : `${member} failed`, ...returned),
  // The user did not allow it.
  refused: (member, reason) => Reply.failure(reason, `${member} was not allowed: ${REFUSALS[reason] || reason}`),
  unavailable: (why) => Reply.failure('unavailable', why),
  // The plug-in's answer as the host passed it on: its value either way.
  fromHost: (member, answer) => (answer.ok === true ? Reply.value(answer.value ?? null)
    : Reply.failure(answer.reason, answer.error || `${member} failed`, answer.value ?? null)),
};
