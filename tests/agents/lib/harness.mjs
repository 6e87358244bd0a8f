// What every agent's run shares: a scratch folder, the model stand-in and ombrel-devserver as
// children, the agent itself in tmux on a private socket, and the evidence collected afterwards.
// Everything here runs inside the loopback-only namespace that run.mjs enters.
import {execFile, spawn} from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import {promisify} from 'node:util';

const run = promisify(execFile);
export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
export const PROMPT = 'Create the marker file.';
export const FINAL_TEXT = 'Stand-in turn finished.';
export const MARKER = 'ombrel-ran';

export function writeJson(file, value) {
  fs.mkdirSync(path.dirname(file), {recursive: true});
  fs.writeFileSync(file, JSON.stringify(value, null, 2) + '\n');
}

export function readLines(file) {
  try {
    return fs.readFileSync(file, 'utf8').split('\n').filter(Boolean);
  } catch {
    return [];
  }
}

export function readJsonLines(file) {
  return readLines(file).flatMap((line) => {
    try {
      return [JSON.parse(line)];
    } catch {
      return [];
    }
  });
}

// A child whose first stdout line matching `ready` names its address.
async function startChild(argv, {stdout, ready, env = process.env}) {
  const child = spawn(argv[0], argv.slice(1), {stdio: ['pipe', 'pipe', 'pipe'], env});
  const out = fs.createWriteStream(stdout);
  let text = '';
  child.stdout.on('data', (chunk) => {
    text += chunk;
    out.write(chunk);
  });
  child.stderr.on('data', (chunk) => out.write(chunk));
  child.on('exit', () => out.end());
  for (let waited = 0; waited < 5000; waited += 50) {
    const match = text.match(ready);
    if (match) return {child, url: match[1], output: () => text};
    if (child.exitCode !== null) break;
    await sleep(50);
  }
  child.kill('SIGKILL');
  throw new Error(`${path.basename(argv[1] ?? argv[0])} did not start: ${text.trim()}`);
}

// The scratch folder of one run: HOME, the agent's working folder, TMPDIR and the evidence.
export function scratch(root, agent, scenario) {
  const dir = path.join(root, agent, scenario);
  const parts = {dir, home: path.join(dir, 'home'), work: path.join(dir, 'work'), tmp: path.join(dir, 'tmp')};
  for (const folder of [parts.home, parts.work, parts.tmp]) fs.mkdirSync(folder, {recursive: true});
  return {...parts, file: (name) => path.join(dir, name)};
}

export async function startModel(protocol, box, script) {
  const argv = [process.execPath, new URL(`../models/${protocol}.mjs`, import.meta.url).pathname,
    '--record', box.file('model.jsonl'), '--script', JSON.stringify(script)];
  return startChild(argv, {stdout: box.file('model.out'), ready: /listening (\S+)/});
}

// ombrel-devserver as the desktop. Its stdin stays open and silent, so "ask" waits for ever.
export async function startDesktop(devserver, box, decide, extra = []) {
  const argv = [devserver, '--listen', '127.0.0.1:0', '--decide', decide, '--events', box.file('events.jsonl'),
    ...extra];
  return startChild(argv, {stdout: box.file('desktop.out'), ready: /listening on (\S+)/});
}

// The agent in its own tmux server on a socket in the scratch folder. Panes stay after the
// agent exits so that its last words can still be read.
export class Tmux {
  constructor(box, env) {
    this.socket = box.file('tmux.sock');
    this.env = env;
    this.seen = [];
    fs.writeFileSync(box.file('tmux.conf'), 'set -g remain-on-exit on\nset -g focus-events on\nset -g history-limit 5000\n');
    this.conf = box.file('tmux.conf');
  }

  tmux(...args) {
    return run('tmux', ['-S', this.socket, '-f', this.conf, ...args], {env: this.env});
  }

  async start(argv, cwd) {
    await this.tmux('new-session', '-d', '-x', '200', '-y', '50', '-s', 'agent', '-c', cwd, '--', ...argv);
  }

  async capture() {
    try {
      const {stdout} = await this.tmux('capture-pane', '-p', '-J', '-S', '-300', '-t', 'agent');
      const screen = stdout.replace(/\s+$/gm, '').replace(/\n{2,}/g, '\n');
      this.seen.push(screen);
      return screen;
    } catch {
      return '';
    }
  }

  async keys(...keys) {
    await this.tmux('send-keys', '-t', 'agent', ...keys);
  }

  async type(text) {
    await this.tmux('send-keys', '-t', 'agent', '-l', text);
  }

  // Polls the screen until `test(screen)` holds or the deadline passes; returns the screen or null.
  async waitFor(test, deadline) {
    const check = typeof test === 'function' ? test : (screen) => test.test(screen);
    while (Date.now() < deadline) {
      const screen = await this.capture();
      if (check(screen)) return screen;
      await sleep(250);
    }
    return null;
  }

  // Every line the agent showed during the run, each once, in order.
  words() {
    const lines = new Set();
    for (const screen of this.seen) for (const line of screen.split('\n')) if (line.trim()) lines.add(line);
    return [...lines];
  }

  async stop() {
    try {
      await this.tmux('kill-server');
    } catch {
      // already gone
    }
  }
}

// Ends every process of this namespace except ourselves: the agents' daemons and hub servers
// included, each by its id. Only safe inside the private PID namespace run.mjs creates.
export function killStragglers(keep = []) {
  const spared = new Set([process.pid, 1, ...keep]);
  for (const entry of fs.readdirSync('/proc')) {
    const pid = Number(entry);
    if (!Number.isInteger(pid) || spared.has(pid)) continue;
    try {
      process.kill(pid, 'SIGKILL');
    } catch {
      // exited meanwhile
    }
  }
}
