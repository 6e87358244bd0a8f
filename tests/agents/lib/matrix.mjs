// The checks every agent goes through. Each scenario is one fresh agent session against one
// desktop decision; the checks read what the scenario left behind: the desktop's console and
// events file, the hook's log, what the model stand-in was sent, the marker file and the screen.
import {spawnSync} from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import {
  FINAL_TEXT, MARKER, PROMPT, Tmux, killStragglers, readJsonLines, readLines, scratch, sleep, startDesktop,
  startModel,
} from './harness.mjs';

const REPORT_MEMBERS = ['cwd', 'event', 'hook_version', 'last_assistant_message', 'last_user_message',
  'om_tmux_session', 'pid', 'session_id', 'source', 'tool_input', 'tool_name', 'tool_use_id', 'transcript_path',
  'turn_id'];

// How the desktop answers in each scenario.
const DECISIONS = {
  allow: ['allow'], deny: ['deny'], passthrough: ['passthrough'], question: ['allow', '--answer', '1'],
  withdraw: ['ask'], 'allow-default': ['allow'],
};

// Runs the command that writes the agent's hook configuration instead of our own writer: the
// same check then proves an installer's wiring. No shell: the words are split on blanks.
function externalWiring(command, agent, box, env) {
  const [program, ...args] = command.trim().split(/\s+/);
  const done = spawnSync(program, [...args, agent.name], {cwd: box.work, env, encoding: 'utf8', timeout: 30000});
  fs.writeFileSync(box.file('wiring.out'), `${done.stdout ?? ''}${done.stderr ?? ''}`);
  if (done.status !== 0) throw new Error(`wiring command failed (${done.status}): ${(done.stderr || done.stdout || done.error || '').toString().trim()}`);
}

async function submit(tmux, box, deadline) {
  await tmux.type(PROMPT);
  await tmux.waitFor((s) => s.includes(PROMPT), Math.min(deadline, Date.now() + 5000));
  await sleep(300);
  await tmux.keys('Enter');
  // A keystroke that arrives while the agent is still busy starting is sometimes dropped.
  for (let tries = 0; tries < 3; tries++) {
    const until = Math.min(deadline, Date.now() + 6000);
    while (Date.now() < until && readLines(box.file('model.jsonl')).length === 0) await sleep(200);
    if (readLines(box.file('model.jsonl')).length > 0) return;
    await tmux.keys('Enter');
  }
}

// Until the turn ends ("finished") or the agent's own prompt stays up ("asked"). A prompt that
// shows only while the hook waits (Claude's does) is no answer the user must give.
async function waitForOutcome(tmux, agent, deadline, evidence) {
  let asking = null;
  while (Date.now() < deadline) {
    const screen = await tmux.capture();
    if (screen.includes(FINAL_TEXT)) return 'finished';
    if (agent.prompt.test(screen)) {
      asking ??= Date.now();
      if (Date.now() - asking > 4000) {
        evidence.promptSeen = true;
        return 'asked';
      }
    } else {
      asking = null;
    }
    await sleep(250);
  }
  return 'timeout';
}

const desktopSays = (box, pattern) => readLines(box.file('desktop.out')).some((line) => pattern.test(line));

