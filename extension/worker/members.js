// What a page may call and pass: the members of the build's table
// (extension/members.js) and the limits on arguments, checked before
// anything reaches the host.
import { CONFIG } from './config.js';
import { Reply } from './replies.js';

// The member's entry in the table, or undefined for a name it lacks: the
// names every object inherits, and what is not a string but reads as a name.
export const memberRule = (member) => (typeof member === 'string' && Object.hasOwn(CONFIG.members, member)
  ? CONFIG.members[member] : undefined);

// No member takes more than three arguments, and every message stays under
// the host's 64 MiB with room for its other members. Numbers, booleans and
// null take a few bytes; an options object is read for `detached` alone.
const MiB = 1024 * 1024;
const ARGUMENT_LIMITS = { count: 3, stringMiB: 48, totalMiB: 60 };

// The most bytes a browser may write for the text in a message (UTF-8 JSON),
// counted no further than limit: an escape (\u003c, a lone surrogate) takes six.
function messageBytes(text, limit) {
  if (text.length + 2 > limit) return text.length + 2;
  let bytes = 2;
  for (let i = 0; i < text.length && bytes <= limit; i += 1) {
    const c = text.charCodeAt(i);
    if (c >= 0x20 && c < 0x7f) bytes += c === 0x22 || c === 0x5c ? 2 : c === 0x3c || c === 0x3e || c === 0x26 ? 6 : 1;
    else if (c >= 0x08 && c <= 0x0d && c !== 0x0b) bytes += 2;
    else if (c >= 0x80 && c < 0x800) bytes += 2;
    else if (c >= 0x800 && (c < 0xd800 || c > 0xdfff) && c !== 0x2028 && c !== 0x2029) bytes += 3;
    else bytes += 6;
  }
  return bytes;
}

// A call's first step: { args } within the limits, or the { reply } refusing them.
export function checkArguments(page, member, rule, args) {
  const { count, stringMiB, totalMiB } = ARGUMENT_LIMITS;
  const refuse = (why) => ({ reply: Reply.failed(member, why) });
  if (args.length > count) return refuse(`no member takes more than ${count} arguments`);
  let total = 0;
  for (const [i, arg] of args.entries()) {
    if (typeof arg === 'string') {
      const bytes = messageBytes(arg, stringMiB * MiB);
      if (bytes > stringMiB * MiB) return refuse(`argument ${i + 1} is longer than ${stringMiB} MiB`);
      total += bytes;
    } else if (arg !== null && typeof arg === 'object' && i !== rule.options) {
      return refuse(`argument ${i + 1} is not a string, number, boolean or null`);
    }
  }
  return total > totalMiB * MiB ? refuse(`the arguments are longer than ${totalMiB} MiB together`) : { args };
}
