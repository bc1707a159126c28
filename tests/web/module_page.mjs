// @ts-check
// A page module on the package as a bundler imports it: what the types must
// accept, and (ts-expect-error) what they must refuse.
import { connect, status, NotInstalledError } from 'npzvcert-page';

const found = await status({ waitMs: 500, language: 'zh_CN' });
/** @type {'plugin' | 'extension' | 'none'} */
const path = found.path;
const setup = found.needs.find((need) => need.component === 'setup');
const plugin = found.versions.plugin === null ? 0 : found.versions.plugin + 1;
try {
  const zv = await connect();
  const serial = await zv.chooseCertificate();
  const cms = await zv.signCms(serial, await zv.Base64Encode('text'), { detached: true });
  /** @type {1 | 0 | -1} */
  const present = await zv.IsCertExist(serial);
  const version = (await zv.Version) + 1;
  console.log(path, setup?.url, plugin, cms.length, present, version);
  // @ts-expect-error a language the library has not
  await connect({ language: 'it' });
  // @ts-expect-error the data is Base64 text
  await zv.signCms(serial, new Uint8Array(1));
  // @ts-expect-error there is no such option
  await zv.signCms(serial, 'AQID', { attached: true });
  // @ts-expect-error FindCert takes the attribute and its value
  await zv.FindCert('CN');
  // @ts-expect-error a serial is text
  const wrong = /** @type {number} */ (await zv.chooseCertificate());
  console.log(wrong);
} catch (error) {
  if (error instanceof NotInstalledError) console.log(error.reason === 'not-installed');
  // @ts-expect-error no such reason
  else if (/** @type {import('npzvcert-page').ZvcertError} */ (error).reason === 'refused') console.log('never');
}
