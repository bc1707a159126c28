// The consent window: shows what a page asks for and sends the answer back
// to the service worker, which also denies on its own when time runs out.
'use strict';
(async () => {
  const api = globalThis.browser ?? globalThis.chrome;
  const token = location.hash.slice(1);
  const show = (id, text) => { document.getElementById(id).textContent = text; };
  const details = await api.runtime.sendMessage({ type: 'details', token });
  if (!details) {
    show('question', 'This request is no longer waiting for an answer.');
    return;
  }
  const certificate = details.certificate;
  show('origin', details.origin);
  show('action', details.action);
  // The serial is the one the call acts on, read as the plug-in reads it.
  if (certificate.found) {
    show('subject', certificate.subject || '(no subject names)');
    const serial = details.member === 'ImportCert' ? certificate.serial || '(too large)' : certificate.canonical;
    show('serial', `${serial} (hex ${certificate.serialHex})`);
    for (const element of document.querySelectorAll('.issued')) element.hidden = false;
    // Known by the root's signature: a name alone is anyone's to give.
    show('issuer', certificate.fromAuthority ? certificate.issuer
      : `${certificate.issuer || '(no name)'}: NOT this authority. Its signature does not verify with the ` +
        'authority\'s root certificate, whatever name its issuer bears.');
    if (!certificate.fromAuthority) document.getElementById('issuer').classList.add('warning');
    show('validity', `${certificate.notBefore} to ${certificate.notAfter}`);
  } else if (details.member === 'ImportCert') {
    show('subject', 'the text holds no readable certificate');
    show('serial', '-');
  } else {
    show('subject', 'no certificate with this serial from the authority is in your store');
    show('serial', certificate.canonical);
  }
  if (details.dataSize !== undefined) {
    for (const element of document.querySelectorAll('.data')) element.hidden = false;
    show('data', `${details.dataSize} bytes`);
    show('sha256', details.dataSha256);
    // The host's rendering, shown as it is: the window renders nothing itself.
    if (details.dataText !== null) {
      for (const element of document.querySelectorAll('.text')) element.hidden = false;
      show('text', details.dataText);
      document.getElementById('marks').hidden = !details.dataEscaped && !details.dataFolded;
    } else {
      document.getElementById('unshown').hidden = false;
      show('unshown', `${details.dataUnshown === 'too long' ? 'This text is too long to be shown'
        : 'This data is not text'}: its content cannot be shown, so you cannot know what you would sign. ` +
        'Allow only if you know these bytes by their size and SHA-256.');
    }
  }

  const answer = (allow) => api.runtime.sendMessage({ type: 'answer', token, allow });
  const allow = document.getElementById('allow');
  allow.addEventListener('click', () => answer(true));
  document.getElementById('deny').addEventListener('click', () => answer(false));
  // Allow only once the user has scrolled the text to its end (a text that
  // fits is there already), and while the window is seen (arming.js).
  const box = document.getElementById('text');
  let readToEnd = box.hidden;
  let seen = () => false;
  const update = () => {
    allow.disabled = !readToEnd || !seen();
    document.getElementById('scroll-note').hidden = readToEnd;
  };
  const reachedEnd = () => {
    if (readToEnd || box.scrollTop + box.clientHeight < box.scrollHeight - 2) return;
    readToEnd = true;
    update();
  };
  box.addEventListener('scroll', reachedEnd);
  window.addEventListener('resize', reachedEnd);
  reachedEnd();
  seen = armWhenSeen(update);
  update();

  const tick = () => {
    const left = Math.max(0, Math.ceil((details.deadline - Date.now()) / 1000));
    show('countdown', `Denied automatically in ${left} s.`);
  };
  tick();
  setInterval(tick, 1000);
})();
