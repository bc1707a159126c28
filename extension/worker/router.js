// A page's call, from the member's rule to its action: the arguments'
// limits first, then each step the rule asks for (the user's consent),
// each of which may answer the page itself or pass the arguments on.
import { OWN_ACTIONS, plugin } from './actions.js';
import { askConsent } from './consent.js';
import { checkArguments, memberRule } from './members.js';
import { Reply } from './replies.js';

export async function route(page, member, args) {
  const rule = memberRule(member);
  if (!rule) return Reply.failure('failed', `zvcert has no member ${member}`);
  let passed = { args: Array.isArray(args) ? args : [] };
  for (const step of [checkArguments, ...(rule.consent ? [askConsent] : [])]) {
    passed = await step(page, member, rule, passed.args);
    if (passed.reply) return passed.reply;
  }
  return (rule.kind === 'extension' ? OWN_ACTIONS[member] : plugin).run(page, passed.args, member, rule);
}
