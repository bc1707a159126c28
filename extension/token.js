// The token window: names the page and what it asks, lists the tokens
// present as the host named them, the one it would use already picked, and
// sends back which one the user allows the new key on.
import { armWhenSeen } from './arming.js';
import { say, showValue } from './i18n.js';
import { $, openQuestion } from './question.js';

openQuestion('deniedIn', (details, answer) => {
  showValue($('origin'), details.origin);
  say($('action'), details.action);
  let choice = details.chosen >= 0 ? details.chosen : null;
  let seen = () => false;
  const update = () => { $('allow').disabled = choice === null || !seen(); };
  for (const [index, token] of details.tokens.entries()) {
    const row = document.createElement('tr');
    const radio = document.createElement('input');
    radio.type = 'radio';
    radio.name = 'token';
    radio.checked = index === choice;
    radio.addEventListener('change', () => { choice = index; update(); });
    row.appendChild(document.createElement('td')).appendChild(radio);
    for (const name of ['label', 'manufacturer', 'model', 'serial']) {
      showValue(row.appendChild(document.createElement('td')), token[name] || '-');
    }
    $('tokens').appendChild(row);
  }
  $('allow').addEventListener('click', () => answer({ allow: true, choice }));
  $('deny').addEventListener('click', () => answer({ allow: false }));
  // Allow only while the window is seen (arming.js).
  seen = armWhenSeen(update);
});
