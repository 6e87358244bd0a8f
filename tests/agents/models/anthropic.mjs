// Anthropic Messages stand-in (Claude Code, Qoder): POST /v1/messages, streamed or not.
import {json, serve, sse} from './common.mjs';

let serial = 0;

function lastUserBlocks(body) {
  const messages = body?.messages ?? [];
  const last = messages[messages.length - 1];
  return last && Array.isArray(last.content) ? last.content : [];
}

function reply(body, script) {
  const offersTool = (body?.tools ?? []).some((t) => t.name === script.call?.name);
  if (lastUserBlocks(body).some((b) => b.type === 'tool_result')) return {text: script.text};
  const called = (body?.messages ?? []).some(
    (m) => Array.isArray(m.content) && m.content.some((b) => b.type === 'tool_use'));
  if (offersTool && !called) return {call: script.call};
  return {text: 'ok'};
}

function content(turn) {
  if (turn.call) return {type: 'tool_use', id: `toolu_stand_in_${++serial}`, name: turn.call.name, input: turn.call.input};
  return {type: 'text', text: turn.text};
}

function stream(response, model, turn) {
  const block = content(turn);
  const start = block.type === 'tool_use' ? {...block, input: {}} : {type: 'text', text: ''};
  const delta = block.type === 'tool_use'
    ? {type: 'input_json_delta', partial_json: JSON.stringify(block.input)}
    : {type: 'text_delta', text: block.text};
  const usage = {input_tokens: 10, output_tokens: 1};
  sse(response, [
    ['message_start', {type: 'message_start', message: {id: `msg_${++serial}`, type: 'message', role: 'assistant',
      model, content: [], stop_reason: null, stop_sequence: null, usage}}],
    ['content_block_start', {type: 'content_block_start', index: 0, content_block: start}],
    ['content_block_delta', {type: 'content_block_delta', index: 0, delta}],
    ['content_block_stop', {type: 'content_block_stop', index: 0}],
    ['message_delta', {type: 'message_delta', delta: {stop_reason: turn.call ? 'tool_use' : 'end_turn',
      stop_sequence: null}, usage: {output_tokens: 5}}],
    ['message_stop', {type: 'message_stop'}],
  ]);
}

serve((request, body, script, response) => {
  const path = request.url.split('?')[0];
  if (path === '/v1/messages/count_tokens') return json(response, 200, {input_tokens: 10});
  if (path !== '/v1/messages') return false;
  const turn = reply(body, script);
  const model = body?.model ?? 'claude-stand-in';
  if (body?.stream) return stream(response, model, turn);
  json(response, 200, {id: `msg_${++serial}`, type: 'message', role: 'assistant', model, content: [content(turn)],
    stop_reason: turn.call ? 'tool_use' : 'end_turn', stop_sequence: null, usage: {input_tokens: 10, output_tokens: 5}});
});
