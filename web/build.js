#!/usr/bin/env node
'use strict';
// Builds the page library's package for one authority: the ES module, the
// classic script for <script> tags (window.zvcertPage) and the types, with
// the authority's download address and the versions of the parts it needs.
//
//   node web/build.js --out DIR [--download-url URL] [--requires 1.0.2.2] [--release]
//
// The package's version is web/package.json's; it must be the project's
// (CMakeLists.txt) first three numbers. The library's messages are the
// page* ones of the extension's _locales. Exits 2 with a reason otherwise.

const fs = require('node:fs');
const path = require('node:path');
const util = require('node:util');
const { namesOf, readMembers } = require('../extension/members');
const extension = require('../extension/build');

class BuildError extends Error {}

const ROOT = path.resolve(__dirname, '..');

// The project's version, "1.0.2.2", as CMake declares it.
function projectVersion() {
  const text = fs.readFileSync(path.join(ROOT, 'CMakeLists.txt'), 'utf8');
  const match = /project\(\s*\S+\s+VERSION\s+([\d.]+)/.exec(text);
  if (!match) throw new BuildError('CMakeLists.txt declares no project version');
  return match[1];
}

function checkDownloadUrl(text, release) {
  if (text === '') {
    if (release) throw new BuildError('a release build names the authority\'s download address (--download-url https://…)');
    return '';
  }
  let url;
  try {
    url = new URL(text);
  } catch {
    throw new BuildError(`download address "${text}" is not a URL`);
  }
  if (url.protocol !== 'https:' && (release || url.protocol !== 'http:')) {
    throw new BuildError(`download address "${text}": users get the setup over https only`);
  }
  return url.href;
}

// The classic script from the module: its top-level `export` declarations
// become the members of one object, window.zvcertPage in a page and
// module.exports in Node. Anything else the transformation cannot carry is
// refused rather than shipped broken.
function classicScript(moduleText) {
  const names = [];
  const body = moduleText.replace(/^export (const|class|function|async function) ([A-Za-z_$][\w$]*)/gm,
    (whole, kind, name) => {
      names.push(name);
      return `${kind} ${name}`;
    });
  const left = /^\s*(export|import)\b.*$/m.exec(body);
  if (left) throw new BuildError(`web/zvcert.mjs: "${left[0].trim()}" cannot be carried into the classic script`);
  return `(function (exports) {\n'use strict';\n${body}\nObject.assign(exports, { ${names.join(', ')} });\n})(` +
    'typeof module !== \'undefined\' && module.exports ? module.exports : (window.zvcertPage = {}));\n';
}

// The types' lists of members are the plug-in's (the library's are written
// from its list): a member added or renamed there stops this build.
const quoted = (text) => [...(text ?? '').matchAll(/'(\w+)'/g)].map((m) => m[1]);

function checkMemberLists(typesSource, members) {
  const differences = [['MethodName', /^export type MethodName =([^;]*);/m, 'Method'],
    ['PROPERTIES', /^export const PROPERTIES: readonly \(([^)]*)\)\[\];/m, 'Property']].map(([what, pattern, kind]) => {
    const names = quoted(pattern.exec(typesSource)?.[1]);
    const want = namesOf(members, kind);
    const missing = want.filter((n) => !names.includes(n));
    const extra = names.filter((n) => !want.includes(n));
    const said = [missing.length ? `lacks ${missing.join(', ')}` : '', extra.length ? `has ${extra.join(', ')}, which the plug-in does not` : '',
      names.length !== new Set(names).size ? 'names a member twice' : ''].filter(Boolean).join('; ');
    return said && `web/zvcert.d.ts ${what} ${said}`;
  }).filter(Boolean);
  if (differences.length) throw new BuildError(differences.join('\n'));
}

