// A CMS signature with the certificate the window named, of the data it showed.
import { withLogin } from '../login.js';
import { Reply } from '../replies.js';

export const rule = {
  kind: 'extension',
  consent: { strings: 2, certificate: 'serial', data: true, chosen: true, action: 'actionSignCms',
    detachedAction: 'actionSignCmsDetached' },
  options: 2,
};

export async function run(page, [serial, data, options]) {
  const answer = await withLogin(page, () => page.host.call('signCms', { serial, data, detached: options.detached,
    thumbprint: options.thumbprint }));
  if (!answer.ok) {
    return Reply.failure(answer.reason, `signCms failed: ${answer.error || 'no signature was made'}`, null);
  }
  return typeof answer.value === 'string' ? Reply.value(answer.value)
    : Reply.failure('failed', 'signCms failed', answer.value);
}
