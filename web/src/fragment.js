// The program in the URL fragment, so that a link shares it: the files (program first, then
// the include tabs) as JSON, deflated where the browser offers CompressionStream, in base64url.
//   #z=...  deflate-raw of the JSON      #s=...  the JSON's UTF-8 as it is

function tobase64url(bytes) {
  let text = '';
  for (let at = 0; at < bytes.length; at += 0x8000) {
    text += String.fromCharCode.apply(null, bytes.subarray(at, at + 0x8000));
  }
  return btoa(text).replace(/\+/g, '-').replace(/\//g, '_').replace(/=+$/, '');
}

function frombase64url(text) {
  const plain = atob(text.replace(/-/g, '+').replace(/_/g, '/'));
  const bytes = new Uint8Array(plain.length);
  for (let at = 0; at < plain.length; ++at) bytes[at] = plain.charCodeAt(at);
  return bytes;
}

async function through(stream, bytes) {
  const piped = new Blob([bytes]).stream().pipeThrough(stream);
  return new Uint8Array(await new Response(piped).arrayBuffer());
}

const compressing = typeof CompressionStream === 'function';

// files: [{name, text}] -> "#z=..." or "#s=..."
export async function encodefiles(files) {
  const json = new TextEncoder().encode(JSON.stringify(files.map((file) => [file.name, file.text])));
  if (compressing) return '#z=' + tobase64url(await through(new CompressionStream('deflate-raw'), json));
  return '#s=' + tobase64url(json);
}

// The files of a fragment, or null when it holds none (or cannot be read).
export async function decodefiles(fragment) {
  const found = /^#([zs])=([A-Za-z0-9_-]*)$/.exec(fragment || '');
  if (!found) return null;
  try {
    let bytes = frombase64url(found[2]);
    if (found[1] === 'z') bytes = await through(new DecompressionStream('deflate-raw'), bytes);
    const pairs = JSON.parse(new TextDecoder().decode(bytes));
    if (!Array.isArray(pairs) || pairs.length === 0) return null;
    const files = pairs.map((pair) => ({ name: String(pair[0]), text: String(pair[1]) }));
    return files;
  } catch {
    return null;
  }
}
