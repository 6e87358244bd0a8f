// The real-agent conformance suite: installs the pinned agents once, then runs each of them
// against a scripted model stand-in and ombrel-devserver inside a network namespace that has
// only loopback, and prints one line per check. See tests/agents/README.md.
//
//   node tests/agents/run.mjs --hook PATH --devserver PATH [--agents a,b] [--wiring 'CMD']
import {spawnSync} from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {checkAgent} from './lib/matrix.mjs';

const AGENTS = ['claude', 'codex', 'gemini', 'cline', 'copilot', 'qoder'];

function options(argv) {
  const o = {agents: AGENTS, inside: false};
  for (let i = 0; i < argv.length; i++) {
    const name = argv[i].replace(/^--/, '');
    if (name === 'inside') o.inside = true;
    else if (name === 'agents') o.agents = argv[++i].split(',');
    else if (['hook', 'devserver', 'wiring', 'scratch', 'cache', 'skipped'].includes(name)) o[name] = argv[++i];
    else throw new Error(`unknown option ${argv[i]}`);
  }
  for (const name of o.agents) if (!AGENTS.includes(name)) throw new Error(`unknown agent ${name}`);
  o.cache ??= path.join(process.env.XDG_CACHE_HOME || path.join(os.homedir(), '.cache'), 'ombrel-agents');
  return o;
}

const loadAgent = async (name) => (await import(`./agents/${name}.mjs`)).default;
const prefixOf = (o, agent) => path.join(o.cache, `${agent.name}-${agent.version}`);

// Installs the pinned version once into the cache; a finished install leaves a stamp.
function install(o, agent) {
  const prefix = prefixOf(o, agent);
  const stamp = path.join(prefix, '.ombrel-installed');
  if (fs.existsSync(stamp)) return null;
  fs.mkdirSync(prefix, {recursive: true});
  const steps = [['npm', 'install', '--prefix', prefix, '--no-audit', '--no-fund', '--no-save',
    `${agent.package}@${agent.version}`]];
  if (agent.postInstall) steps.push(agent.postInstall);
  for (const [program, ...args] of steps) {
    const done = spawnSync(program, args, {cwd: prefix, encoding: 'utf8', timeout: 600000});
    if (done.status !== 0) {
      const said = `${done.stderr ?? ''}${done.stdout ?? ''}${done.error ?? ''}`.trim().split('\n').slice(-2).join(' ');
      return `installing ${agent.package}@${agent.version} failed: ${said}`;
    }
  }
  fs.writeFileSync(stamp, `${agent.package}@${agent.version}\n`);
  return null;
}

// Re-runs this script as PID 1 of new network, PID and mount namespaces: nothing but loopback
// is reachable, and every process an agent leaves behind dies with the namespace.
function enterNamespace(argv) {
  const script = 'ip link set lo up && exec "$@"';
  const inner = ['sh', '-c', script, 'sh', process.execPath, new URL(import.meta.url).pathname, ...argv, '--inside'];
  const flags = ['--net', '--pid', '--fork', '--mount-proc'];
  const tries = process.getuid?.() === 0 ? [flags] : [['--user', '--map-root-user', ...flags]];
  for (const extra of tries) {
    const probe = spawnSync('unshare', [...extra, 'sh', '-c', 'ip link set lo up'], {encoding: 'utf8'});
    if (probe.status === 0) return spawnSync('unshare', [...extra, ...inner], {stdio: 'inherit'}).status ?? 1;
    return `cannot make a loopback-only network namespace (unshare ${extra.join(' ')}: ` +
      `${(probe.stderr || String(probe.error)).trim()}); run as root on Linux with util-linux and iproute2`;
  }
}

function print(result, name) {
  console.log(`${result.status} ${name}: ${result.text}`);
  if (result.status === 'FAIL') for (const line of (result.words ?? []).slice(-12)) console.log(`    | ${line}`);
}

async function inside(o) {
  const tally = {PASS: 0, FAIL: 0, SKIP: Number(o.skipped ?? 0)};
  const scratch = o.scratch;
  for (const name of o.agents) {
    const agent = await loadAgent(name);
    const ctx = {
      hook: o.hook, devserver: o.devserver, wiring: o.wiring, scratch,
      binOf: (a) => path.join(prefixOf(o, a), a.bin),
    };
    const unusable = agent.unavailable ?? (!fs.existsSync(ctx.binOf(agent)) && `${agent.title} is not installed`);
    if (unusable) {
      print({status: 'SKIP', text: unusable}, name);
      tally.SKIP++;
      continue;
    }
    for await (const result of checkAgent(agent, ctx)) {
      print(result, name);
      tally[result.status]++;
    }
  }
  console.log(`${tally.PASS} passed, ${tally.FAIL} failed, ${tally.SKIP} skipped`);
  return tally.FAIL === 0 ? 0 : 1;
}

async function main() {
  const argv = process.argv.slice(2);
  const o = options(argv);
  if (o.inside) return inside(o);

  for (const tool of ['hook', 'devserver']) {
    if (!o[tool] || !fs.existsSync(o[tool])) throw new Error(`--${tool} must name the built program`);
  }
  if (o.wiring === undefined) o.wiring = '';
  // Outside any repository: agents treat a git work tree (its root, its trust) differently.
  o.scratch ??= path.join(o.cache, 'run');
  fs.rmSync(o.scratch, {recursive: true, force: true});
  fs.mkdirSync(o.scratch, {recursive: true});

  const skipped = [];
  for (const name of o.agents) {
    const agent = await loadAgent(name);
    if (agent.unavailable) continue;
    const failure = install(o, agent);
    if (failure) skipped.push([name, failure]);
  }
  const rest = o.agents.filter((name) => !skipped.some(([n]) => n === name));
  for (const [name, why] of skipped) print({status: 'SKIP', text: why}, name);

  if (!rest.length) {
    console.log(`0 passed, 0 failed, ${skipped.length} skipped`);
    return 0;
  }
  const outcome = enterNamespace([...argvFor(o), '--agents', rest.join(','), '--skipped', String(skipped.length)]);
  if (typeof outcome !== 'string') return outcome;
  for (const name of rest) print({status: 'SKIP', text: outcome}, name);
  console.log(`0 passed, 0 failed, ${o.agents.length} skipped`);
  return 0;
}

function argvFor(o) {
  const argv = ['--hook', path.resolve(o.hook), '--devserver', path.resolve(o.devserver), '--scratch', o.scratch,
    '--cache', o.cache];
  if (o.wiring) argv.push('--wiring', o.wiring);
  return argv;
}

main().then((code) => process.exit(code), (error) => {
  console.error(`test-agents: ${error.message}`);
  process.exit(2);
});
