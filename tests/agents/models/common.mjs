// What the three model stand-ins share: a loopback HTTP server that records every request and
// answers by a one-call script. The script is the turn plan of every check:
//   first request that offers the scripted tool -> ask for that tool call;
//   a request that carries the tool's result   -> answer with the final text;
//   anything else (titles, summaries, probes)   -> a short text, so no agent stalls on a side call.
// Usage: node MODEL.mjs --record FILE --script JSON; prints "listening URL" once it listens.
import fs from 'node:fs';
import http from 'node:http';

export function parseArgs(argv) {
  const options = {};
  for (let i = 0; i < argv.length; i += 2) options[argv[i].replace(/^--/, '')] = argv[i + 1];
  return {record: options.record, script: JSON.parse(options.script || '{}')};
}

// SSE writer: `event:` lines are optional (the Anthropic protocol names its events, the others
// send data lines only).
export function sse(response, events) {
  response.writeHead(200, {'content-type': 'text/event-stream', 'cache-control': 'no-cache'});
  for (const [name, data] of events) {
    if (name) response.write(`event: ${name}\n`);
    response.write(`data: ${JSON.stringify(data)}\n\n`);
  }
  response.end();
}

export function json(response, status, body) {
  response.writeHead(status, {'content-type': 'application/json'});
  response.end(JSON.stringify(body));
}

// `answer(request, body, script)` handles one request; it returns false for an unknown path.
export function serve(answer) {
  const {record, script} = parseArgs(process.argv.slice(2));
  const server = http.createServer((request, response) => {
    const chunks = [];
    request.on('data', (c) => chunks.push(c));
    request.on('end', () => {
      const text = Buffer.concat(chunks).toString('utf8');
      let body = null;
      try {
        body = text ? JSON.parse(text) : null;
      } catch {
        body = text;
      }
      fs.appendFileSync(record, JSON.stringify({method: request.method, url: request.url, body}) + '\n');
      try {
        if (answer(request, body, script, response) === false) json(response, 404, {error: 'unknown path'});
      } catch (error) {
        json(response, 500, {error: String(error)});
      }
    });
  });
  server.listen(0, '127.0.0.1', () => {
    process.stdout.write(`listening http://127.0.0.1:${server.address().port}\n`);
  });
  process.on('SIGTERM', () => process.exit(0));
}
