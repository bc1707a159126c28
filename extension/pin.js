// The PIN window: names the page and the token the host will log in to, and
// sends the worker the PIN the user types, or for a token with a PIN pad
// the user's go-ahead to type it there. The PIN leaves the field as it is sent.
import { armWhenSeen } from './arming.js';
import { say, showValue } from './i18n.js';
import { $, openQuestion } from './question.js';

openQuestion('cancelledIn', (details, answer) => {
  say($('asks'), 'pinAsks', details.origin);
  for (const name of ['label', 'manufacturer', 'model', 'serial']) showValue($(name), details.token[name] || '-');
  const pin = $('pin');
  $('entry').hidden = details.pinPad;
  $('pad').hidden = !details.pinPad;
  let seen = () => false;
  const update = () => { $('ok').disabled = !seen() || (!details.pinPad && pin.value === ''); };
  pin.addEventListener('input', update);
  $('form').addEventListener('submit', (event) => {
    event.preventDefault();
    if ($('ok').disabled) return;
    answer(details.pinPad ? { allow: true } : { allow: true, pin: pin.value });
    pin.value = '';
  });
  $('cancel').addEventListener('click', () => answer({ allow: false }));
  // OK only while the window is seen (arming.js).
  seen = armWhenSeen(update);
  (details.pinPad ? $('cancel') : pin).focus();
});
