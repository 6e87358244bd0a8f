// Gemini API stand-in (Gemini CLI): POST /v1beta/models/MODEL:streamGenerateContent?alt=sse, plus
// the plain generateContent and countTokens calls the CLI makes on the side.
import {json, serve, sse} from './common.mjs';

function reply(body, script) {
  const contents = body?.contents ?? [];
  const parts = (c) => c?.parts ?? [];
  if (parts(contents[contents.length - 1]).some((p) => p.functionResponse)) return {text: script.text};
  const offered = (body?.tools ?? []).flatMap((t) => t.functionDeclarations ?? []);
  const called = contents.some((c) => parts(c).some((p) => p.functionCall));
  if (offered.some((f) => f.name === script.call?.name) && !called) return {call: script.call};
  return {text: 'ok'};
}

// A side call that asks for JSON (the CLI's routing and next-speaker checks) gets an object
// that fills the schema it names: "user" where that is a choice (the user speaks next), the
// first choice otherwise, a low number, a short text.
function sideText(body) {
  const config = body?.generationConfig ?? {};
  if (config.responseMimeType !== 'application/json') return 'ok';
  const properties = (config.responseJsonSchema ?? config.responseSchema ?? {}).properties ?? {};
  const value = (p) => p.enum ? (p.enum.includes('user') ? 'user' : p.enum[0])
    : /INTEGER|NUMBER/i.test(p.type) ? 1 : /BOOLEAN/i.test(p.type) ? false : 'stand-in';
  return JSON.stringify(Object.fromEntries(Object.entries(properties).map(([k, p]) => [k, value(p)])));
}

function candidate(turn) {
  const part = turn.call ? {functionCall: {name: turn.call.name, args: turn.call.input}} : {text: turn.text};
  return {candidates: [{content: {role: 'model', parts: [part]}, finishReason: 'STOP', index: 0}],
    usageMetadata: {promptTokenCount: 10, candidatesTokenCount: 5, totalTokenCount: 15}, modelVersion: 'stand-in'};
}

serve((request, body, script, response) => {
  const method = request.url.split('?')[0].split(':').pop();
  if (method === 'countTokens') return json(response, 200, {totalTokens: 10});
  if (method === 'streamGenerateContent') return sse(response, [['', candidate(reply(body, script))]]);
  if (method === 'generateContent') {
    const turn = reply(body, script);
    return json(response, 200, candidate(turn.call ? turn : {text: sideText(body)}));
  }
  return false;
});
