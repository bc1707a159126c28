// @ts-check
// The sample enrolment page's own script, on the page library (zvcert.js,
// window.zvcertPage) and the enrolment steps (enroll.js): it tells the user
// what to install, enrols, lets the user choose a certificate, signs in both
// formats and deletes. The test command type-checks it against the
// library's declarations.
'use strict';

(() => {
  // Replace with the authority's endpoint: it receives the PEM request and
  // answers with the issued certificate in PEM.
  const ENROL_URL = '/enrol';

  /** @param {string} id */
  const $ = (id) => /** @type {HTMLInputElement} */ (document.getElementById(id));
  const logArea = $('log');
  /** @param {string} step @param {string} detail */
  const log = (step, detail) => { logArea.textContent += `${step}: ${detail}\n`; };
  // What the page has done, for people and for automated checks.
  /** @param {string} name */
  const state = (name) => { document.body.dataset.state = name; };
  /** @type {zvcertPage.Zvcert | null} */
  let zv = null;
  let serial = '';
  const buttons = ['choose', 'sign', 'cms', 'cms-detached', 'delete'];

  /** @param {string} pem */
  async function submitRequest(pem) {
    const response = await fetch(ENROL_URL, { method: 'POST', body: pem,
      headers: { 'Content-Type': 'application/pkcs10' } });
    if (!response.ok) throw new Error(`HTTP ${response.status}`);
    return response.text();
  }

  /** @param {unknown} error */
  function report(error) {
    const reason = error instanceof Error && 'reason' in error ? ` (${error.reason})` : '';
    log('error', `${error instanceof Error ? error.message : String(error)}${reason}`);
    state('error');
  }

  /** @param {string} chosen */
  function useSerial(chosen) {
    serial = chosen;
    document.body.dataset.serial = serial;
    for (const id of buttons) $(id).disabled = false;
  }

  /** @param {string} id @param {string} done @param {() => Promise<void>} step */
  function button(id, done, step) {
    $(id).addEventListener('click', async (event) => {
      event.preventDefault();
      try {
        await step();
        state(done);
      } catch (error) { report(error); }
    });
  }

  async function start() {
    const found = await zvcertPage.status();
    log('status', `${found.path}; library ${found.versions.library}, extension ${found.versions.extension ?? '-'}, ` +
      `host ${found.versions.host ?? '-'}, plug-in ${found.versions.plugin ?? '-'}`);
    if (found.needs.length > 0) {
      $('missing').textContent = found.needs.map((need) => need.message).join(' ');
      $('missing').hidden = false;
    }
    if (found.path === 'none') {
      state('missing');
      return;
    }
    zv = await zvcertPage.connect();
    log('ready', `npzvcert ${await zv.Version} through the ${zv.viaExtension ? 'browser extension' : 'plug-in'}`);
    $('enrol').disabled = false;
    $('choose').disabled = !zv.viaExtension;
    state('ready');
  }

  button('enrol', 'enrolled', async () => {
    if (!zv) throw new Error('not connected');
    const enrolled = await zvcertEnroll.enrol(zv, {
      subject: $('subject').value,
      unstructuredName: $('unstructuredName').value,
      challengePassword: $('challengePassword').value,
      submitRequest, log,
    });
    useSerial(enrolled.serial);
  });

  button('choose', 'chosen', async () => {
    if (!zv) throw new Error('not connected');
    const chosen = await zv.chooseCertificate();
    log('chooseCertificate', `the user chose serial ${chosen}`);
    useSerial(chosen);
  });

  button('sign', 'signed', async () => {
    if (!zv) throw new Error('not connected');
    const { signature } = await zvcertEnroll.signText(zv, serial, $('text').value, log);
    log('signature', signature);
  });

  for (const detached of [false, true]) {
    button(detached ? 'cms-detached' : 'cms', detached ? 'cms-detached' : 'cms', async () => {
      if (!zv) throw new Error('not connected');
      const data = await zv.Base64Encode($('text').value);
      const cms = await zv.signCms(serial, data, { detached });
      log(detached ? 'cms-detached' : 'cms', cms);
      });
  }

  button('delete', 'deleted', async () => {
    if (!zv) throw new Error('not connected');
    await zvcertEnroll.removeCertificate(zv, serial, log);
    for (const id of buttons) $(id).disabled = true;
    $('choose').disabled = !zv.viaExtension;
  });

  start().catch((error) => {
    $('missing').textContent = error instanceof Error ? error.message : String(error);
    $('missing').hidden = false;
    state('missing');
  });
})();
