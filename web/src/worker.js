// The compile worker: loads the compiler (zvweb.js, the WebAssembly inlined) and compiles each
// program the page posts, so that a long compile never stops the page. One request at a time;
// the answer carries the request's id, the time the compile took and the typed arrays
// transferred rather than copied.
import { compileWith, transferables } from './compileonce.js';

const loading = (async () => {
  importScripts('zvweb.js');
  return self.createZvModule();
})();

self.onmessage = async (event) => {
  const request = event.data;
  try {
    const module = await loading;
    const answer = compileWith(module, request);
    self.postMessage({ id: request.id, answer }, transferables(answer));
  } catch (failure) {
    self.postMessage({ id: request.id, failure: String(failure && failure.message || failure) });
  }
};
