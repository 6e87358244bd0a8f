// Codex: interactive, since `codex exec` forces the approval policy "never" and PermissionRequest
// never fires there. Hooks run only once trusted; the harness trusts them on Codex's own review
// screen, as a user does.
import fs from 'node:fs';
import path from 'node:path';
import {MARKER, sleep, writeJson} from '../lib/harness.mjs';

const EVENTS = ['SessionStart', 'UserPromptSubmit', 'PreToolUse', 'PermissionRequest', 'PostToolUse', 'Stop',
  'SessionEnd'];
const MATCHED = new Set(['PreToolUse', 'PermissionRequest', 'PostToolUse']);
const codexHome = (box) => path.join(box.home, '.codex');
const hooksFile = (box) => path.join(codexHome(box), 'hooks.json');

export default {
  name: 'codex', title: 'Codex', source: 'codex', model: 'openai',
  package: '@openai/codex', version: '0.171.0', bin: 'node_modules/.bin/codex',
  scenarios: ['allow', 'deny', 'passthrough', 'withdraw'],
  // The read-only sandbox lets nothing write; asking to leave it is what makes Codex ask.
  call: {name: 'exec_command', input: {cmd: `touch ${MARKER}`, sandbox_permissions: 'require_escalated',
    justification: 'Create the marker file?'}},
  toolName: 'Bash',
  events: {start: 'SessionStart', prompt: 'UserPromptSubmit', tool: 'PostToolUse', stop: 'Stop'},
  denyReason: 'Denied by Ombrel',
  withdrawBy: 'a 3 s PermissionRequest timeout',
  killsHard: 'Codex 0.171 kills a timed-out hook with SIGKILL (its Esc does the same), which no program can ' +
    'notice: the approval stays on the desktop until it is dismissed there',
  prompt: /Would you like to run the following command\?/,
  approve: ['y'],
  hookTrouble: /hook failed|hook.*(error|warning|timed out)|clamping .* hook timeout|invalid .*hook/i,

  env: (box) => ({CODEX_HOME: codexHome(box), STANDIN_API_KEY: 'stand-in'}),

  setup(box, {modelUrl}) {
    fs.mkdirSync(codexHome(box), {recursive: true});
    fs.writeFileSync(path.join(codexHome(box), 'config.toml'), [
      'model = "gpt-5.5"', 'model_provider = "standin"', 'approval_policy = "on-request"', 'sandbox_mode = "read-only"',
      '', '[model_providers.standin]', 'name = "Stand-in"', `base_url = "${modelUrl}/v1"`, 'wire_api = "responses"',
      'env_key = "STANDIN_API_KEY"', '', `[projects."${box.work}"]`, 'trust_level = "trusted"', '',
      '[notice.model_migrations]', '"gpt-5.5" = "gpt-6-sol"', '',
    ].join('\n'));
  },

  // SessionEnd gets no timeout: Codex cuts it to 3 s anyway and warns about a longer one.
  wire(box, {hook}) {
    writeJson(hooksFile(box), {hooks: Object.fromEntries(EVENTS.map((event) => [event, [{
      ...(MATCHED.has(event) ? {matcher: '*'} : {}),
      hooks: [{type: 'command', command: `${hook} --source codex`, ...(event === 'SessionEnd' ? {} : {timeout: 600})}],
    }]]))});
  },

  shortenTimeout(box) {
    const file = JSON.parse(fs.readFileSync(hooksFile(box), 'utf8'));
    for (const group of file.hooks.PermissionRequest) for (const h of group.hooks) h.timeout = 3;
    writeJson(hooksFile(box), file);
  },

  // No background app server: it would outlive the run and keep the first run's environment.
  argv: (scenario, bin) => [bin, '--no-daemon'],

  // The review screen can come up after the composer first shows, so the composer must stay
  // up for a second before the prompt is typed.
  async startup(tmux, deadline) {
    let calm = null;
    while (Date.now() < deadline) {
      const screen = await tmux.capture();
      if (/Hooks need review/.test(screen)) {
        calm = null;
        // "Trust all and continue"; keys sent before the screen takes them are lost, so retry.
        if (/› 2\. Trust all/.test(screen)) await tmux.keys('Enter');
        else await tmux.keys('2');
      } else if (/Ask Codex to do anything/.test(screen)) {
        calm ??= Date.now();
        if (Date.now() - calm > 1000) return screen;
      }
      await sleep(300);
    }
    return null;
  },

  // Codex lists its warnings behind F2; read every one of them.
  async extraWords(tmux) {
    const screen = await tmux.capture();
    const count = Number(screen.match(/(\d+) warnings? · f2 to view/)?.[1] ?? 0);
    if (!count) return [];
    const lines = [];
    await tmux.keys('F2');
    for (let i = 0; i < count; i++) {
      await sleep(400);
      const shown = await tmux.capture();
      lines.push(...shown.split('\n').slice(shown.split('\n').findIndex((l) => /Warnings · \d+ of/.test(l))));
      await tmux.keys('Right');
    }
    await tmux.keys('Escape');
    return [...new Set(lines)].filter((l) => l.trim() && !/Warnings · |keep & next/.test(l));
  },
};
