// The chooser lists the user's certificates in its window alone, and the
// page gets the serial the user picks.
import { withLogin } from '../login.js';
import { REFUSALS, Reply } from '../replies.js';

export const rule = { kind: 'extension' };

export async function run(page) {
  const listed = await withLogin(page, () => page.host.call('list'));
  if (!listed.ok || !Array.isArray(listed.value)) {
    return Reply.failure(listed.reason, `chooseCertificate failed: ${listed.error || 'the store could not be read'}`);
  }
  if (listed.value.length === 0) {
    return Reply.failure('none', 'no certificate from this authority is in the user\'s store');
  }
  const certificates = listed.value;
  const decision = await page.ask('chooser', { origin: page.origin, certificates });
  const choice = decision.allowed ? certificates[decision.choice] : undefined;
  if (choice) {
    page.chosen.set(choice.canonical, choice.thumbprint);
    return Reply.value(choice.serial);
  }
  const reason = decision.allowed || decision.reason === 'denied' ? 'cancelled' : decision.reason;
  return Reply.failure(reason, `no certificate was chosen: ${reason === 'cancelled' ? 'the user cancelled' : REFUSALS[reason] || reason}`);
}