// Drives one scenario to its end and returns the evidence. Never throws for the agent's doing:
// a scenario that could not be run carries `error`.
export async function runScenario(agent, scenario, ctx) {
  const box = scratch(ctx.scratch, agent.name, scenario);
  const started = Date.now();
  const deadline = started + (agent.limitSeconds ?? 90) * 1000;
  const evidence = {box, scenario, screens: [], promptSeen: false};
  let tmux = null;
  let model = null;
  let desktop = null;
  try {
    const script = {call: scenario === 'question' ? agent.question.call : agent.call, text: FINAL_TEXT};
    model = await startModel(agent.model, box, script);
    const [decide, ...extra] = DECISIONS[scenario];
    desktop = await startDesktop(ctx.devserver, box, decide, extra);
    const env = {
      PATH: `${path.dirname(ctx.binOf(agent))}:${process.env.PATH}`, HOME: box.home, TMPDIR: box.tmp, LANG: 'C.UTF-8',
      TERM: 'xterm-256color', COLORTERM: 'truecolor', OMBREL_SERVER: desktop.url,
      OMBREL_HOOK_LOG: box.file('hook.log'), ...agent.env(box, model.url),
    };
    const wiring = {hook: ctx.hook, scenario, box, modelUrl: model.url};
    agent.setup(box, wiring);
    if (ctx.wiring) externalWiring(ctx.wiring, agent, box, env);
    else agent.wire(box, wiring);
    if (scenario === 'withdraw') agent.shortenTimeout(box);

    tmux = new Tmux(box, env);
    await tmux.start(agent.argv(scenario, ctx.binOf(agent)), box.work);
    const ready = await agent.startup(tmux, deadline, box);
    if (!ready) throw new Error(`${agent.title} never became ready`);
    await submit(tmux, box, deadline);

    const finished = (s) => s.includes(FINAL_TEXT);
    if (scenario === 'withdraw') {
      const until = Math.min(deadline, Date.now() + 20000);
      while (Date.now() < until && !desktopSays(box, /cancel session=.*withdrew/)) await sleep(250);
      await sleep(500);
    } else {
      const outcome = await waitForOutcome(tmux, agent, deadline, evidence);
      if (outcome === 'asked' && (scenario === 'passthrough' || scenario === 'allow-default')) {
        await tmux.keys(...agent.approve);
        await tmux.waitFor(finished, deadline);
      }
    }
    await sleep(1500);  // the Stop-like hooks report after the text is shown
    evidence.extraWords = agent.extraWords ? await agent.extraWords(tmux, box) : [];
  } catch (error) {
    evidence.error = String(error.message ?? error);
  } finally {
    if (tmux) {
      await tmux.capture();
      evidence.screens = tmux.words();
      fs.writeFileSync(box.file('screen.txt'), `${evidence.screens.join('\n')}\n`);
      await tmux.stop();
    }
    killStragglers();  // the stand-in, the desktop and whatever the agent left running
  }
  evidence.seconds = Math.round((Date.now() - started) / 1000);
  evidence.marker = fs.existsSync(path.join(box.work, MARKER));
  evidence.requests = readJsonLines(box.file('model.jsonl'));
  evidence.reports = readJsonLines(box.file('events.jsonl'));
  evidence.desktop = readLines(box.file('desktop.out'));
  evidence.hookLog = readLines(box.file('hook.log'));
  return evidence;
}

// ---- the checks ----------------------------------------------------------------------------

const pass = (text) => ({status: 'PASS', text});
const fail = (text, words = []) => ({status: 'FAIL', text, words});
const skip = (text) => ({status: 'SKIP', text});

