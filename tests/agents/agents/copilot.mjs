// Copilot CLI, driven without a GitHub account through its own "bring your own key" mode
// (COPILOT_PROVIDER_*), here pointed at the Anthropic stand-in.
import fs from 'node:fs';
import path from 'node:path';
import {MARKER, sleep, writeJson} from '../lib/harness.mjs';

// camelCase events send payloads without an event name: the hook is told with --event.
const EVENTS = ['sessionStart', 'sessionEnd', 'userPromptSubmitted', 'preToolUse', 'permissionRequest', 'postToolUse',
  'agentStop', 'notification'];
const WAITING = new Set(['preToolUse', 'permissionRequest']);
const hooksFile = (box) => path.join(box.home, '.copilot', 'hooks', 'ombrel.json');

export default {
  name: 'copilot', title: 'Copilot CLI', source: 'copilot', model: 'anthropic',
  package: '@github/copilot', version: '1.0.102', bin: 'node_modules/.bin/copilot',
  scenarios: ['allow', 'deny', 'passthrough', 'withdraw'],
  call: {name: 'bash', input: {command: `touch ${MARKER}`, description: 'Create the marker file'}},
  toolName: 'bash',
  events: {start: 'SessionStart', prompt: 'UserPromptSubmit', tool: 'PostToolUse', stop: 'Stop'},
  denyReason: 'Denied by Ombrel',
  withdrawBy: 'a 3 s preToolUse timeout',
  prompt: /Do you want to allow this tool call\?/,
  approve: ['Enter'],
  hookTrouble: /hook.*(error|fail|warn|timed out)/i,

  env: (box, modelUrl) => ({
    COPILOT_PROVIDER_BASE_URL: modelUrl, COPILOT_PROVIDER_TYPE: 'anthropic', COPILOT_PROVIDER_API_KEY: 'stand-in',
    COPILOT_MODEL: 'claude-sonnet-4.5',
  }),

  setup() {},

  wire(box, {hook}) {
    writeJson(hooksFile(box), {version: 1, hooks: Object.fromEntries(EVENTS.map((event) => [event, [{
      type: 'command', bash: `${hook} --source copilot --event ${event}`, timeoutSec: WAITING.has(event) ? 600 : 30,
    }]]))});
  },

  shortenTimeout(box) {
    const file = JSON.parse(fs.readFileSync(hooksFile(box), 'utf8'));
    for (const event of WAITING) for (const h of file.hooks[event]) h.timeoutSec = 3;
    writeJson(hooksFile(box), file);
  },

  argv: (scenario, bin) => [bin],

  async startup(tmux, deadline) {
    while (Date.now() < deadline) {
      const screen = await tmux.capture();
      if (/Do you trust the files in this folder\?/.test(screen)) await tmux.keys('Enter');
      else if (/Type @ to mention|Ask Copilot|❯\s*$/m.test(screen)) return screen;
      await sleep(400);
    }
    return null;
  },
};
