'use strict';
// The user's "MY" store in a build's Wine prefix, through zvcert-store.exe
// (tools/store_tool.cpp): each call is a process of its own, which sees the
// store as any other program does.

const { execFileSync } = require('node:child_process');
const path = require('node:path');

const run = (buildDir, ...args) => execFileSync(path.join(buildDir, 'wine-run.sh'),
  [path.join(buildDir, 'bin', 'zvcert-store.exe'), ...args], { encoding: 'utf8', stdio: ['ignore', 'pipe', 'pipe'] });

// [{ serial (big-endian hex, a DER sign byte included), issuer, subject,
//    container, provider, providerType, keySpec (1 exchange, 2 signature),
//    containerExists }]
const listStore = (buildDir) => JSON.parse(run(buildDir, 'list'));

// Deletes every certificate from the issuer (common name) and its key
// container; the number deleted.
const purgeIssuer = (buildDir, issuer) => Number(run(buildDir, 'purge', issuer));

// Deletes the plug-in's pending requests and their keys (builds whose keys
// wait in the store): a test then starts with room for its own.
const purgePending = (buildDir) => Number(run(buildDir, 'purge-pending'));

module.exports = { listStore, purgeIssuer, purgePending };
