// Cline CLI 3: its hooks are one script per event, named after the event. Driven in its TUI with
// the Anthropic provider pointed at the stand-in, so no Cline account is needed.
import fs from 'node:fs';
import path from 'node:path';
import {MARKER, sleep, writeJson} from '../lib/harness.mjs';

const EVENTS = ['TaskStart', 'TaskResume', 'TaskCancel', 'TaskComplete', 'UserPromptSubmit', 'PreToolUse', 'PostToolUse'];
const hooksDir = (box) => path.join(box.home, '.cline', 'hooks');

export default {
  name: 'cline', title: 'Cline', source: 'cline', model: 'anthropic',
  package: 'cline', version: '3.0.65', bin: 'node_modules/.bin/cline',
  scenarios: ['allow', 'deny', 'passthrough', 'withdraw'],
  skip: {withdraw: 'Cline 3.0 gives tool hooks a fixed 120 s, and when that ran out it killed the hook with SIGKILL ' +
    '(seen with 3.0.65): no program can notice, so no approval can be withdrawn'},
  call: {name: 'run_commands', input: {commands: [`touch ${MARKER}`]}},
  toolName: 'run_commands',
  events: {prompt: 'UserPromptSubmit', tool: 'PostToolUse', stop: 'TaskComplete'},
  denyReason: 'Denied by Ombrel',
  denyEndsRun: 'Cline 3.0 ends the whole run when a tool hook cancels (no per-tool deny in its hook protocol), ' +
    'so the model is never told why',
  prompt: /Approve tool call\?/,
  approve: ['y'],
  hookTrouble: /hook.*(error|fail|warn|timed out)/i,

  env: () => ({}),

  // Not hook wiring: the provider, as `cline auth` writes it, with the stand-in as its base URL.
  setup(box, {modelUrl}) {
    writeJson(path.join(box.home, '.cline', 'data', 'settings', 'providers.json'), {
      version: 1, lastUsedProvider: 'anthropic', modes: {},
      providers: {anthropic: {settings: {provider: 'anthropic', apiKey: 'stand-in', model: 'claude-sonnet-4-5',
        baseUrl: `${modelUrl}/v1`}, updatedAt: new Date().toISOString(), tokenSource: 'manual'}},
    });
  },

  wire(box, {hook}) {
    fs.mkdirSync(hooksDir(box), {recursive: true});
    for (const event of EVENTS) {
      fs.writeFileSync(path.join(hooksDir(box), event), `#!/bin/sh\nexec ${hook} --source cline\n`, {mode: 0o755});
    }
  },

  shortenTimeout() {},

  // Auto-approve (the default) leaves the tool hook as the only gate; passthrough needs Cline's
  // own approval, which only its TUI with auto-approve off shows.
  argv: (scenario, bin) => (scenario === 'passthrough' ? [bin, '-i', '--auto-approve', 'false'] : [bin, '-i']),

  // A subscription offer comes up at some starts, a moment after the composer shows: the
  // composer must stay up for a while before the prompt is typed. Any key but Enter closes it.
  async startup(tmux, deadline) {
    let calm = null;
    while (Date.now() < deadline) {
      const screen = await tmux.capture();
      if (/Press Enter to open, any other key to close/.test(screen)) {
        calm = null;
        await tmux.keys('q');
      } else if (/What can I do for you\?|Ask anything/.test(screen)) {
        calm ??= Date.now();
        if (Date.now() - calm > 3000) return screen;
      }
      await sleep(400);
    }
    return null;
  },
};
