// The consent window: shows what a page asks for and sends the answer back
// to the service worker, which also denies on its own when time runs out.
// Its words come from the message set (i18n.js); the values it shows, as
// the host described them, are never translated.
import { armWhenSeen } from './arming.js';
import { formatBytes, formatTime, message, say, showValue } from './i18n.js';
import { $, openQuestion } from './question.js';

openQuestion('deniedIn', (details, answer) => {
  const certificate = details.certificate;
  showValue($('origin'), details.origin);
  say($('action'), details.action);
  // The serial is the one the call acts on, read as the plug-in reads it.
  if (certificate.found) {
    if (certificate.subject) showValue($('subject'), certificate.subject);
    else say($('subject'), 'noSubjectNames');
    const serial = details.member === 'ImportCert' ? certificate.serial : certificate.canonical;
    if (serial) say($('serial'), 'serialWithHex', serial, certificate.serialHex);
    else say($('serial'), 'serialWithHex', message('serialTooLarge'), certificate.serialHex);
    for (const element of document.querySelectorAll('.issued')) element.hidden = false;
    // Known by the root's signature: a name alone is anyone's to give.
    if (certificate.fromAuthority) {
      showValue($('issuer'), certificate.issuer);
    } else {
      say($('issuer'), 'issuerNotAuthority', certificate.issuer || message('issuerNoName'));
      $('issuer').classList.add('warning');
    }
    say($('validity'), 'validity', formatTime(certificate.notBefore), formatTime(certificate.notAfter));
  } else if (details.member === 'ImportCert') {
    say($('subject'), 'importNoCertificate');
    showValue($('serial'), '-');
  } else {
    say($('subject'), 'noSuchCertificate');
    showValue($('serial'), certificate.canonical);
  }
  if (details.dataSize !== undefined) {
    for (const element of document.querySelectorAll('.data')) element.hidden = false;
    showValue($('data'), formatBytes(details.dataSize));
    showValue($('sha256'), details.dataSha256);
    // The host's rendering, shown as it is: the window renders nothing itself.
    if (details.dataText !== null) {
      for (const element of document.querySelectorAll('.text')) element.hidden = false;
      $('text').textContent = details.dataText;
      $('marks').hidden = !details.dataEscaped && !details.dataFolded;
    } else {
      $('unshown').hidden = false;
      say($('unshown'), details.dataUnshown === 'too long' ? 'unshownTooLong' : 'unshownNotText');
    }
  }

  const allow = $('allow');
  allow.addEventListener('click', () => answer({ allow: true }));
  $('deny').addEventListener('click', () => answer({ allow: false }));
  // Allow only once the user has scrolled the text to its end (a text that
  // fits is there already), and while the window is seen (arming.js).
  const box = $('text');
  let readToEnd = box.hidden;
  let seen = () => false;
  const update = () => {
    allow.disabled = !readToEnd || !seen();
    $('scroll-note').hidden = readToEnd;
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
});