// The page* messages of every language, as the library reads them: each
// key the library names must be in English (readLocales has checked that
// every language has English's keys), and the types' Language must name
// exactly the languages there are.
function pageMessages(moduleSource, typesSource, locales) {
  const missing = [...new Set([...moduleSource.matchAll(/'(page[A-Z]\w*)'/g)].map((m) => m[1]))]
    .filter((key) => !Object.hasOwn(locales.en, key));
  if (missing.length) throw new BuildError(`extension/_locales/en lacks the page library's ${missing.join(', ')}`);
  const declared = quoted(/^export type Language =([^;]*);/m.exec(typesSource)?.[1]).sort();
  if (declared.join() !== Object.keys(locales).sort().join()) {
    throw new BuildError(`web/zvcert.d.ts Language is ${declared.join(', ')}; the locales are ${Object.keys(locales).sort().join(', ')}`);
  }
  const messages = {};
  for (const [language, entries] of Object.entries(locales)) {
    messages[language] = {};
    for (const [key, { message, placeholders }] of Object.entries(entries).filter(([k]) => k.startsWith('page'))) {
      messages[language][key] = placeholders ? { message, placeholders: Object.fromEntries(Object.entries(placeholders)
        .map(([name, { content }]) => [name, { content }])) } : { message };
    }
  }
  return messages;
}

function build({ out, downloadUrl = '', requires = projectVersion(), release = false }) {
  const manifest = JSON.parse(fs.readFileSync(path.join(__dirname, 'package.json'), 'utf8'));
  const version = projectVersion();
  if (manifest.version !== version.split('.').slice(0, 3).join('.')) {
    throw new BuildError(`web/package.json's version ${manifest.version} is not the project's ${version}`);
  }
  if (!/^\d+(\.\d+){0,3}$/.test(requires)) throw new BuildError(`required version "${requires}" is not 1 to 4 numbers`);
  const values = {
    version: manifest.version,
    downloadUrl: checkDownloadUrl(downloadUrl, release),
    requires: { extension: requires, host: requires, plugin: Number(requires.split('.').join('')) },
  };
  const source = fs.readFileSync(path.join(__dirname, 'zvcert.mjs'), 'utf8');
  const types = fs.readFileSync(path.join(__dirname, 'zvcert.d.ts'), 'utf8');
  const members = readMembers();
  checkMemberLists(types, members);
  Object.assign(values, { methods: namesOf(members, 'Method'), properties: namesOf(members, 'Property') });
  values.messages = pageMessages(source, types, extension.readLocales(path.join(ROOT, 'extension', '_locales')));
  const block = /^const BUILD = \{[\s\S]*?^\};$/m;
  if (!block.test(source)) throw new BuildError('web/zvcert.mjs has no BUILD block');
  const moduleText = source.replace(block, `const BUILD = ${JSON.stringify(values, null, 2)};`);

  fs.rmSync(out, { recursive: true, force: true });
  fs.mkdirSync(path.join(out, 'dist'), { recursive: true });
  fs.writeFileSync(path.join(out, 'dist', 'zvcert.mjs'), moduleText);
  fs.writeFileSync(path.join(out, 'dist', 'zvcert.js'), classicScript(moduleText));
  fs.copyFileSync(path.join(__dirname, 'zvcert.d.ts'), path.join(out, 'dist', 'zvcert.d.ts'));
  fs.copyFileSync(path.join(__dirname, 'README.md'), path.join(out, 'README.md'));
  fs.writeFileSync(path.join(out, 'package.json'), `${JSON.stringify(manifest, null, 2)}\n`);
  return values;
}

module.exports = { build, projectVersion, classicScript, checkMemberLists, pageMessages, BuildError };

if (require.main === module) {
  const { values } = util.parseArgs({
    options: {
      out: { type: 'string' },
      'download-url': { type: 'string', default: '' },
      requires: { type: 'string' },
      release: { type: 'boolean', default: false },
    },
  });
  if (!values.out) {
    console.error('usage: node web/build.js --out DIR [--download-url URL] [--requires VERSION] [--release]');
    process.exit(2);
  }
  try {
    const built = build({ out: values.out, downloadUrl: values['download-url'], requires: values.requires, release: values.release });
    console.log(`npzvcert-page ${built.version} in ${values.out}`);
  } catch (error) {
    if (!(error instanceof BuildError || error instanceof extension.BuildError)) throw error;
    console.error(`page library: ${error.message}`);
    process.exit(2);
  }
}
