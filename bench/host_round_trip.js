'use strict';
// A call's round trip and GetCSR through a host program, as the extension's
// port drives it: medians of N calls of Base64Encode (the host's own work
// and the pipes, nothing of the store) and of M GetCSR calls (the key pair
// made where the host keeps keys: the user's key containers on Windows, the
// token on Linux). A token is logged in first. Figures, not a test.
//
//   node bench/host_round_trip.js NAME [N = 1000] [M = 20] -- PROGRAM [ARGS...]

const { HostClient } = require('../tools/node/host_client');

const split = process.argv.indexOf('--');
const [name, calls = '1000', requests = '20'] = process.argv.slice(2, split);
const [program, ...args] = process.argv.slice(split + 1);
if (split < 0 || !name || !program) {
  console.error('usage: node bench/host_round_trip.js NAME [N] [M] -- PROGRAM [ARGS...]');
  process.exit(2);
}

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
async function timed(count, call) {
  const times = [];
  for (let i = 0; i < count; ++i) {
    const start = process.hrtime.bigint();
    const reply = await call();
    times.push(Number(process.hrtime.bigint() - start) / 1e6);
    if (!reply.ok) throw new Error(`a call failed: ${JSON.stringify(reply)}`);
  }
  return median(times).toFixed(3);
}

(async () => {
  const host = new HostClient(null, { command: [program, args] });
  const tokens = await host.request({ id: 'tokens', tokens: {} });
  if (Array.isArray(tokens?.value) && tokens.value.length > 0) {
    await host.request({ id: 'login', login: { pin: process.env.ZVCERT_BENCH_PIN ?? '1234' } });
  }
  await host.call('Base64Encode', 'warm');
  const roundTrip = await timed(Number(calls), () => host.call('Base64Encode', 'abc'));
  const getCsr = await timed(Number(requests), () => host.call('GetCSR'));
  console.log(`${name}: round trip ${roundTrip} ms (median of ${calls}), GetCSR ${getCsr} ms (median of ${requests})`);
  await host.close();
})().catch((error) => {
  console.error(error);
  process.exit(1);
});
