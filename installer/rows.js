#!/usr/bin/env node
'use strict';
// The installers' registry rows, from installer/registry.rows, in each
// installer's own form:
//
//   node installer/rows.js nsis FILE NAME=VALUE...   the setup's include: the
//        names as !defines, macros RegisterProduct and UnregisterProduct
//   node installer/rows.js wix DIR NAME=VALUE...     the MSI's components
//        (DIR/registry.wxi) and their references (DIR/registry-refs.wxi)
//   node installer/rows.js defines NAME=VALUE...     the list's names, NAME=text
//        a line
//   node installer/rows.js msi-fixes NAME=VALUE...   the SQL that says what
//        wixl cannot (see npzvcert.wxs), one statement a line
//   node installer/rows.js expected ROOT INSTDIR NAME=VALUE... [POLICY...]
//        the values one installation holds: "ROOT\key|name|value" a line,
//        with the policies named (CHROMEPOLICY ...) under HKLM
//
// NAME=VALUE are the build's values (PLUGIN_ID, NATIVE_HOST, VERSION, ...);
// ARCH=x64 makes the x64 packages' rows: the x86 plug-in's too, each row in
// its registry view ("expected" ends those lines with |64 or |32). Without
// it, x86: the list's x86-only rows are left out.
// Exits 2 with a reason when the list names a value not given.

const fs = require('node:fs');
const path = require('node:path');

const LIST = path.join(__dirname, 'registry.rows');
// The MSI's registry components, which the MSI's feature references.
const REGISTRATION = 'Registration';
const REGISTRATION_X86 = 'Registration_x86';
const policyComponent = (property) => `Policy_${property}`;

class RowsError extends Error {}

// { defines, rows: [{ kind: 'own'|'value'|'policy', key, name, value, property, view }] }
// with every ${NAME} but ${INSTDIR} filled in. view is 64 or 32 in the x64
// packages, absent in the x86 ones.
function readRows(values, text = fs.readFileSync(LIST, 'utf8')) {
  const x64 = isX64(values);
  const defines = {};
  const rows = [];
  const fill = (field, line) => field.replace(/\$\{(\w+)\}/g, (whole, name) => {
    if (name === 'INSTDIR') return whole;
    const value = defines[name] ?? values[name];
    if (value === undefined) throw new RowsError(`registry.rows line ${line}: no value for \${${name}}`);
    return value;
  });
  for (const [index, raw] of text.split('\n').entries()) {
    const line = raw.trim();
    if (line === '' || line.startsWith('#')) continue;
    const fields = line.split(/\s*\|\s*/).map((field) => fill(field, index + 1));
    const [kind, ...rest] = fields;
    const shapes = { define: 3, own: 2, value: 4, policy: 5, 'own-x86': 2, 'value-x86': 4 };
    if (shapes[kind] !== fields.length) throw new RowsError(`registry.rows line ${index + 1}: not a row: ${line}`);
    const x86Only = kind.endsWith('-x86');
    if (x86Only && !x64) continue;
    const view = x64 ? { view: x86Only ? 32 : 64 } : {};
    if (kind === 'define') defines[rest[0]] = rest[1];
    else if (kind.startsWith('own')) rows.push({ kind: 'own', key: rest[0], ...view });
    else if (kind.startsWith('value')) rows.push({ kind: 'value', key: rest[0], name: rest[1], value: rest[2], ...view });
    else rows.push({ kind, property: rest[0], key: rest[1], name: rest[2], value: rest[3], ...view });
  }
  return { defines, rows };
}

function isX64(values) {
  const arch = values.ARCH ?? 'x86';
  if (arch !== 'x86' && arch !== 'x64') throw new RowsError(`ARCH is x86 or x64, not ${arch}`);
  return arch === 'x64';
}

const installDir = (text, folder) => text.replaceAll('${INSTDIR}', folder);

function nsis(values) {
  // NSIS reads $ as the start of a variable and " as the string's end.
  const quote = (text) => `"${text.split('${INSTDIR}').map((part) => part.replace(/[$"]/g, (c) => (c === '$' ? '$$' : '$\\"')))
    .join('$INSTDIR')}"`;
  const { defines, rows } = readRows(values);
  const lines = ['; Made by installer/rows.js from installer/registry.rows.'];
  for (const [name, text] of Object.entries(defines)) lines.push(`!define ${name} ${quote(text)}`);
  // Rows of the 32-bit view between SetRegView 32 and back to the
  // process's own.
  const inViews = (kind, write) => {
    let view = rows.some((r) => r.view) ? 64 : undefined;
    for (const row of rows.filter((r) => r.kind === kind)) {
      if (row.view !== view) lines.push(`  SetRegView ${row.view === 32 ? 32 : 'default'}`);
      view = row.view;
      lines.push(write(row));
    }
    if (view === 32) lines.push('  SetRegView default');
  };
  lines.push('!macro RegisterProduct ROOT');
  inViews('value', (row) => `  WriteRegStr \${ROOT} ${quote(row.key)} ${quote(row.name === '@' ? '' : row.name)} ${quote(row.value)}`);
  lines.push('!macroend', '!macro UnregisterProduct ROOT');
  inViews('own', (row) => `  DeleteRegKey \${ROOT} ${quote(row.key)}`);
  lines.push('!macroend');
  return `${lines.join('\n')}\n`;
}

