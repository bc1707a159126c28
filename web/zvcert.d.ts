// Types of npzvcert-page: the ES module ("npzvcert-page") and the classic
// script, which defines the same members as window.zvcertPage.

export as namespace zvcertPage;

/** The package's own version. */
export const VERSION: string;
export const MIME_TYPE: 'application/zvcert';
export const METHODS: readonly MethodName[];
export const PROPERTIES: readonly ('Version' | 'HostName')[];
/** The languages of the library's messages. */
export const LANGUAGES: readonly Language[];

export type Language = 'de' | 'en' | 'es' | 'fr' | 'ru' | 'zh_CN' | 'zh_TW';

/**
 * One of the library's messages (e.g. `pageNotInstalled`) in the language
 * (default: the browser's), `$1`… filled from the substitutions; "" for a
 * key it does not have.
 */
export function message(key: string, substitutions?: string | readonly string[], language?: Language): string;

export type MethodName =
  | 'SetSubject' | 'SetChallenge' | 'GetCSR' | 'ImportCert' | 'FindCert'
  | 'IsCertExist' | 'DelCert' | 'CertSign' | 'Base64Encode' | 'Base64Decode';

/**
 * Why a call rejected:
 * - `failed`: the plug-in's call failed (`result` holds its result when known);
 * - `denied`, `timeout`, `closed`: the user did not allow it (denied, did not answer, closed the window),
 *   in the consent window or in the window that asks the token's PIN;
 * - `cancelled`: the user chose no certificate; `none`: there was none to choose;
 * - `unsupported`: the plug-in path has no such member (chooser, CMS signatures);
 * - `unavailable`: the extension's host stopped or is not installed, or the token's module is missing;
 * - `pin-incorrect`: the token refused the PIN the user gave; `pin-locked`: the token takes no PIN any
 *   more (too many incorrect ones); `no-token`: no token is connected; `token-removed`: it was taken out
 *   during the call.
 */
export type Reason =
  | 'failed' | 'denied' | 'timeout' | 'closed' | 'cancelled' | 'none' | 'unsupported' | 'unavailable'
  | 'pin-incorrect' | 'pin-locked' | 'no-token' | 'token-removed';

export interface ZvcertError extends Error {
  reason: Reason;
  /** The member that rejected. */
  member?: string;
  /** The plug-in's own result of a failed call, where the extension carries it. */
  result?: string | number | null;
  /** Through the extension: its own text, in English, which may say more than the message. */
  detail?: string;
}

/**
 * The system the browser runs on, as the library tells them apart: `other` is
 * one npzvcert has no host for yet (macOS, mobile systems).
 */
export type Platform = 'windows' | 'linux' | 'other';

export class NotInstalledError extends Error {
  /** Its message says what to install on the platform (default `windows`). */
  constructor(language?: Language, platform?: Platform);
  readonly name: 'NotInstalledError';
  readonly reason: 'not-installed';
}

/** ImportCert: 1 stored; -1 no pending request, no certificate, or another key's; -2 not stored. */
export type ImportResult = 1 | -1 | -2;
/** IsCertExist: 1 present, 0 absent, -1 the store cannot be opened. */
export type PresenceResult = 1 | 0 | -1;
/** DelCert: 1 deleted, 0 not found, -2 … -6 the step that failed. */
export type DeleteResult = 1 | 0 | -2 | -3 | -4 | -5 | -6;

export interface SignCmsOptions {
  /** Leave the data out of the SignedData (a detached signature). Default false. */
  detached?: boolean;
}

/** One connection to npzvcert: the plug-in's members, every one a Promise. */
export interface Zvcert {
  /** true through the browser extension, false through the NPAPI plug-in. */
  readonly viaExtension: boolean;
  /** The embedded plug-in element (plug-in path only). */
  readonly element?: HTMLElement;
  /** The subject for the next request, e.g. "C=CN, O=Org, CN=Alice"; 1 when taken. */
  SetSubject(subject: string): Promise<number>;
  /** The request's unstructuredName and challengePassword; 1 when taken. */
  SetChallenge(unstructuredName: string, challengePassword: string): Promise<number>;
  /** A new key pair, kept pending, and its PKCS #10 request in PEM. */
  GetCSR(): Promise<string>;
  /** Stores the issued certificate (PEM) linked to the pending key. */
  ImportCert(certificatePem: string): Promise<ImportResult>;
  /** The serial (decimal text) of the authority's certificate whose subject attribute equals value; "" if none. */
  FindCert(attribute: string, value: string): Promise<string>;
  IsCertExist(serial: string): Promise<PresenceResult>;
  /** Deletes the certificate and its private key. */
  DelCert(serial: string): Promise<DeleteResult>;
  /** Base64 of the serial bytes and the PKCS #1 v1.5 signature of the data (Base64). */
  CertSign(serial: string, dataBase64: string): Promise<string>;
  /** Base64 of the text's UTF-8 bytes. */
  Base64Encode(text: string): Promise<string>;
  /** The text whose UTF-8 bytes the Base64 holds. */
  Base64Decode(base64: string): Promise<string>;
  readonly Version: Promise<number>;
  readonly HostName: Promise<string>;
  /**
   * Lets the user pick one of the authority's certificates in a window of the
   * extension; resolves with its serial (as FindCert gives it). Rejects
   * `cancelled`, `none`, `timeout`, `closed`, or `unsupported` on the plug-in path.
   */
  chooseCertificate(): Promise<string>;
  /**
   * A CMS (PKCS #7) SignedData of the data (Base64) with the certificate's
   * key, after the user allows it; resolves with its DER in Base64.
   * Rejects `unsupported` on the plug-in path.
   */
  signCms(serial: string, dataBase64: string, options?: SignCmsOptions): Promise<string>;
}

export interface ConnectOptions {
  /** An `<embed type="application/zvcert">` already on the page. */
  element?: HTMLElement;
  /** How long to wait for the plug-in or the extension, in ms (default 1000). */
  waitMs?: number;
  /** The window to look in (default: the global one). */
  window?: Window;
  /** The language of messages and rejections (default: the first of the browser's the library has, else English). */
  language?: Language;
}

/** Rejects with a NotInstalledError when neither the plug-in nor the extension is there. */
export function connect(options?: ConnectOptions): Promise<Zvcert>;

export function pluginInstalled(navigator: Navigator | undefined): boolean;

export type Path = 'plugin' | 'extension' | 'none';

export interface Need {
  /**
   * What brings the host, by the browser's system: `setup`, npzvcert-setup.exe (the plug-in and its
   * host, Windows); `package`, the Debian package npzvcert-host (the host, its browser manifests and the
   * token module's configuration, Linux); `host`, none yet (macOS and other systems): `message` says so
   * and `url` is "". `extension`: the browser extension.
   */
  component: 'setup' | 'package' | 'host' | 'extension';
  action: 'install' | 'update';
  /** The authority's download address ("" when the build set none, or there is nothing to download). */
  url: string;
  /** What to tell the user, in the page's language. */
  message: string;
}

export interface Status {
  /** What this browser would use. */
  path: Path;
  /** true when nothing needs installing or updating. */
  ready: boolean;
  versions: {
    library: string;
    extension: string | null;
    host: string | null;
    /** The plug-in's Version number (1022 for 1.0.2.2). */
    plugin: number | null;
  };
  needs: Need[];
  downloadUrl: string;
}

/** What is installed, without embedding the plug-in. */
export function status(options?: Omit<ConnectOptions, 'element'>): Promise<Status>;
