// The versions of the extension, of its host and of the plug-in behind it.
import { api } from '../../browser.js';
import { Reply } from '../replies.js';

export const rule = { kind: 'extension' };

export async function run(page) {
  const answer = await page.host.call('status');
  return Reply.value({ extension: api.runtime.getManifest().version,
    host: answer.ok ? answer.value?.host ?? null : null, plugin: answer.ok ? answer.value?.plugin ?? null : null });
}
