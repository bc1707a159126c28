'use strict';
// The native-messaging host's manifests, one per browser family: which host
// a name starts, and which extension may reach it. The installer ships them
// with a path relative to their own folder; tests point them elsewhere.
//
//   node extension/host_manifest.js <out dir> <host name> <chromium id> <firefox id> <host path>
// writes <out dir>/chromium.json and <out dir>/firefox.json.

const fs = require('node:fs');
const path = require('node:path');

function hostManifests({ hostName, chromiumId, firefoxId }, hostPath,
  description = 'Dastro certificate control for browser extensions') {
  const common = { name: hostName, description, path: hostPath, type: 'stdio' };
  return {
    chromium: { ...common, allowed_origins: [`chrome-extension://${chromiumId}/`] },
    firefox: { ...common, allowed_extensions: [firefoxId] },
  };
}

const writeManifest = (file, manifest) => {
  fs.mkdirSync(path.dirname(file), { recursive: true });
  fs.writeFileSync(file, `${JSON.stringify(manifest, null, 2)}\n`);
};

module.exports = { hostManifests, writeManifest };

if (require.main === module) {
  const [out, hostName, chromiumId, firefoxId, hostPath] = process.argv.slice(2);
  if (!hostPath) {
    console.error('usage: node extension/host_manifest.js <out dir> <host name> <chromium id> <firefox id> <host path>');
    process.exit(2);
  }
  const manifests = hostManifests({ hostName, chromiumId, firefoxId }, hostPath);
  for (const [family, manifest] of Object.entries(manifests)) {
    writeManifest(path.join(out, `${family}.json`), manifest);
  }
}
