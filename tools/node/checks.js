'use strict';
// The checks of the Node test scripts and their report, read by ctest and by
// people: a line for each check, "PASS  label" or "FAIL  label: detail", and
// at the end "N passed, M failed".

const util = require('node:util');

// A value as a report line shows it: on one line, long text cut.
const show = (value) => util.inspect(value, { breakLength: Infinity, maxStringLength: 160 });

// One script's count. A failing check's line carries its detail; with
// detailOnPass, so does a passing one's (where the value checked is worth
// seeing in the log).
function checks({ detailOnPass = false } = {}) {
  let passed = 0;
  let failed = 0;
  const check = (label, ok, detail) => {
    if (ok) passed += 1;
    else failed += 1;
    const shown = (!ok || detailOnPass) && detail !== undefined && detail !== '';
    console.log(`${ok ? 'PASS' : 'FAIL'}  ${label}${shown ? `: ${detail}` : ''}`);
    return ok;
  };
  const checkEqual = (label, actual, expected) => {
    const ok = util.isDeepStrictEqual(actual, expected);
    return check(label, ok, ok ? show(actual) : `got ${show(actual)}, want ${show(expected)}`);
  };
  // The closing line; the exit code, 0 only when checks ran and none failed.
  const report = () => {
    console.log(`${passed} passed, ${failed} failed`);
    return failed === 0 && passed > 0 ? 0 : 1;
  };
  return { check, checkEqual, report };
}

module.exports = { checks, show };
