// Gemini CLI: hooks are on by default. Its BeforeTool "allow" is neutral: outside
// --approval-mode yolo the CLI still asks, so allow is checked in yolo mode and the default
// mode is checked to still ask.
import fs from 'node:fs';
import path from 'node:path';
import {MARKER, writeJson} from '../lib/harness.mjs';

// AfterModel is left out on purpose: it fires once per streamed chunk.
const EVENTS = ['SessionStart', 'SessionEnd', 'BeforeAgent', 'AfterAgent', 'BeforeTool', 'AfterTool', 'Notification'];
const MATCHED = new Set(['BeforeTool', 'AfterTool']);
const settingsFile = (box) => path.join(box.home, '.gemini', 'settings.json');

export default {
  name: 'gemini', title: 'Gemini CLI', source: 'gemini', model: 'gemini',
  package: '@google/gemini-cli', version: '0.61.0', bin: 'node_modules/.bin/gemini',
  scenarios: ['allow', 'allow-default', 'deny', 'passthrough', 'withdraw'],
  call: {name: 'run_shell_command', input: {command: `touch ${MARKER}`, description: 'Create the marker file'}},
  toolName: 'run_shell_command',
  events: {start: 'SessionStart', prompt: 'BeforeAgent', tool: 'AfterTool', stop: 'AfterAgent'},
  denyReason: 'Denied by Ombrel',
  withdrawBy: 'a 3 s BeforeTool timeout',
  prompt: /Allow execution of/,
  approve: ['Enter'],
  hookTrouble: /Hook\(s\) .* failed|hook.*(error|warning|timed out)/i,

  env: (box, modelUrl) => ({GEMINI_API_KEY: 'stand-in', GOOGLE_GEMINI_BASE_URL: modelUrl}),

  // Not hook wiring: API-key sign-in and a trusted working folder, as after a first start.
  setup(box) {
    writeJson(settingsFile(box), {security: {auth: {selectedType: 'gemini-api-key'}}});
    writeJson(path.join(box.home, '.gemini', 'trustedFolders.json'), {[box.work]: 'TRUST_FOLDER'});
  },

  wire(box, {hook}) {
    const settings = JSON.parse(fs.readFileSync(settingsFile(box), 'utf8'));
    settings.hooks = Object.fromEntries(EVENTS.map((event) => [event, [{
      ...(MATCHED.has(event) ? {matcher: '.*'} : {}),
      hooks: [{type: 'command', name: 'ombrel', command: `${hook} --source gemini`, timeout: 600000}],
    }]]));
    writeJson(settingsFile(box), settings);
  },

  shortenTimeout(box) {
    const settings = JSON.parse(fs.readFileSync(settingsFile(box), 'utf8'));
    for (const group of settings.hooks.BeforeTool) for (const h of group.hooks) h.timeout = 3000;
    writeJson(settingsFile(box), settings);
  },

  argv: (scenario, bin) => (scenario === 'allow' ? [bin, '--approval-mode', 'yolo'] : [bin]),
  // Typing before the SessionStart hook is done loses the keys.
  startup: (tmux, deadline) => tmux.waitFor((s) => /Type your message/.test(s) && !/Executing Hook/.test(s), deadline),
};