// The agent's own words for a FAIL: its last screen lines, or the lines that matched.
const lastWords = (e, count = 8) => (e.error ? [e.error] : []).concat(e.screens.slice(-count));
const toolResultText = (e) => JSON.stringify(e.requests.slice(1).map((r) => r.body)).replace(/\\"/g, '"');
// The hook takes the last messages from payloads only, never from transcripts: a text the agent
// put into no hook payload cannot reach the desktop, and only a text that was sent and lost fails.
const sentToHook = (e, text) =>
  e.hookLog.some((line) => line.includes(' RAW STDIN ') && line.includes(JSON.stringify(text).slice(1, -1)));
const permissionLines = (e) => e.desktop.filter((line) => / permission #\d+ /.test(line) && line.includes('['));

function checkEvents(agent, e) {
  const problems = [];
  const byState = new Map(e.reports.map((r) => [r.event, r]));
  for (const wanted of Object.values(agent.events)) if (!byState.has(wanted)) problems.push(`no ${wanted} report`);
  const sessions = new Set(e.reports.map((r) => r.session_id));
  for (const r of e.reports) {
    const keys = Object.keys(r).sort().join(',');
    if (keys !== REPORT_MEMBERS.join(',')) problems.push(`${r.event} has members ${keys}`);
    if (r.source !== agent.source) problems.push(`${r.event} source=${r.source}`);
    if (r.cwd !== fs.realpathSync(e.box.work)) problems.push(`${r.event} cwd=${r.cwd}`);
    if (typeof r.transcript_path === 'string' && !fs.existsSync(r.transcript_path) && r.event !== agent.events.start) {
      problems.push(`${r.event} transcript_path ${r.transcript_path} does not exist`);
    }
  }
  if (sessions.size !== 1 || !e.reports[0]?.session_id) problems.push(`session ids ${[...sessions].join(', ')}`);
  const tool = byState.get(agent.events.tool);
  if (tool && (tool.tool_name !== agent.toolName || !JSON.stringify(tool.tool_input).includes(`touch ${MARKER}`))) {
    problems.push(`${tool.event} tool ${tool.tool_name} ${JSON.stringify(tool.tool_input)}`);
  }
  const notes = [];
  const message = (report, member, text, what) => {
    if (!report || report[member] === text) return;
    if (sentToHook(e, text)) problems.push(`${report.event} ${member}=${report[member]}`);
    else notes.push(`no ${member}: ${agent.title} put ${what} into no hook payload`);
  };
  message(byState.get(agent.events.prompt), 'last_user_message', PROMPT, 'the prompt');
  message(byState.get(agent.events.stop), 'last_assistant_message', FINAL_TEXT, "the model's answer");
  const asked = permissionLines(e);
  if (asked.length !== 1 || !asked[0].includes(`[${agent.source}]`) || !asked[0].includes(`session=${e.reports[0]?.session_id}`)) {
    problems.push(`permission requests: ${asked.join(' | ') || 'none'}`);
  }
  const seen = [...new Set(e.reports.map((r) => r.event))].join(', ');
  if (problems.length) return fail(`events and members: ${problems.join('; ')}`, e.desktop.slice(-10));
  const noted = notes.length ? `; ${notes.join('; ')}` : '';
  return pass(`events reach the desktop with their members (${seen}; one permission request${noted})`);
}

function checkAllow(agent, e, label = 'allow') {
  if (e.promptSeen) return fail(`${label}: ${agent.title} still waits for an answer in its own prompt`, lastWords(e));
  if (!e.marker) return fail(`${label}: the tool did not run`, lastWords(e));
  return pass(`${label} runs the tool without an answer in ${agent.title}`);
}

function checkDeny(agent, e) {
  if (e.marker) return fail('deny: the tool ran anyway', lastWords(e));
  if (!permissionLines(e).length) return fail('deny: no permission request reached the desktop', lastWords(e));
  if (toolResultText(e).includes(agent.denyReason)) return pass(`deny blocks the tool and the model reads "${agent.denyReason}"`);
  if (agent.denyEndsRun && !e.requests.some((r) => JSON.stringify(r.body).includes('tool_result'))) {
    return skip(`deny blocks the tool, but ${agent.denyEndsRun}`);
  }
  return fail(`deny: the model never saw "${agent.denyReason}"`, lastWords(e));
}

function hookTrouble(agent, e) {
  return [...e.screens, ...(e.extraWords ?? [])].filter((line) => agent.hookTrouble.test(line));
}

function checkPassthrough(agent, e) {
  if (!e.promptSeen) return fail(`passthrough: ${agent.title}'s own prompt never appeared`, lastWords(e));
  const trouble = hookTrouble(agent, e);
  if (trouble.length) return fail('passthrough: the agent reported a hook problem', trouble);
  return pass(`passthrough leaves ${agent.title}'s own prompt, without a hook error`);
}

function checkQuestion(agent, e) {
  const label = agent.question.answer;
  if (toolResultText(e).includes(label)) return pass(`a question answered on the desktop reaches the model ("${label}")`);
  return fail(`question: the model never saw the answer "${label}"`, lastWords(e));
}

function checkWithdraw(agent, e) {
  if (!permissionLines(e).length) return fail('withdraw: no approval ever waited on the desktop', lastWords(e));
  if (e.desktop.some((line) => /cancel session=.*withdrew #\d+/.test(line))) {
    return pass(`${agent.title} ending a waiting hook (${agent.withdrawBy}) withdraws the approval on the desktop`);
  }
  const noticed = e.hookLog.some((line) => line.includes('terminated - cancelling approvals'));
  if (!noticed && agent.killsHard) return skip(`withdraw: ${agent.killsHard}`);
  return fail('withdraw: the approval stayed on the desktop', [...e.desktop.slice(-4), ...lastWords(e, 4)]);
}

function checkQuiet(agent, runs) {
  const trouble = runs.flatMap((e) => hookTrouble(agent, e).map((line) => `${e.scenario}: ${line}`));
  const names = runs.map((e) => e.scenario).join(', ');
  if (trouble.length) return fail(`hook errors or warnings from ${agent.title}`, trouble);
  return pass(`no hook error or warning from ${agent.title} (${names})`);
}

// Runs the agent's scenarios one after the other and yields one result per check.
export async function* checkAgent(agent, ctx) {
  const runs = {};
  for (const scenario of agent.scenarios) {
    if (agent.skip?.[scenario]) continue;
    runs[scenario] = await runScenario(agent, scenario, ctx);
  }
  const broken = (e) => e.error && fail(`${e.scenario}: could not be run`, lastWords(e));
  const checks = [
    ['allow', (e) => checkEvents(agent, e)],
    ['allow', (e) => checkAllow(agent, e)],
    ['allow-default', (e) => e.promptSeen && e.marker
      ? pass(`allow outside --approval-mode yolo is neutral: ${agent.title} still asks`)
      : fail('allow-default: expected Gemini to ask despite the desktop\'s allow', lastWords(e))],
    ['deny', (e) => checkDeny(agent, e)],
    ['passthrough', (e) => checkPassthrough(agent, e)],
    ['question', (e) => checkQuestion(agent, e)],
    ['withdraw', (e) => checkWithdraw(agent, e)],
  ];
  for (const [scenario, check] of checks) {
    if (!agent.scenarios.includes(scenario)) continue;
    if (agent.skip?.[scenario]) {
      yield skip(`${scenario}: ${agent.skip[scenario]}`);
      continue;
    }
    yield broken(runs[scenario]) || check(runs[scenario]);
  }
  const quiet = Object.values(runs).filter((e) => e.scenario !== 'withdraw' && !e.error);
  if (quiet.length) yield checkQuiet(agent, quiet);
}