// MSI formatted text: [ ] { } are its syntax, the rest as written. A
// folder's path ends in a backslash there.
const formatted = (text) => text.split('${INSTDIR}').map((part) => part.replace(/[[\]{}]/g, (c) => `[\\${c}]`))
  .join('[installdir]').replaceAll('[installdir]\\', '[installdir]');
const xml = (text) => text.replace(/[&<>"]/g, (c) => ({ '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;' })[c]);

// The product's rows in one component, under the root of the installation
// (HKMU, fixed below); each policy's in one of its own, under HKLM. In the
// x64 package the x86 plug-in's rows are a 32-bit component of their own,
// the rest 64-bit ones.
function wix(values) {
  const { rows } = readRows(values);
  const values64 = rows.filter((r) => r.kind === 'value' && r.view !== 32);
  const groups = new Map([[REGISTRATION, { root: 'HKMU', rows: values64, view: values64[0].view }]]);
  const values32 = rows.filter((r) => r.kind === 'value' && r.view === 32);
  if (values32.length) groups.set(REGISTRATION_X86, { root: 'HKMU', rows: values32, view: 32 });
  for (const row of rows.filter((r) => r.kind === 'policy')) {
    const id = policyComponent(row.property);
    if (!groups.has(id)) groups.set(id, { root: 'HKLM', rows: [], view: row.view });
    groups.get(id).rows.push(row);
  }
  const components = [];
  for (const [id, group] of groups) {
    const win64 = group.view ? ` Win64="${group.view === 64 ? 'yes' : 'no'}"` : '';
    components.push(`  <Component Id="${id}" Guid="*"${win64}>`);
    for (const [i, row] of group.rows.entries()) {
      const name = row.name === '@' ? '' : ` Name="${xml(formatted(row.name))}"`;
      components.push(`    <RegistryValue Root="${group.root}" Key="${xml(formatted(row.key))}"${name} Type="string" ` +
        `Value="${xml(formatted(row.value))}"${i === 0 ? ' KeyPath="yes"' : ''} />`);
    }
    components.push('  </Component>');
  }
  const include = (body) => `<?xml version="1.0" encoding="utf-8"?>\n<!-- Made by installer/rows.js from installer/registry.rows. -->\n<Include>\n${body.join('\n')}\n</Include>\n`;
  return {
    'registry.wxi': include(components),
    'registry-refs.wxi': include([...groups.keys()].map((id) => `  <ComponentRef Id="${id}" />`)),
  };
}

// wixl 0.101 writes HKMU as root 4, which Windows Installer does not know
// (-1 is the installation's own root), and has no component conditions: a
// policy component installs only when its property is 1, and goes with the
// product whatever the uninstall's command line says. The properties must
// be secure to reach the installation from the command line.
function msiFixes(values) {
  const { rows } = readRows(values);
  const properties = [...new Set(rows.filter((r) => r.kind === 'policy').map((r) => r.property))];
  return [
    'UPDATE `Registry` SET `Root` = -1 WHERE `Root` = 4',
    ...properties.map((p) => `UPDATE \`Component\` SET \`Condition\` = '${p} = "1" OR REMOVE ~= "ALL"' WHERE \`Component\` = '${policyComponent(p)}'`),
    `UPDATE \`Property\` SET \`Value\` = 'WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED;${properties.join(';')}' ` +
      "WHERE `Property` = 'SecureCustomProperties'",
  ];
}

function expected(values, root, folder, policies = []) {
  const { rows } = readRows(values);
  return rows.filter((r) => r.kind === 'value' || (r.kind === 'policy' && policies.includes(r.property)))
    .map((r) => `${r.kind === 'policy' ? 'HKLM' : root}\\${r.key}|${r.name}|${installDir(r.value, folder)}${r.view ? `|${r.view}` : ''}`);
}

module.exports = { readRows, nsis, wix, msiFixes, expected, RowsError };

if (require.main === module) {
  const [mode, ...args] = process.argv.slice(2);
  const assignments = (list) => Object.fromEntries(list.filter((a) => a.includes('=')).map((a) => [a.slice(0, a.indexOf('=')), a.slice(a.indexOf('=') + 1)]));
  try {
    if (mode === 'nsis') {
      fs.writeFileSync(args[0], nsis(assignments(args.slice(1))));
    } else if (mode === 'wix') {
      for (const [name, text] of Object.entries(wix(assignments(args.slice(1))))) fs.writeFileSync(path.join(args[0], name), text);
    } else if (mode === 'defines') {
      for (const [name, text] of Object.entries(readRows(assignments(args)).defines)) console.log(`${name}=${text}`);
    } else if (mode === 'msi-fixes') {
      console.log(msiFixes(assignments(args)).join('\n'));
    } else if (mode === 'expected') {
      console.log(expected(assignments(args.slice(2)), args[0], args[1], args.slice(2).filter((a) => !a.includes('='))).join('\n'));
    } else {
      console.error('usage: node installer/rows.js nsis FILE|wix DIR|msi-fixes|expected ROOT INSTDIR [NAME=VALUE...] [POLICY...]');
      process.exit(2);
    }
  } catch (error) {
    if (!(error instanceof RowsError)) throw error;
    console.error(`rows: ${error.message}`);
    process.exit(2);
  }
}
