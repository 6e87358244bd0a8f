// OpenAI Responses stand-in (Codex): POST /v1/responses, streamed as server-sent events.
import {json, serve, sse} from './common.mjs';

let serial = 0;

function reply(body, script) {
  const items = Array.isArray(body?.input) ? body.input : [];
  const last = items[items.length - 1];
  if (last?.type === 'function_call_output' || last?.type === 'custom_tool_call_output') return {text: script.text};
  const offersTool = (body?.tools ?? []).some((t) => t.name === script.call?.name);
  const called = items.some((i) => i.type === 'function_call');
  if (offersTool && !called) return {call: script.call};
  return {text: 'ok'};
}

function outputItem(turn) {
  if (turn.call) {
    return {type: 'function_call', id: `fc_${++serial}`, call_id: `call_stand_in_${serial}`, name: turn.call.name,
      arguments: JSON.stringify(turn.call.input), status: 'completed'};
  }
  return {type: 'message', id: `msg_${++serial}`, role: 'assistant', status: 'completed',
    content: [{type: 'output_text', text: turn.text, annotations: []}]};
}

serve((request, body, script, response) => {
  const path = request.url.split('?')[0];
  if (path === '/v1/models') return json(response, 200, {object: 'list', data: []});
  if (path !== '/v1/responses') return false;
  const item = outputItem(reply(body, script));
  const id = `resp_${++serial}`;
  const usage = {input_tokens: 10, input_tokens_details: {cached_tokens: 0}, output_tokens: 5,
    output_tokens_details: {reasoning_tokens: 0}, total_tokens: 15};
  const events = [['', {type: 'response.created', response: {id, status: 'in_progress'}}],
    ['', {type: 'response.output_item.added', output_index: 0, item}]];
  if (item.type === 'message') {
    events.push(['', {type: 'response.output_text.delta', item_id: item.id, output_index: 0, content_index: 0,
      delta: item.content[0].text}]);
  }
  events.push(['', {type: 'response.output_item.done', output_index: 0, item}],
    ['', {type: 'response.completed', response: {id, status: 'completed', output: [item], usage}}]);
  sse(response, events);
});
