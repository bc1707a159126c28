// Types of enroll.js as a page sees it (window.zvcertEnroll), for the page
// script's type check.
declare namespace zvcertEnroll {
  class StepError extends Error {
    readonly step: string;
    readonly why: string;
    readonly detail: unknown;
  }
  interface EnrolOptions {
    subject: string;
    unstructuredName: string;
    challengePassword: string;
    submitRequest(pem: string): Promise<string>;
    log?(step: string, detail: string): void;
  }
  function enrol(zv: zvcertPage.Zvcert, options: EnrolOptions):
    Promise<{ request: string; certificate: string; serial: string }>;
  function signText(zv: zvcertPage.Zvcert, serial: string, text: string,
    log?: (step: string, detail: string) => void): Promise<{ data: string; signature: string }>;
  function removeCertificate(zv: zvcertPage.Zvcert, serial: string,
    log?: (step: string, detail: string) => void): Promise<number>;
  function explain(method: string, code: number): string;
}
