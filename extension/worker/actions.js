// Each member's action: the plug-in's members all go to the host as they
// are; the extension's own have a module each, which holds the member's
// rule (extension/members.js) beside what the member does.
import * as plugin from './actions/plugin.js';
import * as status from './actions/status.js';
import * as chooseCertificate from './actions/choose_certificate.js';
import * as signCms from './actions/sign_cms.js';

export const OWN_ACTIONS = { status, chooseCertificate, signCms };
export { plugin };
