// The certificate chooser: lists the authority's certificates in the user's
// store as the host found them (those its root signed) and sends back which
// one the user picked. Its words come from the message set (i18n.js).
import { armWhenSeen } from './arming.js';
import { formatTime, say, showValue } from './i18n.js';
import { $, openQuestion } from './question.js';

openQuestion('cancelledIn', (details, answer) => {
  say($('receives'), 'chooserReceives', details.origin);
  let choice = null;
  let seen = () => false;
  const update = () => { $('choose').disabled = choice === null || !seen(); };
  for (const [index, certificate] of details.certificates.entries()) {
    const row = document.createElement('tr');
    row.dataset.serial = certificate.serial;
    if (certificate.expired) row.className = 'expired';
    // Each cell a message (key, values) or a value shown as it is.
    const cell = (key, ...values) => {
      const td = document.createElement('td');
      if (key) say(td, key, ...values);
      else if (values.length) showValue(td, values[0]);
      row.appendChild(td);
      return td;
    };
    const radio = document.createElement('input');
    radio.type = 'radio';
    radio.name = 'certificate';
    radio.value = String(index);
    radio.addEventListener('change', () => { choice = index; update(); });
    cell(null).appendChild(radio);
    if (certificate.subject) cell(null, certificate.subject);
    else cell('noSubjectNames');
    cell(null, certificate.issuer);
    cell('serialWithHex', certificate.serial, certificate.serialHex);
    const validity = cell('validity', formatTime(certificate.notBefore), formatTime(certificate.notAfter));
    if (certificate.expired) {
      const mark = document.createElement('div');
      mark.className = 'mark';
      say(mark, 'expired');
      validity.appendChild(mark);
    }
    $('certificates').appendChild(row);
  }

  $('choose').addEventListener('click', () => answer({ allow: true, choice }));
  $('cancel').addEventListener('click', () => answer({ allow: false, choice: null }));
  // Choose only while the window is seen (arming.js).
  seen = armWhenSeen(update);
});
