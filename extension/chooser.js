// The certificate chooser: lists the authority's certificates in the user's
// store as the host found them (those its root signed) and sends back which
// one the user picked.
'use strict';
(async () => {
  const api = globalThis.browser ?? globalThis.chrome;
  const token = location.hash.slice(1);
  const $ = (id) => document.getElementById(id);
  const details = await api.runtime.sendMessage({ type: 'details', token });
  if (!details) {
    $('question').textContent = 'This request is no longer waiting for an answer.';
    return;
  }
  $('origin').textContent = details.origin;
  let choice = null;
  let seen = () => false;
  const update = () => { $('choose').disabled = choice === null || !seen(); };
  for (const [index, certificate] of details.certificates.entries()) {
    const row = document.createElement('tr');
    row.dataset.serial = certificate.serial;
    if (certificate.expired) row.className = 'expired';
    const cell = (text) => {
      const td = document.createElement('td');
      td.textContent = text;
      row.appendChild(td);
      return td;
    };
    const radio = document.createElement('input');
    radio.type = 'radio';
    radio.name = 'certificate';
    radio.value = String(index);
    radio.addEventListener('change', () => { choice = index; update(); });
    cell('').appendChild(radio);
    cell(certificate.subject || '(no subject names)');
    cell(certificate.issuer);
    cell(`${certificate.serial} (hex ${certificate.serialHex})`);
    const validity = cell(`${certificate.notBefore} to ${certificate.notAfter}`);
    if (certificate.expired) {
      const mark = document.createElement('div');
      mark.className = 'mark';
      mark.textContent = 'expired';
      validity.appendChild(mark);
    }
    $('certificates').appendChild(row);
  }

  const answer = (allow) => api.runtime.sendMessage({ type: 'answer', token, allow, choice: allow ? choice : null });
  $('choose').addEventListener('click', () => answer(true));
  $('cancel').addEventListener('click', () => answer(false));
  // Choose only while the window is seen (arming.js).
  seen = armWhenSeen(update);

  const tick = () => {
    const left = Math.max(0, Math.ceil((details.deadline - Date.now()) / 1000));
    $('countdown').textContent = `Cancelled automatically in ${left} s.`;
  };
  tick();
  setInterval(tick, 1000);
})();
