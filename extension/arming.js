// What the extension's windows share: their answer button may be
// pressed only while the window is visible and focused, and only a second
// after it became so, so that a click or key press meant for the page, or
// made while another window covered this one, cannot land on it.

// Calls onChange(armed) on every change; returns a function telling whether
// the window is armed now.
export function armWhenSeen(onChange, delayMs = 1000) {
  let focused = document.hasFocus();
  let armed = false;
  let timer = null;
  const update = () => {
    const seen = focused && document.visibilityState === 'visible';
    if (!seen) {
      clearTimeout(timer);
      timer = null;
      if (armed) {
        armed = false;
        onChange(false);
      }
    } else if (!armed && timer === null) {
      timer = setTimeout(() => {
        timer = null;
        armed = true;
        onChange(true);
      }, delayMs);
    }
  };
  window.addEventListener('focus', () => { focused = true; update(); });
  window.addEventListener('blur', () => { focused = false; update(); });
  document.addEventListener('visibilitychange', update);
  update();
  return () => armed;
}
